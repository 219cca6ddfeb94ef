// The coverage walk of a framed word in pieces, on this thread and the turtle's worker at
// once: a measuring pass leaves checkpoints of its walk, and a drawing pass whose lines
// all go to the coverage grid starts pieces of its own walk there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "lsystem/lsystem.h"
#include "turtle/coverage.h"
#include "turtle/walk.h"

namespace turtle {

// The deepest stack a checkpoint copies; a walk deeper than that leaves none there.
inline constexpr std::size_t kDeepestCopiedStack = 1024;

// Letters between two checkpoints of a walk of `letters` letters.
std::size_t checkpointSpacing(std::size_t letters);

// Walks every line of `word` into `grid` (whose mapping is `mapping`) and counts them, as
// walkWord does with a LineCounter: in pieces on two threads where `checkpoints` (a
// finished walk's, of this word with this d and delta) has some and a worker is free, else
// in one walk. Either way the grid, `lines`, `turtle` and `stack` end as one walk leaves
// them. keepGoing is asked on this thread alone: after every kLettersPerQuestion letters
// that it walks, and every few milliseconds while it waits for the worker.
WalkEnd walkIntoGrid(const std::string& word, std::uint32_t d, float delta, std::uint64_t stackCeiling,
                     const std::vector<Checkpoint>& checkpoints, const PixelMapping& mapping, CoverageGrid& grid,
                     TurtleState& turtle, std::deque<TurtleState>& stack, std::uint32_t& lines,
                     const KeepGoing& keepGoing = {});

}  // namespace turtle
