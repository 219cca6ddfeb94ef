// The coverage grid's runs of samples at each crossing of a line, and the count of
// covered samples per pixel that becomes the image's alpha.
#include "turtle/coverage.h"

#include <algorithm>

namespace turtle {

namespace {

// Slopes this close share their band's extent: it then differs by a few billionths of a
// sample at most.
constexpr double kSameSlope = 1e-9;

}  // namespace

void CoverageGrid::columns(double x0, double y0, double dx, double dy, int first, int end)
{
    const double slope = dy / dx;
    if (!(std::fabs(slope - columnSlope_) <= kSameSlope)) {
        columnSlope_ = slope;
        columnHalf_ = kHalfWidth * std::sqrt(1.0 + slope * slope);  // half the band's height in a column
    }
    const double half = columnHalf_;
    first = std::max(first, 0);
    end = std::min(end, kSide);
    for (int i = first; i < end; ++i) {
        const double y = y0 + (i - x0) * slope;
        const int top = std::max(ceilInGrid(y - half), 0);
        const int bottom = std::min(ceilInGrid(y + half), kSide);
        const std::uint64_t bit = std::uint64_t{1} << (i & 63);
        std::uint64_t* word = bits_.data() + static_cast<std::size_t>(top) * kWords + (i >> 6);
        for (int j = top; j < bottom; ++j, word += kWords) *word |= bit;
    }
}

void CoverageGrid::rows(double x0, double y0, double dx, double dy, int first, int end)
{
    const double slope = dx / dy;
    if (!(std::fabs(slope - rowSlope_) <= kSameSlope)) {
        rowSlope_ = slope;
        rowHalf_ = kHalfWidth * std::sqrt(1.0 + slope * slope);  // half the band's width in a row
    }
    const double half = rowHalf_;
    first = std::max(first, 0);
    end = std::min(end, kSide);
    for (int j = first; j < end; ++j) {
        const double x = x0 + (j - y0) * slope;
        const int from = std::max(ceilInGrid(x - half), 0);
        const int to = std::min(ceilInGrid(x + half), kSide);  // one past the last sample
        if (from >= to) continue;
        std::uint64_t* row = bits_.data() + static_cast<std::size_t>(j) * kWords;
        const int firstWord = from >> 6;
        const int lastWord = (to - 1) >> 6;
        const std::uint64_t head = ~std::uint64_t{0} << (from & 63);
        const std::uint64_t tail = ~std::uint64_t{0} >> (63 - ((to - 1) & 63));
        if (firstWord == lastWord) {
            row[firstWord] |= head & tail;
        } else {
            row[firstWord] |= head;
            for (int w = firstWord + 1; w < lastWord; ++w) row[w] = ~std::uint64_t{0};
            row[lastWord] |= tail;
        }
    }
}

void CoverageGrid::alpha(std::vector<std::uint8_t>& image) const
{
    // Alpha for 0 to 16 covered samples: the covered share of 255, rounded.
    static_assert(kSamplesPerPixel == 4, "a pixel's samples are a nibble in each of four rows");
    std::uint8_t level[17];
    for (int count = 0; count <= 16; ++count) level[count] = static_cast<std::uint8_t>((count * 255 + 8) / 16);

    image.assign(static_cast<std::size_t>(kPixels) * kPixels, 0);
    constexpr std::uint64_t kPairs = 0x5555555555555555u;
    constexpr std::uint64_t kQuads = 0x3333333333333333u;
    constexpr std::uint64_t kBytes = 0x0F0F0F0F0F0F0F0Fu;
    for (int row = 0; row < kPixels; ++row) {
        const std::uint64_t* samples = bits_.data() + static_cast<std::size_t>(row) * kSamplesPerPixel * kWords;
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

}  // namespace turtle
