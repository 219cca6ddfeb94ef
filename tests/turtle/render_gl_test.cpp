// Tests of LSystem::render in a real OpenGL context (Xvfb with Mesa): the pixels of
// the back buffer after a measuring and a drawing pass, the console report, the stack
// error, and that chunked vertex arrays draw what one primitive per line draws.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "display/display.h"
#include "console/console.h"
#include "lsystem/lsystem.h"
#include "tests/turtle/glx_window.h"
#include "tests/turtle/one_line_at_a_time.h"
#include "turtle/gl.h"
#include "turtle/replay.h"
#include "turtle/walk.h"

namespace {

constexpr int kSize = kClientSize;

// The word of F -> F[+F]F[-F]F after n rewritings of F.
std::string plant(int n)
{
    std::string word = "F";
    for (int i = 0; i < n; ++i) {
        std::string next;
        for (char c : word) next += c == 'F' ? std::string("F[+F]F[-F]F") : std::string(1, c);
        word = next;
    }
    return word;
}

struct Rgb {
    std::uint8_t r, g, b;
    bool white() const { return r == 255 && g == 255 && b == 255; }
    // Black ink; a smoothed line that straddles two pixels leaves half in each.
    bool dark() const { return std::max({r, g, b}) < 160; }
    bool red() const { return r > 200 && g < 60 && b < 60; }
};

// The back buffer as read back; column 0 is at the left, row 0 at the top.
class Picture {
public:
    Picture() : pixels_(kSize * kSize)
    {
        glFinish();
        glReadBuffer(GL_BACK);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(0, 0, kSize, kSize, GL_RGB, GL_UNSIGNED_BYTE, pixels_.data());
    }
    Rgb at(int column, int row) const { return pixels_[(kSize - 1 - row) * kSize + column]; }
    bool operator==(const Picture& other) const
    {
        return std::equal(pixels_.begin(), pixels_.end(), other.pixels_.begin(),
                          [](Rgb a, Rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; });
    }

    // The smallest rectangle holding every pixel that is not white.
    struct Box {
        int left = kSize, right = -1, top = kSize, bottom = -1;
    };
    Box inked() const
    {
        Box box;
        for (int row = 0; row < kSize; ++row)
            for (int column = 0; column < kSize; ++column)
                if (!at(column, row).white()) {
                    box.left = std::min(box.left, column);
                    box.right = std::max(box.right, column);
                    box.top = std::min(box.top, row);
                    box.bottom = std::max(box.bottom, row);
                }
        return box;
    }

private:
    std::vector<Rgb> pixels_;
};

// Where the current projection puts the drawing point (x, y), in columns and rows
// from the top-left corner; read from OpenGL's matrix, not worked out again here.
struct Spot {
    double column, row;
};
Spot project(double x, double y)
{
    std::array<double, 16> m;
    glGetDoublev(GL_PROJECTION_MATRIX, m.data());
    const double ndcX = m[0] * x + m[4] * y + m[12];
    const double ndcY = m[1] * x + m[5] * y + m[13];
    return {(ndcX + 1.0) / 2.0 * kSize, kSize - (ndcY + 1.0) / 2.0 * kSize};
}

class RenderGl : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(window.ok()) << window.error(); }

    // A measuring pass, then a drawing pass with report; returns what they printed.
    std::string frameAndDraw(const std::string& word, std::uint32_t d, float delta)
    {
        lsystem.word = word;
        lsystem.d = d;
        lsystem.delta = delta;
        testing::internal::CaptureStdout();
        lsystem.render(false, false);
        lsystem.render(true, true);
        consoleSync();  // the console module writes from its own thread
        return testing::internal::GetCapturedStdout();
    }

    GlxWindow window;  // with the drawing state set, as the program sets it
    LSystem lsystem;
};

// The red start point lies where the projection puts (0, 0), and nowhere else.
void expectStartPointAt(const Picture& picture, Spot start)
{
    int red = 0;
    int nearStart = 0;
    for (int row = 0; row < kSize; ++row)
        for (int column = 0; column < kSize; ++column)
            if (picture.at(column, row).red()) {
                ++red;
                nearStart += std::abs(column + 0.5 - start.column) <= 3 && std::abs(row + 0.5 - start.row) <= 3;
            }
    EXPECT_GT(red, 0);
    EXPECT_EQ(nearStart, red);
}

TEST_F(RenderGl, PlantIsFramedWithAMarginAndDrawnInBlack)
{
    EXPECT_EQ(frameAndDraw(plant(4), 10, 25.7f),
              "Rendering done: 625 lines were drawn\n--------------------------------\n");
    const Picture picture;

    for (auto [column, row] : {std::pair{0, 0}, {kSize - 1, 0}, {0, kSize - 1}, {kSize - 1, kSize - 1}})
        EXPECT_TRUE(picture.at(column, row).white()) << column << "," << row;

    const Spot start = project(0.0, 0.0);
    expectStartPointAt(picture, start);

    // The stem goes straight up from the start point: black pixels on its column.
    const Spot middle = project(0.0, -0.5 * 81 * 10);
    bool dark = false;
    for (int column = static_cast<int>(middle.column) - 1; column <= static_cast<int>(middle.column) + 1; ++column)
        dark = dark || picture.at(column, static_cast<int>(middle.row)).dark();
    EXPECT_TRUE(dark);

    // The plant is taller than wide: it spans 600 / 1.1 rows with equal margins above
    // and below, and is centred across. The start point reaches 2 pixels below its line.
    const Picture::Box box = picture.inked();
    const double side = kSize / 1.1;
    const double margin = (kSize - side) / 2;
    EXPECT_NEAR(box.top, margin, 2.0);
    EXPECT_NEAR(box.bottom + 1, kSize - margin, 3.0);
    EXPECT_NEAR(box.left, kSize - 1 - box.right, 3.0);
    EXPECT_LT(box.right - box.left, side);
}

TEST_F(RenderGl, LineAwayFromTheOriginSpansTheWindow)
{
    lsystem.word = "+F";
    lsystem.render(false, false);
    glTranslatef(100.0f, 100.0f, 0.0f);  // a stray model-view: the drawing pass resets it
    EXPECT_EQ(frameAndDraw("+F", 1, 90.0f),
              "Rendering done: 1 lines were drawn\n--------------------------------\n");
    const Picture picture;

    const Spot start = project(0.0, 0.0);
    EXPECT_NEAR(start.column, kSize * 0.05 / 1.1, 1.0);  // the line's left end, a margin in
    EXPECT_NEAR(start.row, kSize / 2.0, 1.0);
    expectStartPointAt(picture, start);

    const Picture::Box box = picture.inked();
    const double margin = (kSize - kSize / 1.1) / 2;
    EXPECT_NEAR(box.left, margin, 3.0);  // the start point reaches 2 pixels left of it
    EXPECT_NEAR(box.right + 1, kSize - margin, 2.0);
    EXPECT_LE(box.bottom - box.top, 4);
    bool dark = false;
    for (int row = kSize / 2 - 1; row <= kSize / 2; ++row)
        dark = dark || picture.at(kSize / 2, row).dark() || picture.at(kSize * 3 / 4, row).dark();
    EXPECT_TRUE(dark);
    EXPECT_TRUE(picture.at(kSize / 2, kSize / 4).white());
}

TEST_F(RenderGl, MeasuringPassLeavesTheModelViewMatrixSelected)
{
    lsystem.word = "F[+F]F";
    lsystem.render(false, false);
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);
    std::array<double, 16> m;
    glGetDoublev(GL_MODELVIEW_MATRIX, m.data());
    EXPECT_EQ(m, (std::array<double, 16>{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}));
}

TEST_F(RenderGl, StackErrorEndsEachPassWithoutReport)
{
    std::array<double, 16> before;
    glGetDoublev(GL_PROJECTION_MATRIX, before.data());
    EXPECT_EQ(frameAndDraw("F]F", 100, 90.0f), "Stack error !Stack error !");
    std::array<double, 16> after;
    glGetDoublev(GL_PROJECTION_MATRIX, after.data());
    EXPECT_EQ(after, before);  // the measuring pass set no projection

    // The drawing pass kept the line it drew before the error: under the display's
    // initial projection it runs up from the window's centre, 100 units, 60 pixels.
    const Picture picture;
    EXPECT_TRUE(picture.at(kSize / 2, kSize / 2 - 30).dark() || picture.at(kSize / 2 - 1, kSize / 2 - 30).dark());
    EXPECT_TRUE(picture.at(kSize / 2, kSize / 2 - 80).white());
    EXPECT_FLOAT_EQ(lsystem.y, -100.0f);  // where the pass stopped
}

TEST_F(RenderGl, StackPastItsCeilingEndsEachPassWithoutReport)
{
    lsystem.stackCeiling = 1;
    EXPECT_EQ(frameAndDraw("[F][F[F", 1, 90.0f), "Stack overflow !Stack overflow !");
    EXPECT_TRUE(lsystem.stack.empty());  // released at once: a full stack may hold most of memory
}

TEST_F(RenderGl, StackIsEmptiedBeforeEveryPass)
{
    lsystem.word = "[[F";
    for (int pass = 0; pass < 3; ++pass) lsystem.render(true, false);
    EXPECT_EQ(lsystem.stack.size(), 2u);

    // Entries left over must not be popped by the next word.
    EXPECT_EQ(frameAndDraw("]F", 1, 90.0f), "Stack error !Stack error !");
}

TEST_F(RenderGl, ChunkedLinesDrawTheSamePixelsAsOnePrimitivePerLine)
{
    // Several chunks and a partial one, with lines crossing in many places, each of
    // two pixels or more (lines below a pixel are drawn as coverage instead).
    frameAndDraw(plant(5), 10, 25.7f);
    const Picture chunked;
    EXPECT_FALSE(glIsEnabled(GL_VERTEX_ARRAY));

    std::deque<TurtleState> stack;
    ASSERT_EQ(drawOneLineAtATime(lsystem, stack), turtle::WalkEnd::Finished);
    const Picture reference;

    EXPECT_TRUE(chunked == reference);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace

namespace {

// A redraw of the same word, d, delta and projection shows the same pixels, whether it
// walks the word again or replays what the last pass drew.
TEST_F(RenderGl, RedrawShowsTheSamePicture)
{
    frameAndDraw(plant(7), 1, 22.5f);  // sub-pixel branches: the lines are reduced
    const Picture first;
    for (int redraw = 0; redraw < 3; ++redraw) {
        testing::internal::CaptureStdout();
        EXPECT_TRUE(lsystem.render(true, false));
        EXPECT_EQ((consoleSync(), testing::internal::GetCapturedStdout()), "");
        EXPECT_TRUE(Picture() == first) << "redraw " << redraw;
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// What a redraw depends on: a change of d or delta without a new measuring pass draws
// the word again, as it is, under the projection in force.
TEST_F(RenderGl, RedrawAfterAChangeDrawsAfresh)
{
    for (auto change : {+[](LSystem& l) { l.d = 2; }, +[](LSystem& l) { l.delta = 45.0f; }}) {
        frameAndDraw(plant(4), 1, 25.7f);
        lsystem.render(true, false);
        change(lsystem);
        lsystem.render(true, false);
        const Picture redrawn;
        std::deque<TurtleState> stack;
        drawOneLineAtATime(lsystem, stack);
        EXPECT_TRUE(Picture() == redrawn);
    }
}

// What one pass hands OpenGL is bounded by the window: lines below a pixel become one
// coverage image, and lines of a pixel or more go as lines up to one per pixel of the
// window and four times its area in length, the rest into the image too.
struct BoundCase {
    const char* name;
    std::string word;
    float delta;
    std::size_t fewestSegments;  // sent as lines
    std::size_t mostSegments;
    bool image;  // a coverage image drawn
};

void PrintTo(const BoundCase& c, std::ostream* os) { *os << c.name; }

std::string repeated(const std::string& piece, std::size_t times)
{
    std::string word;
    word.reserve(piece.size() * times);
    for (std::size_t i = 0; i < times; ++i) word += piece;
    return word;
}

class RenderBound : public RenderGl, public testing::WithParamInterface<BoundCase> {};

TEST_P(RenderBound, WhatReachesOpenGLIsBoundedByTheWindow)
{
    const BoundCase& c = GetParam();
    frameAndDraw(c.word, 1, c.delta);
    EXPECT_GE(lsystem.replay->sent, c.fewestSegments);
    EXPECT_LE(lsystem.replay->sent, c.mostSegments);
    EXPECT_EQ(lsystem.replay->coveragePixels, c.image ? std::size_t{kSize} * kSize : 0u);
    const Picture picture;
    const Picture::Box box = picture.inked();
    EXPECT_NEAR(box.top, (kSize - kSize / 1.1) / 2, 3.0);  // framed as ever, with its margin
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

INSTANTIATE_TEST_SUITE_P(
    Words, RenderBound,
    testing::Values(
        // A star of lines of about 500 pixels across the frame, none continuing another:
        // 1,000 of them go as lines, of 100,000 some 2,900 (1.44 million pixels).
        BoundCase{"long_lines", repeated("F+", 100'000), 137.5f, 1'000, 10'000, true},
        BoundCase{"few_long_lines", repeated("F+", 1'000), 137.5f, 1'000, 1'000, false},
        // A stem of 500 lines, then 400,000 lines of 1.1 pixels around a square at its
        // top, each turning: more of them than the window has pixels.
        BoundCase{"many_lines", std::string(500, 'F') + repeated("F+", 400'000), 90.0f, 360'000, 360'000, true},
        // 16,384 steps of 1/30 pixel along a line: all coverage.
        BoundCase{"short_lines", std::string(16'384, 'F'), 90.0f, 0, 0, true}),
    [](const testing::TestParamInfo<BoundCase>& info) { return std::string(info.param.name); });

// Long lines past the share cost the grid in proportion to their length: the pass asks
// keepGoing by that work, and stops when it says false. The lines are chords of a star
// larger than the window, under the display's own projection, so that each has an end
// off the grid and none is taken for one marked before.
TEST_F(RenderGl, LongLinesPastTheShareAskToGoOnByWork)
{
    lsystem.word = repeated("F+", 100'000);  // 200,000 letters, 3 questions by letters
    lsystem.d = 2'000;                       // chords of 1,100 pixels
    lsystem.delta = 137.5f;
    int questions = 0;
    EXPECT_TRUE(lsystem.render(true, false, [&questions] { return ++questions > 0; }));
    EXPECT_GT(questions, 100);
    questions = 0;
    lsystem.replay->forget();  // not the kept image again: the walk
    EXPECT_FALSE(lsystem.render(true, false, [&questions] { return ++questions < 3; }));
    EXPECT_LE(questions, 4);  // the walk asks once more at its next stretch of letters
}

// The same star in its own frame goes over the same chords again and again (about 7,000
// sample positions on its circle): the grid leaves out the chords it took lately, so
// that the pass asks little more often than by letters.
TEST_F(RenderGl, LongLinesGoneOverAgainAreLeftOut)
{
    lsystem.word = repeated("F+", 100'000);
    lsystem.delta = 137.5f;
    ASSERT_TRUE(lsystem.render(false, false));
    int questions = 0;
    EXPECT_TRUE(lsystem.render(true, false, [&questions] { return ++questions > 0; }));
    EXPECT_LT(questions, 20);
    EXPECT_GT(lsystem.replay->coveragePixels, 0u);  // the chords past the share are in the image
}

// A word that fails says so at every redraw, replayed or not, and keeps what it drew.
TEST_F(RenderGl, StackErrorIsPrintedAtEveryRedraw)
{
    EXPECT_EQ(frameAndDraw("F]F", 100, 90.0f), "Stack error !Stack error !");
    const Picture first;
    testing::internal::CaptureStdout();
    for (int redraw = 0; redraw < 3; ++redraw) lsystem.render(true, false);
    EXPECT_EQ((consoleSync(), testing::internal::GetCapturedStdout()), "Stack error !Stack error !Stack error !");
    EXPECT_TRUE(Picture() == first);
}

// A pass whose keepGoing says false stops, prints nothing and leaves nothing to replay.
TEST_F(RenderGl, AbandonedPassPrintsNothingAndIsNotReplayed)
{
    lsystem.word = plant(7);
    lsystem.d = 1;
    lsystem.delta = 22.5f;
    int questions = 0;
    const KeepGoing stopAtOnce = [&questions] { return ++questions > 1 ? false : true; };
    testing::internal::CaptureStdout();
    EXPECT_FALSE(lsystem.render(false, false, stopAtOnce));
    questions = 0;
    EXPECT_TRUE(lsystem.render(false, false));
    EXPECT_FALSE(lsystem.render(true, true, stopAtOnce));
    EXPECT_EQ((consoleSync(), testing::internal::GetCapturedStdout()), "");
    EXPECT_EQ(questions, 2);

    // The next pass draws the whole picture.
    EXPECT_TRUE(lsystem.render(true, false));
    const Picture whole;
    lsystem.replay->forget();
    lsystem.render(true, false);
    EXPECT_TRUE(Picture() == whole);
}

}  // namespace
