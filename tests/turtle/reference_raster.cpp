// The reference rasteriser: a measuring walk frames the word as the program does, a
// second walk marks the coverage samples of each line's band, row of samples by row of
// samples, and the samples are box-filtered into grey levels over the start point.
#include "tests/turtle/reference_raster.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>

#include "turtle/walk.h"

namespace reference {

namespace {

constexpr int kGridSize = kWindowSize * kSamplesPerSide;  // samples along each side of the window

// Coverage samples of the whole window, one byte each, set where some band covers the
// sample's centre. Sample (i, j) has its centre at ((i + 0.5), (j + 0.5)) in sample units,
// which are window pixels times kSamplesPerSide; j counts from the top.
class CoverageGrid {
public:
    explicit CoverageGrid(const PixelMapping& mapping)
        : mapping_(mapping), samples_(static_cast<std::size_t>(kGridSize) * kGridSize, 0)
    {
    }

    // The walk's sink: marks the band of one F line.
    void line(float x0, float y0, float x1, float y1)
    {
        band(mapping_.column(x0) * kSamplesPerSide, mapping_.row(y0) * kSamplesPerSide,
             mapping_.column(x1) * kSamplesPerSide, mapping_.row(y1) * kSamplesPerSide);
    }

    // How many samples of pixel (column, row) are covered, 0 to kSamplesPerSide^2.
    int covered(int column, int row) const
    {
        int count = 0;
        for (int j = 0; j < kSamplesPerSide; ++j) {
            const std::uint8_t* s = samples_.data() +
                                    static_cast<std::size_t>(row * kSamplesPerSide + j) * kGridSize +
                                    column * kSamplesPerSide;
            for (int i = 0; i < kSamplesPerSide; ++i) count += s[i];
        }
        return count;
    }

private:
    // Marks the samples whose centres lie in the band from (x0, y0) to (x1, y1), in sample
    // units: the rectangle of that length and one pixel wide, centred on the segment. A line
    // of length zero covers no area and marks nothing. Only the sample rows that the band
    // crosses are visited; on each, the band's extent is the intersection of two slabs, one
    // along the segment (0 <= t <= length) and one across it (|s| <= half width).
    void band(double x0, double y0, double x1, double y1)
    {
        const double dx = x1 - x0;
        const double dy = y1 - y0;
        const double length = std::sqrt(dx * dx + dy * dy);
        if (!(length > 0.0) || !std::isfinite(length) || !std::isfinite(x0) || !std::isfinite(y0)) return;
        const double ux = dx / length;  // unit vector along the segment
        const double uy = dy / length;
        const double half = 0.5 * kSamplesPerSide;  // half a pixel, in samples

        const double cornersX[4] = {x0 - uy * half, x0 + uy * half, x1 - uy * half, x1 + uy * half};
        const double cornersY[4] = {y0 + ux * half, y0 - ux * half, y1 + ux * half, y1 - ux * half};
        const double minX = std::max(*std::min_element(cornersX, cornersX + 4), 0.0);
        const double maxX = std::min(*std::max_element(cornersX, cornersX + 4), double(kGridSize));
        const double minY = std::max(*std::min_element(cornersY, cornersY + 4), 0.0);
        const double maxY = std::min(*std::max_element(cornersY, cornersY + 4), double(kGridSize));
        if (!(minX <= maxX) || !(minY <= maxY)) return;  // wholly outside the window

        // Rows whose sample centres j + 0.5 lie within [minY, maxY].
        const int firstRow = static_cast<int>(std::ceil(minY - 0.5));
        const int lastRow = std::min(static_cast<int>(std::floor(maxY - 0.5)), kGridSize - 1);
        const double inverseUx = ux != 0.0 ? 1.0 / ux : 0.0;
        const double inverseUy = uy != 0.0 ? 1.0 / uy : 0.0;
        for (int j = firstRow; j <= lastRow; ++j) {
            const double yc = j + 0.5 - y0;  // the row's centre, relative to the start
            double lo = minX;
            double hi = maxX;
            // Along: 0 <= (x - x0) ux + yc uy <= length.
            const double t = yc * uy;
            if (ux != 0.0) {
                double a = x0 - t * inverseUx;
                double b = x0 + (length - t) * inverseUx;
                if (a > b) std::swap(a, b);
                lo = std::max(lo, a);
                hi = std::min(hi, b);
            } else if (t < 0.0 || t > length) {
                continue;
            }
            // Across: -half <= -(x - x0) uy + yc ux <= half.
            const double s = yc * ux;
            if (uy != 0.0) {
                double a = x0 + (s - half) * inverseUy;
                double b = x0 + (s + half) * inverseUy;
                if (a > b) std::swap(a, b);
                lo = std::max(lo, a);
                hi = std::min(hi, b);
            } else if (s < -half || s > half) {
                continue;
            }
            // Samples whose centres i + 0.5 lie within [lo, hi].
            const int first = static_cast<int>(std::ceil(lo - 0.5));
            const int last = std::min(static_cast<int>(std::floor(hi - 0.5)), kGridSize - 1);
            if (first <= last)
                std::memset(samples_.data() + static_cast<std::size_t>(j) * kGridSize + first, 1,
                            static_cast<std::size_t>(last - first + 1));
        }
    }

    PixelMapping mapping_;
    std::vector<std::uint8_t> samples_;
};

}  // namespace

PixelMapping::PixelMapping(const turtle::Projection& p)
    : left(p.left),
      top(p.top),
      columnsPerUnit(kWindowSize / (p.right - p.left)),
      rowsPerUnit(kWindowSize / (p.bottom - p.top))
{
}

PixelSquare startPoint(const PixelMapping& mapping)
{
    // Far outside the window (or not a number, for a degenerate frame) it is just outside.
    const double column = std::clamp(mapping.column(0.0), -10.0, kWindowSize + 10.0);
    const double rowUp = std::clamp(kWindowSize - mapping.row(0.0), -10.0, kWindowSize + 10.0);
    if (std::isnan(column) || std::isnan(rowUp)) return {-10, -10};
    const int firstRowUp = static_cast<int>(std::ceil(rowUp - 2.5));
    return {static_cast<int>(std::ceil(column - 2.5)), kWindowSize - 1 - (firstRowUp + 3)};
}

turtle::Projection measuredProjection(const LSystem& lsystem)
{
    turtle::BoundsSink measured;
    TurtleState end;
    std::deque<TurtleState> stack;
    turtle::walkWord(lsystem.word, lsystem.d, lsystem.delta, lsystem.stackCeiling, end, stack, measured);
    return turtle::frame(measured.bounds);
}

GreyPicture rasterise(const LSystem& lsystem, const turtle::Projection& projection)
{
    const PixelMapping mapping(projection);
    CoverageGrid grid(mapping);
    TurtleState end;
    std::deque<TurtleState> stack;
    turtle::walkWord(lsystem.word, lsystem.d, lsystem.delta, lsystem.stackCeiling, end, stack, grid);

    GreyPicture picture;
    picture.levels.assign(static_cast<std::size_t>(kWindowSize) * kWindowSize, 255.0f);

    const PixelSquare point = startPoint(mapping);
    for (int row = std::max(point.row, 0); row < std::min(point.row + 4, kWindowSize); ++row)
        for (int column = std::max(point.column, 0); column < std::min(point.column + 4, kWindowSize); ++column)
            picture.levels[static_cast<std::size_t>(row) * kWindowSize + column] = kRedGrey;

    // Black over the background by the covered share of each pixel.
    constexpr float kSamples = kSamplesPerSide * kSamplesPerSide;
    for (int row = 0; row < kWindowSize; ++row)
        for (int column = 0; column < kWindowSize; ++column) {
            float& level = picture.levels[static_cast<std::size_t>(row) * kWindowSize + column];
            level *= 1.0f - static_cast<float>(grid.covered(column, row)) / kSamples;
        }
    return picture;
}

double ink(const GreyPicture& picture)
{
    double sum = 0.0;
    for (const float level : picture.levels) sum += (255.0 - level) / 255.0;
    return sum;
}

double meanAbsoluteDifference(const GreyPicture& a, const GreyPicture& b)
{
    double sum = 0.0;
    for (std::size_t i = 0; i < a.levels.size(); ++i) sum += std::abs(double(a.levels[i]) - b.levels[i]);
    return sum / static_cast<double>(a.levels.size());
}

}  // namespace reference
