// The matchers for long match texts: those longer than the rule trie is deep
// (kTrieDepth). At scan positions where the trie can't decide, they give the first rule
// in list order whose long match text begins there. An Aho-Corasick automaton
// (LongTextAutomaton) when there is room for it, rolling hashes per distinct text
// length (LongTextHashes) when there is not; LongTextFinder holds one scan's state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lsystem/lsystem.h"
#include "lsystem/progress.h"

namespace rewriting {

constexpr std::uint32_t kNoRule = 0xffffffffu;

// The trie holds the first kTrieDepth bytes of every match text; longer ones are found
// here, in a time that does not grow with their length.
constexpr std::size_t kTrieDepth = 16;

// A rule found at a scan position, or kNoRule, with the bytes it consumes (1 with
// kNoRule: the byte copied).
struct Match {
    std::uint32_t rule;
    std::size_t length;
};

// The long match texts reversed in an Aho-Corasick automaton, which reads the word
// backwards: the texts that begin at a position are then the reversed texts that end
// where the reading arrives there. Each state keeps the lowest rule among all texts
// that end on its chain of fallbacks, so one backward pass over a block of positions
// gives the first rule in list order whose long match text begins at each. The reading
// starts as many bytes past the block as the longest text, and blocks are at least that
// long, so that the time stays within a few passes over the word. Memory: about 21
// bytes per byte of the long texts.
//
// States are numbers into parallel arrays; state 0 is the root, whose children are
// looked up in a table, and every other state's children form a list.
class LongTextAutomaton {
public:
    // The bytes that an automaton for these rules takes at most, building and scanning
    // included; 0 when no match text is long.
    static std::uint64_t bytesNeeded(const std::vector<Rule>& rules);

    LongTextAutomaton(const std::vector<Rule>& rules, Progress& progress);

    // The number of scan positions that firstRules handles at once.
    std::size_t blockLength() const;

    // For each position p in [start, end) of in[0..size), the first rule in list order
    // whose long match text begins at p, or kNoRule; into out[p - start].
    void firstRules(const unsigned char* in, std::size_t size, std::size_t start, std::size_t end,
                    std::uint32_t* out, Progress& progress) const;

private:
    std::uint32_t child(std::uint32_t s, unsigned char c) const;  // of state s along c, or 0
    std::uint32_t step(std::uint32_t s, unsigned char c) const;   // the state after reading c in s

    std::uint32_t rootChild_[256] = {};
    std::vector<std::uint32_t> firstChild_;
    std::vector<std::uint32_t> nextSibling_;
    std::vector<unsigned char> byte_;       // of the edge into the state
    std::vector<std::uint32_t> fallback_;   // the state of the longest proper suffix
    std::vector<std::uint32_t> firstRule_;  // the lowest rule ending here or on the fallbacks
    std::size_t longest_ = 0;               // the longest match text
};

// The long match texts by their hashes, one table per distinct length, for when the
// automaton does not fit: memory in proportion to the number of rules, not to their
// text. A scan keeps one rolling hash per length (LongTextFinder), moved forward to each
// position that asks, so that each length costs at most one pass over the word; a text
// whose hash matches is compared byte for byte, lowest rule first, and the first one
// that matches is the answer, whose bytes the scan then consumes.
class LongTextHashes {
public:
    // Takes about 32 bytes per long text, less than the text itself.
    LongTextHashes(const std::vector<Rule>& rules, Progress& progress);

    struct Entry {
        std::uint64_t hash;
        std::uint32_t rule;
    };
    struct Length {
        std::size_t bytes;          // of each text of this length
        std::uint64_t power;        // the hash's base to the power bytes - 1
        std::size_t first, last;    // its entries, sorted by hash, then rule
    };

    const std::vector<Length>& lengths() const { return lengths_; }  // shortest first
    const std::vector<Entry>& entries() const { return entries_; }

    // The hash of text[0..bytes), and the one of the window moved one byte on.
    static std::uint64_t hash(const unsigned char* text, std::size_t bytes);
    static std::uint64_t roll(std::uint64_t hash, unsigned char out, unsigned char in, std::uint64_t power);

private:
    std::vector<Length> lengths_;
    std::vector<Entry> entries_;
};

// One scan's view of the long texts of a word: the first rule in list order whose long
// match text begins at a scan position. Scan positions only move forward.
class LongTextFinder {
public:
    LongTextFinder(const std::vector<Rule>& rules, const LongTextAutomaton* automaton, const LongTextHashes* hashes,
                   const std::string& word, Progress& progress);

    // The first rule below `below` in list order whose long match text begins at p, and
    // its length; kNoRule when there is none.
    Match firstMatchAt(const unsigned char* p, std::uint32_t below);

private:
    std::uint32_t fromAutomaton(std::size_t at);
    std::uint32_t fromHashes(std::size_t at, std::uint32_t below);

    const std::vector<Rule>& rules_;
    const LongTextAutomaton* automaton_;
    const LongTextHashes* hashes_;
    const unsigned char* in_;
    std::size_t size_;
    Progress& progress_;
    // The automaton's answers for the block [start_, end_) of the word.
    std::size_t start_ = 0;
    std::size_t end_ = 0;
    std::vector<std::uint32_t> blockRules_;
    // Per length of hashes_: the window's position (npos before the first) and hash.
    struct Window {
        std::size_t at;
        std::uint64_t hash;
    };
    std::vector<Window> windows_;
    std::vector<std::uint32_t> candidates_;  // rules whose hash matched, for one position
};

}  // namespace rewriting
