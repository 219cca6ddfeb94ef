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
#include <vector>

#include "lsystem/lsystem.h"

namespace turtle {

// pi as the double value of the single-precision constant 3.1415927.
inline constexpr double kPi = static_cast<double>(3.1415927f);

// The step vector of one F or f at `heading` with step length `length`:
// radians rounded to float, cosine and sine each rounded to float, then multiplied
// by the length. Both factors have 24-bit significands, so the products are exact in
// double and x = float(dx + x) equals float(float(cos) * length + x).
inline void stepVector(float heading, float length, double& dx, double& dy)
{
    const float radians = static_cast<float>(static_cast<double>(heading) * kPi / 180.0);
    const float c = static_cast<float>(std::cos(static_cast<double>(radians)));
    const float s = static_cast<float>(std::sin(static_cast<double>(radians)));
    dx = static_cast<double>(c) * static_cast<double>(length);
    dy = static_cast<double>(s) * static_cast<double>(length);
}

// Memo of step vectors by the bit pattern of the heading, for one pass (one length).
// Direct-mapped: a collision only recomputes, and the result is the same function of
// the same bits, so a lookup is bit-identical to calling stepVector.
class StepTable {
public:
    explicit StepTable(std::uint32_t d) : length_(static_cast<float>(d)) {}

    void lookup(float heading, double& dx, double& dy)
    {
        std::uint32_t bits;
        std::memcpy(&bits, &heading, sizeof bits);
        Entry& e = entries_[(bits * 0x9E3779B1u) >> (32 - kSlotBits)];
        const std::uint64_t key = kValid | bits;
        if (e.key != key) {
            stepVector(heading, length_, e.dx, e.dy);
            e.key = key;
        }
        dx = e.dx;
        dy = e.dy;
    }

private:
    static constexpr int kSlotBits = 10;
    static constexpr std::uint64_t kValid = std::uint64_t{1} << 32;  // set in every filled key
    struct Entry {
        std::uint64_t key = 0;  // kValid | heading bits; 0 while empty
        double dx = 0.0;
        double dy = 0.0;
    };
    std::array<Entry, std::size_t{1} << kSlotBits> entries_{};
    float length_;
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
    float x = turtle.x;
    float y = turtle.y;
    float heading = turtle.heading;
    double dx;
    double dy;
    steps.lookup(heading, dx, dy);
    std::size_t nextCheckpoint = log ? begin + log->spacing : 0;

    // A plain loop over bytes with the state in locals: this runs for every letter of
    // words of hundreds of millions of letters, at every redraw. The step vector changes
    // only with the heading, so it is looked up on a turn or a pop, never per step.
    // Heading sums are written in float: one float operation rounds exactly as the same
    // operation done in double and then rounded, since double has over twice the digits.
    const char* const first = word.data();
    const char* p = first + begin;
    const char* const last = first + end;
    for (;;) {
        const char* const stretchEnd =
            static_cast<std::size_t>(last - p) > kLettersPerQuestion ? p + kLettersPerQuestion : last;
        for (; p != stretchEnd; ++p) {
            switch (*p) {
            case 'F': {
                const float nx = static_cast<float>(dx + static_cast<double>(x));
                const float ny = static_cast<float>(dy + static_cast<double>(y));
                sink.line(x, y, nx, ny);
                x = nx;
                y = ny;
                break;
            }
            case 'f':
                x = static_cast<float>(dx + static_cast<double>(x));
                y = static_cast<float>(dy + static_cast<double>(y));
                break;
            case '+':
                heading = heading + delta;
                if (outsideFullTurn(heading)) heading = wrapHeading(heading);
                steps.lookup(heading, dx, dy);
                break;
            case '-':
                heading = heading - delta;
                if (outsideFullTurn(heading)) heading = wrapHeading(heading);
                steps.lookup(heading, dx, dy);
                break;
            case '|':
                heading = heading + 180.0f;
                if (heading > 360.0f) heading = heading - 360.0f;
                steps.lookup(heading, dx, dy);
                break;
            case '[':
                if (stack.size() >= stackCeiling) {
                    turtle = TurtleState{x, y, heading};
                    return WalkEnd::FullStack;
                }
                try {
                    stack.push_back(TurtleState{x, y, heading});
                } catch (const std::bad_alloc&) {
                    turtle = TurtleState{x, y, heading};
                    return WalkEnd::FullStack;
                }
                break;
            case ']':
                if (stack.empty()) {
                    turtle = TurtleState{x, y, heading};
                    return WalkEnd::EmptyStack;
                }
                x = stack.back().x;
                y = stack.back().y;
                heading = stack.back().heading;
                stack.pop_back();
                steps.lookup(heading, dx, dy);
                break;
            default:  // every other byte is no command
                break;
            }
        }
        if (p == last) break;
        const auto offset = static_cast<std::size_t>(p - first);
        if (log && offset >= nextCheckpoint) {
            nextCheckpoint = offset + log->spacing;
            if (!log->record(offset, TurtleState{x, y, heading}, stack)) log = nullptr;
        }
        if (keepGoing && !keepGoing()) {
            turtle = TurtleState{x, y, heading};
            return WalkEnd::Abandoned;
        }
    }
    turtle = TurtleState{x, y, heading};
    return WalkEnd::Finished;
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
