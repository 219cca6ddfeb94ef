// PNG output for screenshots: the image's rows are filtered with "Up" (the pictures are
// mostly white, so most bytes become zero), deflated in one block with the fixed Huffman
// codes and greedy LZ77 matches found through a hash chain, and wrapped in zlib and PNG.
#include "png_writer.h"

#include <cstdio>
#include <cstring>

namespace {

// Bits are packed from the least significant end, as deflate requires.
class BitWriter {
public:
    explicit BitWriter(std::vector<std::uint8_t>& out) : out_(out) {}
    void put(std::uint32_t value, int count)
    {
        buffer_ |= static_cast<std::uint64_t>(value) << filled_;
        filled_ += count;
        while (filled_ >= 8) {
            out_.push_back(static_cast<std::uint8_t>(buffer_));
            buffer_ >>= 8;
            filled_ -= 8;
        }
    }
    // Huffman codes are defined most significant bit first.
    void putCode(std::uint32_t code, int length)
    {
        std::uint32_t reversed = 0;
        for (int i = 0; i < length; ++i) {
            reversed = (reversed << 1) | ((code >> i) & 1);
        }
        put(reversed, length);
    }
    void finish()
    {
        if (filled_ > 0) {
            put(0, 8 - filled_);
        }
    }

private:
    std::vector<std::uint8_t>& out_;
    std::uint64_t buffer_ = 0;
    int filled_ = 0;
};

void putLiteralOrLength(BitWriter& bits, int symbol)
{
    if (symbol < 144) {
        bits.putCode(0x30 + symbol, 8);
    } else if (symbol < 256) {
        bits.putCode(0x190 + symbol - 144, 9);
    } else if (symbol < 280) {
        bits.putCode(symbol - 256, 7);
    } else {
        bits.putCode(0xC0 + symbol - 280, 8);
    }
}

const int kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                             31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
const int kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                              2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const int kDistanceBase[30] = {1,   2,   3,   4,    5,    7,    9,    13,   17,    25,
                               33,  49,  65,  97,   129,  193,  257,  385,  513,   769,
                               1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
const int kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

void putMatch(BitWriter& bits, int length, int distance)
{
    int code = 28;
    while (kLengthBase[code] > length) {
        --code;
    }
    putLiteralOrLength(bits, 257 + code);
    bits.put(static_cast<std::uint32_t>(length - kLengthBase[code]), kLengthExtra[code]);
    code = 29;
    while (kDistanceBase[code] > distance) {
        --code;
    }
    bits.putCode(static_cast<std::uint32_t>(code), 5);
    bits.put(static_cast<std::uint32_t>(distance - kDistanceBase[code]), kDistanceExtra[code]);
}

std::vector<std::uint8_t> deflate(const std::vector<std::uint8_t>& data)
{
    constexpr int kWindow = 32768;
    constexpr int kHashBits = 15;
    constexpr int kChainTries = 32;
    std::vector<std::uint8_t> out;
    BitWriter bits(out);
    bits.put(1, 1);  // the final block
    bits.put(1, 2);  // fixed Huffman codes
    std::vector<int> head(1 << kHashBits, -1);
    std::vector<int> previous(data.size(), -1);
    const int size = static_cast<int>(data.size());
    auto hashAt = [&](int at) {
        const std::uint32_t v = data[at] | (data[at + 1] << 8) | (data[at + 2] << 16);
        return static_cast<int>((v * 2654435761u) >> (32 - kHashBits));
    };
    auto insert = [&](int at) {
        if (at + 2 < size) {
            const int hash = hashAt(at);
            previous[at] = head[hash];
            head[hash] = at;
        }
    };
    int at = 0;
    while (at < size) {
        int bestLength = 0;
        int bestDistance = 0;
        if (at + 2 < size) {
            int candidate = head[hashAt(at)];
            const int limit = size - at < 258 ? size - at : 258;
            for (int tries = 0; candidate >= 0 && at - candidate <= kWindow && tries < kChainTries;
                 ++tries, candidate = previous[candidate]) {
                int length = 0;
                while (length < limit && data[candidate + length] == data[at + length]) {
                    ++length;
                }
                if (length > bestLength) {
                    bestLength = length;
                    bestDistance = at - candidate;
                }
            }
        }
        if (bestLength >= 3) {
            putMatch(bits, bestLength, bestDistance);
            for (int i = 0; i < bestLength; ++i) {
                insert(at + i);
            }
            at += bestLength;
        } else {
            putLiteralOrLength(bits, data[at]);
            insert(at);
            ++at;
        }
    }
    putLiteralOrLength(bits, 256);  // end of block
    bits.finish();
    return out;
}

std::uint32_t crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0)
{
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
        }
    }
    return ~crc;
}

void putBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<std::uint8_t>(value >> shift));
    }
}

void putChunk(std::vector<std::uint8_t>& file, const char* type,
              const std::vector<std::uint8_t>& body)
{
    putBigEndian(file, static_cast<std::uint32_t>(body.size()));
    const std::size_t start = file.size();
    file.insert(file.end(), type, type + 4);
    file.insert(file.end(), body.begin(), body.end());
    putBigEndian(file, crc32(&file[start], file.size() - start));
}

}  // namespace

bool writePng(const char* path, int width, int height, const std::vector<std::uint8_t>& rgb)
{
    const std::size_t stride = static_cast<std::size_t>(width) * 3;
    std::vector<std::uint8_t> filtered;
    filtered.reserve((stride + 1) * height);
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = &rgb[y * stride];
        filtered.push_back(2);  // "Up": each byte minus the one above it
        for (std::size_t i = 0; i < stride; ++i) {
            filtered.push_back(static_cast<std::uint8_t>(row[i] - (y > 0 ? row[i - stride] : 0)));
        }
    }

    std::vector<std::uint8_t> zlib = {0x78, 0x01};
    const std::vector<std::uint8_t> compressed = deflate(filtered);
    zlib.insert(zlib.end(), compressed.begin(), compressed.end());
    std::uint32_t a = 1, b = 0;  // Adler-32 of the uncompressed data
    for (std::uint8_t byte : filtered) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    putBigEndian(zlib, (b << 16) | a);

    std::vector<std::uint8_t> header;
    putBigEndian(header, static_cast<std::uint32_t>(width));
    putBigEndian(header, static_cast<std::uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, filters, no interlace

    std::vector<std::uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    putChunk(file, "IHDR", header);
    putChunk(file, "IDAT", zlib);
    putChunk(file, "IEND", {});

    std::FILE* out = std::fopen(path, "wb");
    if (out == nullptr) {
        return false;
    }
    const bool written = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    return std::fclose(out) == 0 && written;
}
