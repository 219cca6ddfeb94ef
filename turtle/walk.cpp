// The checkpoints a walk leaves, out of the walk's own loop.
#include "turtle/walk.h"

namespace turtle {

bool CheckpointLog::record(std::size_t offset, const TurtleState& turtle, const std::deque<TurtleState>& stack)
{
    if (stack.size() > deepest) return true;
    try {
        points.push_back(Checkpoint{offset, turtle, {stack.begin(), stack.end()}});
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

}  // namespace turtle
