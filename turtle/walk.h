// The turtle's walk over a word, kept apart from any drawing interface: walkWord
// runs one pass and hands every F line to a sink (sink.line(x0, y0, x1, y1)), which
// either measures or draws it. Positions follow the program's float rules to the bit.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <deque>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

#include "lsystem/lsystem.h"

namespace turtle {

// pi as the double value of the single-precision constant 3.1415927.
inline constexpr double kPi = static_cast<double>(3.1415927f);

// The step vector of one F or f at `heading` with step length `length`:
// radians rounded to float, cosine and sine each rounded to float, then multiplied
// by the length. Both factors have 24-bit significands, so the products are exact in
// double and x = float(dx + x) equals float(float(cos) * length + x).
// Out of line, so that the cosine and sine always come from the maths library: where a
// heading is known while compiling, the compiler would otherwise work them out itself,
// and may round differently from the library.
void stepVector(float heading, float length, double& dx, double& dy);

// Memo of step vectors by the bit pattern of the heading, for one pass (one length).
// Direct-mapped: a collision only recomputes, and the result is the same function of
// the same bits, so a lookup is bit-identical to calling stepVector.
class StepTable {
public:
    explicit StepTable(std::uint32_t d) : length_(static_cast<float>(d)) {}

    void lookup(float heading, double& dx, double& dy)
    {
        Entry& e = entries_[slotOf(heading)];
        const std::uint64_t key = keyOf(heading);
        if (e.key != key) {
            stepVector(heading, length_, e.dx, e.dy);
            e.key = key;
            e.floatDx = static_cast<float>(e.dx);
            e.floatDy = static_cast<float>(e.dy);
            if (static_cast<double>(e.floatDx) != e.dx || static_cast<double>(e.floatDy) != e.dy)
                floatSteps_ = false;
        }
        dx = e.dx;
        dy = e.dy;
    }

    // The same where the heading's vector is kept already, as doubles or as floats (exact
    // while floatSteps() holds); false, with dx and dy left alone, where it would have to
    // be worked out.
    template <class Coordinate>
    bool find(float heading, Coordinate& dx, Coordinate& dy) const
    {
        const Entry& e = entries_[slotOf(heading)];
        if (e.key != keyOf(heading)) return false;
        if constexpr (std::is_same_v<Coordinate, float>) {
            dx = e.floatDx;
            dy = e.floatDy;
        } else {
            dx = e.dx;
            dy = e.dy;
        }
        return true;
    }

    // Whether every step vector looked up so far is exact in float, as all are where the
    // length is 0 or a power of two: each is then a float cosine or sine times a power
    // of two. A step then is float(x + dx) in float arithmetic: the sum of two floats
    // rounded once to double and again to float is the sum rounded once to float, since
    // double has more than twice float's digits and two more. One float addition instead
    // of a widening, an addition in double and a narrowing, on the chain from one
    // position to the next.
    bool floatSteps() const { return floatSteps_; }

private:
    static std::uint64_t keyOf(float heading)
    {
        std::uint32_t bits;
        std::memcpy(&bits, &heading, sizeof bits);
        return kValid | bits;
    }
    static std::size_t slotOf(float heading)
    {
        std::uint32_t bits;
        std::memcpy(&bits, &heading, sizeof bits);
        return (bits * 0x9E3779B1u) >> (32 - kSlotBits);
    }

    static constexpr int kSlotBits = 10;
    static constexpr std::uint64_t kValid = std::uint64_t{1} << 32;  // set in every filled key
    struct Entry {
        std::uint64_t key = 0;  // kValid | heading bits; 0 while empty
        double dx = 0.0;
        double dy = 0.0;
        float floatDx = 0.0f;  // the same, exact where floatSteps_ holds
        float floatDy = 0.0f;
    };
    std::array<Entry, std::size_t{1} << kSlotBits> entries_{};
    float length_;
    bool floatSteps_ = true;
};

// Whether a heading lies outside [0, 360], in one compare: a float's bits, read as an
// unsigned integer, grow with its value from +0 up, and every negative float (its sign
// bit set) and NaN read larger than 360.
inline bool outsideFullTurn(float heading)
{
    constexpr std::uint32_t k360Bits = 0x43B40000u;  // the bits of 360.0f
    std::uint32_t bits;
    std::memcpy(&bits, &heading, sizeof bits);
    return bits > k360Bits;
}

// Brings a heading outside [0, 360] back into it. A heading one turn out, which is all
// that a delta in [0, 360] can make, takes one subtraction or addition of 360, as it
// always has, so those pictures stay the same to the bit. Further out, the remainder by
// 360 (exact in floating point) does it in one step, however far out: a loop of
// subtractions would run for ever where heading - 360 rounds back to the heading itself
// (1e30), and would round at every step below that.
inline float wrapHeading(float heading)
{
    if (heading > 360.0f) {
        const float once = heading - 360.0f;
        if (once <= 360.0f) return once;
    } else if (heading < 0.0f) {
        const float once = heading + 360.0f;
        if (once >= 0.0f) return once;
    } else {
        return heading;  // -0 is inside; NaN can't come from finite angles
    }
    const float rest = std::fmod(heading, 360.0f);  // in (-360, 360), the sign of heading
    return rest < 0.0f ? rest + 360.0f : rest + 0.0f;  // + 0 makes a -0 remainder +0
}

// How a pass ended.
enum class WalkEnd {
    Finished,    // every letter of the word was walked
    EmptyStack,  // a "]" met an empty stack
    FullStack,   // a "[" would have grown the stack past its ceiling, or memory ran out
    Abandoned,   // keepGoing said false
};

// Letters walked between two questions to keepGoing: a few milliseconds at most, even
// when every letter is a line sent as it is, and few enough that they cost nothing.
inline constexpr std::size_t kLettersPerQuestion = std::size_t{1} << 16;

// Counts the lines of a pass on their way to `next`, the sink that draws them.
template <class Next>
struct LineCounter {
    Next& next;
    std::uint32_t lines = 0;  // wraps, as the count the pass reports always has
    void line(float x0, float y0, float x1, float y1)
    {
        ++lines;
        next.line(x0, y0, x1, y1);
    }
};

// Where a walk stood between two letters: what a later walk of the same word needs to
// start there instead of at the beginning, and land where the whole walk would, to the bit.
struct Checkpoint {
    std::size_t offset = 0;  // letters walked before it
    TurtleState turtle{};
    std::vector<TurtleState> stack;  // bottom first
};

// Checkpoints a walk leaves behind it, about every `spacing` letters, where the stack
// holds at most `deepest` entries (a copy of a deeper one would cost more than it saves).
struct CheckpointLog {
    std::size_t spacing = 0;
    std::size_t deepest = 0;
    std::vector<Checkpoint> points;

    // Adds a checkpoint at `offset` unless the stack is too deep. False once memory ran
    // out: the checkpoints are a help, not a need, and the walk goes on without them.
    bool record(std::size_t offset, const TurtleState& turtle, const std::deque<TurtleState>& stack);
};

namespace detail {

// What stopped the walk's inner loop.
enum class Stop {
    StretchEnd,  // it reached the end of its letters
    Miss,        // a turn or a pop came to a heading whose step vector is not kept yet
    Push,        // a "[" found the top of the stack full
    Pop,         // a "]" found the top of the stack empty
};

// The top of the turtle's stack, above what the stack itself holds, kept in the walk's
// own frame: pushes and pops there need no call, and a loop without calls can keep the
// turtle's position, heading and step in registers. Every call the walk needs (a step
// vector worked out, the stack grown or shrunk, a question to keepGoing) waits outside
// the inner loop, which stops for it.
inline constexpr int kTopEntries = 64;

// The walk's state while its inner loop runs.
struct Walker {
    float x;
    float y;
    float heading;
    double dx;  // the step vector of the heading
    double dy;
    float floatDx;  // the same as floats, exact while the step table's floatSteps() holds
    float floatDy;
    const char* p;
    int topUsed;  // entries in top
    TurtleState top[kTopEntries];
};

// Steps in float arithmetic where FloatSteps, else in double: the same positions to the
// bit while the step table's floatSteps() holds.
template <bool FloatSteps>
struct StepOf {
    using Type = double;
    static double& dx(Walker& w) { return w.dx; }
    static double& dy(Walker& w) { return w.dy; }
    static float step(double d, float position) { return static_cast<float>(d + static_cast<double>(position)); }
};

template <>
struct StepOf<true> {
    using Type = float;
    static float& dx(Walker& w) { return w.floatDx; }
    static float& dy(Walker& w) { return w.floatDy; }
    static float step(float d, float position) { return position + d; }
};

template <bool FloatSteps, class Sink>
[[gnu::always_inline]] inline Stop walkLetters(Walker& w, const char* const end, const StepTable& steps, float delta,
                                               int topRoom, Sink& sink)
{
    using Step = StepOf<FloatSteps>;
    float x = w.x;
    float y = w.y;
    float heading = w.heading;
    typename Step::Type dx = Step::dx(w);
    typename Step::Type dy = Step::dy(w);
    const char* p = w.p;
    int topUsed = w.topUsed;
    Stop stop = Stop::StretchEnd;
    for (; p != end; ++p) {
        switch (*p) {
        case 'F': {
            const float nx = Step::step(dx, x);
            const float ny = Step::step(dy, y);
            sink.line(x, y, nx, ny);
            x = nx;
            y = ny;
            break;
        }
        case 'f':
            x = Step::step(dx, x);
            y = Step::step(dy, y);
            break;
        case '+':
            heading = heading + delta;
            if (outsideFullTurn(heading)) heading = wrapHeading(heading);
            if (!steps.find(heading, dx, dy)) goto missed;
            break;
        case '-':
            heading = heading - delta;
            if (outsideFullTurn(heading)) heading = wrapHeading(heading);
            if (!steps.find(heading, dx, dy)) goto missed;
            break;
        case '|':
            heading = heading + 180.0f;
            if (heading > 360.0f) heading = heading - 360.0f;
            if (!steps.find(heading, dx, dy)) goto missed;
            break;
        case '[':
            if (topUsed == topRoom) {
                stop = Stop::Push;
                goto stopped;
            }
            w.top[topUsed++] = TurtleState{x, y, heading};
            break;
        case ']':
            if (topUsed == 0) {
                stop = Stop::Pop;
                goto stopped;
            }
            --topUsed;
            x = w.top[topUsed].x;
            y = w.top[topUsed].y;
            heading = w.top[topUsed].heading;
            if (!steps.find(heading, dx, dy)) goto missed;
            break;
        default:  // every other byte is no command
            break;
        }
    }
    goto stopped;
missed:
    ++p;
    stop = Stop::Miss;
stopped:
    w.x = x;
    w.y = y;
    w.heading = heading;
    Step::dx(w) = dx;
    Step::dy(w) = dy;
    w.p = p;
    w.topUsed = topUsed;
    return stop;
}

// Sinks of a few plain values, such as the bounds of a measuring pass, are copied into
// the inner loop and back, so that what they gather stays in registers too.
template <class Sink>
inline constexpr bool kCopiedIntoWalk =
    std::is_trivially_copyable_v<Sink> && std::is_copy_assignable_v<Sink> && sizeof(Sink) <= 64;

// walkLetters out of line, for a sink that is not copied.
template <bool FloatSteps, class Sink>
[[gnu::noinline]] Stop innerWalk(Walker& w, const char* const end, const StepTable& steps, float delta, int topRoom,
                                 Sink& sink)
{
    return walkLetters<FloatSteps>(w, end, steps, delta, topRoom, sink);
}

// GCC's SLP vectoriser would keep a copied sink's fields packed in one vector register
// and unpack and pack them at every line. Other compilers neither do that nor know the
// attribute that turns it off.
#if defined(__GNUC__) && !defined(__clang__)
#define TENDRILVIEW_NO_SLP_VECTORIZE __attribute__((optimize("no-tree-slp-vectorize")))
#else
#define TENDRILVIEW_NO_SLP_VECTORIZE
#endif

// The same with the sink copied in and back, so that its fields live in registers.
template <bool FloatSteps, class Sink>
[[gnu::noinline]] TENDRILVIEW_NO_SLP_VECTORIZE Stop innerWalkCopied(Walker& w, const char* const end,
                                                                   const StepTable& steps, float delta, int topRoom,
                                                                   Sink& sink)
{
    Sink copied = sink;
    const Stop stop = walkLetters<FloatSteps>(w, end, steps, delta, topRoom, copied);
    sink = copied;
    return stop;
}

// Looks up the step vector of the walker's heading, in both of its forms.
inline void lookupStep(StepTable& steps, Walker& w)
{
    steps.lookup(w.heading, w.dx, w.dy);
    w.floatDx = static_cast<float>(w.dx);
    w.floatDy = static_cast<float>(w.dy);
}

// The inner loop that suits the sink and the steps looked up so far.
template <class Sink>
Stop walkStretch(Walker& w, const char* const end, const StepTable& steps, float delta, int topRoom, Sink& sink)
{
    if constexpr (kCopiedIntoWalk<Sink>) {
        if (steps.floatSteps()) return innerWalkCopied<true>(w, end, steps, delta, topRoom, sink);
        return innerWalkCopied<false>(w, end, steps, delta, topRoom, sink);
    } else {
        if (steps.floatSteps()) return innerWalk<true>(w, end, steps, delta, topRoom, sink);
        return innerWalk<false>(w, end, steps, delta, topRoom, sink);
    }
}

// Moves the top's entries onto the end of the stack. False where memory ran out: what
// did not fit stays in the top.
bool lowerTop(Walker& w, std::deque<TurtleState>& stack);

// Moves up to half the top's room of the stack's last entries into the top, which is
// empty.
void raiseTop(Walker& w, std::deque<TurtleState>& stack);

}  // namespace detail

// One pass over the letters [begin, end) of `word`, from the state in `turtle` and
// `stack`, calling sink.line for every F in word order. A stack error ends the pass where
// it happens. The stack holds at most `stackCeiling` entries, so that a word of a billion
// "[" can't take all memory. `keepGoing`, when not empty, is asked after every
// kLettersPerQuestion letters; a `log`, when given, gets a checkpoint at some of those
// stops. `turtle` and `stack` are left as the pass left them.
template <class Sink>
WalkEnd walkRange(const std::string& word, std::size_t begin, std::size_t end, std::uint32_t d, float delta,
                  std::uint64_t stackCeiling, TurtleState& turtle, std::deque<TurtleState>& stack, Sink& sink,
                  const KeepGoing& keepGoing = {}, CheckpointLog* log = nullptr)
{
    StepTable steps(d);
    detail::Walker w;
    w.x = turtle.x;
    w.y = turtle.y;
    w.heading = turtle.heading;
    detail::lookupStep(steps, w);
    w.topUsed = 0;
    std::size_t nextCheckpoint = log ? begin + log->spacing : 0;
    const auto ends = [&](WalkEnd how) {
        turtle = TurtleState{w.x, w.y, w.heading};
        return how;
    };

    // A plain loop over bytes with the state in locals: this runs for every letter of
    // words of hundreds of millions of letters, at every redraw. The step vector changes
    // only with the heading, so it is looked up on a turn or a pop, never per step.
    // Heading sums are written in float: one float operation rounds exactly as the same
    // operation done in double and then rounded, since double has over twice the digits.
    // The stack is whole (the top lowered onto it) wherever the walk stops between
    // stretches, and wherever it ends.
    const char* const first = word.data();
    w.p = first + begin;
    const char* const last = first + end;
    for (;;) {
        const char* const stretchEnd =
            static_cast<std::size_t>(last - w.p) > kLettersPerQuestion ? w.p + kLettersPerQuestion : last;
        while (w.p != stretchEnd) {
            // The top never takes the stack past its ceiling.
            const std::uint64_t below = stack.size();
            const std::uint64_t room = stackCeiling > below ? stackCeiling - below : 0;
            const int topRoom = room < detail::kTopEntries ? static_cast<int>(room) : detail::kTopEntries;
            switch (detail::walkStretch(w, stretchEnd, steps, delta, topRoom, sink)) {
            case detail::Stop::StretchEnd:
                break;
            case detail::Stop::Miss:
                detail::lookupStep(steps, w);
                break;
            case detail::Stop::Push:
                // The stack is at its ceiling, or the top is full and goes onto the stack.
                if (!detail::lowerTop(w, stack) || stack.size() >= stackCeiling) return ends(WalkEnd::FullStack);
                break;
            case detail::Stop::Pop:
                if (stack.empty()) return ends(WalkEnd::EmptyStack);
                detail::raiseTop(w, stack);
                break;
            }
        }
        if (!detail::lowerTop(w, stack)) return ends(WalkEnd::FullStack);
        if (w.p == last) break;
        const auto offset = static_cast<std::size_t>(w.p - first);
        if (log && offset >= nextCheckpoint) {
            nextCheckpoint = offset + log->spacing;
            if (!log->record(offset, TurtleState{w.x, w.y, w.heading}, stack)) log = nullptr;
        }
        if (keepGoing && !keepGoing()) return ends(WalkEnd::Abandoned);
    }
    return ends(WalkEnd::Finished);
}

// One pass over the whole of `word`: starts at (0, 0) with heading 270 and an empty
// stack, as every pass does; otherwise as walkRange.
template <class Sink>
WalkEnd walkWord(const std::string& word, std::uint32_t d, float delta, std::uint64_t stackCeiling,
                 TurtleState& turtle, std::deque<TurtleState>& stack, Sink& sink,
                 const KeepGoing& keepGoing = {}, CheckpointLog* log = nullptr)
{
    turtle = TurtleState{0.0f, 0.0f, 270.0f};
    stack.clear();
    return walkRange(word, 0, word.size(), d, delta, stackCeiling, turtle, stack, sink, keepGoing, log);
}

}  // namespace turtle
