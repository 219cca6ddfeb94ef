// The L-system object: parameters, rules, the current word and the turtle's state.
// readDescription fills it from a file, produce rewrites the axiom into the word,
// render (in the turtle library) walks the word and frames or draws it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Asked now and then during long work: false abandons it. An empty one never abandons.
using KeepGoing = std::function<bool()>;

namespace turtle {
class Replay;  // what the turtle keeps between passes; defined by the turtle library
}

// One entry of the turtle's stack; copied whole onto and off it.
struct TurtleState {
    float x;
    float y;
    float heading;  // degrees; 0 right, 90 down, 270 up on the screen
};

// One rewriting rule. All fields are byte strings; one byte is one symbol.
struct Rule {
    std::string predecessor;   // the letters replaced; never empty
    std::string leftContext;   // must stand right before the predecessor; may be empty
    std::string rightContext;  // must stand right after the predecessor; may be empty
    std::string matchText;     // leftContext + predecessor + rightContext
    std::string successor;     // takes the predecessor's place; may be empty
};

// The longest word whose letter count prints right through "%u".
constexpr std::uint64_t kLongestCountedWord = 4294967295u;

class LSystem {
public:
    // Reads a description file into the parameters, the axiom and the rules and
    // prints what it understood on standard output; returns true. keepGoing, when not
    // empty, is asked at least every 20 ms while the file is awaited (a FIFO, a
    // terminal), after each 256 KiB read and before each rule of the summary; when it
    // says false, the reading stops at once, keeps what was applied, prints nothing
    // more and returns false.
    bool readDescription(const char* path, const KeepGoing& keepGoing = {});

    // Sets word to the axiom rewritten n times and prints the rewriting report; returns
    // true. keepGoing, when not empty, is asked before each iteration and at least once
    // per million or so letters scanned or written; when it says false, produce stops
    // at once, leaves word empty, prints nothing more and returns false.
    bool produce(const KeepGoing& keepGoing = {});

    // One turtle pass over word: a measuring pass (draw false) sets the projection,
    // a drawing pass (draw true) draws into the current buffer; report prints the
    // line count. A drawing pass of the same word, d, delta and projection as the last
    // one draws that one's finished image again instead of walking the word.
    // keepGoing is asked at least once per million or so letters walked; when it says
    // false the pass stops at once, prints nothing and returns false; otherwise true.
    // Defined by the turtle library.
    bool render(bool draw, bool report, const KeepGoing& keepGoing = {});

    float x = 0.0f;  // turtle position; every pass starts at (0, 0)
    float y = 0.0f;
    float heading = 270.0f;
    std::deque<TurtleState> stack;  // used last-in first-out at its back

    std::uint32_t n = 1;    // rewriting iterations
    std::uint32_t d = 1;    // step length of F and f
    float delta = 90.0f;    // turning angle of + and -, degrees
    std::string axiom;
    std::vector<Rule> rules;  // in file order, which is the order of priority
    std::string word;         // the axiom after n iterations

    // The ceilings, which whoever assembles the program sets from the machine's memory
    // (main does so once); tests set their own. By default only the count bounds them.
    // The longest word produce may make; an iteration that would cross it is abandoned.
    std::uint64_t wordCeiling = kLongestCountedWord;

    // The most memory, in bytes, that readDescription lets the axiom and the rules take;
    // past it reading stops, so that a file larger than memory can't exhaust it.
    std::uint64_t descriptionCeiling = UINT64_MAX;

    // The deepest the turtle's stack may grow; a "[" past it ends the pass.
    std::uint64_t stackCeiling = UINT64_MAX;

    // Called by produce on each large buffer for a word that it has just taken and not
    // yet written, so that the system may back it with large pages; main sets it. Null:
    // plain memory.
    void (*prepareLargeBuffer)(void* data, std::size_t bytes) = nullptr;

    // The storage of the last production's other word, kept by produce for the next
    // one: at most about as large as the largest word made.
    std::string spareWord;

    // Kept by the turtle library between passes: whether the projection in force frames
    // the word, and the last drawing pass's finished image. Empty until a pass.
    std::shared_ptr<turtle::Replay> replay;
};
