// Coverage of the window by the picture's lines, at 4x4 samples per pixel: one bit a
// sample, set where some line's band (one pixel wide, centred on the line) covers the
// sample's centre, so that overlaps count once. Lines below a pixel are drawn here
// instead of as OpenGL lines; the grid becomes one image of alpha per pixel, blended
// over the picture. Its size is the window's, whatever the word: the samples twice
// (once as rows, once transposed), about 1.4 MB, and a batch of lines waiting.
#pragma once

#include <algorithm>
#include <array>
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
        : rows_(kStorageWords, 0),
          columns_(kStorageWords, 0),
          left_(mapping.left + 0.5 / (mapping.columnsPerUnit * kSamplesPerPixel)),
          top_(mapping.top + 0.5 / (mapping.rowsPerUnit * kSamplesPerPixel)),
          columnScale_(mapping.columnsPerUnit * kSamplesPerPixel),
          rowScale_(mapping.rowsPerUnit * kSamplesPerPixel)
    {
        directions_.fill(direction(0));
    }

    // The walk's sink: takes one line, given in drawing units. Lines wait in a batch and
    // are marked a batch at a time (markPending), so that the walk's loop, whose branch
    // on each letter is hard to predict, stays small, and the marking runs as a loop of
    // its own over the batch.
    void line(float x0, float y0, float x1, float y1)
    {
        used_ = true;
        pending_[pendingLines_] = Line{x0, y0, x1, y1};
        if (++pendingLines_ == kPendingLines) markPending();
    }

    class Lines;

    // Whether a line that starts and ends in the same samples as this one, either way
    // round, went by lately; this one is remembered. Such a line covers what that one
    // did, to within a sample at either end, so that a pass can leave it out: a word
    // which goes over the same long lines again and again (a polygon drawn thousands of
    // times, drifting by rounding) then costs its pixels, not its lines' length, and its
    // ink is counted once. A line with an end off the grid is never taken for another.
    bool seenLately(float x0, float y0, float x1, float y1);

    // Lines given to the grid so far, by line() or by a Lines sink that finished.
    std::uint64_t linesGiven() const { return given_ + static_cast<std::uint64_t>(pendingLines_); }

    // ORs in the lines of another grid of the same mapping, as if its walk had come here.
    // What a line marks depends on its two ends alone, so grids of the pieces of one walk,
    // added, hold what one grid of the whole walk holds, bit for bit.
    void add(const CoverageGrid& other);

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

    // Whether any line was given to the grid.
    bool used() const { return used_; }

    // The covered share of each pixel as alpha, 0 to 255: kPixels rows of kPixels bytes,
    // the bottom row first, as glDrawPixels takes them. Marks the lines still waiting first.
    void alpha(std::vector<std::uint8_t>& image);

private:
    struct Line {
        float x0;
        float y0;
        float x1;
        float y1;
    };

    // Marks the lines waiting in the batch.
    void markPending()
    {
        mark(pending_.data(), pendingLines_);
        given_ += static_cast<std::uint64_t>(pendingLines_);
        pendingLines_ = 0;
    }

    // Marks a full batch that a Lines sink wrote, and gives it the batch's start again.
    [[gnu::noinline]] Line* markFullBatch()
    {
        pendingLines_ = kPendingLines;
        markPending();
        return pending_.data();
    }

    // Marks the bands of `count` lines in order.
    void mark(const Line* lines, int count);

    // The least integer at or above v, for v clamped to a little beyond the grid (NaN to
    // below it), so that no conversion overflows.
    static int ceilInGrid(double v)
    {
        constexpr double kAbove = kSide + 8.0;  // keeps the truncated value positive: a floor
        v = std::min(std::max(-2.0, v), kSide + 2.0);  // std::max(-2.0, NaN) is -2.0
        return static_cast<int>(kAbove) - static_cast<int>(kAbove - v);
    }

    // How a line's band is marked. Along its major axis the line crosses the centre lines
    // of columns (or rows) of samples; at each crossing the band's cross-section, half a
    // pixel either side of the line measured across it, is a run of samples in that
    // column (or row). A line crosses each centre line at most once, so the runs add up to
    // the band's area. Half-open crossings ([start, end)) leave a chain's shared ends to
    // one line. A run goes to rows_ for a row, or to columns_ (the grid transposed) for a
    // column, so that every run is one unaligned 64-bit OR at the byte of its first sample.

    // What a line's direction gives its runs, from its step in drawing units: its major
    // axis, the slope of its minor coordinate over its major one, and half a run's length.
    struct Direction {
        std::uint64_t step = 0;  // the bits of the float step x1 - x0, then of y1 - y0
        double slope = 0.0;
        double half = kHalfWidth;
        bool crossesColumns = true;  // the major axis is x: the runs are columns
    };

    // A dense curve draws its steps in a few directions, so the slope and the half length
    // (a division and a square root, which the runs' positions wait on) are kept per
    // step, direct-mapped. A collision only computes again the same values from the
    // same bits, so a line marks what it would without the memo.
    const Direction& directionOf(float dx, float dy)
    {
        std::uint32_t xBits;
        std::uint32_t yBits;
        std::memcpy(&xBits, &dx, sizeof xBits);
        std::memcpy(&yBits, &dy, sizeof yBits);
        const std::uint64_t step = std::uint64_t{xBits} << 32 | yBits;
        Direction& memo = directions_[(step * 0x9E3779B97F4A7C15u) >> (64 - kDirectionBits)];
        if (memo.step != step) memo = direction(step);
        return memo;
    }

    // The direction of a step, given as Direction::step's bits.
    Direction direction(std::uint64_t step) const;

    // The runs of the crossings [first, end) of centre lines i, at the minor coordinate
    // minorStart + (i - majorStart) * slope, into the bytes of rows_ or columns_.
    static void runs(unsigned char* bytes, double majorStart, double minorStart, const Direction& direction,
                     int first, int end)
    {
        first = std::max(first, 0);
        end = std::min(end, kSide);
        for (int i = first; i < end; ++i) {
            const double at = minorStart + (i - majorStart) * direction.slope;
            const int start = std::max(ceilInGrid(at - direction.half), 0);
            const int stop = std::min(ceilInGrid(at + direction.half), kSide);  // one past the last sample
            const int length = std::max(stop - start, 0);
            orRun(bytes + static_cast<std::size_t>(i) * kRowBytes + (start >> 3),
                  ((std::uint64_t{1} << length) - 1) << (start & 7));
        }
    }

    // Samples are bits in little-endian order, so a run's bits lie in the 64-bit word
    // that starts at the byte of its first sample.
    static void orRun(unsigned char* at, std::uint64_t run)
    {
        std::uint64_t word;
        std::memcpy(&word, at, sizeof word);
        word |= run;
        std::memcpy(at, &word, sizeof word);
    }

    // The most samples a run can cover: the band is at most 2 * kHalfWidth * sqrt(2)
    // samples across a column or row, for slopes of at most 1.
    static constexpr int kLongestRun = 6;
    static_assert(kLongestRun + 7 <= 64, "a run fits the word at the byte of its start");
    static constexpr int kDirectionBits = 9;  // 512 directions memoised
    static constexpr int kPendingLines = 512;  // lines a batch
    static constexpr std::size_t kRowBytes = std::size_t{kWords} * 8;
    // kSide rows of kWords words, then a word for the OR of a run near the end of the last.
    static constexpr std::size_t kStorageWords = std::size_t{kSide} * kWords + 1;

    static constexpr double kHalfWidth = kSamplesPerPixel / 2.0;  // half a pixel, in samples

    std::vector<std::uint64_t> rows_;     // kSide rows of samples, the top row first: runs along rows
    std::vector<std::uint64_t> columns_;  // the same transposed, row i being column i: runs along columns
    std::array<Direction, std::size_t{1} << kDirectionBits> directions_;  // each the direction of its step
    static constexpr int kSeenBits = 14;  // lines remembered by seenLately: 128 KB, made at the first
    std::vector<std::uint64_t> seen_;     // the samples of a line's ends, direct-mapped; 0 while empty
    double left_;  // the drawing x and y of sample (0, 0)'s centre
    double top_;
    double columnScale_;  // samples per drawing unit
    double rowScale_;
    bool used_ = false;
    std::uint64_t given_ = 0;  // lines marked from batches
    std::array<Line, kPendingLines> pending_;  // the batch of lines not yet marked
    int pendingLines_ = 0;
    float lastX_ = NAN;  // the last line's end, in drawing units and in samples
    float lastY_ = NAN;
    double lastSampleX_ = 0.0;
    double lastSampleY_ = 0.0;
    int lastCeilX_ = 0;
    int lastCeilY_ = 0;
};

// A walk's sink of lines into a grid, small enough that the walk keeps it in registers:
// where the next line goes in the grid's batch, and the batch's end. It marks what line()
// on the grid would; the grid counts the lines, which spares the walk a count of its
// own. The grid is not to be used while a Lines is, until finish() hands back the batch.
class CoverageGrid::Lines {
public:
    explicit Lines(CoverageGrid& grid)
        : grid_(&grid),
          next_(grid.pending_.data() + grid.pendingLines_),
          end_(grid.pending_.data() + kPendingLines)
    {
    }

    void line(float x0, float y0, float x1, float y1)
    {
        *next_ = Line{x0, y0, x1, y1};
        if (++next_ == end_) next_ = grid_->markFullBatch();
    }

    // Gives the grid the lines still waiting in its batch.
    void finish()
    {
        const auto waiting = static_cast<int>(next_ - grid_->pending_.data());
        if (waiting != 0 || grid_->given_ != 0) grid_->used_ = true;
        grid_->pendingLines_ = waiting;
    }

private:
    CoverageGrid* grid_;
    Line* next_;
    Line* end_;
};

}  // namespace turtle
