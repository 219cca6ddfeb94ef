// LSystem::render: one turtle pass over the word. A measuring pass frames the picture
// and sets the projection. A drawing pass clears the buffer, draws the red start point
// and the word's lines, reduced to what the window's pixels can show, in fixed-size
// vertex-array chunks; it reads the finished image back once, and a redraw of the same
// picture draws that image instead of walking the word again.
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "lsystem/console.h"
#include "lsystem/lsystem.h"
#include "turtle/drawing_state.h"
#include "turtle/frame.h"
#include "turtle/gl.h"
#include "turtle/reduce.h"
#include "turtle/replay.h"
#include "turtle/walk.h"

namespace {

// Segments per glDrawArrays call. The chunk is small on purpose: in Mesa's software
// pipeline the cost per line grows with the size of a draw (it revisits all of a draw's
// vertices whenever its own buffer fills), and at 256 lines the cost per call is
// already lost in the cost of the lines.
constexpr std::size_t kChunkSegments = 256;

// The walk's segments gather here and go to OpenGL a chunk at a time, as black GL_LINES
// whose vertices carry the segment's ink as alpha, so that a pass needs the same small
// buffer whatever the length of the word.
class SegmentBatch {
public:
    SegmentBatch()
    {
        glEnableClientState(GL_VERTEX_ARRAY);
        glEnableClientState(GL_COLOR_ARRAY);
        glVertexPointer(2, GL_FLOAT, 0, vertices_.data());
        glColorPointer(4, GL_UNSIGNED_BYTE, 0, colours_.data());
    }
    ~SegmentBatch()
    {
        glDisableClientState(GL_COLOR_ARRAY);
        glDisableClientState(GL_VERTEX_ARRAY);
    }
    SegmentBatch(const SegmentBatch&) = delete;
    SegmentBatch& operator=(const SegmentBatch&) = delete;

    void segment(float x0, float y0, float x1, float y1, float ink)
    {
        float* v = vertices_.data() + used_ * 4;
        v[0] = x0;
        v[1] = y0;
        v[2] = x1;
        v[3] = y1;
        const auto alpha = static_cast<std::uint8_t>(std::lround(ink * 255.0f));
        std::uint8_t* c = colours_.data() + used_ * 8;
        c[0] = c[1] = c[2] = c[4] = c[5] = c[6] = 0;
        c[3] = c[7] = alpha == 0 ? 1 : alpha;  // what was drawn never vanishes
        ++sent_;
        if (++used_ == kChunkSegments) flush();
    }

    // A line drawn as it is, for the passes that reduce nothing.
    void line(float x0, float y0, float x1, float y1) { segment(x0, y0, x1, y1, 1.0f); }

    // Draws the segments gathered so far.
    void flush()
    {
        if (used_ == 0) return;
        glDrawArrays(GL_LINES, 0, static_cast<GLsizei>(used_ * 2));
        used_ = 0;
    }

    std::size_t sent() const { return sent_; }

private:
    std::array<float, kChunkSegments * 4> vertices_;        // two (x, y) vertices a segment
    std::array<std::uint8_t, kChunkSegments * 8> colours_;  // two RGBA colours a segment
    std::size_t used_ = 0;                                  // segments waiting in the arrays
    std::size_t sent_ = 0;                                  // segments drawn in this pass
};

// Counts the lines of a pass on their way to the reduction.
template <class Next>
struct CountingSink {
    Next& next;
    std::uint32_t lines = 0;
    void line(float x0, float y0, float x1, float y1)
    {
        ++lines;
        next.line(x0, y0, x1, y1);
    }
};

// Pixels per drawing unit under `projection` (a column-major matrix without rotation)
// in the window's viewport, which spans 2 units of normalised coordinates.
turtle::PixelScale pixelScale(const std::array<double, 16>& projection)
{
    const double half = turtle::Replay::kSize / 2.0;
    return {projection[0] * half, projection[5] * half};
}

// Reads the back buffer as the drawing pass left it into `image`: RGBA rows from the bottom.
void readImage(std::vector<std::uint8_t>& image)
{
    const int size = turtle::Replay::kSize;
    image.resize(static_cast<std::size_t>(size) * size * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, size, size, GL_RGBA, GL_UNSIGNED_BYTE, image.data());
}

// Puts a kept image back into the back buffer pixel for pixel: from the bottom-left
// corner, not blended.
void drawImage(const std::vector<std::uint8_t>& image)
{
    const int size = turtle::Replay::kSize;
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glRasterPos2f(-1.0f, -1.0f);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glDisable(GL_BLEND);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glDrawPixels(size, size, GL_RGBA, GL_UNSIGNED_BYTE, image.data());
    glEnable(GL_BLEND);
}

void drawStartPoint()
{
    glClear(GL_COLOR_BUFFER_BIT);
    glLoadIdentity();  // the model-view matrix: set-up and measuring passes leave it selected
    glColor3f(1.0f, 0.0f, 0.0f);
    glBegin(GL_POINTS);
    glVertex2f(0.0f, 0.0f);
    glEnd();
    glColor3f(0.0f, 0.0f, 0.0f);
}

}  // namespace

void setProjection(const turtle::Projection& p)
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(p.left, p.right, p.bottom, p.top, p.zNear, p.zFar);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

void setupDrawingState()
{
    glViewport(0, 0, turtle::Replay::kSize, turtle::Replay::kSize);
    // Until the first measuring pass frames a picture: (-500, -500) at the top-left
    // corner and (500, 500) at the bottom-right, y growing downwards.
    setProjection(turtle::Projection{-500.0, 500.0, 500.0, -500.0, -1.0, 1.0});
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glLineWidth(1.0f);
    glEnable(GL_LINE_SMOOTH);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    glPointSize(4.0f);
}

bool LSystem::render(bool draw, bool report, const KeepGoing& keepGoing)
{
    if (!replay) replay = std::make_shared<turtle::Replay>();
    turtle::PassKey key{word.data(), word.size(), d, delta, stackCeiling, {}};

    TurtleState last{};  // the turtle's state where the pass ended
    std::uint32_t lines = 0;
    turtle::WalkEnd end;
    turtle::BoundsSink measured;
    if (draw) {
        glGetDoublev(GL_PROJECTION_MATRIX, key.projection.data());
        if (replay->keeps(key)) {
            // The same picture again: its image is drawn again, and the turtle's state
            // and stack are what the pass that drew it left.
            drawImage(replay->image());
            end = replay->end();
            lines = replay->lines();
            last = TurtleState{x, y, heading};
        } else {
            replay->forget();
            drawStartPoint();
            SegmentBatch batch;
            const turtle::PixelScale scale = pixelScale(key.projection);
            if (replay->frames(key) && scale.usable()) {
                const double sx = std::fabs(scale.x);
                const double lineLength =
                    std::fabs(sx - std::fabs(scale.y)) <= sx * 1e-6 ? sx * d : 0.0;
                turtle::LineReducer<SegmentBatch> reducer(scale, lineLength, batch);
                CountingSink<turtle::LineReducer<SegmentBatch>> counter{reducer};
                end = turtle::walkWord(word, d, delta, stackCeiling, last, stack, counter, keepGoing);
                reducer.finish();  // a pass ended by a stack error keeps what it drew
                lines = counter.lines;
            } else {
                // No scale to reduce at: the lines go as they are.
                CountingSink<SegmentBatch> counter{batch};
                end = turtle::walkWord(word, d, delta, stackCeiling, last, stack, counter, keepGoing);
                lines = counter.lines;
            }
            batch.flush();
            replay->sent = batch.sent();
            if (end != turtle::WalkEnd::Abandoned) {
                readImage(replay->imageToFill());
                replay->keep(key, end, lines);
            }
        }
    } else {
        end = turtle::walkWord(word, d, delta, stackCeiling, last, stack, measured, keepGoing);
        replay->framed(key, end == turtle::WalkEnd::Finished);
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
    if (!draw) setProjection(turtle::frame(measured.bounds));
    return true;
}
