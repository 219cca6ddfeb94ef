// LSystem::render: one turtle pass over the word. A measuring pass frames the picture
// and sets the projection. A drawing pass clears the buffer, draws the red start point,
// and draws the word's lines by what the window's pixels can show: lines below a pixel
// mark a coverage grid of the window, drawn as one image; longer lines are reduced and
// go to OpenGL as lines, in fixed-size chunks, up to a share bounded by the window. It
// reads the finished image back once, and a redraw of the same picture draws that image
// instead of walking the word again.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "console/console.h"
#include "lsystem/lsystem.h"
#include "turtle/canvas.h"
#include "turtle/coverage.h"
#include "turtle/frame.h"
#include "turtle/piece_walk.h"
#include "turtle/reduce.h"
#include "turtle/replay.h"
#include "turtle/walk.h"

namespace {

// Segments per glDrawArrays call. The chunk is small on purpose: in Mesa's software
// pipeline the cost per line grows with the size of a draw (it revisits all of a draw's
// vertices whenever its own buffer fills), and at 256 lines the cost per call is
// already lost in the cost of the lines.
constexpr std::size_t kChunkSegments = 256;

// The most one pass hands to OpenGL as lines: as many segments as the window has pixels,
// and segments four times the window's area long in all (Mesa's software rasteriser fills
// some millions of pixels of smoothed line a second). Past either, a pass's segments mark
// the coverage grid instead, so that what reaches OpenGL is bounded by the window
// whatever the word.
constexpr std::size_t kMostLineSegments = std::size_t{turtle::kWindowSize} * turtle::kWindowSize;
constexpr double kMostLinePixels = 4.0 * turtle::kWindowSize * turtle::kWindowSize;

// Pixels of long lines the coverage grid marks between two questions to keepGoing: some
// milliseconds of work.
constexpr double kGridPixelsPerQuestion = 250'000.0;

// The walk's segments gather here and go to OpenGL a chunk at a time, as black lines
// whose vertices carry the segment's ink as alpha, so that a pass needs the same small
// buffer whatever the length of the word. Vertices are sent relative to the frame's
// origin, worked out in double, so that OpenGL's float transform sees small numbers
// wherever the picture lies.
class SegmentBatch {
public:
    SegmentBatch(double originX, double originY) : originX_(originX), originY_(originY) {}
    SegmentBatch(const SegmentBatch&) = delete;
    SegmentBatch& operator=(const SegmentBatch&) = delete;

    void segment(float x0, float y0, float x1, float y1, float ink)
    {
        float* v = vertices_.data() + used_ * 4;
        v[0] = static_cast<float>(x0 - originX_);
        v[1] = static_cast<float>(y0 - originY_);
        v[2] = static_cast<float>(x1 - originX_);
        v[3] = static_cast<float>(y1 - originY_);
        const auto alpha = static_cast<std::uint8_t>(std::lround(ink * 255.0f));
        std::uint8_t* c = colours_.data() + used_ * 8;
        c[0] = c[1] = c[2] = c[4] = c[5] = c[6] = 0;
        c[3] = c[7] = alpha == 0 ? 1 : alpha;  // what was drawn never vanishes
        ++sent_;
        if (++used_ == kChunkSegments) flush();
    }

    // Draws the segments gathered so far.
    void flush()
    {
        turtle::canvas::drawLines(vertices_.data(), colours_.data(), used_);
        used_ = 0;
    }

    std::size_t sent() const { return sent_; }

private:
    double originX_;
    double originY_;
    std::array<float, kChunkSegments * 4> vertices_;        // two (x, y) vertices a segment
    std::array<std::uint8_t, kChunkSegments * 8> colours_;  // two RGBA colours a segment
    std::size_t used_ = 0;                                  // segments waiting in the arrays
    std::size_t sent_ = 0;                                  // segments drawn in this pass
};

// Where segments of a pixel or more go: to OpenGL as lines while the pass's share lasts,
// into the coverage grid after that, unless the grid took the same line lately.
// A long line costs the grid in proportion to its length, so that a walk of long lines
// past the share asks keepGoing by the grid's work, not only by letters.
struct SegmentRoute {
    SegmentBatch& batch;
    turtle::CoverageGrid& grid;
    const KeepGoing& keepGoing;
    double pixelsLeft = kMostLinePixels;
    double gridWork = 0.0;  // pixels of line marked in the grid since the last question
    bool stopped = false;   // keepGoing said false: the walk ends at its next question

    void segment(float x0, float y0, float x1, float y1, float ink)
    {
        if (stopped) return;
        if (batch.sent() < kMostLineSegments && pixelsLeft > 0.0) {
            pixelsLeft -= grid.pixelLength(x0, y0, x1, y1);
            batch.segment(x0, y0, x1, y1, ink);
            return;
        }
        if (!grid.seenLately(x0, y0, x1, y1)) {
            grid.line(x0, y0, x1, y1);
            // The grid visits at most a window's width of a line, however long it is.
            gridWork += std::min(grid.pixelLength(x0, y0, x1, y1), 2.0 * turtle::kWindowSize);
        }
        gridWork += 1.0;  // a line left out costs a look-up
        if (gridWork >= kGridPixelsPerQuestion) {
            gridWork = 0.0;
            stopped = keepGoing && !keepGoing();
        }
    }
    // A line drawn as it is, for the passes that reduce nothing.
    void line(float x0, float y0, float x1, float y1) { segment(x0, y0, x1, y1, 1.0f); }
};

// Lines below a pixel go to the coverage grid, the others on to `next`.
template <class Next>
struct LengthSplit {
    turtle::CoverageGrid& grid;
    Next& next;
    void line(float x0, float y0, float x1, float y1)
    {
        if (grid.belowAPixel(x0, y0, x1, y1))
            grid.line(x0, y0, x1, y1);
        else
            next.line(x0, y0, x1, y1);
    }
};

// Pixels per drawing unit under `projection` (a column-major matrix without rotation)
// in the window's viewport, which spans 2 units of normalised coordinates.
turtle::PixelScale pixelScale(const std::array<double, 16>& projection)
{
    const double half = turtle::kWindowSize / 2.0;
    return {projection[0] * half, projection[5] * half};
}

// Where a frame puts the drawing space's points in the window.
turtle::PixelMapping mappingOf(const turtle::Projection& p)
{
    return {p.left, p.top, turtle::kWindowSize / (p.right - p.left), turtle::kWindowSize / (p.bottom - p.top)};
}

// The same for the matrix in force (without rotation), where no frame of ours set it:
// normalised x = m[0] x + m[12] runs from -1 at the left edge, y = m[5] y + m[13] from
// 1 at the top edge.
turtle::PixelMapping mappingOf(const std::array<double, 16>& m)
{
    const double half = turtle::kWindowSize / 2.0;
    return {(-1.0 - m[12]) / m[0], (1.0 - m[13]) / m[5], m[0] * half, -m[5] * half};
}

// The point of the drawing space that a frame's vertices are sent relative to. Near the
// origin, within four of its sides, the float transform is exact enough and the origin
// itself is kept, so those pictures are drawn as they always were. Further out, the
// frame's centre: the transform then sees the picture as if it lay at the origin.
void originOf(const turtle::Projection& p, double& originX, double& originY)
{
    const double side = std::max(std::fabs(p.right - p.left), std::fabs(p.bottom - p.top));
    const double centreX = (p.left + p.right) / 2.0;
    const double centreY = (p.top + p.bottom) / 2.0;
    const bool near = std::fabs(centreX) <= 4.0 * side && std::fabs(centreY) <= 4.0 * side;
    originX = near || !std::isfinite(centreX) ? 0.0 : centreX;
    originY = near || !std::isfinite(centreY) ? 0.0 : centreY;
}

}  // namespace

bool LSystem::render(bool draw, bool report, const KeepGoing& keepGoing)
{
    if (!replay) replay = std::make_shared<turtle::Replay>();
    turtle::PassKey key{word.data(), word.size(), d, delta, stackCeiling, {}};

    TurtleState last{};  // the turtle's state where the pass ended
    std::uint32_t lines = 0;
    turtle::WalkEnd end;
    turtle::BoundsSink measured;
    if (draw) {
        key.projection = turtle::canvas::projectionMatrix();
        if (replay->keeps(key)) {
            // The same picture again: its image is drawn again, and the turtle's state
            // and stack are what the pass that drew it left.
            turtle::canvas::drawPicture(replay->image());
            end = replay->end();
            lines = replay->lines();
            last = TurtleState{x, y, heading};
        } else {
            replay->forget();
            const turtle::Framing* framing = replay->framing(key);
            const double originX = framing ? framing->originX : 0.0;
            const double originY = framing ? framing->originY : 0.0;
            turtle::canvas::startPicture(static_cast<float>(-originX), static_cast<float>(-originY));
            SegmentBatch batch(originX, originY);
            const turtle::PixelMapping mapping = framing ? mappingOf(framing->frame) : mappingOf(key.projection);
            turtle::CoverageGrid grid(mapping);
            SegmentRoute route{batch, grid, keepGoing};
            const turtle::PixelScale scale = pixelScale(key.projection);
            if (replay->frames(key) && scale.usable()) {
                const double sx = std::fabs(scale.x);
                const bool square = std::fabs(sx - std::fabs(scale.y)) <= sx * 1e-6;
                const double lineLength = square ? sx * d : 0.0;
                if (lineLength > 0.0 && lineLength < 1.0) {
                    // Every line is below a pixel: all go to the coverage grid.
                    end = turtle::walkIntoGrid(word, d, delta, stackCeiling, replay->checkpoints(key), mapping,
                                               grid, last, stack, lines, keepGoing);
                } else {
                    turtle::LineReducer<SegmentRoute> reducer(scale, lineLength, route);
                    if (square) {
                        turtle::LineCounter<turtle::LineReducer<SegmentRoute>> counter{reducer};
                        end = turtle::walkWord(word, d, delta, stackCeiling, last, stack, counter, keepGoing);
                        lines = counter.lines;
                    } else {
                        LengthSplit<turtle::LineReducer<SegmentRoute>> split{grid, reducer};
                        turtle::LineCounter<LengthSplit<turtle::LineReducer<SegmentRoute>>> counter{split};
                        end = turtle::walkWord(word, d, delta, stackCeiling, last, stack, counter, keepGoing);
                        lines = counter.lines;
                    }
                    reducer.finish();  // a pass ended by a stack error keeps what it drew
                }
            } else {
                // No frame of this word to reduce in: the lines go as they are, but
                // for those below a pixel.
                LengthSplit<SegmentRoute> split{grid, route};
                turtle::LineCounter<LengthSplit<SegmentRoute>> counter{split};
                end = turtle::walkWord(word, d, delta, stackCeiling, last, stack, counter, keepGoing);
                lines = counter.lines;
            }
            batch.flush();
            replay->sent = batch.sent();
            replay->coveragePixels = 0;
            if (end != turtle::WalkEnd::Abandoned) {
                if (grid.used()) {
                    grid.alpha(replay->coverageToFill());
                    turtle::canvas::drawCoverage(replay->coverage());
                    replay->coveragePixels = replay->coverage().size();
                }
                turtle::canvas::readPicture(replay->imageToFill());
                replay->keep(key, end, lines);
            }
        }
    } else {
        turtle::CheckpointLog log{turtle::checkpointSpacing(word.size()), turtle::kDeepestCopiedStack, {}};
        end = turtle::walkWord(word, d, delta, stackCeiling, last, stack, measured, keepGoing, &log);
        if (end == turtle::WalkEnd::Finished) {
            turtle::Framing framing;
            framing.frame = turtle::frame(measured.bounds);
            originOf(framing.frame, framing.originX, framing.originY);
            turtle::canvas::loadProjection(framing.frame, framing.originX, framing.originY);
            framing.matrix = turtle::canvas::projectionMatrix();
            replay->framed(key, true, framing, std::move(log.points));
        } else {
            replay->framed(key, false);
        }
    }
    x = last.x;
    y = last.y;
    heading = last.heading;

    if (end == turtle::WalkEnd::Abandoned) return false;
    // A stack error ends the pass without a report, and a measuring pass so ended
    // leaves the projection as it was. Neither message ends its line: a word that
    // fails prints it again at every redraw, and the repetitions run along one line.
    if (end == turtle::WalkEnd::FullStack) {
        // Its memory is needed more elsewhere. clear frees all but one block, and it
        // allocates nothing, unlike swapping with a new deque.
        stack.clear();
        stack.shrink_to_fit();
    }
    if (end != turtle::WalkEnd::Finished) {
        consoleRepeat(end == turtle::WalkEnd::EmptyStack ? "Stack error !" : "Stack overflow !");
        consoleFlush();
        return true;
    }
    if (report) {
        consolePrintf("Rendering done: %u lines were drawn\n", lines);
        consolePrintf("--------------------------------\n");
        consoleFlush();
    }
    return true;
}
