// The coverage grid of the drawing pass against the reference rasteriser, without a
// window: for words of lines below a pixel, the grid's alpha over white must give the
// reference's picture, to within what the grid's slices of a band do differently from
// the reference's rectangles at the ends of each line. A walk drawn in pieces into
// grids that are then added must give one walk's picture.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "console/console.h"
#include "lsystem/lsystem.h"
#include "tests/turtle/picture_cases.h"
#include "tests/turtle/reference_raster.h"
#include "turtle/coverage.h"
#include "turtle/walk.h"

namespace {

constexpr int kSize = reference::kWindowSize;

// The grid's picture of the lsystem's word under its measured frame: white under alpha
// black, with the reference's start point.
reference::GreyPicture gridPicture(const LSystem& lsystem)
{
    const turtle::Projection p = reference::measuredProjection(lsystem);
    turtle::CoverageGrid grid(
        turtle::PixelMapping{p.left, p.top, kSize / (p.right - p.left), kSize / (p.bottom - p.top)});
    TurtleState end;
    std::deque<TurtleState> stack;
    turtle::CoverageGrid::Lines lines(grid);
    turtle::walkWord(lsystem.word, lsystem.d, lsystem.delta, lsystem.stackCeiling, end, stack, lines);
    lines.finish();
    std::vector<std::uint8_t> alpha;
    grid.alpha(alpha);

    reference::GreyPicture picture;
    picture.levels.assign(static_cast<std::size_t>(kSize) * kSize, 255.0f);
    const reference::PixelSquare point = reference::startPoint(reference::PixelMapping(p));
    for (int row = 0; row < kSize; ++row)
        for (int column = 0; column < kSize; ++column) {
            float& level = picture.levels[static_cast<std::size_t>(row) * kSize + column];
            if (row >= point.row && row < point.row + 4 && column >= point.column && column < point.column + 4)
                level = reference::kRedGrey;
            level *= 1.0f - alpha[static_cast<std::size_t>(kSize - 1 - row) * kSize + column] / 255.0f;
        }
    return picture;
}

struct GridCase {
    const char* name;
    std::string description;
    double inkTolerance;  // of the grid's ink over the reference's, either side of 1
    double mostMad;       // levels
};

void PrintTo(const GridCase& c, std::ostream* os) { *os << c.name; }

std::string pictureCase(const std::string& name)
{
    for (const PictureCase& c : pictureCases())
        if (c.name == name) return c.description;
    return "";
}

std::vector<GridCase> gridCases()
{
    return {
        // Lines of 1/130 pixel that turn by a degree at almost every step: the reference's
        // butt-ended slices fan out on the outer side of every bend and leave about half
        // of it uncovered, where the grid's slices follow the path as a pen does.
        {"random_walk", pictureCase("random_walk"), 0.25, 5.0},
        {"straight", "n=18 F F->FF", 0.01, 0.5},
        {"diagonal", "n=16 delta=30 +F F->FF", 0.01, 0.5},
        {"hilbert_n10", "n=10 A A->+BF-AFA-FB+ B->-AF+BFB+FA-", 0.05, 5.0},
        {"bush_n9", "n=9 delta=22.5 F F->F[+F]F[-F]F", 0.05, 5.0},
        {"dashed", "n=17 F F->FfF", 0.05, 5.0},
    };
}

class GridTest : public testing::TestWithParam<GridCase> {};

TEST_P(GridTest, MatchesTheReference)
{
    const GridCase& c = GetParam();
    LSystem lsystem;
    testing::internal::CaptureStdout();
    loadDescription(lsystem, c.description);
    consoleSync();
    testing::internal::GetCapturedStdout();
    ASSERT_FALSE(lsystem.word.empty());

    const reference::GreyPicture truth = reference::rasterise(lsystem, reference::measuredProjection(lsystem));
    const reference::GreyPicture grid = gridPicture(lsystem);
    const double ratio = reference::ink(grid) / reference::ink(truth);
    const double mad = reference::meanAbsoluteDifference(grid, truth);
    std::printf("%s: ink %.4f of the reference's, MAD %.3f levels\n", c.name, ratio, mad);
    EXPECT_NEAR(ratio, 1.0, c.inkTolerance);
    EXPECT_LE(mad, c.mostMad);
}

INSTANTIATE_TEST_SUITE_P(Words, GridTest, testing::ValuesIn(gridCases()),
                         [](const testing::TestParamInfo<GridCase>& info) { return std::string(info.param.name); });

// --- A walk in pieces ---------------------------------------------------------------

// The lines of one walk, as the walk hands them to a sink.
struct RecordedLines {
    std::vector<std::array<float, 4>> lines;
    void line(float x0, float y0, float x1, float y1) { lines.push_back({x0, y0, x1, y1}); }
};

// A word of sub-pixel lines in many directions, with branches whose first lines start
// away from where the last line ended; recorded once, drawn into grids in pieces.
class PiecesTest : public testing::TestWithParam<double> {
protected:
    static void SetUpTestSuite()
    {
        LSystem lsystem;
        testing::internal::CaptureStdout();
        loadDescription(lsystem, "n=7 delta=22.5 F F->F[+F]F[-F]F");
        consoleSync();
        testing::internal::GetCapturedStdout();
        const turtle::Projection p = reference::measuredProjection(lsystem);
        mapping = turtle::PixelMapping{p.left, p.top, kSize / (p.right - p.left), kSize / (p.bottom - p.top)};
        TurtleState end;
        std::deque<TurtleState> stack;
        turtle::walkWord(lsystem.word, lsystem.d, lsystem.delta, lsystem.stackCeiling, end, stack, recorded);
    }

    static void draw(turtle::CoverageGrid& grid, std::size_t from, std::size_t to)
    {
        for (std::size_t i = from; i < to; ++i) {
            const auto& l = recorded.lines[i];
            grid.line(l[0], l[1], l[2], l[3]);
        }
    }

    static inline RecordedLines recorded;
    static inline turtle::PixelMapping mapping;
};

// The second piece starts inside a chain of lines, and either grid may hold lines not
// yet marked, so the sum equals one walk only if each line's marks are its own.
TEST_P(PiecesTest, AddedEqualOneWalk)
{
    const std::size_t split = static_cast<std::size_t>(GetParam() * recorded.lines.size());
    turtle::CoverageGrid whole(mapping);
    draw(whole, 0, recorded.lines.size());
    turtle::CoverageGrid first(mapping);
    turtle::CoverageGrid second(mapping);
    draw(first, 0, split);
    draw(second, split, recorded.lines.size());
    first.add(second);
    EXPECT_TRUE(first.used());

    std::vector<std::uint8_t> expected;
    std::vector<std::uint8_t> added;
    whole.alpha(expected);
    first.alpha(added);
    std::size_t covered = 0;
    std::size_t differing = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        covered += expected[i] != 0;
        differing += expected[i] != added[i];
    }
    ASSERT_GT(covered, 1000u);
    EXPECT_EQ(differing, 0u) << "pixels of " << covered << " covered";
}

// A walk's Lines sink marks and counts what line() does, also where a second sink takes
// the grid over in the middle of a batch.
TEST_P(PiecesTest, LinesSinksMarkAndCountWhatLineDoes)
{
    const std::size_t split = static_cast<std::size_t>(GetParam() * recorded.lines.size());
    turtle::CoverageGrid byLine(mapping);
    draw(byLine, 0, recorded.lines.size());
    turtle::CoverageGrid bySinks(mapping);
    for (const auto& [from, to] : {std::pair{std::size_t{0}, split}, std::pair{split, recorded.lines.size()}}) {
        turtle::CoverageGrid::Lines sink(bySinks);
        for (std::size_t i = from; i < to; ++i) {
            const auto& l = recorded.lines[i];
            sink.line(l[0], l[1], l[2], l[3]);
        }
        sink.finish();
        EXPECT_EQ(bySinks.linesGiven(), to);
        EXPECT_EQ(bySinks.used(), to > 0);
    }

    std::vector<std::uint8_t> expected;
    std::vector<std::uint8_t> marked;
    byLine.alpha(expected);
    bySinks.alpha(marked);
    EXPECT_EQ(byLine.linesGiven(), recorded.lines.size());
    EXPECT_EQ(bySinks.linesGiven(), recorded.lines.size());
    EXPECT_TRUE(expected == marked);
}

// Splits at the start, inside the first batch of lines, at a third, in the middle of
// a run of lines and just before the end.
INSTANTIATE_TEST_SUITE_P(Splits, PiecesTest, testing::Values(0.0, 0.0001, 0.3333, 0.5, 0.9999));

// A line that starts and ends in the samples of one that went by lately, either way
// round, is taken for it; no other is, nor any line with an end off the grid.
TEST(CoverageGridSeenLately, KnowsOnlyLinesOfTheSameSamples)
{
    // 40 drawing units across the window: a unit is 60 samples.
    turtle::CoverageGrid grid(turtle::PixelMapping{-20.0, -20.0, 15.0, 15.0});
    const float tiny = 1.0f / 600.0f;  // a tenth of a sample
    const float sample = 1.0f / 60.0f;
    struct Case {
        const char* what;
        std::array<float, 4> line;
        bool seen;
    } cases[] = {
        {"the first", {-10.0f, -10.0f, 10.0f, 5.0f}, false},
        {"the same again", {-10.0f, -10.0f, 10.0f, 5.0f}, true},
        {"the same the other way", {10.0f, 5.0f, -10.0f, -10.0f}, true},
        {"ends moved within their samples", {-10.0f + tiny, -10.0f, 10.0f, 5.0f - tiny}, true},
        {"an end moved by a sample", {-10.0f, -10.0f, 10.0f, 5.0f + sample}, false},
        {"another line", {-15.0f, 12.0f, 15.0f, 12.0f}, false},
        {"the first once more", {-10.0f, -10.0f, 10.0f, 5.0f}, true},
        {"an end off the grid", {-10.0f, -10.0f, 30.0f, 5.0f}, false},
        {"the same off the grid", {-10.0f, -10.0f, 30.0f, 5.0f}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(grid.seenLately(c.line[0], c.line[1], c.line[2], c.line[3]), c.seen) << c.what;
    EXPECT_FALSE(grid.used());  // remembering a line marks nothing
}

TEST(CoverageGridAdd, AnEmptyGridAddsNothing)
{
    const turtle::PixelMapping mapping{0.0, 0.0, 1.0, 1.0};
    turtle::CoverageGrid grid(mapping);
    grid.add(turtle::CoverageGrid(mapping));
    EXPECT_FALSE(grid.used());
    std::vector<std::uint8_t> alpha;
    grid.alpha(alpha);
    EXPECT_EQ(std::count(alpha.begin(), alpha.end(), 0), static_cast<long>(alpha.size()));
}

}  // namespace
