// Two threads walking pieces of one word into grids of their own, which are added up.
#include "turtle/piece_walk.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>

#include "turtle/worker.h"

namespace turtle {
namespace {

// Letters between two checkpoints: a sixteenth of the word, between these bounds. Pieces
// short enough that the two threads end within a piece of each other, and that the one
// left waiting answers keepGoing soon; long enough that starting one costs nothing. A
// word of billions of letters has longer pieces, so that it leaves at most kMostPieces
// checkpoints, whose copied stacks stay a few megabytes at most.
constexpr std::size_t kShortestPiece = std::size_t{1} << 20;
constexpr std::size_t kLongestPiece = std::size_t{1} << 22;
constexpr std::size_t kMostPieces = 1024;

// A coverage walk in pieces, from the checkpoints of an earlier walk: this thread and
// the worker each take the next piece until none is left, each into a grid of its own.
// A grid only gathers marks, so the pieces may be walked in any order and the grids added
// up after; each piece starts from the state the whole walk had there, so together they
// mark and count what one walk would.
struct PieceWalk {
    const std::string& word;
    std::uint32_t d;
    float delta;
    std::uint64_t stackCeiling;
    const std::vector<Checkpoint>& checkpoints;  // piece i > 0 starts at checkpoints[i - 1]
    std::atomic<std::size_t> next{0};    // the next piece to take
    std::atomic<bool> stopped{false};    // take no more pieces
    std::atomic<bool> abandoned{false};  // keepGoing said false
    std::atomic<bool> failed{false};     // a piece ended in a stack error
    std::atomic<std::uint32_t> lines{0};
    TurtleState last{};  // where the last piece ended, with its stack
    std::deque<TurtleState> lastStack{};

    std::size_t pieces() const { return checkpoints.size() + 1; }

    // Walks pieces into `grid` until none is left or the walk is stopped.
    void walk(CoverageGrid& grid, const KeepGoing& keepGoing)
    {
        std::deque<TurtleState> stack;
        for (std::size_t i = next++; i < pieces() && !stopped; i = next++) {
            TurtleState turtle{0.0f, 0.0f, 270.0f};
            std::size_t begin = 0;
            WalkEnd ended;
            try {
                stack.clear();
                if (i > 0) {
                    const Checkpoint& start = checkpoints[i - 1];
                    turtle = start.turtle;
                    stack.assign(start.stack.begin(), start.stack.end());
                    begin = start.offset;
                }
                const std::size_t end = i + 1 < pieces() ? checkpoints[i].offset : word.size();
                const std::uint64_t before = grid.linesGiven();
                CoverageGrid::Lines sink{grid};
                ended = walkRange(word, begin, end, d, delta, stackCeiling, turtle, stack, sink, keepGoing);
                sink.finish();
                lines += static_cast<std::uint32_t>(grid.linesGiven() - before);
            } catch (const std::bad_alloc&) {
                ended = WalkEnd::FullStack;
            }
            if (ended == WalkEnd::Finished) {
                if (i + 1 == pieces()) {
                    last = turtle;
                    lastStack.swap(stack);
                }
                continue;
            }
            if (ended != WalkEnd::Abandoned) failed = true;
            stopped = true;
        }
    }
};

// The worker's part of a piece walk: its own grid, and a keepGoing that follows the
// walk's, which only this thread may ask.
struct WorkerPart {
    PieceWalk& walk;
    CoverageGrid grid;

    static void run(void* argument)
    {
        auto& part = *static_cast<WorkerPart*>(argument);
        part.walk.walk(part.grid, [&part] { return !part.walk.stopped; });
    }
};

}  // namespace

std::size_t checkpointSpacing(std::size_t letters)
{
    return std::max(std::min(std::max(letters / 16, kShortestPiece), kLongestPiece), letters / kMostPieces);
}

WalkEnd walkIntoGrid(const std::string& word, std::uint32_t d, float delta, std::uint64_t stackCeiling,
                     const std::vector<Checkpoint>& checkpoints, const PixelMapping& mapping, CoverageGrid& grid,
                     TurtleState& turtle, std::deque<TurtleState>& stack, std::uint32_t& lines,
                     const KeepGoing& keepGoing)
{
    if (!checkpoints.empty()) {
        PieceWalk walk{word, d, delta, stackCeiling, checkpoints};
        std::unique_ptr<WorkerPart> part;
        try {
            part.reset(new WorkerPart{walk, CoverageGrid(mapping)});
        } catch (const std::bad_alloc&) {
        }
        if (part && startOnWorker(&WorkerPart::run, part.get())) {
            const KeepGoing ask = [&walk, &keepGoing] {
                if (walk.stopped) return false;
                if (keepGoing && !keepGoing()) {
                    walk.abandoned = true;
                    walk.stopped = true;
                    return false;
                }
                return true;
            };
            walk.walk(grid, ask);
            // The worker ends within a piece; keepGoing is still answered meanwhile.
            while (!waitForWorker(10)) ask();
            if (walk.abandoned) return WalkEnd::Abandoned;
            if (!walk.failed) {
                grid.add(part->grid);
                turtle = walk.last;
                stack.swap(walk.lastStack);
                lines = walk.lines;
                return WalkEnd::Finished;
            }
            // A piece met a stack error that the walk which left the checkpoints did not
            // (memory ran out, or the ceiling is lower now): one walk finds where, and
            // marks what comes before it.
            grid = CoverageGrid(mapping);
        }
    }
    const std::uint64_t before = grid.linesGiven();
    CoverageGrid::Lines sink{grid};
    const WalkEnd end = walkWord(word, d, delta, stackCeiling, turtle, stack, sink, keepGoing);
    sink.finish();
    lines = static_cast<std::uint32_t>(grid.linesGiven() - before);  // wraps, as every pass's count does
    return end;
}

}  // namespace turtle
