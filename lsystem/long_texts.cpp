// The matchers for long match texts: the reversed Aho-Corasick automaton, the rolling
// hashes per text length, and one scan's finder over them (see long_texts.h).
#include "lsystem/long_texts.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace rewriting {

namespace {

// The smallest block of scan positions for which the automaton finds the long match
// texts at once.
constexpr std::size_t kAutomatonBlock = std::size_t(1) << 16;

// Hashes modulo the Mersenne prime 2^61 - 1, with a fixed base: two different texts of
// one length collide with a chance of about length / 2^61.
constexpr std::uint64_t kModulus = (std::uint64_t(1) << 61) - 1;
constexpr std::uint64_t kBase = 0x1f3d5b79a2c4e687u % kModulus;

std::uint64_t multiplyModulo(std::uint64_t a, std::uint64_t b)
{
    const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
    const std::uint64_t sum = (static_cast<std::uint64_t>(product) & kModulus) + static_cast<std::uint64_t>(product >> 61);
    return sum >= kModulus ? sum - kModulus : sum;
}

std::uint64_t addModulo(std::uint64_t a, std::uint64_t b)
{
    const std::uint64_t sum = a + b;
    return sum >= kModulus ? sum - kModulus : sum;
}

bool isLong(const Rule& rule) { return rule.matchText.size() > kTrieDepth; }

}  // namespace

// --- The automaton ---------------------------------------------------------------------

std::uint64_t LongTextAutomaton::bytesNeeded(const std::vector<Rule>& rules)
{
    std::uint64_t states = 1;
    std::uint64_t longest = 0;
    for (const Rule& rule : rules) {
        if (isLong(rule)) {
            states += rule.matchText.size();
            longest = std::max<std::uint64_t>(longest, rule.matchText.size());
        }
    }
    if (longest == 0) {
        return 0;
    }
    // Four 32-bit numbers and a byte per state, the queue of the breadth-first pass,
    // and one rule per position of a block of the scan.
    return states * (4 * sizeof(std::uint32_t) + 1) + states * sizeof(std::uint32_t) +
           std::max<std::uint64_t>(kAutomatonBlock, longest) * sizeof(std::uint32_t);
}

LongTextAutomaton::LongTextAutomaton(const std::vector<Rule>& rules, Progress& progress)
{
    std::size_t states = 1;
    for (const Rule& rule : rules) {
        if (isLong(rule)) {
            states += rule.matchText.size();
            longest_ = std::max(longest_, rule.matchText.size());
        }
    }
    if (states > kNoRule) {
        throw std::length_error("more automaton states than 32-bit numbers");
    }
    firstChild_.reserve(states);
    nextSibling_.reserve(states);
    byte_.reserve(states);
    firstRule_.reserve(states);
    firstChild_.push_back(0);
    nextSibling_.push_back(0);
    byte_.push_back(0);
    firstRule_.push_back(kNoRule);

    // The reversed texts in list order, so that the first rule to end at a state is
    // the lowest.
    for (std::size_t r = 0; r < rules.size(); ++r) {
        const std::string& text = rules[r].matchText;
        if (!isLong(rules[r])) {
            continue;
        }
        progress.did(text.size());
        std::uint32_t s = 0;
        for (std::size_t k = text.size(); k-- > 0;) {
            const auto c = static_cast<unsigned char>(text[k]);
            std::uint32_t next = child(s, c);
            if (next == 0) {
                next = static_cast<std::uint32_t>(byte_.size());
                firstChild_.push_back(0);
                byte_.push_back(c);
                firstRule_.push_back(kNoRule);
                if (s == 0) {
                    rootChild_[c] = next;
                    nextSibling_.push_back(0);
                } else {
                    nextSibling_.push_back(firstChild_[s]);
                    firstChild_[s] = next;
                }
            }
            s = next;
        }
        if (firstRule_[s] == kNoRule) {
            firstRule_[s] = static_cast<std::uint32_t>(r);
        }
    }

    // Breadth first, every state's fallback is shallower and done before it.
    fallback_.assign(byte_.size(), 0);
    std::vector<std::uint32_t> queue;
    queue.reserve(byte_.size());
    for (int c = 0; c < 256; ++c) {
        if (rootChild_[c] != 0) {
            queue.push_back(rootChild_[c]);
        }
    }
    for (std::size_t q = 0; q < queue.size(); ++q) {
        progress.did(1);
        const std::uint32_t parent = queue[q];
        for (std::uint32_t k = firstChild_[parent]; k != 0; k = nextSibling_[k]) {
            fallback_[k] = step(fallback_[parent], byte_[k]);
            firstRule_[k] = std::min(firstRule_[k], firstRule_[fallback_[k]]);
            queue.push_back(k);
        }
    }
}

std::size_t LongTextAutomaton::blockLength() const { return std::max(kAutomatonBlock, longest_); }

std::uint32_t LongTextAutomaton::child(std::uint32_t s, unsigned char c) const
{
    if (s == 0) {
        return rootChild_[c];
    }
    for (std::uint32_t k = firstChild_[s]; k != 0; k = nextSibling_[k]) {
        if (byte_[k] == c) {
            return k;
        }
    }
    return 0;
}

std::uint32_t LongTextAutomaton::step(std::uint32_t s, unsigned char c) const
{
    for (;;) {
        const std::uint32_t next = child(s, c);
        if (next != 0 || s == 0) {
            return next;
        }
        s = fallback_[s];
    }
}

void LongTextAutomaton::firstRules(const unsigned char* in, std::size_t size, std::size_t start, std::size_t end,
                                   std::uint32_t* out, Progress& progress) const
{
    // The state on arrival at p is exact once longest_ bytes have been read, or when
    // the reading began at the end of the word.
    std::size_t p = std::min(size, end + (longest_ - 1));
    std::uint32_t s = 0;
    while (p > start) {
        const std::size_t blockStart = p - std::min(Progress::kWorkPerQuestion, p - start);
        progress.did(p - blockStart);
        while (p > blockStart) {
            --p;
            s = step(s, in[p]);
            if (p < end) {
                out[p - start] = firstRule_[s];
            }
        }
    }
}

// --- The rolling hashes ----------------------------------------------------------------

std::uint64_t LongTextHashes::hash(const unsigned char* text, std::size_t bytes)
{
    std::uint64_t h = 0;
    for (std::size_t k = 0; k < bytes; ++k) {
        h = addModulo(multiplyModulo(h, kBase), text[k]);
    }
    return h;
}

std::uint64_t LongTextHashes::roll(std::uint64_t h, unsigned char out, unsigned char in, std::uint64_t power)
{
    h = addModulo(h, kModulus - multiplyModulo(out, power));
    return addModulo(multiplyModulo(h, kBase), in);
}

LongTextHashes::LongTextHashes(const std::vector<Rule>& rules, Progress& progress)
{
    struct Keyed {
        std::size_t bytes;
        std::uint64_t hash;
        std::uint32_t rule;
    };
    std::vector<Keyed> keyed;
    for (std::size_t r = 0; r < rules.size(); ++r) {
        const std::string& text = rules[r].matchText;
        if (isLong(rules[r])) {
            progress.did(text.size());
            keyed.push_back({text.size(), hash(reinterpret_cast<const unsigned char*>(text.data()), text.size()),
                             static_cast<std::uint32_t>(r)});
        }
    }
    progress.did(keyed.size() * 32);
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        return a.bytes != b.bytes ? a.bytes < b.bytes : a.hash != b.hash ? a.hash < b.hash : a.rule < b.rule;
    });
    entries_.reserve(keyed.size());
    for (const Keyed& k : keyed) {
        if (lengths_.empty() || lengths_.back().bytes != k.bytes) {
            std::uint64_t power = 1;
            for (std::size_t e = 1; e < k.bytes; ++e) {
                power = multiplyModulo(power, kBase);
            }
            progress.did(k.bytes);
            lengths_.push_back({k.bytes, power, entries_.size(), entries_.size()});
        }
        entries_.push_back({k.hash, k.rule});
        lengths_.back().last = entries_.size();
    }
}

// --- One scan's finder -----------------------------------------------------------------

LongTextFinder::LongTextFinder(const std::vector<Rule>& rules, const LongTextAutomaton* automaton,
                               const LongTextHashes* hashes, const std::string& word, Progress& progress)
    : rules_(rules),
      automaton_(automaton),
      hashes_(hashes),
      in_(reinterpret_cast<const unsigned char*>(word.data())),
      size_(word.size()),
      progress_(progress)
{
    if (hashes_ != nullptr) {
        windows_.assign(hashes_->lengths().size(), Window{std::string::npos, 0});
    }
}

Match LongTextFinder::firstMatchAt(const unsigned char* p, std::uint32_t below)
{
    const auto at = static_cast<std::size_t>(p - in_);
    const std::uint32_t rule = automaton_ != nullptr ? fromAutomaton(at) : hashes_ != nullptr ? fromHashes(at, below)
                                                                                             : kNoRule;
    return rule < below ? Match{rule, rules_[rule].matchText.size()} : Match{kNoRule, 1};
}

std::uint32_t LongTextFinder::fromAutomaton(std::size_t at)
{
    if (at < start_ || at >= end_) {
        // Scan positions only move forward: the new block begins here.
        start_ = at;
        end_ = at + std::min(automaton_->blockLength(), size_ - at);
        blockRules_.resize(automaton_->blockLength());
        automaton_->firstRules(in_, size_, start_, end_, blockRules_.data(), progress_);
    }
    return blockRules_[at - start_];
}

std::uint32_t LongTextFinder::fromHashes(std::size_t at, std::uint32_t below)
{
    const std::vector<LongTextHashes::Length>& lengths = hashes_->lengths();
    const std::vector<LongTextHashes::Entry>& entries = hashes_->entries();
    candidates_.clear();
    for (std::size_t j = 0; j < lengths.size() && lengths[j].bytes <= size_ - at; ++j) {
        const LongTextHashes::Length& length = lengths[j];
        Window& window = windows_[j];
        // Moved on byte by byte, or hashed afresh where that is less work.
        if (window.at == std::string::npos || at - window.at >= length.bytes) {
            window.hash = LongTextHashes::hash(in_ + at, length.bytes);
            progress_.did(1 + length.bytes);
        } else {
            progress_.did(1 + (at - window.at));
            for (std::size_t k = window.at; k < at; ++k) {
                window.hash = LongTextHashes::roll(window.hash, in_[k], in_[k + length.bytes], length.power);
            }
        }
        window.at = at;
        auto first = std::lower_bound(entries.begin() + length.first, entries.begin() + length.last, window.hash,
                                      [](const LongTextHashes::Entry& e, std::uint64_t h) { return e.hash < h; });
        for (; first != entries.begin() + length.last && first->hash == window.hash && first->rule < below; ++first) {
            candidates_.push_back(first->rule);
        }
    }
    // Lowest rule first: the first text that really stands here is the answer, and the
    // scan consumes it, so that the comparisons cost no more than the bytes consumed
    // (and the rare collision).
    std::sort(candidates_.begin(), candidates_.end());
    for (const std::uint32_t rule : candidates_) {
        const std::string& text = rules_[rule].matchText;
        progress_.did(text.size());
        if (std::memcmp(in_ + at, text.data(), text.size()) == 0) {
            return rule;
        }
    }
    return kNoRule;
}

}  // namespace rewriting
