// The scans of one iteration: measuring, measuring by letter counts, and writing (see
// word_scans.h). The two scans over a word are plain loops by index over its bytes:
// a byte that decides its step alone costs one table lookup, and only bytes that need
// the trie leave the straight path.
#include "lsystem/word_scans.h"

#include <algorithm>
#include <cstring>

namespace rewriting {

namespace {

// The output string is lengthened in steps of this size, just ahead of the writes, so
// that the zero fill of std::string::resize touches memory that is about to be written
// anyway while it is still in the cache.
constexpr std::size_t kGrowStep = 256 * 1024;

// Input bytes measured between two looks at the ceiling. The letters and replacements
// of one block are summed in the two halves of one 64-bit number, which cannot carry
// from one half into the other while no byte adds more than kPackedLengthLimit letters:
// one addition per byte instead of two.
constexpr std::size_t kMeasureBlock = 64 * 1024;
constexpr std::uint64_t kPackedLengthLimit = 0xffff;
constexpr std::uint64_t kNeedsTrie = std::uint64_t(1) << 63;

template <bool kLongTexts>
Measure measureScan(const CompiledRules& rules, const std::string& word, std::uint64_t limit,
                    std::vector<Decision>& decisions, Progress& progress)
{
    // Per byte value: replaces << 32 | letters, or kNeedsTrie.
    std::uint64_t packedStep[256];
    for (int b = 0; b < 256; ++b) {
        const std::uint64_t letters = rules.oneByteOutputLength[b];
        packedStep[b] = rules.byteClass[b] == kCopied ? 1
                        : rules.byteClass[b] == kOneByteRule && letters <= kPackedLengthLimit
                            ? (std::uint64_t(1) << 32 | letters)
                            : kNeedsTrie;
    }
    const auto* in = reinterpret_cast<const unsigned char*>(word.data());
    const std::size_t size = word.size();
    LongTextFinder longTexts = rules.longTextFinder(word, progress);
    Measure result;
    std::size_t i = 0;
    while (i < size) {
        const std::size_t blockEnd = std::min(size, i + kMeasureBlock);
        progress.did(blockEnd - i);
        std::uint64_t packed = 0;
        while (i < blockEnd) {
            const std::uint64_t step = packedStep[in[i]];
            if (step != kNeedsTrie) {
                packed += step;
                ++i;
                continue;
            }
            const Match match = rules.trie().firstMatch<kLongTexts>(in + i, size - i, longTexts);
            if (rules.byteClass[in[i]] == kTrieWalk && decisions.size() < decisions.capacity()) {
                decisions.push_back(static_cast<Decision>(match.rule + 1));
            }
            if (match.rule == kNoRule) {
                result.length += 1;
            } else {
                result.length += rules.output(match.rule).length;
                result.replaces += 1;
            }
            i += match.length;
        }
        result.length += packed & 0xffffffffu;
        result.replaces += packed >> 32;
        if (result.length > limit) {
            result.overLimit = true;
            return result;
        }
    }
    return result;
}

// Where the writing scan puts the next word: the string, lengthened just ahead of the
// writes, and the two steps that every write is made of.
template <bool kLongTexts>
void rewriteScan(const CompiledRules& rules, const std::string& word, std::string& out, std::size_t length,
                 const std::vector<Decision>& decisions, Progress& progress)
{
    const auto* in = reinterpret_cast<const unsigned char*>(word.data());
    const std::size_t size = word.size();
    const std::size_t capacity = length + kFixedBlock;
    LongTextFinder longTexts = rules.longTextFinder(word, progress);
    // Byte stores may alias anything, so the tables are reached through locals that
    // the stores cannot change.
    const ByteClass* const byteClass = rules.byteClass;
    const std::size_t* const oneByteOutputLength = rules.oneByteOutputLength;
    const char(*const oneByteOutputStart)[kFixedBlock] = rules.oneByteOutputStart;
    out.clear();
    char* dst = &out[0];
    std::size_t filled = 0;  // out.size(): the bytes that may be written
    std::size_t o = 0;       // the bytes written

    // Lengthens out so that bytes [o, end) may be written; rare, so kept off the path.
    auto reach = [&](std::size_t end) {
        if (end > filled) {
            const std::size_t grown = std::min(capacity, std::max(end, filled + kGrowStep));
            progress.did(grown - filled);
            filled = grown;
            out.resize(filled);
            dst = &out[0];
        }
    };
    // Writes count bytes from src, with one fixed-size copy when they are few and src
    // has kFixedBlock bytes to read; exactly, in pieces that count as work, otherwise.
    auto write = [&](const char* src, std::size_t count, bool srcHasBlock) {
        if (count <= kFixedBlock && srcHasBlock) {
            reach(o + kFixedBlock);
            std::memcpy(dst + o, src, kFixedBlock);
            o += count;
            return;
        }
        while (count > 0) {
            const std::size_t piece = std::min(count, Progress::kWorkPerQuestion);
            reach(o + piece);
            std::memcpy(dst + o, src, piece);
            progress.did(piece);
            o += piece;
            src += piece;
            count -= piece;
        }
    };
    // Copies the byte at the scan position unchanged: no rule matched there.
    auto copyByte = [&](unsigned char c) {
        reach(o + 1);
        dst[o++] = static_cast<char>(c);
    };
    auto writeRule = [&](std::uint32_t rule) {
        write(rules.outputText(rule), rules.output(rule).length, true);
    };

    // One pass by index over the unchanged word. A byte that decides its rule alone is
    // one table lookup and one fixed-size copy; a run of bytes that no rule can begin
    // with is found first and copied at once; a walk through the trie is taken from
    // the measuring scan's decisions while they last.
    std::size_t i = 0;
    std::size_t decided = 0;
    while (i < size) {
        const std::size_t blockEnd = i + std::min(Progress::kWorkPerQuestion, size - i);
        progress.did(blockEnd - i);
        while (i < blockEnd) {
            const unsigned char c = in[i];
            const ByteClass kind = byteClass[c];
            if (kind == kOneByteRule) {
                const std::size_t count = oneByteOutputLength[c];
                if (count <= kFixedBlock) {
                    write(oneByteOutputStart[c], count, true);
                } else {
                    writeRule(rules.oneByteRule[c]);
                }
                ++i;
            } else if (kind == kCopied) {
                std::size_t end = i + 1;
                while (end < blockEnd && byteClass[in[end]] == kCopied) {
                    ++end;
                }
                write(reinterpret_cast<const char*>(in + i), end - i, i + kFixedBlock <= size);
                i = end;
            } else if (decided < decisions.size()) {
                const std::uint32_t rule = std::uint32_t(decisions[decided++]) - 1;
                if (rule == kNoRule) {
                    copyByte(c);
                    ++i;
                } else {
                    writeRule(rule);
                    i += rules.output(rule).matchLength;
                }
            } else {
                const Match match = rules.trie().firstMatch<kLongTexts>(in + i, size - i, longTexts);
                if (match.rule == kNoRule) {
                    copyByte(c);
                } else {
                    writeRule(match.rule);
                }
                i += match.length;
            }
        }
    }
    out.resize(o);
}

}  // namespace

LetterCounts countLetters(const std::string& word, Progress& progress)
{
    LetterCounts counts{};
    const auto* in = reinterpret_cast<const unsigned char*>(word.data());
    const std::size_t size = word.size();
    for (std::size_t i = 0; i < size;) {
        const std::size_t blockEnd = i + std::min(Progress::kWorkPerQuestion, size - i);
        progress.did(blockEnd - i);
        for (; i < blockEnd; ++i) {
            ++counts[in[i]];
        }
    }
    return counts;
}

Measure measureWord(const CompiledRules& rules, const std::string& word, std::uint64_t limit,
                    std::vector<Decision>& decisions, Progress& progress)
{
    return rules.trie().hasLongTexts() ? measureScan<true>(rules, word, limit, decisions, progress)
                                       : measureScan<false>(rules, word, limit, decisions, progress);
}

Measure measureByCounts(const CompiledRules& rules, const LetterCounts& counts, std::uint64_t limit)
{
    Measure result;
    for (int byte = 0; byte < 256; ++byte) {
        const std::uint64_t count = counts[byte];
        if (count == 0) {
            continue;
        }
        const bool replaced = rules.byteClass[byte] == kOneByteRule;
        const std::uint64_t letters = replaced ? rules.oneByteOutputLength[byte] : 1;
        // Checked before it is added, so that the sum never wraps.
        if (letters != 0 && count > (limit - result.length) / letters) {
            result.overLimit = true;
            return result;
        }
        result.length += count * letters;
        if (replaced) {
            result.replaces += count;
        }
    }
    return result;
}

LetterCounts nextCounts(const CompiledRules& rules, const LetterCounts& counts, Progress& progress)
{
    LetterCounts next{};
    for (int byte = 0; byte < 256; ++byte) {
        const std::uint64_t count = counts[byte];
        if (count == 0) {
            continue;
        }
        if (rules.byteClass[byte] != kOneByteRule) {
            next[byte] += count;
            continue;
        }
        const std::uint32_t rule = rules.oneByteRule[byte];
        const auto* text = reinterpret_cast<const unsigned char*>(rules.outputText(rule));
        const std::size_t length = rules.output(rule).length;
        for (std::size_t k = 0; k < length;) {
            const std::size_t blockEnd = k + std::min(Progress::kWorkPerQuestion, length - k);
            progress.did(blockEnd - k);
            for (; k < blockEnd; ++k) {
                next[text[k]] += count;
            }
        }
    }
    return next;
}

void rewriteWord(const CompiledRules& rules, const std::string& word, std::string& out, std::size_t length,
                 const std::vector<Decision>& decisions, Progress& progress)
{
    if (rules.trie().hasLongTexts()) {
        rewriteScan<true>(rules, word, out, length, decisions, progress);
    } else {
        rewriteScan<false>(rules, word, out, length, decisions, progress);
    }
}

}  // namespace rewriting
