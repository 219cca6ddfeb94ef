// Several iterations at once for rules decided by the first byte (see expansion.h).
#include "lsystem/expansion.h"

#include <algorithm>
#include <cstring>

namespace rewriting {

ExpansionGrowth::ExpansionGrowth(const CompiledRules& rules, Progress& progress)
{
    for (int b = 0; b < 256; ++b) {
        if (rules.byteClass[b] != kOneByteRule) {
            continue;
        }
        const std::uint32_t rule = rules.oneByteRule[b];
        const std::size_t length = rules.output(rule).length;
        if (length > kExpansionLetters) {
            usable_ = false;
            return;
        }
        progress.did(length);
        std::uint64_t times[256] = {};
        const auto* text = reinterpret_cast<const unsigned char*>(rules.outputText(rule));
        for (std::size_t k = 0; k < length; ++k) {
            ++times[text[k]];
        }
        for (int letter = 0; letter < 256; ++letter) {
            if (times[letter] != 0) {
                parts_[b].push_back({static_cast<unsigned char>(letter), times[letter]});
            }
        }
    }
}

std::uint64_t ExpansionGrowth::tableLetters(const LetterCounts& counts, std::uint64_t iterations) const
{
    constexpr std::uint64_t kTooMany = kExpansionLetters + 1;
    // lengths[c]: of c's expansion after j iterations, held below kTooMany. A letter
    // without a rule stays itself.
    std::uint64_t lengths[256];
    std::fill(lengths, lengths + 256, 1);
    for (std::uint64_t j = 0; j < iterations; ++j) {
        std::uint64_t next[256];
        for (int c = 0; c < 256; ++c) {
            if (parts_[c].empty()) {
                next[c] = lengths[c];
                continue;
            }
            std::uint64_t sum = 0;
            for (const Part& part : parts_[c]) {
                sum = std::min(kTooMany, sum + std::min(kTooMany, part.times * lengths[part.letter]));
            }
            next[c] = sum;
        }
        std::copy(next, next + 256, lengths);
    }
    std::uint64_t total = 0;
    for (int c = 0; c < 256; ++c) {
        if (counts[c] != 0) {
            total = std::min(kTooMany, total + lengths[c]);
        }
    }
    return total;
}

Expansion::Expansion(const CompiledRules& rules, const LetterCounts& counts, std::uint64_t iterations,
                     Progress& progress)
{
    // Each counted letter alone, rewritten iterations times, one after the other.
    std::string from;
    std::string to;
    for (int c = 0; c < 256; ++c) {
        if (counts[c] == 0) {
            continue;
        }
        from.assign(1, static_cast<char>(c));
        for (std::uint64_t j = 0; j < iterations; ++j) {
            to.clear();
            for (const char letter : from) {
                const auto b = static_cast<unsigned char>(letter);
                if (rules.byteClass[b] == kOneByteRule) {
                    to.append(rules.outputText(rules.oneByteRule[b]), rules.oneByteOutputLength[b]);
                } else {
                    to += letter;
                }
            }
            progress.did(to.size());
            from.swap(to);
        }
        offset_[c] = text_.size();
        length_[c] = from.size();
        text_ += from;
    }
}

void Expansion::write(const std::string& word, std::string& out, std::size_t length, Progress& progress) const
{
    // The string is lengthened in steps just ahead of the copies, so that its zero fill
    // is still in the cache when it is overwritten.
    constexpr std::size_t kGrowStep = 256 * 1024;
    out.clear();
    std::size_t filled = 0;
    std::size_t o = 0;
    const char* const text = text_.data();
    for (const char letter : word) {
        const auto c = static_cast<unsigned char>(letter);
        const std::size_t count = length_[c];
        if (o + count > filled) {
            filled = std::min(length, std::max(o + count, filled + kGrowStep));
            out.resize(filled);
        }
        std::memcpy(&out[o], text + offset_[c], count);
        o += count;
        progress.did(count);
    }
}

}  // namespace rewriting
