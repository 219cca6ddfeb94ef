// Several iterations at once for rules with closed outputs (see piece_expansion.h).
#include "lsystem/piece_expansion.h"

#include <algorithm>
#include <cstring>

#include "lsystem/expansion.h"

namespace rewriting {

namespace {

constexpr std::uint64_t kTooMany = std::uint64_t(1) << 62;

std::uint64_t addCapped(std::uint64_t a, std::uint64_t b) { return std::min(kTooMany, a + b); }
std::uint64_t multiplyCapped(std::uint64_t a, std::uint64_t b)
{
    return a != 0 && b > kTooMany / a ? kTooMany : std::min(kTooMany, a * b);
}

}  // namespace

PieceExpansion::PieceExpansion(const std::vector<Rule>& rules, const CompiledRules& compiled, Progress& progress)
    : compiled_(compiled), ruleCount_(static_cast<std::uint32_t>(rules.size()))
{
    if (compiled.trie().hasLongTexts() || rules.size() > 65536) {
        usable_ = false;
        return;
    }
    kinds_ = ruleCount_ + 256;
    output_.resize(kinds_);
    closed_.assign(kinds_, true);
    pieces_.resize(kinds_);
    for (std::uint32_t kind = 0; kind < kinds_; ++kind) {
        if (kind < ruleCount_) {
            const std::size_t length = compiled.output(kind).length;
            if (length > kExpansionLetters) {
                usable_ = false;
                return;
            }
            output_[kind].assign(compiled.outputText(kind), length);
        } else {
            output_[kind].assign(1, static_cast<char>(kind - ruleCount_));
        }
        progress.did(output_[kind].size());
        const auto* text = reinterpret_cast<const unsigned char*>(output_[kind].data());
        const std::size_t size = output_[kind].size();
        for (std::size_t i = 0; i < size;) {
            bool closed = true;
            const Match match = compiled.trie().isolatedMatch(text + i, size - i, closed);
            if (!closed) {
                closed_[kind] = false;
                break;
            }
            pieces_[kind].push_back(match.rule == kNoRule ? copied(text[i]) : match.rule);
            i += match.length;
        }
        // Every rule that can be applied must have a closed output, or no jump is
        // tried: a plan scans the whole word. A byte copied is looked at where it
        // occurs.
        if (kind < ruleCount_ && !closed_[kind] && !rules[kind].matchText.empty()) {
            usable_ = false;
            return;
        }
    }
}

template <typename Visit>
void PieceExpansion::scanPieces(const std::string& word, Progress& progress, Visit visit) const
{
    const auto* in = reinterpret_cast<const unsigned char*>(word.data());
    const std::size_t size = word.size();
    LongTextFinder none = compiled_.longTextFinder(word, progress);
    for (std::size_t i = 0; i < size;) {
        const Match match = compiled_.trie().firstMatch<false>(in + i, size - i, none);
        visit(match.rule == kNoRule ? copied(in[i]) : match.rule);
        progress.did(match.length);
        i += match.length;
    }
}

PieceExpansion::Plan PieceExpansion::plan(const std::string& word, std::uint64_t iterations, std::uint64_t limit,
                                          Progress& progress)
{
    Plan result;
    present_.assign(kinds_, 0);
    scanPieces(word, progress, [&](std::uint32_t kind) { ++present_[kind]; });

    // Every kind that occurs, now or in an expansion, must be closed.
    std::vector<bool> reached(kinds_, false);
    std::vector<std::uint32_t> queue;
    for (std::uint32_t kind = 0; kind < kinds_; ++kind) {
        if (present_[kind] != 0) {
            reached[kind] = true;
            queue.push_back(kind);
        }
    }
    for (std::size_t q = 0; q < queue.size(); ++q) {
        if (!closed_[queue[q]]) {
            result.never = true;
            return result;
        }
        for (const std::uint32_t piece : pieces_[queue[q]]) {
            if (!reached[piece]) {
                reached[piece] = true;
                queue.push_back(piece);
            }
        }
    }

    // Each iteration's length and replacements from the counts of the pieces it scans,
    // and the expansions' letters: of a kind after j iterations, the letters of its
    // pieces' expansions after j - 1.
    std::vector<std::uint64_t> counts = present_;
    std::vector<std::uint64_t> letters(kinds_);
    for (std::uint32_t kind = 0; kind < kinds_; ++kind) {
        letters[kind] = output_[kind].size();
    }
    for (std::uint64_t j = 0; j < iterations; ++j) {
        std::uint64_t length = 0;
        std::uint64_t replaces = 0;
        std::vector<std::uint64_t> next(kinds_, 0);
        for (std::uint32_t kind = 0; kind < kinds_; ++kind) {
            if (counts[kind] == 0) {
                continue;
            }
            length = addCapped(length, multiplyCapped(counts[kind], output_[kind].size()));
            if (kind < ruleCount_) {
                replaces += counts[kind];
            }
            for (const std::uint32_t piece : pieces_[kind]) {
                next[piece] = addCapped(next[piece], counts[kind]);
            }
        }
        progress.did(kinds_);
        if (length > limit || replaces == 0) {
            result.never = true;
            return result;
        }
        result.replaces += replaces;
        result.length = length;
        counts.swap(next);
        if (j + 1 < iterations) {
            std::vector<std::uint64_t> grown(kinds_, 0);
            for (std::uint32_t kind = 0; kind < kinds_; ++kind) {
                for (const std::uint32_t piece : pieces_[kind]) {
                    grown[kind] = addCapped(grown[kind], letters[piece]);
                }
            }
            letters.swap(grown);
        }
    }
    std::uint64_t table = 0;
    for (std::uint32_t kind = 0; kind < kinds_; ++kind) {
        if (present_[kind] != 0) {
            table = addCapped(table, letters[kind]);
        }
    }
    result.taken = table <= kExpansionLetters;
    return result;
}

PieceExpansion::Table PieceExpansion::table(std::uint64_t iterations, Progress& progress) const
{
    // Each present kind's expansion: its pieces after iterations - 1 rewritings, their
    // outputs side by side.
    Table table;
    std::string& text = table.text;
    std::vector<std::size_t>& offset = table.offset;
    std::vector<std::size_t>& size = table.size;
    offset.assign(kinds_, 0);
    size.assign(kinds_, 0);
    std::vector<std::uint32_t> level;
    std::vector<std::uint32_t> nextLevel;
    for (std::uint32_t kind = 0; kind < kinds_; ++kind) {
        if (present_[kind] == 0) {
            continue;
        }
        level.assign(1, kind);
        for (std::uint64_t j = 1; j < iterations; ++j) {
            nextLevel.clear();
            for (const std::uint32_t piece : level) {
                nextLevel.insert(nextLevel.end(), pieces_[piece].begin(), pieces_[piece].end());
            }
            progress.did(nextLevel.size());
            level.swap(nextLevel);
        }
        offset[kind] = text.size();
        for (const std::uint32_t piece : level) {
            text += output_[piece];
        }
        size[kind] = text.size() - offset[kind];
        progress.did(size[kind]);
    }
    return table;
}

void PieceExpansion::write(const std::string& word, const Table& table, std::string& out, std::size_t length,
                           Progress& progress) const
{
    const std::string& text = table.text;
    const std::vector<std::size_t>& offset = table.offset;
    const std::vector<std::size_t>& size = table.size;
    constexpr std::size_t kGrowStep = 256 * 1024;
    out.clear();
    std::size_t filled = 0;
    std::size_t o = 0;
    scanPieces(word, progress, [&](std::uint32_t kind) {
        const std::size_t count = size[kind];
        if (o + count > filled) {
            filled = std::min(length, std::max(o + count, filled + kGrowStep));
            out.resize(filled);
        }
        std::memcpy(&out[o], text.data() + offset[kind], count);
        o += count;
        progress.did(count);
    });
}

}  // namespace rewriting
