// The scans of one iteration over a word: the measuring scan (the next word's length
// and replacement count, without writing it), the same from letter counts where the
// first byte decides every step, and the writing scan. Each scan holds the
// production's Progress and tells it the work done.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "lsystem/compiled_rules.h"
#include "lsystem/progress.h"

namespace rewriting {

// Counts of each byte value in a word.
using LetterCounts = std::array<std::uint64_t, 256>;

// The outcome of one walk through the trie, kept from the measuring scan for the
// writing one: the rule's index + 1, or 0 when no rule matched.
using Decision = std::uint16_t;

// At most one decision (two bytes) is kept per this many letters of the word being
// scanned, so that the word, the next word and the decisions stay well under 2.5
// bytes per letter when the word keeps its length; past that, the writing scan walks
// the trie again.
constexpr std::size_t kLettersPerDecision = 8;

// True when every rule index of rules fits in a Decision.
inline bool decisionsCanName(const std::vector<Rule>& rules) { return rules.size() < 0xffff; }

struct Measure {
    std::uint64_t length = 0;    // letters of the next word
    std::uint64_t replaces = 0;  // rules applied in the iteration
    bool overLimit = false;      // the next word would be longer than the limit
};

LetterCounts countLetters(const std::string& word, Progress& progress);

// Length and replacement count of the next word of word. Stops early (overLimit) once
// the length passes limit. The outcomes of trie walks are kept in decisions while its
// capacity lasts.
Measure measureWord(const CompiledRules& rules, const std::string& word, std::uint64_t limit,
                    std::vector<Decision>& decisions, Progress& progress);

// The same from the letter counts of the word; only when decidedByFirstByte().
Measure measureByCounts(const CompiledRules& rules, const LetterCounts& counts, std::uint64_t limit);

// The letter counts of the next word; only when decidedByFirstByte().
LetterCounts nextCounts(const CompiledRules& rules, const LetterCounts& counts, Progress& progress);

// Writes the next word of word into out, whose capacity must hold length + kFixedBlock
// bytes; length and decisions are what measureWord left for the same word (or length
// what measureByCounts gave, and no decisions).
void rewriteWord(const CompiledRules& rules, const std::string& word, std::string& out, std::size_t length,
                 const std::vector<Decision>& decisions, Progress& progress);

}  // namespace rewriting
