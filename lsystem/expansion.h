// Several iterations at once, for rules that the first byte always decides (every step
// replaces or copies one byte by itself). The last iterations of such a production
// turn each letter c of an earlier word into a fixed text E(c), its own expansion, so
// the final word is the earlier word with each letter replaced by E(c): a few long
// copies from a table that stays in the cache, instead of a scan per iteration over
// words that are each written once and read once. The table is kept small
// (kExpansionLetters in all), which decides how many iterations are taken at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lsystem/compiled_rules.h"
#include "lsystem/progress.h"
#include "lsystem/word_scans.h"

namespace rewriting {

// The most letters that the expansions of one jump take together.
constexpr std::uint64_t kExpansionLetters = 256 * 1024;

// The most iterations that one jump takes; looked ahead over by letter counts.
constexpr std::uint64_t kMostIterationsAtOnce = 64;

// How each letter's expansion grows, per iteration, learnt once from the rules.
class ExpansionGrowth {
public:
    explicit ExpansionGrowth(const CompiledRules& rules, Progress& progress);

    // False when a rule's output alone is longer than the table may be.
    bool usable() const { return usable_; }

    // The letters that the expansions of the letters counted in counts take after
    // iterations iterations, up to kExpansionLetters + 1.
    std::uint64_t tableLetters(const LetterCounts& counts, std::uint64_t iterations) const;

private:
    struct Part {
        unsigned char letter;
        std::uint64_t times;  // how often it stands in the rule's output
    };
    std::vector<Part> parts_[256];  // of each byte with a one-byte rule
    bool usable_ = true;
};

// The expansions of the letters counted in counts after iterations iterations, and the
// word they make of an earlier word.
class Expansion {
public:
    Expansion(const CompiledRules& rules, const LetterCounts& counts, std::uint64_t iterations, Progress& progress);

    // Writes into out, whose capacity must hold length bytes, the word that the
    // iterations make of word; length is that word's length.
    void write(const std::string& word, std::string& out, std::size_t length, Progress& progress) const;

private:
    std::string text_;                // all expansions, side by side
    std::size_t offset_[256] = {};    // of each letter's expansion in text_
    std::size_t length_[256] = {};    // of each letter's expansion
};

}  // namespace rewriting
