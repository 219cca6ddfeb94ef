// The count of covered samples per pixel in the coverage grid, which becomes the
// image's alpha.
#include "turtle/coverage.h"

#include <algorithm>

namespace turtle {

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
