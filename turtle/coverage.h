// Coverage of the window by the picture's lines, at 4x4 samples per pixel: one bit a
// sample, set where some line's band (one pixel wide, centred on the line) covers the
// sample's centre, so that overlaps count once. Lines below a pixel are drawn here
// instead of as OpenGL lines; the grid becomes one image of alpha per pixel, blended
// over the picture. Its size is the window's, whatever the word.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "turtle/frame.h"

namespace turtle {

// Where a point of the drawing space lands in the window: columns from the left edge and
// rows from the top edge, pixel (c, r) spanning [c, c+1) x [r, r+1).
struct PixelMapping {
    double left = 0.0;
    double top = 0.0;
    double columnsPerUnit = 0.0;
    double rowsPerUnit = 0.0;

    // A mapping that can't be drawn in (not finite, or zero) sends lines to OpenGL only.
    bool usable() const
    {
        return std::isfinite(left) && std::isfinite(top) && std::isfinite(columnsPerUnit) &&
               std::isfinite(rowsPerUnit) && columnsPerUnit != 0.0 && rowsPerUnit != 0.0;
    }
};

class CoverageGrid {
public:
    static constexpr int kPixels = kWindowSize;                    // pixels along each side of the window
    static constexpr int kSamplesPerPixel = 4;               // samples along each side of a pixel
    static constexpr int kSide = kPixels * kSamplesPerPixel;  // samples along each side of the window
    static constexpr int kWords = (kSide + 63) / 64;          // 64-bit words a row of samples

    explicit CoverageGrid(const PixelMapping& mapping)
        : bits_(static_cast<std::size_t>(kSide) * kWords + kPadding, 0),
          left_(mapping.left + 0.5 / (mapping.columnsPerUnit * kSamplesPerPixel)),
          top_(mapping.top + 0.5 / (mapping.rowsPerUnit * kSamplesPerPixel)),
          columnScale_(mapping.columnsPerUnit * kSamplesPerPixel),
          rowScale_(mapping.rowsPerUnit * kSamplesPerPixel)
    {
    }

    // The walk's sink: marks the band of one line, given in drawing units.
    void line(float x0, float y0, float x1, float y1)
    {
        used_ = true;
        double sx0;
        double sy0;
        int cx0;
        int cy0;
        if (x0 == lastX_ && y0 == lastY_) {  // the usual case: the line starts where the last ended
            sx0 = lastSampleX_;
            sy0 = lastSampleY_;
            cx0 = lastCeilX_;
            cy0 = lastCeilY_;
        } else {
            sx0 = sampleX(x0);
            sy0 = sampleY(y0);
            cx0 = ceilInGrid(sx0);
            cy0 = ceilInGrid(sy0);
        }
        const double sx1 = sampleX(x1);
        const double sy1 = sampleY(y1);
        const int cx1 = ceilInGrid(sx1);
        const int cy1 = ceilInGrid(sy1);
        lastX_ = x1;
        lastY_ = y1;
        lastSampleX_ = sx1;
        lastSampleY_ = sy1;
        lastCeilX_ = cx1;
        lastCeilY_ = cy1;
        if (cx0 == cx1 && cy0 == cy1) return;  // it crosses no centre line of samples
        band(sx0, sy0, sx1, sy1, cx0, cy0, cx1, cy1);
    }

    // Whether a line is shorter than a pixel in the window.
    bool belowAPixel(float x0, float y0, float x1, float y1) const
    {
        const double dx = (static_cast<double>(x1) - x0) * columnScale_;
        const double dy = (static_cast<double>(y1) - y0) * rowScale_;
        return dx * dx + dy * dy < double(kSamplesPerPixel * kSamplesPerPixel);
    }

    // A line's length in window pixels; 0 where the mapping can't measure it.
    double pixelLength(float x0, float y0, float x1, float y1) const
    {
        const double dx = (static_cast<double>(x1) - x0) * columnScale_;
        const double dy = (static_cast<double>(y1) - y0) * rowScale_;
        const double length = std::sqrt(dx * dx + dy * dy) / kSamplesPerPixel;
        return length < HUGE_VAL ? length : 0.0;  // NaN and infinity count nothing
    }

    // Marks what `other`, a grid of the same mapping, marks: a word walked in pieces into
    // grids of their own, then added up, marks what one walk of it would.
    void add(const CoverageGrid& other)
    {
        for (std::size_t i = 0; i < bits_.size(); ++i) bits_[i] |= other.bits_[i];
        used_ = used_ || other.used_;
    }

    // Whether any line was given to the grid.
    bool used() const { return used_; }

    // The covered share of each pixel as alpha, 0 to 255: kPixels rows of kPixels bytes,
    // the bottom row first, as glDrawPixels takes them.
    void alpha(std::vector<std::uint8_t>& image) const;

private:
    // Sample coordinates in which sample (i, j) has its centre at (i, j).
    double sampleX(float x) const { return (static_cast<double>(x) - left_) * columnScale_; }
    double sampleY(float y) const { return (static_cast<double>(y) - top_) * rowScale_; }

    // The least integer at or above v, for v clamped to a little beyond the grid (NaN to
    // below it), so that no conversion overflows.
    static int ceilInGrid(double v)
    {
        constexpr double kAbove = kSide + 8.0;  // keeps the truncated value positive: a floor
        v = std::min(std::max(-2.0, v), kSide + 2.0);  // std::max(-2.0, NaN) is -2.0
        return static_cast<int>(kAbove) - static_cast<int>(kAbove - v);
    }

    // Marks the samples of the band from (x0, y0) to (x1, y1), in sample coordinates;
    // (cx0, cy0) and (cx1, cy1) are the ends' coordinates rounded up (ceilInGrid). Along
    // its major axis the line crosses the centre lines of columns (or rows) of samples;
    // at each crossing the band's cross-section, half a pixel either side of the line
    // measured across it, is a run of samples in that column (or row). A line crosses
    // each centre line at most once, so the runs add up to the band's area. Half-open
    // crossings ([start, end)) leave a chain's shared ends to one line.
    void band(double x0, double y0, double x1, double y1, int cx0, int cy0, int cx1, int cy1)
    {
        const double dx = x1 - x0;
        const double dy = y1 - y0;
        if (std::fabs(dx) >= std::fabs(dy)) {
            if (cx0 != cx1) columns(x0, y0, dx, dy, std::min(cx0, cx1), std::max(cx0, cx1));
        } else {
            if (cy0 != cy1) rows(x0, y0, dx, dy, std::min(cy0, cy1), std::max(cy0, cy1));
        }
    }

    // Inline, as they run for nearly every line of a dense curve. A run along a row is
    // one unaligned 64-bit OR, without branches on where it starts or how long it is
    // (kPadding keeps it inside the grid's storage at the end of the last row).
    void columns(double x0, double y0, double dx, double dy, int first, int end)
    {
        const double slope = dy / dx;
        const double half = kHalfWidth * std::sqrt(1.0 + slope * slope);  // half the band's height in a column
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

    void rows(double x0, double y0, double dx, double dy, int first, int end)
    {
        const double slope = dx / dy;
        const double half = kHalfWidth * std::sqrt(1.0 + slope * slope);  // half the band's width in a row
        first = std::max(first, 0);
        end = std::min(end, kSide);
        auto* const bytes = reinterpret_cast<unsigned char*>(bits_.data());
        for (int j = first; j < end; ++j) {
            const double x = x0 + (j - y0) * slope;
            const int from = std::max(ceilInGrid(x - half), 0);
            const int to = std::min(ceilInGrid(x + half), kSide);  // one past the last sample
            const int length = std::max(to - from, 0);
            // Samples are bits in little-endian order, so the run's bits lie in the 64-bit
            // word that starts at the byte of its first sample.
            const std::uint64_t run = ((std::uint64_t{1} << length) - 1) << (from & 7);
            unsigned char* at = bytes + static_cast<std::size_t>(j) * kWords * 8 + (from >> 3);
            std::uint64_t word;
            std::memcpy(&word, at, sizeof word);
            word |= run;
            std::memcpy(at, &word, sizeof word);
        }
    }

    // The most samples a run can cover: the band is at most 2 * kHalfWidth * sqrt(2)
    // samples across a column or row, for slopes of at most 1.
    static constexpr int kLongestRun = 6;
    static_assert(kLongestRun + 7 <= 64, "a run along a row fits the word at the byte of its start");
    // Words past the last row, for the 64-bit OR of a run that starts near its end.
    static constexpr std::size_t kPadding = 1;

    static constexpr double kHalfWidth = kSamplesPerPixel / 2.0;  // half a pixel, in samples

    std::vector<std::uint64_t> bits_;  // kSide rows of kWords words, the top row first, then kPadding
    double left_;  // the drawing x and y of sample (0, 0)'s centre
    double top_;
    double columnScale_;  // samples per drawing unit
    double rowScale_;
    bool used_ = false;
    float lastX_ = NAN;  // the last line's end, in drawing units and in samples
    float lastY_ = NAN;
    double lastSampleX_ = 0.0;
    double lastSampleY_ = 0.0;
    int lastCeilX_ = 0;
    int lastCeilY_ = 0;
};

}  // namespace turtle
