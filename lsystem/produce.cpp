// The rewriting engine's driver: LSystem::produce rewrites the axiom n times with the
// rules and prints the rewriting report. Each iteration measures the next word, then
// writes it into storage that the production before left, when it is large enough
// (word and spareWord take turns), so that raising and lowering n does not pay for fresh
// memory again. Also the default word ceiling, from the machine's memory.
#include "console/console.h"
#include "lsystem/lsystem.h"

#include "lsystem/compiled_rules.h"
#include "lsystem/expansion.h"
#include "lsystem/piece_expansion.h"
#include "lsystem/progress.h"
#include "lsystem/word_scans.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <new>
#include <optional>
#include <stdexcept>
#include <utility>

namespace rewriting {

namespace {

// Runs work; false when it ran out of memory, which the standard containers report as
// bad_alloc, or as length_error past their size limit.
template <typename Work>
bool withinMemory(Work&& work)
{
    try {
        work();
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
}

// Copies from into to, in pieces that count as work.
void copyCounting(const std::string& from, std::string& to, Progress& progress)
{
    to.clear();
    to.reserve(from.size());
    for (std::size_t i = 0; i < from.size(); i += Progress::kWorkPerQuestion) {
        progress.did(std::min(Progress::kWorkPerQuestion, from.size() - i));
        to.append(from, i, Progress::kWorkPerQuestion);
    }
}

// The memory that the axiom and the rules take.
std::uint64_t heldBytes(const std::string& axiom, const std::vector<Rule>& rules)
{
    std::uint64_t bytes = axiom.capacity() + rules.capacity() * sizeof(Rule);
    for (const Rule& rule : rules) {
        bytes += rule.predecessor.capacity() + rule.leftContext.capacity() + rule.rightContext.capacity() +
                 rule.matchText.capacity() + rule.successor.capacity();
    }
    return bytes;
}

}  // namespace

}  // namespace rewriting

bool LSystem::produce(const KeepGoing& keepGoing)
{
    using namespace rewriting;
    Progress progress(keepGoing);
    // The sum over all iterations, which no ceiling bounds.
    std::uint64_t replaces = 0;
    std::uint64_t stoppedAt = 0;  // the iteration stopped for want of room, 0 when all ran
    bool outOfMemory = false;     // stopped because memory ran out, below the ceiling
    // The letters that the work under way needs room for: the next word once measured,
    // until then the word being rewritten.
    std::uint64_t wanted = axiom.size();
    bool abandoned = false;  // keepGoing said false

    // The two buffers that the iterations write in turn: the last production's word and
    // its other buffer.
    std::string buffers[2];
    buffers[0].swap(word);
    buffers[1].swap(spareWord);
    // Makes next hold at least length letters and the spare bytes of fixed-size copies.
    auto takeBuffer = [this](std::string& next, std::size_t length) {
        if (next.capacity() < length + kFixedBlock) {
            // Released before the new buffer is taken, so that at most the word and the
            // next word are held at once.
            std::string().swap(next);
            next.reserve(length + kFixedBlock);
            if (prepareLargeBuffer != nullptr) {
                prepareLargeBuffer(&next[0], next.capacity());
            }
        }
    };
    // A word and the next one live side by side, each at most kFixedBlock bytes over its
    // length; the string's own size limit is met like the ceiling.
    const std::uint64_t limit = std::min<std::uint64_t>(
        wordCeiling, std::min<std::uint64_t>(word.max_size() - kFixedBlock, std::uint64_t(1) << 62));

    // The first iteration reads the axiom itself; it is copied into a buffer only if no
    // iteration replaces it.
    const std::string* current = &axiom;
    int currentBuffer = -1;
    // The buffer for a next word of length letters. While the axiom is read, the
    // smaller one that holds it, so that the larger stays for the longer words to come.
    // Otherwise the one not read; but if only the one read holds the next word, the
    // word read is first moved into the other: a copy of the shorter word instead of
    // fresh memory for the longer.
    auto targetFor = [&](std::size_t length) {
        auto holds = [&](int b, std::size_t letters) { return buffers[b].capacity() >= letters + kFixedBlock; };
        const int smaller = buffers[0].capacity() <= buffers[1].capacity() ? 0 : 1;
        if (currentBuffer < 0) {
            return holds(smaller, length) || !holds(1 - smaller, length) ? smaller : 1 - smaller;
        }
        const int other = 1 - currentBuffer;
        if (!holds(other, length) && holds(currentBuffer, length) && holds(other, current->size())) {
            copyCounting(*current, buffers[other], progress);
            currentBuffer = other;
            current = &buffers[other];
            return 1 - other;
        }
        return other;
    };
    // Counted in 64 bits, so that n = 4294967295 ends after its last iteration.
    std::uint64_t iteration = 1;
    try {
        const bool ranInMemory = withinMemory([&] {
            std::optional<CompiledRules> compiled;
            std::vector<Decision> decisions;
            LetterCounts counts{};  // of *current, kept when the first byte decides every step
            std::optional<ExpansionGrowth> growth;  // when the first byte decides, and once asked for
            std::optional<PieceExpansion> pieces;   // otherwise, once asked for
            bool noPieceJump = false;               // a jump by pieces can't be made in this production
            // Prints the numbers of the iterations after this one, which the jump
            // that writes the final word takes at once.
            auto printLaterNumbers = [&] {
                for (std::uint64_t later = iteration + 1; later <= n; ++later) {
                    progress.ask();
                    consolePrintf("%u ", static_cast<unsigned>(later));
                }
                consoleFlush();
            };
            // Once an iteration applies no rule, or only rules that write back what they
            // matched, the word is final: later iterations would make it again with as
            // many replacements, so they only print their numbers and add those.
            bool settled = false;
            std::uint64_t settledReplaces = 0;
            for (; iteration <= n; ++iteration) {
                progress.ask();
                consolePrintf("%u ", static_cast<unsigned>(iteration));
                consoleFlush();
                if (settled) {
                    replaces += settledReplaces;
                    continue;
                }
                wanted = current->size();
                if (!compiled) {
                    // The compiled rules are held to the description's ceiling together
                    // with the description itself.
                    const std::uint64_t held = heldBytes(axiom, rules);
                    compiled.emplace(rules, held < descriptionCeiling ? descriptionCeiling - held : 0, progress);
                    if (compiled->decidedByFirstByte()) {
                        counts = countLetters(*current, progress);
                    }
                }
                const bool byCounts = compiled->decidedByFirstByte();
                if (byCounts && !compiled->keepsEveryWord() && n - iteration < kMostIterationsAtOnce) {
                    // The remaining iterations at once, if their expansions are few
                    // letters, no iteration crosses the ceiling or settles the word, and
                    // there is memory for the final word: otherwise one more iteration.
                    if (!growth) {
                        growth.emplace(*compiled, progress);
                    }
                    const std::uint64_t iterations = n - iteration + 1;
                    if (growth->usable() && growth->tableLetters(counts, iterations) <= kExpansionLetters) {
                        LetterCounts ahead = counts;
                        std::uint64_t jumpReplaces = 0;
                        Measure last;
                        bool clear = true;
                        for (std::uint64_t j = 0; j < iterations && clear; ++j) {
                            last = measureByCounts(*compiled, ahead, limit);
                            clear = !last.overLimit && last.replaces != 0;
                            jumpReplaces += last.replaces;
                            if (clear && j + 1 < iterations) {
                                ahead = nextCounts(*compiled, ahead, progress);
                            }
                        }
                        const auto length = static_cast<std::size_t>(last.length);
                        std::optional<Expansion> expansion;
                        int target = 0;
                        if (clear && withinMemory([&] {
                                target = targetFor(length);
                                takeBuffer(buffers[target], length);
                                expansion.emplace(*compiled, counts, iterations, progress);
                            })) {
                            printLaterNumbers();
                            wanted = length;
                            expansion->write(*current, buffers[target], length, progress);
                            current = &buffers[target];
                            currentBuffer = target;
                            replaces += jumpReplaces;
                            break;
                        }
                    }
                }
                if (!byCounts && !noPieceJump && !compiled->keepsEveryWord() && n > iteration &&
                    n - iteration < kMostIterationsAtOnce) {
                    // The same by pieces, where the rules' outputs are closed; for two
                    // iterations or more, since one is made faster by the scans below.
                    if (!pieces) {
                        pieces.emplace(rules, *compiled, progress);
                    }
                    const std::uint64_t iterations = n - iteration + 1;
                    const PieceExpansion::Plan plan =
                        pieces->usable() ? pieces->plan(*current, iterations, limit, progress) : PieceExpansion::Plan{};
                    noPieceJump = !pieces->usable() || plan.never;
                    const auto length = static_cast<std::size_t>(plan.length);
                    std::optional<PieceExpansion::Table> table;
                    int target = 0;
                    if (plan.taken && withinMemory([&] {
                            target = targetFor(length);
                            takeBuffer(buffers[target], length);
                            table.emplace(pieces->table(iterations, progress));
                        })) {
                        printLaterNumbers();
                        wanted = length;
                        pieces->write(*current, *table, buffers[target], length, progress);
                        current = &buffers[target];
                        currentBuffer = target;
                        replaces += plan.replaces;
                        break;
                    }
                }
                if (!byCounts && decisionsCanName(rules)) {
                    // Without room for decisions the writing scan walks the trie itself.
                    withinMemory([&] { decisions.reserve(current->size() / kLettersPerDecision); });
                }
                const Measure measure = byCounts ? measureByCounts(*compiled, counts, limit)
                                                 : measureWord(*compiled, *current, limit, decisions, progress);
                if (measure.overLimit) {
                    stoppedAt = iteration;
                    break;
                }
                if (measure.replaces == 0 || compiled->keepsEveryWord()) {
                    settled = true;
                    settledReplaces = measure.replaces;
                    replaces += settledReplaces;
                    continue;
                }
                const auto length = static_cast<std::size_t>(measure.length);
                wanted = length;
                const int target = targetFor(length);
                std::string& next = buffers[target];
                takeBuffer(next, length);
                rewriteWord(*compiled, *current, next, length, decisions, progress);
                std::vector<Decision>().swap(decisions);
                current = &next;
                currentBuffer = target;
                if (byCounts) {
                    counts = nextCounts(*compiled, counts, progress);
                }
                replaces += measure.replaces;
            }
        });
        if (!ranInMemory) {
            stoppedAt = iteration;
            outOfMemory = true;
        }
        if (currentBuffer < 0) {
            // No iteration replaced anything: the word is the axiom.
            currentBuffer = 0;
            if (!withinMemory([&] { copyCounting(axiom, buffers[0], progress); })) {
                // Not even the axiom can be held: the word stays empty, and the report
                // says that the first iteration could not be kept.
                std::string().swap(buffers[0]);
                stoppedAt = stoppedAt != 0 ? stoppedAt : 1;
                outOfMemory = true;
                wanted = axiom.size();
            }
        }
    } catch (const Abandoned&) {
        abandoned = true;
    }
    if (abandoned) {
        // The caller gave up: no word, and no report beyond the iteration numbers. Both
        // buffers go back to the system with this frame.
        consoleFlush();
        return false;
    }
    word.swap(buffers[currentBuffer]);
    if (!outOfMemory) {
        spareWord.swap(buffers[1 - currentBuffer]);  // else it goes back to the system at once
    }

    consolePrintf("\n");
    if (stoppedAt != 0 && outOfMemory) {
        consolePrintf("Production stopped at iteration %u: not enough memory for %" PRIu64 " letters\n",
                      static_cast<unsigned>(stoppedAt), wanted);
    } else if (stoppedAt != 0) {
        consolePrintf("Production stopped at iteration %u: the word would exceed %" PRIu64 " letters\n",
                      static_cast<unsigned>(stoppedAt), wordCeiling);
    }
    consolePrintf("Production done: %" PRIu64 " replaces done, final product has %u letters\n", replaces,
                  static_cast<unsigned>(word.size()));
    consolePrintf("----------------\n");
    consoleFlush();
    return true;
}
