// The description-file reader: splits the file into whitespace-separated tokens, applies
// each as an assignment, a rule or the axiom, reports the tokens it can't use and prints
// a summary of what it understood. The file is read as raw bytes in chunks, so tokens
// have no length limit and every byte other than whitespace is an ordinary symbol.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "lsystem/lsystem.h"

namespace {

constexpr std::size_t kChunkSize = 1 << 18;

// Blank, horizontal tab, line feed, vertical tab, form feed and carriage return: the
// bytes that separate tokens. A table, because the split looks at every byte of the file.
struct WhitespaceTable {
    bool isSpace[256] = {};
    constexpr WhitespaceTable()
    {
        isSpace[static_cast<unsigned char>(' ')] = true;
        isSpace[static_cast<unsigned char>('\t')] = true;
        isSpace[static_cast<unsigned char>('\n')] = true;
        isSpace[static_cast<unsigned char>('\v')] = true;
        isSpace[static_cast<unsigned char>('\f')] = true;
        isSpace[static_cast<unsigned char>('\r')] = true;
    }
};
constexpr WhitespaceTable kWhitespace;

bool isDecimalDigit(char c) { return c >= '0' && c <= '9'; }

// Reads an unsigned number from the start of text as "%u" does (an optional "+", then
// decimal digits; whatever follows is ignored). A "-" sign, no digits, or a value above
// 4294967295 give false and leave out unchanged, where "%u" would wrap or truncate.
bool convertUnsigned(std::string_view text, std::uint32_t& out)
{
    std::size_t i = 0;
    if (i < text.size() && text[i] == '+') ++i;
    if (i == text.size() || !isDecimalDigit(text[i])) return false;
    std::uint64_t value = 0;
    for (; i < text.size() && isDecimalDigit(text[i]); ++i) {
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (value > UINT32_MAX) return false;
    }
    out = static_cast<std::uint32_t>(value);
    return true;
}

// For a number that from_chars found out of range: true when it is too large for a
// float, false when it is too small. The number is a mantissa of digits in the given
// base with an optional point, then an optional exponent (decimal digits after "e" for
// base 10, a power of two after "p" for base 16). Its size is the position of its first
// non-zero digit plus the exponent; out of range and not below one means too large.
bool isTooLarge(const char* first, const char* last, bool hex)
{
    const char marker = hex ? 'p' : 'e';
    std::int64_t leadPosition = 0;  // power of the base of the first non-zero digit
    std::int64_t digitsBeforePoint = 0;
    std::int64_t digitIndex = 0;
    bool seenPoint = false;
    bool seenNonZero = false;
    const char* p = first;
    for (; p < last && (*p | 0x20) != marker; ++p) {
        if (*p == '.') {
            seenPoint = true;
            continue;
        }
        if (!seenPoint) ++digitsBeforePoint;
        if (!seenNonZero && *p != '0') {
            seenNonZero = true;
            leadPosition = digitIndex;
        }
        ++digitIndex;
    }
    std::int64_t magnitude = digitsBeforePoint - 1 - leadPosition;
    if (hex) magnitude *= 4;
    std::int64_t exponent = 0;
    if (p < last) {
        ++p;
        bool negative = false;
        if (p < last && (*p == '+' || *p == '-')) negative = *p++ == '-';
        // Exponents far beyond any float are all alike; stop counting there.
        for (; p < last && exponent < 1000000000; ++p) exponent = exponent * 10 + (*p - '0');
        if (negative) exponent = -exponent;
    }
    return magnitude + exponent >= 0;
}

// Reads a float from the start of text as "%f" does: an optional sign, then a decimal
// number (".5", "5.", "1e5"), a hexadecimal one after "0x", or "inf" and "nan" spelt in
// any case; whatever follows is ignored. A value too small for a float reads as zero
// with its sign, as "%f" has it. No number, infinity and NaN (also from a value too large
// for a float) give false and leave out unchanged. std::from_chars does the conversion,
// so the result is the same on every platform and ignores the locale.
bool convertFloat(std::string_view text, float& out)
{
    const char* p = text.data();
    const char* const end = p + text.size();
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    const bool hex = end - p >= 2 && p[0] == '0' && (p[1] | 0x20) == 'x';
    if (hex) p += 2;
    // from_chars takes a "-" of its own; "%f" takes one sign only.
    if (p < end && (*p == '+' || *p == '-')) return false;
    float value = 0.0f;
    const std::from_chars_result result = std::from_chars(
        p, end, value, hex ? std::chars_format::hex : std::chars_format::general);
    if (result.ec == std::errc::invalid_argument) return false;
    if (result.ec == std::errc::result_out_of_range) {
        if (isTooLarge(p, result.ptr, hex)) return false;
        value = 0.0f;
    }
    if (!std::isfinite(value)) return false;
    out = negative ? -value : value;
    return true;
}

// Prints prefix, the whole token (NUL bytes included) and suffix.
void reportToken(const char* prefix, std::string_view token, const char* suffix)
{
    std::fputs(prefix, stdout);
    std::fwrite(token.data(), 1, token.size(), stdout);
    std::fputs(suffix, stdout);
}

void print(std::string_view bytes) { std::fwrite(bytes.data(), 1, bytes.size(), stdout); }

// The position of the first "->" in text, or npos. A memchr for each "-" keeps the search
// linear and fast on long tokens.
std::size_t findArrow(std::string_view text)
{
    const char* const begin = text.data();
    const char* const end = begin + text.size();
    const char* p = begin;
    while (p < end) {
        const void* dash = std::memchr(p, '-', static_cast<std::size_t>(end - p));
        if (dash == nullptr) break;
        p = static_cast<const char*>(dash);
        if (p + 1 < end && p[1] == '>') return static_cast<std::size_t>(p - begin);
        ++p;
    }
    return std::string_view::npos;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

// Applies one token: an assignment if it holds "=", else a rule if it holds "->", else
// the new axiom.
void applyToken(LSystem& lsystem, std::string_view token)
{
    const std::size_t equals = token.find('=');
    if (equals != std::string_view::npos) {
        const std::string_view name = token.substr(0, equals);
        const std::string_view value = token.substr(equals + 1);
        if (name == "n") {
            convertUnsigned(value, lsystem.n);
        } else if (name == "d") {
            convertUnsigned(value, lsystem.d);
        } else if (name == "delta") {
            convertFloat(value, lsystem.delta);
        } else {
            reportToken("Unable to parse '", token, "' (unknown variable)\n");
        }
        return;
    }

    const std::size_t arrow = findArrow(token);
    if (arrow == std::string_view::npos) {
        lsystem.axiom.assign(token.data(), token.size());
        return;
    }
    std::string_view left = token.substr(0, arrow);
    const std::string_view successor = token.substr(arrow + 2);
    std::string_view leftContext;
    std::string_view rightContext;
    // "<" first, so that a ">" standing before the first "<" stays in the left context.
    const std::size_t less = left.find('<');
    if (less != std::string_view::npos) {
        leftContext = left.substr(0, less);
        left = left.substr(less + 1);
    }
    const std::size_t greater = left.find('>');
    if (greater != std::string_view::npos) {
        rightContext = left.substr(greater + 1);
        left = left.substr(0, greater);
    }
    if (left.empty()) {
        reportToken("Error parsing '", token, "'\n");
        return;
    }
    Rule rule;
    rule.predecessor.assign(left.data(), left.size());
    rule.leftContext.assign(leftContext.data(), leftContext.size());
    rule.rightContext.assign(rightContext.data(), rightContext.size());
    rule.matchText.reserve(leftContext.size() + left.size() + rightContext.size());
    rule.matchText.append(leftContext.data(), leftContext.size());
    rule.matchText.append(left.data(), left.size());
    rule.matchText.append(rightContext.data(), rightContext.size());
    rule.successor.assign(successor.data(), successor.size());
    lsystem.rules.push_back(std::move(rule));
}

}  // namespace

void LSystem::readDescription(const char* path)
{
    // Binary mode: the bytes of the file are the symbols, so no line-end folding and no
    // end-of-file character may change them. Carriage returns are whitespace anyway.
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path, "rb"));
    std::vector<char> chunk(kChunkSize);
    std::size_t got = file ? std::fread(chunk.data(), 1, chunk.size(), file.get()) : 0;
    // Opening a directory succeeds on some systems; its first read fails.
    if (!file || (got == 0 && std::ferror(file.get()))) {
        std::fputs("Couldn't open specified file!\n", stdout);
        std::fflush(stdout);
        return;
    }

    // A token that reaches the end of a chunk is gathered in pending until its end turns
    // up; every other token is applied straight from the chunk. The inner loops are plain
    // byte loops over a table lookup because they touch every byte of the file once.
    std::string pending;
    while (got > 0) {
        const char* p = chunk.data();
        const char* const end = p + got;
        if (!pending.empty()) {
            const char* q = p;
            while (q < end && !kWhitespace.isSpace[static_cast<unsigned char>(*q)]) ++q;
            pending.append(p, q);
            p = q;
            if (p < end) {
                applyToken(*this, pending);
                pending.clear();
            }
        }
        while (p < end) {
            while (p < end && kWhitespace.isSpace[static_cast<unsigned char>(*p)]) ++p;
            if (p == end) break;
            const char* const start = p;
            while (p < end && !kWhitespace.isSpace[static_cast<unsigned char>(*p)]) ++p;
            if (p == end) {
                pending.assign(start, p);
                break;
            }
            applyToken(*this, std::string_view(start, static_cast<std::size_t>(p - start)));
        }
        // A read error ends the reading as the end of the file does.
        got = std::fread(chunk.data(), 1, chunk.size(), file.get());
    }
    if (!pending.empty()) applyToken(*this, pending);

    std::printf("Finished parsing file: \n  n=%u, d=%u, delta=%f\n  ", n, d,
                static_cast<double>(delta));
    print(axiom);
    std::fputs("\n", stdout);
    for (const Rule& rule : rules) {
        std::fputs("  ", stdout);
        if (!rule.leftContext.empty()) {
            print(rule.leftContext);
            std::fputs("<", stdout);
        }
        print(rule.predecessor);
        if (!rule.rightContext.empty()) {
            std::fputs(">", stdout);
            print(rule.rightContext);
        }
        std::fputs("->", stdout);
        print(rule.successor);
        std::fputs("\n", stdout);
    }
    std::fputs("-----------------------\n", stdout);
    std::fflush(stdout);
}
