// LSystem::render: one turtle pass over the word. A measuring pass frames the picture
// and sets the projection; a drawing pass clears the buffer and draws the red start
// point and one black line per F, submitted in fixed-size vertex-array chunks.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "lsystem/console.h"
#include "lsystem/gl.h"
#include "lsystem/lsystem.h"
#include "turtle/frame.h"
#include "turtle/walk.h"

namespace {

// The walk's sink for a drawing pass. Lines gather in a client-side vertex array of a
// fixed size and go to OpenGL one glDrawArrays call per full chunk, so a pass needs the
// same small buffer whatever the length of the word. The pixels are those of one
// GL_LINES primitive per line: GL_LINES draws each pair of vertices as its own segment.
// The chunk is small on purpose: in Mesa's software pipeline the cost per line grows
// with the size of a draw (it revisits all of a draw's vertices whenever its own buffer
// fills), and at 256 lines the cost per call is already lost in the cost of the lines.
class LineBatch {
public:
    LineBatch() : vertices_(kChunkLines * 4)
    {
        glEnableClientState(GL_VERTEX_ARRAY);
        glVertexPointer(2, GL_FLOAT, 0, vertices_.data());
    }
    ~LineBatch() { glDisableClientState(GL_VERTEX_ARRAY); }
    LineBatch(const LineBatch&) = delete;
    LineBatch& operator=(const LineBatch&) = delete;

    void line(float x0, float y0, float x1, float y1)
    {
        float* v = vertices_.data() + used_ * 4;
        v[0] = x0;
        v[1] = y0;
        v[2] = x1;
        v[3] = y1;
        ++count_;
        if (++used_ == kChunkLines) flush();
    }

    // Draws the lines gathered so far.
    void flush()
    {
        if (used_ == 0) return;
        glDrawArrays(GL_LINES, 0, static_cast<GLsizei>(used_ * 2));
        used_ = 0;
    }

    std::uint32_t count() const { return count_; }

private:
    static constexpr std::size_t kChunkLines = 256;
    std::vector<float> vertices_;  // kChunkLines lines of two (x, y) vertices; never resized
    std::size_t used_ = 0;         // lines waiting in vertices_
    std::uint32_t count_ = 0;      // lines drawn in this pass
};

void setProjection(const turtle::Projection& p)
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(p.left, p.right, p.bottom, p.top, p.zNear, p.zFar);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

}  // namespace

void LSystem::render(bool draw, bool report)
{
    TurtleState last{};  // the turtle's state where the pass ended
    std::uint32_t lines = 0;
    turtle::WalkEnd end;
    turtle::BoundsSink measured;
    if (draw) {
        glClear(GL_COLOR_BUFFER_BIT);
        glLoadIdentity();  // the model-view matrix: set-up and measuring passes leave it selected
        glColor3f(1.0f, 0.0f, 0.0f);
        glBegin(GL_POINTS);
        glVertex2f(0.0f, 0.0f);
        glEnd();
        glColor3f(0.0f, 0.0f, 0.0f);

        LineBatch batch;
        end = turtle::walkWord(word, d, delta, stackCeiling, last, stack, batch);
        batch.flush();  // a pass ended by a stack error keeps what it drew
        lines = batch.count();
    } else {
        end = turtle::walkWord(word, d, delta, stackCeiling, last, stack, measured);
    }
    x = last.x;
    y = last.y;
    heading = last.heading;

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
        return;
    }
    if (report) {
        consolePrintf("Rendering done: %u lines were drawn\n", lines);
        consolePrintf("--------------------------------\n");
        consoleFlush();
    }
    if (!draw) setProjection(turtle::frame(measured.bounds));
}
