// What the walk does out of its own loop: moving the top of the stack, and checkpoints.
#include "turtle/walk.h"

#include <algorithm>
#include <cmath>

namespace turtle {

void stepVector(float heading, float length, double& dx, double& dy)
{
    const float radians = static_cast<float>(static_cast<double>(heading) * kPi / 180.0);
    const float c = static_cast<float>(std::cos(static_cast<double>(radians)));
    const float s = static_cast<float>(std::sin(static_cast<double>(radians)));
    dx = static_cast<double>(c) * static_cast<double>(length);
    dy = static_cast<double>(s) * static_cast<double>(length);
}

namespace detail {

bool lowerTop(Walker& w, std::deque<TurtleState>& stack)
{
    int moved = 0;
    try {
        for (; moved < w.topUsed; ++moved) stack.push_back(w.top[moved]);
    } catch (const std::bad_alloc&) {
        std::copy(w.top + moved, w.top + w.topUsed, w.top);
        w.topUsed -= moved;
        return false;
    }
    w.topUsed = 0;
    return true;
}

void raiseTop(Walker& w, std::deque<TurtleState>& stack)
{
    const int count = static_cast<int>(std::min<std::size_t>(stack.size(), kTopEntries / 2));
    std::copy(stack.end() - count, stack.end(), w.top);
    stack.resize(stack.size() - static_cast<std::size_t>(count));
    w.topUsed = count;
}

}  // namespace detail

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
