// Several iterations at once for rules whose outputs are closed: scanned alone, each
// rule's output is cut into the same steps (pieces) as wherever it stands, because no
// match text that could win reaches past its end. A word's next word is then the
// outputs of its pieces side by side, and so on: after k iterations each piece of a
// word has become a fixed text, its expansion, and the final word is the word's pieces
// replaced by their expansions. The two-letter predecessors of the Gosper curve and
// the bracket contexts of examples/context-tree.lsys are such rules. Piece counts give
// each skipped iteration's length and replacements, for the ceiling and the report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lsystem/compiled_rules.h"
#include "lsystem/progress.h"

namespace rewriting {

class PieceExpansion {
public:
    // Learns how each kind of piece (a rule applied, or a byte copied) rewrites alone.
    PieceExpansion(const std::vector<Rule>& rules, const CompiledRules& compiled, Progress& progress);

    // False when some rule's output is not closed or too long for the table, or the
    // rules have long match texts: jumps are never taken.
    bool usable() const { return usable_; }

    // The outcome of planning iterations iterations at once from word.
    struct Plan {
        bool taken = false;      // the jump can be made
        bool never = false;      // no later jump of this production can be made either
        std::uint64_t length = 0;    // of the final word
        std::uint64_t replaces = 0;  // in all the iterations
    };
    // Taken only when each piece that occurs is closed, the expansions take at most
    // kExpansionLetters, and no iteration passes limit or replaces nothing.
    Plan plan(const std::string& word, std::uint64_t iterations, std::uint64_t limit, Progress& progress);

    // The expansions of the kinds in the last plan's word after iterations iterations.
    struct Table {
        std::string text;
        std::vector<std::size_t> offset, size;  // of each kind's expansion in text
    };
    Table table(std::uint64_t iterations, Progress& progress) const;

    // Writes the final word of the last plan taken, of length letters, into out.
    void write(const std::string& word, const Table& table, std::string& out, std::size_t length,
               Progress& progress) const;

private:
    // A kind of piece: rule r is r, byte c copied is rules + c.
    std::uint32_t copied(unsigned char c) const { return ruleCount_ + c; }
    // The kind of the piece that starts at p in a scan of p[0..rest) in its word.
    template <typename Visit>
    void scanPieces(const std::string& word, Progress& progress, Visit visit) const;

    const CompiledRules& compiled_;
    std::uint32_t ruleCount_ = 0;
    std::uint32_t kinds_ = 0;
    bool usable_ = true;
    std::vector<std::string> output_;                 // of each kind
    std::vector<bool> closed_;                        // of each kind
    std::vector<std::vector<std::uint32_t>> pieces_;  // of each kind's output, scanned alone
    std::vector<std::uint64_t> present_;              // counts of the kinds in the last plan's word
};

}  // namespace rewriting
