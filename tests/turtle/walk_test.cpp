// Tests of the turtle's walk and of the framing arithmetic, without a window: line
// counts, end states to the bit, bounds over both ends of every line, the projection's
// numbers, and the stack's behaviour across passes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <deque>
#include <random>
#include <ostream>
#include <string>
#include <vector>

#include "turtle/frame.h"
#include "turtle/walk.h"

namespace {

constexpr std::uint64_t kNoCeiling = UINT64_MAX;

struct Line {
    float x0, y0, x1, y1;
};

// Records every line and measures the bounds as a measuring pass does.
struct RecordingSink {
    std::vector<Line> lines;
    turtle::BoundsSink measured;
    void line(float x0, float y0, float x1, float y1)
    {
        lines.push_back({x0, y0, x1, y1});
        measured.line(x0, y0, x1, y1);
    }
};

struct WalkCase {
    const char* name;
    const char* word;
    std::uint32_t d;
    float delta;
    bool finished;        // false: the pass met "]" with an empty stack
    std::uint32_t lines;  // F lines handed to the sink
    TurtleState end;      // where the pass left the turtle
    turtle::Bounds bounds;  // when there is a line
    struct {
        double left, right, bottom, top;
    } projection;  // when the pass finished
};

// Test listings name a case rather than dump its bytes.
void PrintTo(const WalkCase& c, std::ostream* os) { *os << c.name; }

// Expected values worked out independently, step by step in double precision with a
// rounding to float at every store; positions and bounds are exact to the bit.
const WalkCase kCases[] = {
    {"Up", "F", 1, 90.0f, true, 1, {1.19248806e-08f, -1.0f, 270.0f},
     {0.0f, 1.19248806e-08f, -1.0f, 0.0f},
     {-0.55000000074505806, 0.55000000074505806, 0.05000000074505806, -1.0500000007450581}},
    {"RightAtHeading360", "+F", 1, 90.0f, true, 1, {1.0f, 1.74845553e-07f, 360.0f},
     {0.0f, 1.0f, 0.0f, 1.74845553e-07f},
     {-0.05000000074505806, 1.0500000007450581, 0.55000006034970284, -0.5499999113380909}},
    {"Left", "-F", 1, 90.0f, true, 1, {-1.0f, -8.74227766e-08f, 180.0f},
     {-1.0f, 0.0f, -8.74227766e-08f, 0.0f},
     {-1.0500000007450581, 0.05000000074505806, 0.54999997094273567, -0.55000006034970284}},
    {"ReverseTurnsDown", "|F", 1, 90.0f, true, 1, {-4.37113883e-08f, 1.0f, 90.0f},
     {-4.37113883e-08f, 0.0f, 0.0f, 1.0f},
     {-0.55000000074505806, 0.54999997094273567, 1.0500000007450581, -0.05000000074505806}},
    {"PushPopRestoresHeading", "[+F]F", 1, 90.0f, true, 2, {1.19248806e-08f, -1.0f, 270.0f},
     {0.0f, 1.0f, -1.0f, 1.74845553e-07f},
     {-0.050000067800283432, 1.0500000081956387, 0.050000183041191804, -1.0500000081956387}},
    {"Heading360IsNotWrapped", "+", 1, 90.0f, true, 0, {0.0f, 0.0f, 360.0f},
     {0.0f, 0.0f, 0.0f, 0.0f},
     {-0.55000000074505806, 0.55000000074505806, 0.55000000074505806, -0.55000000074505806}},
    {"Wraps450To90", "++F", 1, 90.0f, true, 1, {-4.37113883e-08f, 1.0f, 90.0f},
     {-4.37113883e-08f, 0.0f, 0.0f, 1.0f},
     {-0.55000000074505806, 0.54999997094273567, 1.0500000007450581, -0.05000000074505806}},
    // 270 + 450 = 720 wraps once to 360; 360 + 450 = 810 is still past 360 and goes on
    // to 90, so the line points down as with delta 90.
    {"DeltaOver360WrapsAsOftenAsNeeded", "++F", 1, 450.0f, true, 1, {-4.37113883e-08f, 1.0f, 90.0f},
     {-4.37113883e-08f, 0.0f, 0.0f, 1.0f},
     {-0.55000000074505806, 0.54999997094273567, 1.0500000007450581, -0.05000000074505806}},
    {"MinusDeltaOver360", "-F", 1, 450.0f, true, 1, {-1.0f, -8.74227766e-08f, 180.0f},
     {-1.0f, 0.0f, -8.74227766e-08f, 0.0f},
     {-1.0500000007450581, 0.05000000074505806, 0.54999997094273567, -0.55000006034970284}},
    {"ZeroStepLengthCountsLines", "FFF", 0, 90.0f, true, 3, {0.0f, 0.0f, 270.0f},
     {0.0f, 0.0f, 0.0f, 0.0f},
     {-0.55000000074505806, 0.55000000074505806, 0.55000000074505806, -0.55000000074505806}},
    {"NoF", "f+f-|Xq", 1, 90.0f, true, 0, {1.0f, -0.999999821f, 90.0f},
     {0.0f, 0.0f, 0.0f, 0.0f},
     {-0.55000000074505806, 0.55000000074505806, 0.55000000074505806, -0.55000000074505806}},
    {"EmptyWord", "", 1, 90.0f, true, 0, {0.0f, 0.0f, 270.0f},
     {0.0f, 0.0f, 0.0f, 0.0f},
     {-0.55000000074505806, 0.55000000074505806, 0.55000000074505806, -0.55000000074505806}},
    {"TrailingMovesDoNotFrame", "Ffffff", 2, 90.0f, true, 1, {1.43098575e-07f, -12.0f, 270.0f},
     {0.0f, 2.38497613e-08f, -2.0f, 0.0f},
     {-1.1000000014901161, 1.1000000014901161, 0.10000000149011612, -2.1000000014901161}},
    {"OtherBytesSkipped", "aFxGz", 1, 90.0f, true, 1, {1.19248806e-08f, -1.0f, 270.0f},
     {0.0f, 1.19248806e-08f, -1.0f, 0.0f},
     {-0.55000000074505806, 0.55000000074505806, 0.05000000074505806, -1.0500000007450581}},
    {"UnmatchedCloseEndsPass", "F]F", 1, 90.0f, false, 1, {1.19248806e-08f, -1.0f, 270.0f},
     {0.0f, 1.19248806e-08f, -1.0f, 0.0f},
     {0, 0, 0, 0}},
    {"Plant", "F[+F]F[-F]F", 10, 25.7f, true, 5, {3.57746416e-07f, -30.0f, 270.0f},
     {-4.33658743f, 4.3365922f, -30.0f, 0.0f},
     {-16.499998092651367, 16.500001907348633, 1.5, -31.5}},
    {"MoveBeforeLine", "fF", 3, 90.0f, true, 1, {7.15492803e-08f, -6.0f, 270.0f},
     {3.57746401e-08f, 7.15492803e-08f, -6.0f, -3.0f},
     {-1.6500000059604645, 1.6500000059604645, -2.8499999940395355, -6.1500000059604645}},
    {"NegativeDelta", "F[+F]F[-F]F", 7, -30.0f, true, 5, {2.50422488e-07f, -21.0f, 270.0f},
     {-3.49999928f, 3.49999952f, -21.0f, 0.0f},
     {-11.550000071525574, 11.550000071525574, 1.0500000715255737, -22.050000071525574}},
};

class WalkTable : public testing::TestWithParam<WalkCase> {};

TEST_P(WalkTable, LinesEndStateBoundsAndProjection)
{
    const WalkCase& c = GetParam();
    TurtleState end{-7.0f, -7.0f, -7.0f};
    std::deque<TurtleState> stack;
    RecordingSink sink;
    EXPECT_EQ(turtle::walkWord(c.word, c.d, c.delta, kNoCeiling, end, stack, sink) == turtle::WalkEnd::Finished,
              c.finished);
    EXPECT_EQ(sink.lines.size(), c.lines);
    EXPECT_EQ(end.x, c.end.x);
    EXPECT_EQ(end.y, c.end.y);
    EXPECT_EQ(end.heading, c.end.heading);

    const turtle::Bounds& b = sink.measured.bounds;
    if (c.lines == 0) {
        EXPECT_TRUE(b.empty());
    } else {
        EXPECT_EQ(b.minX, c.bounds.minX);
        EXPECT_EQ(b.maxX, c.bounds.maxX);
        EXPECT_EQ(b.minY, c.bounds.minY);
        EXPECT_EQ(b.maxY, c.bounds.maxY);
    }
    if (c.finished) {
        const turtle::Projection p = turtle::frame(b);
        EXPECT_DOUBLE_EQ(p.left, c.projection.left);
        EXPECT_DOUBLE_EQ(p.right, c.projection.right);
        EXPECT_DOUBLE_EQ(p.bottom, c.projection.bottom);
        EXPECT_DOUBLE_EQ(p.top, c.projection.top);
        EXPECT_EQ(p.zNear, -1.0);
        EXPECT_EQ(p.zFar, 1.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Words, WalkTable, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<WalkCase>& info) { return info.param.name; });

TEST(Walk, EveryLineStartsWhereTheTurtleStood)
{
    RecordingSink sink;
    TurtleState end;
    std::deque<TurtleState> stack;
    ASSERT_EQ(turtle::walkWord("F[+F]fF", 5, 90.0f, kNoCeiling, end, stack, sink), turtle::WalkEnd::Finished);
    ASSERT_EQ(sink.lines.size(), 3u);
    EXPECT_EQ(sink.lines[0].x0, 0.0f);  // the start point
    EXPECT_EQ(sink.lines[0].y0, 0.0f);
    EXPECT_EQ(sink.lines[1].x0, sink.lines[0].x1);  // after the push, from the same point
    EXPECT_EQ(sink.lines[1].y0, sink.lines[0].y1);
    EXPECT_EQ(sink.lines[1].x1, 5.0f);  // to the right
    EXPECT_FLOAT_EQ(sink.lines[2].y0, -10.0f);  // after the pop and an f step up
    EXPECT_FLOAT_EQ(sink.lines[2].y1, -15.0f);
}

// The plain rule for one step, with nothing remembered between steps.
float plainStep(float position, float heading, std::uint32_t d, bool cosine)
{
    const float radians = static_cast<float>(static_cast<double>(heading) * static_cast<double>(3.1415927f) / 180.0);
    const double r = static_cast<double>(radians);
    const float unit = static_cast<float>(cosine ? std::cos(r) : std::sin(r));
    return static_cast<float>(static_cast<double>(unit) * static_cast<double>(static_cast<float>(d)) +
                              static_cast<double>(position));
}

// A long random word visits thousands of distinct headings, far more than the memo of
// step vectors has slots: every line must still match the plain rule to the bit. Lengths
// of 0 and powers of two step in float arithmetic, the others in double; the largest
// take positions where every step rounds.
class WalkLength : public testing::TestWithParam<std::uint32_t> {};

TEST_P(WalkLength, RememberedStepsMatchThePlainRuleToTheBit)
{
    std::mt19937 random(12345);
    const std::string symbols = "FFFf+--|[]X";
    std::string word;
    int depth = 0;
    while (word.size() < 50000) {
        const char c = symbols[random() % symbols.size()];
        if (c == ']' && depth == 0) continue;
        depth += (c == '[') - (c == ']');
        word += c;
    }
    const std::uint32_t d = GetParam();
    const float delta = 7.3f;

    RecordingSink sink;
    TurtleState end;
    std::deque<TurtleState> stack;
    ASSERT_EQ(turtle::walkWord(word, d, delta, kNoCeiling, end, stack, sink), turtle::WalkEnd::Finished);

    float x = 0.0f, y = 0.0f, h = 270.0f;
    std::vector<TurtleState> saved;
    std::size_t line = 0;
    std::size_t mismatches = 0;
    for (char c : word) {
        if (c == 'F' || c == 'f') {
            const float nx = plainStep(x, h, d, true);
            const float ny = plainStep(y, h, d, false);
            if (c == 'F') {
                ASSERT_LT(line, sink.lines.size());
                const Line& l = sink.lines[line++];
                mismatches += l.x0 != x || l.y0 != y || l.x1 != nx || l.y1 != ny;
            }
            x = nx;
            y = ny;
        } else if (c == '+') {
            h = static_cast<float>(static_cast<double>(h) + delta);
            if (h > 360.0f) h = static_cast<float>(static_cast<double>(h) - 360.0);
        } else if (c == '-') {
            h = static_cast<float>(static_cast<double>(h) - delta);
            if (h < 0.0f) h = static_cast<float>(static_cast<double>(h) + 360.0);
        } else if (c == '|') {
            h = static_cast<float>(static_cast<double>(h) + 180.0);
            if (h > 360.0f) h = static_cast<float>(static_cast<double>(h) - 360.0);
        } else if (c == '[') {
            saved.push_back({x, y, h});
        } else if (c == ']') {
            x = saved.back().x;
            y = saved.back().y;
            h = saved.back().heading;
            saved.pop_back();
        }
    }
    EXPECT_EQ(line, sink.lines.size());
    EXPECT_EQ(mismatches, 0u);
    EXPECT_EQ(end.x, x);
    EXPECT_EQ(end.y, y);
    EXPECT_EQ(end.heading, h);
}

INSTANTIATE_TEST_SUITE_P(Lengths, WalkLength,
                         testing::Values(0u, 1u, 2u, 37u, 1000u, 1u << 20, 1u << 31, 4294967295u));

// ---------------------------------------------------------------------------------------
// The heading stays in [0, 360] whatever delta is.

// The word of F -> F+F after n iterations: 2^n lines, each turned by delta from the last.
std::string turningWord(int n)
{
    std::string word = "F";
    for (int i = 0; i < n; ++i) {
        std::string next;
        for (char c : word) next += c == 'F' ? "F+F" : std::string(1, c);
        word.swap(next);
    }
    return word;
}

std::vector<Line> linesOf(const std::string& word, float delta)
{
    RecordingSink sink;
    TurtleState end;
    std::deque<TurtleState> stack;
    EXPECT_EQ(turtle::walkWord(word, 1, delta, kNoCeiling, end, stack, sink), turtle::WalkEnd::Finished);
    return sink.lines;
}

// A delta outside [0, 360] turns as the delta in [0, 360] that it equals modulo 360
// (mirrored left to right for a negative one), however many turns the word makes.
struct TurnCase {
    const char* name;
    float delta;
    float equivalent;  // in [0, 360]
    bool mirrored;     // the picture is the equivalent's with x negated
};

void PrintTo(const TurnCase& c, std::ostream* os) { *os << c.name; }

const TurnCase kTurnCases[] = {
    {"MinusNinetyMirrorsNinety", -90.0f, 90.0f, true},
    {"SevenTwentyIsNoTurn", 720.0f, 0.0f, false},
    {"FourFiftyIsNinety", 450.0f, 90.0f, false},
    {"MinusFourFiftyMirrorsNinety", -450.0f, 90.0f, true},
    {"MinusSixtyMirrorsSixty", -60.0f, 60.0f, true},
};

class WalkTurn : public testing::TestWithParam<TurnCase> {};

TEST_P(WalkTurn, DrawsTheEquivalentPicture)
{
    const TurnCase& c = GetParam();
    const std::string word = turningWord(19);
    const std::vector<Line> seen = linesOf(word, c.delta);
    const std::vector<Line> expected = linesOf(word, c.equivalent);
    ASSERT_EQ(seen.size(), expected.size());
    const float sign = c.mirrored ? -1.0f : 1.0f;
    // The two walks round differently (cos 90 degrees is not 0 in float), so they drift
    // apart by a little over half a million steps; a heading that grew without bound
    // strays by whole steps instead.
    constexpr float kTolerance = 0.05f;
    std::size_t far = 0;
    for (std::size_t i = 0; i < seen.size(); ++i) {
        far += std::fabs(seen[i].x1 - sign * expected[i].x1) > kTolerance ||
               std::fabs(seen[i].y1 - expected[i].y1) > kTolerance;
    }
    EXPECT_EQ(far, 0u) << "of " << seen.size() << " lines";
}

INSTANTIATE_TEST_SUITE_P(Deltas, WalkTurn, testing::ValuesIn(kTurnCases),
                         [](const testing::TestParamInfo<TurnCase>& info) { return info.param.name; });

// After every turn the heading lies in [0, 360], also where subtracting 360 changes
// nothing (1e30 - 360 == 1e30 in float), and the walk ends.
class WalkHeadingRange : public testing::TestWithParam<float> {};

TEST_P(WalkHeadingRange, StaysInAFullTurn)
{
    const float delta = GetParam();
    for (const char* word : {"+", "-", "++", "--", "+-+", "|+", "-|", "+++++++++++", "-----------"}) {
        TurtleState end;
        std::deque<TurtleState> stack;
        RecordingSink sink;
        ASSERT_EQ(turtle::walkWord(word, 1, delta, kNoCeiling, end, stack, sink), turtle::WalkEnd::Finished);
        EXPECT_GE(end.heading, 0.0f) << word;
        EXPECT_LE(end.heading, 360.0f) << word;
    }
}

INSTANTIATE_TEST_SUITE_P(Deltas, WalkHeadingRange,
                         testing::Values(-90.0f, 450.0f, 720.0f, -720.5f, 1e10f, 1e30f, -1e30f,
                                         3.4028235e38f, -3.4028235e38f));

// The stack as each pass leaves it and finds it.
class WalkStack : public testing::Test {
protected:
    turtle::WalkEnd walk(const std::string& word, std::uint64_t stackCeiling = kNoCeiling)
    {
        sink = RecordingSink{};
        return turtle::walkWord(word, 1, 90.0f, stackCeiling, end, stack, sink);
    }
    TurtleState end{};
    std::deque<TurtleState> stack;
    RecordingSink sink;
};

TEST_F(WalkStack, IsEmptiedAtTheStartOfEveryPass)
{
    stack.push_back({5.0f, 5.0f, 0.0f});  // left over from an earlier word
    EXPECT_EQ(walk("]F"), turtle::WalkEnd::EmptyStack);
    EXPECT_TRUE(sink.lines.empty());
    EXPECT_TRUE(stack.empty());
}

TEST_F(WalkStack, SurplusEntriesDoNotPileUpOverPasses)
{
    for (int pass = 0; pass < 3; ++pass) {
        ASSERT_EQ(walk("[F[+F"), turtle::WalkEnd::Finished);
        ASSERT_EQ(stack.size(), 2u);
    }
    EXPECT_EQ(stack.front().x, 0.0f);
    EXPECT_EQ(stack.front().heading, 270.0f);
    EXPECT_EQ(stack.back().y, -1.0f);
    EXPECT_EQ(stack.back().heading, 270.0f);
}

TEST_F(WalkStack, UnmatchedCloseEndsThePassAtOnce)
{
    EXPECT_EQ(walk("F[+F]]+F"), turtle::WalkEnd::EmptyStack);
    EXPECT_EQ(sink.lines.size(), 2u);  // nothing after the second "]"
    EXPECT_FLOAT_EQ(end.y, -1.0f);     // restored by the first "]"
    EXPECT_EQ(end.heading, 270.0f);
    EXPECT_TRUE(stack.empty());
}

TEST_F(WalkStack, PushPastTheCeilingEndsThePassAtOnce)
{
    EXPECT_EQ(walk("[F[F[F", 2), turtle::WalkEnd::FullStack);
    EXPECT_EQ(sink.lines.size(), 2u);  // the third "[" ends the pass before its F
    EXPECT_EQ(stack.size(), 2u);
    EXPECT_FLOAT_EQ(end.y, -2.0f);
    EXPECT_EQ(walk("[F]F[F]", 1), turtle::WalkEnd::Finished);  // popped entries make room
    EXPECT_EQ(walk("[F[F[F", 3), turtle::WalkEnd::Finished);
}

// Stacks far deeper than a few entries: nesting that goes down and comes back up many
// times, against ceilings on either side of where it turns.
struct DeepCase {
    const char* name;
    int depth;              // "[F" this many times
    int swings;             // then "]" and "[F" `swing` times each, this many times
    int swing;
    std::uint64_t ceiling;
    turtle::WalkEnd ending;
    std::size_t stackLeft;  // entries the pass leaves
    float endY;
};

void PrintTo(const DeepCase& c, std::ostream* os) { *os << c.name; }

class WalkDeepStack : public testing::TestWithParam<DeepCase> {};

TEST_P(WalkDeepStack, PushesAndPopsAsOneStack)
{
    const DeepCase& c = GetParam();
    std::string word;
    for (int i = 0; i < c.depth; ++i) word += "[F";
    for (int s = 0; s < c.swings; ++s) {
        word.append(static_cast<std::size_t>(c.swing), ']');
        for (int i = 0; i < c.swing; ++i) word += "[F";
    }
    word.append(static_cast<std::size_t>(c.depth), ']');
    word += "]F";  // one close too many: the pass ends back at the start
    TurtleState end{};
    std::deque<TurtleState> stack;
    RecordingSink sink;
    ASSERT_EQ(turtle::walkWord(word, 1, 90.0f, c.ceiling, end, stack, sink), c.ending);
    EXPECT_EQ(stack.size(), c.stackLeft);
    EXPECT_EQ(end.y, c.endY);
    // Every entry still on the stack is the turtle as it stood at its "[", one step apart.
    for (std::size_t i = 0; i < stack.size(); ++i) EXPECT_EQ(stack[i].y, -static_cast<float>(i)) << i;
    // Every line starts where the turtle stood; a pop puts it back a step at a time.
    for (const Line& l : sink.lines) EXPECT_EQ(l.y1, l.y0 - 1.0f);
}

INSTANTIATE_TEST_SUITE_P(
    Depths, WalkDeepStack,
    testing::Values(DeepCase{"Shallow", 10, 3, 5, kNoCeiling, turtle::WalkEnd::EmptyStack, 0, 0.0f},
                    DeepCase{"DeeperThanItsTop", 300, 4, 100, kNoCeiling, turtle::WalkEnd::EmptyStack, 0, 0.0f},
                    DeepCase{"SwingsAcrossTheTop", 100, 7, 70, kNoCeiling, turtle::WalkEnd::EmptyStack, 0, 0.0f},
                    DeepCase{"CeilingJustBelow", 65, 0, 0, 64, turtle::WalkEnd::FullStack, 64, -64.0f},
                    DeepCase{"CeilingAtTheDepth", 64, 0, 0, 64, turtle::WalkEnd::EmptyStack, 0, 0.0f},
                    DeepCase{"CeilingJustAbove", 129, 0, 0, 128, turtle::WalkEnd::FullStack, 128, -128.0f},
                    DeepCase{"CeilingAtTheDepthWithSwings", 100, 2, 60, 100, turtle::WalkEnd::EmptyStack, 0, 0.0f},
                    DeepCase{"CeilingOfOne", 2, 0, 0, 1, turtle::WalkEnd::FullStack, 1, -1.0f}),
    [](const testing::TestParamInfo<DeepCase>& info) { return std::string(info.param.name); });

// Framing cases that no word of the table reaches.
TEST(Frame, NaNPositionsAreIgnored)
{
    turtle::Bounds b;
    b.add(std::nanf(""), std::nanf(""));
    EXPECT_TRUE(b.empty());
    b.add(2.0f, 3.0f);
    b.add(std::nanf(""), std::nanf(""));
    EXPECT_EQ(b.minX, 2.0f);
    EXPECT_EQ(b.maxY, 3.0f);
    const turtle::Projection p = turtle::frame(b);  // one point: a side of 1 around it
    EXPECT_NEAR(p.left, 1.45, 1e-7);
    EXPECT_NEAR(p.right, 2.55, 1e-7);
    EXPECT_NEAR(p.top, 2.45, 1e-7);
    EXPECT_NEAR(p.bottom, 3.55, 1e-7);
}

TEST(Frame, PictureAwayFromTheOriginIsFramedWhole)
{
    turtle::Bounds b;
    b.add(100.0f, 40.0f);
    b.add(300.0f, 60.0f);  // 200 wide, 20 high: widened to 200 high around y 50
    const turtle::Projection p = turtle::frame(b);
    EXPECT_DOUBLE_EQ(p.left, 90.0);
    EXPECT_DOUBLE_EQ(p.right, 310.0);
    EXPECT_DOUBLE_EQ(p.top, -60.0);
    EXPECT_DOUBLE_EQ(p.bottom, 160.0);
}

}  // namespace
