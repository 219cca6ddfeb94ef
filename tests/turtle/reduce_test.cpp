// Tests of the reduction of a pass's lines to window pixels, without a window: what
// merges, what stays exactly as it was drawn, and the ink each segment keeps.
#include <gtest/gtest.h>

#include <cmath>
#include <deque>
#include <limits>
#include <string>
#include <vector>

#include "turtle/reduce.h"
#include "turtle/walk.h"

namespace {

struct Segment {
    float x0, y0, x1, y1, ink;
};

struct Collect {
    std::vector<Segment> segments;
    void segment(float x0, float y0, float x1, float y1, float ink) { segments.push_back({x0, y0, x1, y1, ink}); }
};

struct Lines {
    std::vector<Segment> lines;
    void line(float x0, float y0, float x1, float y1) { lines.push_back({x0, y0, x1, y1, 1.0f}); }
};

std::string repeat(const std::string& piece, int times)
{
    std::string word;
    for (int i = 0; i < times; ++i) word += piece;
    return word;
}

// The word of F -> `successor` after n rewritings of F.
std::string rewriteF(const std::string& successor, int n)
{
    std::string word = "F";
    for (int i = 0; i < n; ++i) {
        std::string next;
        for (char c : word) next += c == 'F' ? successor : std::string(1, c);
        word.swap(next);
    }
    return word;
}

// The lines of a walk over `word`, reduced at `scale` pixels per unit on both axes.
struct Reduced {
    std::vector<Segment> lines;
    std::vector<Segment> segments;
};
Reduced reduce(const std::string& word, std::uint32_t d, float delta, double scale)
{
    Lines walked;
    TurtleState end;
    std::deque<TurtleState> stack;
    turtle::walkWord(word, d, delta, 1u << 20, end, stack, walked);
    Collect collect;
    turtle::LineReducer<Collect> reducer({scale, -scale}, scale * d, collect);
    for (const Segment& l : walked.lines) reducer.line(l.x0, l.y0, l.x1, l.y1);
    reducer.finish();
    return {walked.lines, collect.segments};
}

double inkLength(const std::vector<Segment>& segments, double scale)
{
    double ink = 0.0;
    for (const Segment& s : segments) ink += std::hypot(s.x1 - s.x0, s.y1 - s.y0) * scale * s.ink;
    return ink;
}

TEST(Reduce, LinesOfAPixelOrMoreThatTurnComeOutAsTheyWentIn)
{
    // A staircase of 2-pixel lines, and a branching plant of 3-pixel lines: every line
    // turns or starts after a jump of pixels, so nothing merges.
    for (const auto& [word, delta] : {std::pair{repeat("F+F-", 20), 90.0f},
                                      std::pair{rewriteF("F[+F]F[-F]F", 3), 25.7f}}) {
        const Reduced r = reduce(word, 2, delta, 1.5);
        ASSERT_EQ(r.segments.size(), r.lines.size()) << word;
        for (std::size_t i = 0; i < r.lines.size(); ++i) {
            const Segment& s = r.segments[i];
            const Segment& l = r.lines[i];
            EXPECT_TRUE(s.x0 == l.x0 && s.y0 == l.y0 && s.x1 == l.x1 && s.y1 == l.y1 && s.ink == 1.0f)
                << word << ", line " << i;
        }
    }
}

struct MergeCase {
    const char* name;
    std::string word;
    std::uint32_t d;
    float delta;
    double scale;             // pixels per unit
    std::size_t segments;     // expected after reduction
    double inkShare;          // expected ink (length times alpha) over the lines' drawn length
};

class ReduceMerge : public testing::TestWithParam<MergeCase> {};

TEST_P(ReduceMerge, MergesWhatThePixelsCantTellApartAndKeepsTheInk)
{
    const MergeCase& c = GetParam();
    const Reduced r = reduce(c.word, c.d, c.delta, c.scale);
    EXPECT_EQ(r.segments.size(), c.segments);
    EXPECT_LE(r.segments.size(), r.lines.size());
    const double drawn = static_cast<double>(r.lines.size()) * c.d * c.scale;
    EXPECT_NEAR(inkLength(r.segments, c.scale) / drawn, c.inkShare, 0.01);
}

const MergeCase kMergeCases[] = {
    // Collinear chains become one segment from the first point to the last, full ink.
    {"ChainOfLongLines", std::string(40, 'F'), 5, 90.0f, 2.0, 1, 1.0},
    {"ChainOfTinyLines", rewriteF("FF", 18), 1, 90.0f, 1.0 / 500.0, 1, 1.0},
    // Sub-pixel dashes (F and f alternating) are one segment twice as long as the ink
    // they draw, so it is drawn at half strength.
    {"SubPixelDashes", repeat("Ff", 5000), 1, 90.0f, 0.05, 1, 1.0},
    // Pixel-long dashes are drawn as they are: the gaps are longer than a bridge.
    {"PixelDashes", repeat("Ff", 50), 1, 90.0f, 2.0, 50, 1.0},
    // A zigzag of turns of 5 degrees strays 0.087 px from a 1-px line's direction:
    // merged. Turns of 10 degrees stray 0.17 px: not merged.
    {"SlightZigzagMerges", repeat("F+F-F-F+", 3), 1, 5.0f, 1.0, 1, 1.0},
    {"ZigzagOfTenDegreesStays", repeat("F+F-F-F+", 3), 1, 10.0f, 1.0, 12, 1.0},
    // Going back over a line (turning round) stays within it: one segment, whose ink
    // counts the overlap once.
    {"BackOverItself", "FFFFFFFF|FFFF", 1, 90.0f, 0.05, 1, 8.0 / 12.0},
    {"LongBackOverItself", "FFFFFFFF|FFFF", 1, 90.0f, 4.0, 1, 8.0 / 12.0},
    // A handful of lines in one stroke goes as it is, even where it would merge: the
    // wiggles of a dense curve keep their ink.
    {"HandfulInOneStroke", "F+F-F-F+F", 1, 90.0f, 0.05, 5, 1.0},
    {"HandfulAfterAJumpMerges", "FfF+F-F", 1, 90.0f, 0.05, 1, 1.0},
};

INSTANTIATE_TEST_SUITE_P(Lines, ReduceMerge, testing::ValuesIn(kMergeCases),
                         [](const testing::TestParamInfo<MergeCase>& info) { return std::string(info.param.name); });

TEST(Reduce, BranchingPlantCollapsesWhereItsBranchesAreSubPixel)
{
    // The bush at n=7: 78,125 lines in 2,187 units of height, shown 545 pixels tall.
    const Reduced r = reduce(rewriteF("F[+F]F[-F]F", 7), 1, 22.5f, 545.0 / 2187.0);
    EXPECT_EQ(r.lines.size(), 78125u);
    EXPECT_LT(r.segments.size(), 50000u);
    for (const Segment& s : r.segments) {
        EXPECT_GT(s.ink, 0.0f);
        EXPECT_LE(s.ink, 1.0f);
    }
}

TEST(Reduce, PointsThatAreNotNumbersMergeWithNothing)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    Collect collect;
    turtle::LineReducer<Collect> reducer({1.0, -1.0}, 0.0, collect);
    reducer.line(0.0f, 0.0f, 0.0f, -1.0f);
    reducer.line(0.0f, -1.0f, nan, nan);
    reducer.line(nan, nan, nan, nan);
    reducer.line(5.0f, 5.0f, 5.0f, 7.0f);
    reducer.finish();
    EXPECT_EQ(collect.segments.size(), 4u);
}

TEST(Reduce, ScaleIsUsableOnlyWhenFiniteAndNotZero)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_TRUE((turtle::PixelScale{0.003, -0.003}.usable()));
    for (const turtle::PixelScale scale : {turtle::PixelScale{0.0, 1.0}, turtle::PixelScale{1.0, 0.0},
                                           turtle::PixelScale{nan, 1.0}, turtle::PixelScale{1.0, inf}})
        EXPECT_FALSE(scale.usable()) << scale.x << " " << scale.y;
}

}  // namespace
