// The coverage walk in pieces on two threads against one walk of the same word: the
// grid, the line count, and where the turtle and its stack end must be the same, for
// words with and without branches, a stack deeper than a checkpoint copies, a stack
// ceiling that the pieces meet, and a walk that is abandoned.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "turtle/coverage.h"
#include "turtle/frame.h"
#include "turtle/piece_walk.h"
#include "turtle/walk.h"

namespace {

// Checkpoints every 4 stops of the walk, so that words of a few million letters make
// dozens of pieces.
constexpr std::size_t kSpacing = 4 * turtle::kLettersPerQuestion;

struct Rewriting {
    std::string axiom;
    std::vector<std::pair<char, std::string>> rules;
    int n;
};

std::string rewrite(const Rewriting& r)
{
    std::string word = r.axiom;
    for (int i = 0; i < r.n; ++i) {
        std::string next;
        for (char c : word) {
            bool replaced = false;
            for (const auto& [predecessor, successor] : r.rules)
                if (c == predecessor) {
                    next += successor;
                    replaced = true;
                }
            if (!replaced) next += c;
        }
        word.swap(next);
    }
    return word;
}

struct WalkCase {
    const char* name;
    std::string word;
    float delta;
};

void PrintTo(const WalkCase& c, std::ostream* os) { *os << c.name; }

// A stack 5000 deep for the middle of the word, deeper than any checkpoint copies, with
// a dragon curve inside it.
std::string deepWord()
{
    const std::string curve = rewrite({"FX", {{'X', "X+YF+"}, {'Y', "-FX-Y"}}, 19});
    return std::string(5000, '[') + "F+F" + curve + std::string(5000, ']') + curve;
}

std::vector<WalkCase> walkCases()
{
    return {
        {"bush", rewrite({"F", {{'F', "F[+F]F[-F]F"}}, 9}), 25.7f},
        {"dragon", rewrite({"FX", {{'X', "X+YF+"}, {'Y', "-FX-Y"}}, 20}), 90.0f},
        {"moves_and_reversals", rewrite({"F", {{'F', "F[f-F|F]+fF"}}, 10}), 33.0f},
        // Ends with branches still open: the stack the walk leaves is the last piece's.
        {"open_branches", rewrite({"F", {{'F', "F[+F]F[-F]F"}}, 9}) + "[+F[-F", 20.0f},
        {"deep_stack", deepWord(), 90.0f},
    };
}

struct Walked {
    turtle::WalkEnd end;
    std::uint32_t lines = 0;
    TurtleState turtle{};
    std::deque<TurtleState> stack;
    std::vector<std::uint8_t> alpha;
};

class PieceWalkTest : public ::testing::TestWithParam<WalkCase> {
protected:
    void SetUp() override
    {
        const WalkCase& c = GetParam();
        turtle::BoundsSink bounds;
        turtle::CheckpointLog log{kSpacing, turtle::kDeepestCopiedStack, {}};
        TurtleState end;
        std::deque<TurtleState> stack;
        ASSERT_EQ(turtle::walkWord(c.word, 1, c.delta, UINT64_MAX, end, stack, bounds, {}, &log),
                  turtle::WalkEnd::Finished);
        checkpoints = std::move(log.points);
        ASSERT_GE(checkpoints.size(), 4u);
        const turtle::Projection p = turtle::frame(bounds.bounds);
        mapping = {p.left, p.top, 600.0 / (p.right - p.left), 600.0 / (p.bottom - p.top)};
    }

    Walked oneWalk(std::uint64_t ceiling) const
    {
        Walked w;
        turtle::CoverageGrid grid(mapping);
        turtle::LineCounter<turtle::CoverageGrid> counter{grid};
        w.end = turtle::walkWord(GetParam().word, 1, GetParam().delta, ceiling, w.turtle, w.stack, counter);
        w.lines = counter.lines;
        grid.alpha(w.alpha);
        return w;
    }

    Walked inPieces(std::uint64_t ceiling, const std::vector<turtle::Checkpoint>& from,
                    const KeepGoing& keepGoing = {}) const
    {
        Walked w;
        turtle::CoverageGrid grid(mapping);
        w.stack.push_back(TurtleState{7.0f, 7.0f, 7.0f});  // what an earlier pass left
        w.end = turtle::walkIntoGrid(GetParam().word, 1, GetParam().delta, ceiling, from, mapping, grid, w.turtle,
                                     w.stack, w.lines, keepGoing);
        grid.alpha(w.alpha);
        return w;
    }

    static void expectSame(const Walked& pieces, const Walked& one)
    {
        EXPECT_EQ(pieces.end, one.end);
        EXPECT_EQ(pieces.lines, one.lines);
        EXPECT_EQ(std::memcmp(&pieces.turtle, &one.turtle, sizeof(TurtleState)), 0);
        ASSERT_EQ(pieces.stack.size(), one.stack.size());
        for (std::size_t i = 0; i < one.stack.size(); ++i)
            EXPECT_EQ(std::memcmp(&pieces.stack[i], &one.stack[i], sizeof(TurtleState)), 0) << "entry " << i;
        EXPECT_TRUE(pieces.alpha == one.alpha) << "the grids differ";
    }

    std::vector<turtle::Checkpoint> checkpoints;
    turtle::PixelMapping mapping;
};

TEST_P(PieceWalkTest, MarksCountsAndEndsAsOneWalk)
{
    expectSame(inPieces(UINT64_MAX, checkpoints), oneWalk(UINT64_MAX));
}

// The pieces do start at the checkpoints: one moved, with its stack, by far more than the
// picture's size moves what follows it out of the grid.
TEST_P(PieceWalkTest, StartsPiecesAtTheCheckpoints)
{
    std::vector<turtle::Checkpoint> moved = checkpoints;
    turtle::Checkpoint& away = moved[moved.size() / 2];
    away.turtle.x += 1e6f;
    for (TurtleState& entry : away.stack) entry.x += 1e6f;
    EXPECT_FALSE(inPieces(UINT64_MAX, moved).alpha == oneWalk(UINT64_MAX).alpha);
}

// A ceiling lower than the one the checkpoints were walked under: a walk with branches
// deeper than it stops where one walk would, with what came before it marked.
TEST_P(PieceWalkTest, HoldsALowerCeilingAsOneWalk)
{
    expectSame(inPieces(2, checkpoints), oneWalk(2));
}

TEST_P(PieceWalkTest, EndsAbandonedWhenKeepGoingSaysNo)
{
    int asked = 0;
    const Walked w = inPieces(UINT64_MAX, checkpoints, [&asked] { return ++asked < 3; });
    EXPECT_EQ(w.end, turtle::WalkEnd::Abandoned);
    EXPECT_EQ(asked, 3);  // never asked again once it said no
}

INSTANTIATE_TEST_SUITE_P(Words, PieceWalkTest, ::testing::ValuesIn(walkCases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
