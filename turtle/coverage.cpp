// The coverage grid's steps apart from marking: the direction of a step, adding
// another grid, and the count of covered samples per pixel, which becomes the image's alpha.
#include "turtle/coverage.h"

#include <algorithm>
#include <array>
#include <utility>

namespace turtle {

namespace {

// Transposes a 64 x 64 matrix of bits in place, bit c of word r being element (r, c):
// swaps the off-diagonal halves, then the off-diagonal quarters of each half, and so on.
void transpose(std::array<std::uint64_t, 64>& a)
{
    std::uint64_t mask = 0x00000000FFFFFFFFu;
    for (int half = 32; half != 0; half >>= 1, mask ^= mask << half) {
        for (int k = 0; k < 64; k = ((k | half) + 1) & ~half) {
            const std::uint64_t t = ((a[k] >> half) ^ a[k | half]) & mask;
            a[k] ^= t << half;
            a[k | half] ^= t;
        }
    }
}

}  // namespace

CoverageGrid::Direction CoverageGrid::direction(std::uint64_t step) const
{
    const auto xBits = static_cast<std::uint32_t>(step >> 32);
    const auto yBits = static_cast<std::uint32_t>(step);
    float dx;
    float dy;
    std::memcpy(&dx, &xBits, sizeof dx);
    std::memcpy(&dy, &yBits, sizeof dy);
    const double across = dx * columnScale_;  // the step in samples
    const double down = dy * rowScale_;
    Direction result;
    result.step = step;
    result.crossesColumns = std::fabs(across) >= std::fabs(down);
    const double major = result.crossesColumns ? across : down;
    const double minor = result.crossesColumns ? down : across;
    result.slope = major != 0.0 ? minor / major : 0.0;
    result.half = kHalfWidth * std::sqrt(1.0 + result.slope * result.slope);
    return result;
}

void CoverageGrid::mark(const Line* lines, int count)
{
    // The loop's state in locals: the runs are written through byte pointers, which may
    // alias any member, so members would be read again after every run.
    const double left = left_;
    const double top = top_;
    const double columnScale = columnScale_;
    const double rowScale = rowScale_;
    unsigned char* const rows = reinterpret_cast<unsigned char*>(rows_.data());
    unsigned char* const columns = reinterpret_cast<unsigned char*>(columns_.data());
    float lastX = lastX_;
    float lastY = lastY_;
    double lastSampleX = lastSampleX_;
    double lastSampleY = lastSampleY_;
    int lastCeilX = lastCeilX_;
    int lastCeilY = lastCeilY_;
    for (const Line* line = lines; line != lines + count; ++line) {
        double sx0 = lastSampleX;
        double sy0 = lastSampleY;
        int cx0 = lastCeilX;
        int cy0 = lastCeilY;
        if (line->x0 != lastX || line->y0 != lastY) {  // it starts elsewhere than where the last ended
            sx0 = (static_cast<double>(line->x0) - left) * columnScale;
            sy0 = (static_cast<double>(line->y0) - top) * rowScale;
            cx0 = ceilInGrid(sx0);
            cy0 = ceilInGrid(sy0);
        }
        const double sx1 = (static_cast<double>(line->x1) - left) * columnScale;
        const double sy1 = (static_cast<double>(line->y1) - top) * rowScale;
        const int cx1 = ceilInGrid(sx1);
        const int cy1 = ceilInGrid(sy1);
        lastX = line->x1;
        lastY = line->y1;
        lastSampleX = sx1;
        lastSampleY = sy1;
        lastCeilX = cx1;
        lastCeilY = cy1;
        if (cx0 == cx1 && cy0 == cy1) continue;  // it crosses no centre line of samples
        const Direction& direction = directionOf(line->x1 - line->x0, line->y1 - line->y0);
        if (direction.crossesColumns) {
            if (cx0 != cx1) runs(columns, sx0, sy0, direction, std::min(cx0, cx1), std::max(cx0, cx1));
        } else {
            if (cy0 != cy1) runs(rows, sy0, sx0, direction, std::min(cy0, cy1), std::max(cy0, cy1));
        }
    }
    lastX_ = lastX;
    lastY_ = lastY;
    lastSampleX_ = lastSampleX;
    lastSampleY_ = lastSampleY;
    lastCeilX_ = lastCeilX;
    lastCeilY_ = lastCeilY;
}

bool CoverageGrid::seenLately(float x0, float y0, float x1, float y1)
{
    const int cx0 = ceilInGrid((static_cast<double>(x0) - left_) * columnScale_);
    const int cy0 = ceilInGrid((static_cast<double>(y0) - top_) * rowScale_);
    const int cx1 = ceilInGrid((static_cast<double>(x1) - left_) * columnScale_);
    const int cy1 = ceilInGrid((static_cast<double>(y1) - top_) * rowScale_);
    const auto inside = [](int c) { return c >= 0 && c <= kSide; };
    if (!inside(cx0) || !inside(cy0) || !inside(cx1) || !inside(cy1)) return false;
    std::uint64_t from = std::uint64_t(cx0) << 16 | std::uint64_t(cy0);
    std::uint64_t to = std::uint64_t(cx1) << 16 | std::uint64_t(cy1);
    if (from > to) std::swap(from, to);
    const std::uint64_t key = (from << 32 | to) + 1;  // never 0: a cell is below 2^16
    if (seen_.empty()) seen_.assign(std::size_t{1} << kSeenBits, 0);
    std::uint64_t& slot = seen_[(key * 0x9E3779B97F4A7C15u) >> (64 - kSeenBits)];
    if (slot == key) return true;
    slot = key;
    return false;
}

void CoverageGrid::add(const CoverageGrid& other)
{
    mark(other.pending_.data(), other.pendingLines_);
    for (std::size_t i = 0; i < rows_.size(); ++i) rows_[i] |= other.rows_[i];
    for (std::size_t i = 0; i < columns_.size(); ++i) columns_[i] |= other.columns_[i];
    used_ = used_ || other.used_;
}

void CoverageGrid::alpha(std::vector<std::uint8_t>& image)
{
    markPending();

    // Alpha for 0 to 16 covered samples: the covered share of 255, rounded.
    static_assert(kSamplesPerPixel == 4, "a pixel's samples are a nibble in each of four rows");
    static_assert(kSide % kSamplesPerPixel == 0 && 64 % kSamplesPerPixel == 0, "a band of rows holds whole pixels");
    std::uint8_t level[17];
    for (int count = 0; count <= 16; ++count) level[count] = static_cast<std::uint8_t>((count * 255 + 8) / 16);

    image.assign(static_cast<std::size_t>(kPixels) * kPixels, 0);
    constexpr std::uint64_t kPairs = 0x5555555555555555u;
    constexpr std::uint64_t kQuads = 0x3333333333333333u;
    constexpr std::uint64_t kBytes = 0x0F0F0F0F0F0F0F0Fu;
    // A band of 64 rows of samples at a time: the rows as marked along rows, with the
    // runs marked along columns transposed into them, 64 x 64 samples a block.
    std::vector<std::uint64_t> band(static_cast<std::size_t>(64) * kWords);
    std::array<std::uint64_t, 64> block;
    for (int firstRow = 0; firstRow < kSide; firstRow += 64) {
        const int rows = std::min(64, kSide - firstRow);
        std::copy_n(rows_.begin() + static_cast<std::ptrdiff_t>(firstRow) * kWords,
                    static_cast<std::size_t>(rows) * kWords, band.begin());
        for (int w = 0; w < kWords; ++w) {
            const int columns = std::min(64, kSide - w * 64);
            std::uint64_t any = 0;
            for (int c = 0; c < 64; ++c) {
                block[c] = c < columns ? columns_[static_cast<std::size_t>(w * 64 + c) * kWords + firstRow / 64] : 0;
                any |= block[c];
            }
            if (any == 0) continue;
            transpose(block);
            for (int r = 0; r < rows; ++r) band[static_cast<std::size_t>(r) * kWords + w] |= block[r];
        }

        for (int sampleRow = 0; sampleRow < rows; sampleRow += kSamplesPerPixel) {
            const int row = (firstRow + sampleRow) / kSamplesPerPixel;
            const std::uint64_t* samples = band.data() + static_cast<std::size_t>(sampleRow) * kWords;
            std::uint8_t* out = image.data() + static_cast<std::size_t>(kPixels - 1 - row) * kPixels;
            for (int w = 0; w < kWords; ++w) {
                // Each nibble of a word is one pixel's four samples in that row: count them
                // per nibble, then add the four rows, even and odd nibbles apart, per byte.
                std::uint64_t even = 0;
                std::uint64_t odd = 0;
                for (int k = 0; k < kSamplesPerPixel; ++k) {
                    std::uint64_t v = samples[k * kWords + w];
                    v = v - ((v >> 1) & kPairs);
                    v = (v & kQuads) + ((v >> 2) & kQuads);
                    even += v & kBytes;
                    odd += (v >> 4) & kBytes;
                }
                if ((even | odd) == 0) continue;
                const int firstPixel = w * 16;
                const int pixels = std::min(16, kPixels - firstPixel);
                for (int p = 0; p < pixels; ++p) {
                    const std::uint64_t counts = p % 2 == 0 ? even : odd;
                    out[firstPixel + p] = level[(counts >> (8 * (p / 2))) & 0xFF];
                }
            }
        }
    }
}

}  // namespace turtle
