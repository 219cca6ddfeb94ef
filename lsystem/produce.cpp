// The rewriting engine: LSystem::produce rewrites the axiom n times with the rules and
// prints the rewriting report. Each iteration is one left-to-right scan by index over
// the previous word; the first rule in list order whose match text stands at the scan
// position is applied. Also the default word ceiling, from the machine's memory.
#include "lsystem/console.h"
#include "lsystem/lsystem.h"

#include "lsystem/physical_memory.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <utility>

namespace {

// The longest word whose letter count prints right through "%u".
constexpr std::uint64_t kCountLimit = 4294967295u;

constexpr std::uint32_t kNoRule = 0xffffffffu;

// Rule outputs of up to kBlock bytes, and short runs of copied bytes, are written with
// one fixed-size copy of kBlock bytes; the bytes past the real length are overwritten
// by the next write or cut off at the end. The output buffer keeps kBlock spare bytes.
constexpr std::size_t kBlock = 16;

// The output string is lengthened in steps of this size, just ahead of the writes, so
// that the zero fill of std::string::resize touches memory that is about to be written
// anyway while it is still in the cache.
constexpr std::size_t kGrowStep = 256 * 1024;

// Input bytes measured between two looks at the ceiling. The letters and replacements
// of one block are summed in the two halves of one 64-bit number, which cannot carry
// from one half into the other while no byte adds more than kPackedLengthLimit letters.
constexpr std::size_t kMeasureBlock = 64 * 1024;
constexpr std::uint64_t kPackedLengthLimit = 0xffff;
constexpr std::uint64_t kNeedsTrie = std::uint64_t(1) << 63;

// Letters scanned, counted or copied between two questions to the caller's keepGoing:
// about a millisecond of work, and a call that costs nothing beside it.
constexpr std::size_t kAskBlock = std::size_t(1) << 20;

// Thrown out of the scans when the caller's keepGoing says false.
struct Abandoned {};

// Asks the caller's keepGoing, when there is one, whether to go on; throws Abandoned
// when not.
class Asker {
public:
    explicit Asker(const KeepGoing& keepGoing) : keepGoing_(keepGoing) {}
    void operator()() const
    {
        if (keepGoing_ && !keepGoing_()) {
            throw Abandoned();
        }
    }

private:
    const KeepGoing& keepGoing_;
};

// Counts of each byte value in a word.
using LetterCounts = std::array<std::uint64_t, 256>;

LetterCounts countLetters(const std::string& word, const Asker& ask)
{
    LetterCounts counts{};
    const auto* in = reinterpret_cast<const unsigned char*>(word.data());
    const std::size_t size = word.size();
    for (std::size_t i = 0; i < size;) {
        ask();
        const std::size_t blockEnd = i + std::min(kAskBlock, size - i);
        for (; i < blockEnd; ++i) {
            ++counts[in[i]];
        }
    }
    return counts;
}

// Copies from into to, asking between blocks.
void copyAsking(const std::string& from, std::string& to, const Asker& ask)
{
    to.clear();
    to.reserve(from.size());
    for (std::size_t i = 0; i < from.size(); i += kAskBlock) {
        ask();
        to.append(from, i, kAskBlock);
    }
}

// What a byte at the scan position decides.
enum ByteClass : std::uint8_t {
    kCopy,    // no match text begins with it: it is copied unchanged
    kDirect,  // a one-byte match text, and no longer one comes earlier in the list
    kWalk,    // the trie must be followed further to find the first matching rule
};

struct RuleOutput {
    std::size_t offset;       // of leftContext + successor + rightContext in the output blob
    std::size_t length;       // of that text
    std::size_t matchLength;  // bytes of the word the rule consumes
};

// The outcome of one walk through the trie, kept from the measuring scan for the
// writing one: the rule's index + 1, or 0 when no rule matched.
using Decision = std::uint16_t;

// At most one decision (two bytes) is kept per this many letters of the word being
// scanned, so that the word, the next word and the decisions stay well under 2.5
// bytes per letter when the word keeps its length; past that, the writing scan walks
// the trie again.
constexpr std::size_t kLettersPerDecision = 8;

struct Measure {
    std::uint64_t length = 0;    // letters of the next word
    std::uint64_t replaces = 0;  // rules applied in the iteration
    bool overLimit = false;      // the next word would be longer than the limit
};

// The trie holds the first kTrieDepth bytes of every match text. Walks through it cost
// at most that many steps per scan position; longer match texts are found by the
// LongMatcher, whose time does not grow with their length.
constexpr std::size_t kTrieDepth = 16;

// The smallest block of scan positions for which the LongMatcher finds the long match
// texts at once.
constexpr std::size_t kLongBlock = std::size_t(1) << 16;

// The match texts longer than kTrieDepth, for the scan positions where the trie can't
// decide. An Aho-Corasick automaton over the reversed texts reads the word backwards:
// the texts that begin at a position are then the reversed texts that end where the
// reading arrives there. Each state keeps the lowest rule among all texts that end on
// its chain of fallbacks, so one backward pass over a block of positions gives the
// first rule in list order whose long match text begins at each. The reading starts
// as many bytes past the block as the longest text, and blocks are at least that
// long, so that the time stays within a few passes over the word.
//
// States are numbers into parallel arrays; state 0 is the root, whose children are
// looked up in a table, and every other state's children form a list.
class LongMatcher {
public:
    // The bytes that a LongMatcher for these rules will take at most, building and
    // scanning included; 0 when no match text is longer than kTrieDepth.
    static std::uint64_t bytesNeeded(const std::vector<Rule>& rules);

    LongMatcher(const std::vector<Rule>& rules, const Asker& ask);

    // The number of scan positions that firstRules handles at once.
    std::size_t blockLength() const { return std::max(kLongBlock, longest_); }

    // For each position p in [start, end) of in[0..size), the first rule in list order
    // whose match text is longer than kTrieDepth and begins at p, or kNoRule; into
    // out[p - start]. Asks between blocks of the reading.
    void firstRules(const unsigned char* in, std::size_t size, std::size_t start, std::size_t end,
                    std::uint32_t* out, const Asker& ask) const;

private:
    // The child of state s along byte c, or 0.
    std::uint32_t child(std::uint32_t s, unsigned char c) const
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

    // The state after reading c in state s.
    std::uint32_t step(std::uint32_t s, unsigned char c) const
    {
        for (;;) {
            const std::uint32_t next = child(s, c);
            if (next != 0 || s == 0) {
                return next;
            }
            s = fallback_[s];
        }
    }

    std::uint32_t rootChild_[256] = {};
    std::vector<std::uint32_t> firstChild_;
    std::vector<std::uint32_t> nextSibling_;
    std::vector<unsigned char> byte_;       // of the edge into the state
    std::vector<std::uint32_t> fallback_;   // the state of the longest proper suffix
    std::vector<std::uint32_t> firstRule_;  // the lowest rule ending here or on the fallbacks
    std::size_t longest_ = 0;               // the longest match text
};

std::uint64_t LongMatcher::bytesNeeded(const std::vector<Rule>& rules)
{
    std::uint64_t states = 1;
    std::uint64_t longest = 0;
    for (const Rule& rule : rules) {
        if (rule.matchText.size() > kTrieDepth) {
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
           std::max<std::uint64_t>(kLongBlock, longest) * sizeof(std::uint32_t);
}

LongMatcher::LongMatcher(const std::vector<Rule>& rules, const Asker& ask)
{
    std::size_t states = 1;
    for (const Rule& rule : rules) {
        if (rule.matchText.size() > kTrieDepth) {
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
    std::size_t inserted = 0;
    for (std::size_t r = 0; r < rules.size(); ++r) {
        const std::string& text = rules[r].matchText;
        if (text.size() <= kTrieDepth) {
            continue;
        }
        std::uint32_t s = 0;
        for (std::size_t k = text.size(); k-- > 0;) {
            if (++inserted % kAskBlock == 0) {
                ask();
            }
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
        if (q % kAskBlock == 0) {
            ask();
        }
        const std::uint32_t parent = queue[q];
        for (std::uint32_t k = firstChild_[parent]; k != 0; k = nextSibling_[k]) {
            fallback_[k] = step(fallback_[parent], byte_[k]);
            firstRule_[k] = std::min(firstRule_[k], firstRule_[fallback_[k]]);
            queue.push_back(k);
        }
    }
}

void LongMatcher::firstRules(const unsigned char* in, std::size_t size, std::size_t start, std::size_t end,
                             std::uint32_t* out, const Asker& ask) const
{
    // The state on arrival at p is exact once longest_ bytes have been read, or when
    // the reading began at the end of the word.
    std::size_t p = std::min(size, end + (longest_ - 1));
    std::uint32_t s = 0;
    while (p > start) {
        ask();
        const std::size_t blockStart = p - std::min(kAskBlock, p - start);
        while (p > blockStart) {
            --p;
            s = step(s, in[p]);
            if (p < end) {
                out[p - start] = firstRule_[s];
            }
        }
    }
}

// The LongMatcher's answers for the block of the word around the scan position, kept
// for one scan at a time.
class LongScan {
public:
    // Begins a scan of word.
    void begin(const LongMatcher* matcher, const std::string& word, const Asker& ask)
    {
        matcher_ = matcher;
        in_ = reinterpret_cast<const unsigned char*>(word.data());
        size_ = word.size();
        ask_ = &ask;
        start_ = 0;
        end_ = 0;
    }

    // The first rule in list order whose long match text begins at p, or kNoRule.
    std::uint32_t firstRuleAt(const unsigned char* p)
    {
        const auto at = static_cast<std::size_t>(p - in_);
        if (at < start_ || at >= end_) {
            // Scan positions only move forward: the new block begins here.
            start_ = at;
            end_ = at + std::min(matcher_->blockLength(), size_ - at);
            rules_.resize(matcher_->blockLength());
            matcher_->firstRules(in_, size_, start_, end_, rules_.data(), *ask_);
        }
        return rules_[at - start_];
    }

private:
    const LongMatcher* matcher_ = nullptr;
    const unsigned char* in_ = nullptr;
    std::size_t size_ = 0;
    const Asker* ask_ = nullptr;
    std::size_t start_ = 0;
    std::size_t end_ = 0;
    std::vector<std::uint32_t> rules_;
};

// The match texts of all rules in a trie, down to kTrieDepth bytes. Each node
// remembers the lowest rule index whose match text ends there, and the lowest one
// ending anywhere below it, so that a walk from the scan position stops as soon as no
// deeper match text can come earlier in the list. That bounds the cost of a scan step
// by kTrieDepth, whatever the number of rules. A walk that reaches the bottom with a
// longer match text still in play asks the LongMatcher, or, when there was no room
// for one, compares the longer texts under that node one by one.
//
// The nodes are 16-byte entries in one array. The children of a node lie side by
// side, so one step down is one index computation and one load: in a dense block the
// child for byte b sits at b - lo, in a sparse one (children bytes far apart) the few
// children are searched. The root's block is dense over all 256 byte values.
class RuleMatcher {
public:
    // Builds the LongMatcher only if it fits in room bytes beside the trie.
    RuleMatcher(const std::vector<Rule>& rules, std::uint64_t room, const Asker& ask);

    // True when the first byte at the scan position always decides the step: every
    // step then consumes one byte, and the next word follows from letter counts alone.
    bool decidedByFirstByte() const { return decidedByFirstByte_; }

    // Length and replacement count of the next word, without writing it. Stops early
    // (overLimit) once the length passes limit. The outcomes of trie walks are kept in
    // decisions while its capacity lasts (when canRecord()). Asks between blocks.
    Measure measure(const std::string& word, std::uint64_t limit, std::vector<Decision>& decisions,
                    const Asker& ask) const;

    // True when every rule index fits in a Decision.
    bool canRecord() const { return outputs_.size() < 0xffff; }

    // True when every rule writes back the text it matched: no word ever changes.
    bool keepsEveryWord() const { return keepsEveryWord_; }

    // The same from the letter counts of the word; only when decidedByFirstByte().
    Measure measure(const LetterCounts& counts, std::uint64_t limit) const;

    // The letter counts of the next word; only when decidedByFirstByte(). Asks between
    // blocks of long rule outputs.
    LetterCounts nextCounts(const LetterCounts& counts, const Asker& ask) const;

    // Writes the next word into out, whose capacity must hold length + kBlock bytes;
    // length and decisions are what measure left for the same word. Asks between
    // blocks of the word and whenever out is lengthened.
    void rewrite(const std::string& word, std::string& out, std::size_t length,
                 const std::vector<Decision>& decisions, const Asker& ask) const;

private:
    struct Node {
        std::uint32_t base = 0;             // dense: entry of byte b's child less b; sparse: first child
        std::uint32_t endRule = kNoRule;    // lowest rule whose match text ends here
        std::uint32_t belowRule = kNoRule;  // lowest rule whose match text ends deeper
        unsigned char byte = 0;             // the edge into this node; a gap slot holds another
        unsigned char lo = 0;               // the byte of slot 0 of a dense child block
        std::uint16_t slots = 0;            // child slots; kSparse marks a sorted sparse block
    };
    static constexpr std::uint16_t kSparse = 0x8000;
    // A node at kTrieDepth with longer match texts below it has no child slots, and its
    // base is the index of the range of those texts in order_ in deepRanges_.
    struct Range {
        std::size_t lo, hi;
    };

    // The first rule in list order whose match text begins p[0..rest), or kNoRule,
    // and the length of its match text (1 with kNoRule). The length comes from the
    // walk itself, so that the next scan position does not wait for another load.
    // p lies in the word of the scan that scan_ was begun for. kLong: some match text
    // is longer than the trie; without any, the walk has no such node to look for.
    struct Match {
        std::uint32_t rule;
        std::size_t length;
    };
    template <bool kLong>
    Match firstMatch(const unsigned char* p, std::size_t rest) const;

    template <bool kLong>
    Measure measureScan(const std::string& word, std::uint64_t limit, std::vector<Decision>& decisions,
                        const Asker& ask) const;
    template <bool kLong>
    void rewriteScan(const std::string& word, std::string& out, std::size_t length,
                     const std::vector<Decision>& decisions, const Asker& ask) const;

    // The same where the walk reached a node at kTrieDepth below which a longer match
    // text can still decide: the walk down again, then the longer match texts. Rare,
    // and kept out of the walk's code.
    [[gnu::noinline, gnu::cold]] Match deepMatch(const unsigned char* p, std::size_t rest) const;

    // The child of node along byte, or nullptr.
    const Node* child(const Node& node, unsigned char byte) const;

    const std::vector<Rule>& rules_;
    std::vector<Node> nodes_;  // nodes_[b] for b < 256: the root's children
    std::vector<std::uint32_t> order_;  // rules with a match text, sorted by its first bytes
    std::vector<Range> deepRanges_;
    std::optional<LongMatcher> long_;
    mutable LongScan scan_;  // the LongMatcher's answers for the scan under way

    std::vector<RuleOutput> outputs_;
    std::string blob_;  // all rule outputs, then kBlock spare bytes for fixed-size reads

    bool decidedByFirstByte_ = true;
    bool keepsEveryWord_ = true;
    ByteClass class_[256] = {};
    std::uint32_t direct_[256] = {};       // the rule of a kDirect byte
    std::size_t directLength_[256] = {};   // the length of its output
    char directPiece_[256][kBlock] = {};   // the first kBlock bytes of its output
    std::uint64_t measureStep_[256] = {};  // replaces << 32 | letters, or kNeedsTrie
};

RuleMatcher::RuleMatcher(const std::vector<Rule>& rules, std::uint64_t room, const Asker& ask)
    : rules_(rules)
{
    if (rules.size() >= kNoRule) {
        throw std::length_error("more rules than 32-bit numbers");
    }
    outputs_.reserve(rules.size());
    std::vector<std::uint32_t>& order = order_;
    std::size_t copied = 0;
    for (std::size_t r = 0; r < rules.size(); ++r) {
        const Rule& rule = rules[r];
        copied += rule.leftContext.size() + rule.successor.size() + rule.rightContext.size() + 1;
        if (copied >= kAskBlock) {
            ask();
            copied = 0;
        }
        RuleOutput output;
        output.offset = blob_.size();
        blob_ += rule.leftContext;
        blob_ += rule.successor;
        blob_ += rule.rightContext;
        output.length = blob_.size() - output.offset;
        output.matchLength = rule.matchText.size();
        if (!rule.matchText.empty() && blob_.compare(output.offset, output.length, rule.matchText) != 0) {
            keepsEveryWord_ = false;
        }
        outputs_.push_back(output);
        // An empty match text would match everywhere and consume nothing; the reader
        // never makes one, and here it is never applied rather than loop forever.
        if (!rule.matchText.empty()) {
            order.push_back(static_cast<std::uint32_t>(r));
        }
    }
    blob_.append(kBlock, '\0');

    // Sorted by match text, every node of the trie is a range of rules that share its
    // text as a prefix; a stable sort keeps equal texts in list order. Only the bytes
    // that the trie holds, and one more to put a text before its longer followers,
    // take part.
    std::size_t compared = 0;
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        if (++compared % kAskBlock == 0) {
            ask();
        }
        return rules[a].matchText.compare(0, kTrieDepth + 1, rules[b].matchText, 0, kTrieDepth + 1) < 0;
    });
    auto textOf = [&](std::size_t k) -> const std::string& { return rules[order[k]].matchText; };

    // Dense blocks waste the slots of absent bytes; past this many wasted slots in
    // all (64 KiB), only blocks at least a quarter full are made dense.
    std::size_t wasteBudget = 4096;

    struct Pending {
        std::uint32_t node;
        std::size_t lo, hi;  // the node's range in order
        std::size_t depth;   // the length of its text
    };
    std::vector<Pending> stack;

    // Lays out the children of the range [lo, hi), whose texts are all longer than
    // depth, grouped by their byte at depth, as one block, and stacks them.
    auto layOutChildren = [&](std::uint32_t parent, std::size_t lo, std::size_t hi, std::size_t depth,
                              bool forceDense) {
        std::size_t groups = 0;
        unsigned low = 255;
        unsigned high = 0;
        for (std::size_t k = lo; k < hi;) {
            const auto byte = static_cast<unsigned char>(textOf(k)[depth]);
            low = std::min<unsigned>(low, byte);
            high = std::max<unsigned>(high, byte);
            ++groups;
            while (k < hi && static_cast<unsigned char>(textOf(k)[depth]) == byte) {
                ++k;
            }
        }
        if (groups == 0 && !forceDense) {
            return;
        }
        const std::size_t span = forceDense ? 256 : high - low + 1;
        bool dense = forceDense || span <= 4 * groups;
        if (!dense && span - groups <= wasteBudget) {
            wasteBudget -= span - groups;
            dense = true;
        }
        const std::size_t first = nodes_.size();
        const std::size_t slots = dense ? span : groups;
        if (first + slots > kNoRule) {
            throw std::length_error("more trie nodes than 32-bit numbers");
        }
        nodes_.resize(first + slots);
        if (dense) {
            // A gap holds a byte other than its own, so that no walk takes it.
            const unsigned base = forceDense ? 0 : low;
            for (std::size_t s = 0; s < slots; ++s) {
                nodes_[first + s].byte = static_cast<unsigned char>(base + s + 1);
            }
        }
        if (parent != kNoRule) {
            Node& node = nodes_[parent];
            node.base = static_cast<std::uint32_t>(dense ? first - low : first);
            node.lo = static_cast<unsigned char>(low);
            node.slots = static_cast<std::uint16_t>(dense ? slots : (slots | kSparse));
        }
        std::size_t g = 0;
        for (std::size_t k = lo; k < hi; ++g) {
            const auto byte = static_cast<unsigned char>(textOf(k)[depth]);
            const std::size_t groupLo = k;
            while (k < hi && static_cast<unsigned char>(textOf(k)[depth]) == byte) {
                ++k;
            }
            const std::size_t child = first + (dense ? byte - (forceDense ? 0 : low) : g);
            nodes_[child].byte = byte;
            stack.push_back({static_cast<std::uint32_t>(child), groupLo, k, depth + 1});
        }
    };

    layOutChildren(kNoRule, 0, order.size(), 0, true);
    std::size_t laidOut = 0;
    while (!stack.empty()) {
        if (++laidOut % kAskBlock == 0) {
            ask();
        }
        const Pending pending = stack.back();
        stack.pop_back();
        // Texts equal to the node's own text sort first in its range.
        std::size_t k = pending.lo;
        std::uint32_t endRule = kNoRule;
        while (k < pending.hi && textOf(k).size() == pending.depth) {
            endRule = std::min(endRule, order[k]);
            ++k;
        }
        std::uint32_t belowRule = kNoRule;
        for (std::size_t j = k; j < pending.hi; ++j) {
            belowRule = std::min(belowRule, order[j]);
        }
        nodes_[pending.node].endRule = endRule;
        nodes_[pending.node].belowRule = belowRule;
        if (pending.depth < kTrieDepth) {
            layOutChildren(pending.node, k, pending.hi, pending.depth, false);
        } else if (k < pending.hi) {
            nodes_[pending.node].base = static_cast<std::uint32_t>(deepRanges_.size());
            deepRanges_.push_back({k, pending.hi});
        }
    }

    // What the matcher holds so far; the LongMatcher must fit in the rest of room.
    const std::uint64_t held = nodes_.capacity() * sizeof(Node) + order_.capacity() * sizeof(std::uint32_t) +
                               deepRanges_.capacity() * sizeof(Range) + outputs_.capacity() * sizeof(RuleOutput) +
                               blob_.capacity() + sizeof(RuleMatcher);
    const std::uint64_t longBytes = LongMatcher::bytesNeeded(rules);
    if (longBytes != 0 && held <= room && longBytes <= room - held) {
        long_.emplace(rules, ask);
    }

    for (int byte = 0; byte < 256; ++byte) {
        const Node& node = nodes_[byte];
        if (node.byte != byte) {
            class_[byte] = kCopy;
            measureStep_[byte] = 1;
        } else if (node.endRule != kNoRule && node.belowRule > node.endRule) {
            class_[byte] = kDirect;
            direct_[byte] = node.endRule;
            const RuleOutput& output = outputs_[node.endRule];
            directLength_[byte] = output.length;
            std::memcpy(directPiece_[byte], blob_.data() + output.offset, kBlock);
            const std::uint64_t letters = output.length;
            measureStep_[byte] = letters <= kPackedLengthLimit ? (std::uint64_t(1) << 32 | letters) : kNeedsTrie;
        } else {
            class_[byte] = kWalk;
            measureStep_[byte] = kNeedsTrie;
            decidedByFirstByte_ = false;
        }
    }
}

const RuleMatcher::Node* RuleMatcher::child(const Node& node, unsigned char byte) const
{
    if (!(node.slots & kSparse)) {
        const unsigned slot = static_cast<unsigned>(byte) - node.lo;  // wraps when below lo
        const Node* child = &nodes_[node.base + byte];
        return slot < node.slots && child->byte == byte ? child : nullptr;
    }
    const Node* k = &nodes_[node.base];
    const Node* end = k + (node.slots & ~kSparse);
    while (k != end && k->byte < byte) {
        ++k;
    }
    return k != end && k->byte == byte ? k : nullptr;
}

RuleMatcher::Match RuleMatcher::deepMatch(const unsigned char* p, std::size_t rest) const
{
    // firstMatch went this way already, so every child is there.
    const Node* node = &nodes_[p[0]];
    Match match = {node->endRule, 1};
    for (std::size_t depth = 1; depth < kTrieDepth; ++depth) {
        node = child(*node, p[depth]);
        if (node->endRule < match.rule) {
            match = {node->endRule, depth + 1};
        }
    }
    if (rest <= kTrieDepth) {
        return match;
    }
    if (long_) {
        const std::uint32_t rule = scan_.firstRuleAt(p);
        if (rule < match.rule) {
            match = {rule, outputs_[rule].matchLength};
        }
        return match;
    }
    // Without the LongMatcher the longer texts under the node are compared one by one;
    // their first kTrieDepth bytes are the node's.
    const Range range = deepRanges_[node->base];
    for (std::size_t k = range.lo; k < range.hi; ++k) {
        const std::uint32_t rule = order_[k];
        const std::string& text = rules_[rule].matchText;
        if (rule < match.rule && text.size() <= rest &&
            std::memcmp(p + kTrieDepth, text.data() + kTrieDepth, text.size() - kTrieDepth) == 0) {
            match = {rule, text.size()};
        }
    }
    return match;
}

template <bool kLong>
RuleMatcher::Match RuleMatcher::firstMatch(const unsigned char* p, std::size_t rest) const
{
    const Node* nodes = nodes_.data();
    const Node* node = &nodes[p[0]];
    std::uint32_t best = node->endRule;
    std::size_t length = 1;
    // A node with a lower rule below it has children, unless it lies at kTrieDepth
    // with longer match texts below it: its dense block is empty.
    for (std::size_t depth = 1; node->belowRule < best && depth < rest; ++depth) {
        const unsigned char byte = p[depth];
        const Node* child;
        if (!(node->slots & kSparse)) {
            const unsigned slot = static_cast<unsigned>(byte) - node->lo;  // wraps when below lo
            if (slot >= node->slots) {
                if (kLong && node->slots == 0) {
                    return deepMatch(p, rest);
                }
                break;
            }
            child = &nodes[node->base + byte];  // computed beside the range check
        } else {
            const Node* k = &nodes[node->base];
            const Node* end = k + (node->slots & ~kSparse);
            while (k != end && k->byte < byte) {
                ++k;
            }
            if (k == end) {
                break;
            }
            child = k;
        }
        if (child->byte != byte) {
            break;
        }
        node = child;
        if (node->endRule < best) {
            best = node->endRule;
            length = depth + 1;
        }
    }
    return {best, length};
}

Measure RuleMatcher::measure(const std::string& word, std::uint64_t limit, std::vector<Decision>& decisions,
                             const Asker& ask) const
{
    return deepRanges_.empty() ? measureScan<false>(word, limit, decisions, ask)
                               : measureScan<true>(word, limit, decisions, ask);
}

template <bool kLong>
Measure RuleMatcher::measureScan(const std::string& word, std::uint64_t limit, std::vector<Decision>& decisions,
                                 const Asker& ask) const
{
    // A byte that decides its step alone costs one table lookup and one addition; only
    // bytes that need the trie leave the straight path.
    const auto* in = reinterpret_cast<const unsigned char*>(word.data());
    const std::size_t size = word.size();
    scan_.begin(long_ ? &*long_ : nullptr, word, ask);
    Measure result;
    std::size_t i = 0;
    std::size_t nextAsk = 0;
    while (i < size) {
        if (i >= nextAsk) {
            ask();
            nextAsk = i + kAskBlock;
        }
        const std::size_t blockEnd = std::min(size, i + kMeasureBlock);
        std::uint64_t packed = 0;
        while (i < blockEnd) {
            const std::uint64_t step = measureStep_[in[i]];
            if (step != kNeedsTrie) {
                packed += step;
                ++i;
                continue;
            }
            const Match match = firstMatch<kLong>(in + i, size - i);
            if (class_[in[i]] == kWalk && decisions.size() < decisions.capacity()) {
                decisions.push_back(static_cast<Decision>(match.rule + 1));
            }
            if (match.rule == kNoRule) {
                result.length += 1;
            } else {
                result.length += outputs_[match.rule].length;
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

Measure RuleMatcher::measure(const LetterCounts& counts, std::uint64_t limit) const
{
    Measure result;
    for (int byte = 0; byte < 256; ++byte) {
        const std::uint64_t count = counts[byte];
        if (count == 0) {
            continue;
        }
        const std::uint64_t letters = class_[byte] == kDirect ? outputs_[direct_[byte]].length : 1;
        // Checked before it is added, so that the sum never wraps.
        if (letters != 0 && count > (limit - result.length) / letters) {
            result.overLimit = true;
            return result;
        }
        result.length += count * letters;
        if (class_[byte] == kDirect) {
            result.replaces += count;
        }
    }
    return result;
}

LetterCounts RuleMatcher::nextCounts(const LetterCounts& counts, const Asker& ask) const
{
    LetterCounts next{};
    for (int byte = 0; byte < 256; ++byte) {
        const std::uint64_t count = counts[byte];
        if (count == 0) {
            continue;
        }
        if (class_[byte] != kDirect) {
            next[byte] += count;
            continue;
        }
        const RuleOutput& output = outputs_[direct_[byte]];
        const auto* text = reinterpret_cast<const unsigned char*>(blob_.data() + output.offset);
        for (std::size_t k = 0; k < output.length;) {
            ask();
            const std::size_t blockEnd = k + std::min(kAskBlock, output.length - k);
            for (; k < blockEnd; ++k) {
                next[text[k]] += count;
            }
        }
    }
    return next;
}

void RuleMatcher::rewrite(const std::string& word, std::string& out, std::size_t length,
                          const std::vector<Decision>& decisions, const Asker& ask) const
{
    if (deepRanges_.empty()) {
        rewriteScan<false>(word, out, length, decisions, ask);
    } else {
        rewriteScan<true>(word, out, length, decisions, ask);
    }
}

template <bool kLong>
void RuleMatcher::rewriteScan(const std::string& word, std::string& out, std::size_t length,
                              const std::vector<Decision>& decisions, const Asker& ask) const
{
    const auto* in = reinterpret_cast<const unsigned char*>(word.data());
    const std::size_t size = word.size();
    const std::size_t capacity = length + kBlock;
    scan_.begin(long_ ? &*long_ : nullptr, word, ask);
    // Byte stores may alias anything, so the tables are reached through locals that
    // the stores cannot change.
    const ByteClass* const byteClass = class_;
    const std::uint32_t* const direct = direct_;
    const std::size_t* const directLength = directLength_;
    const char(*const directPiece)[kBlock] = directPiece_;
    const RuleOutput* const outputs = outputs_.data();
    const char* const blob = blob_.data();
    out.clear();
    char* dst = &out[0];
    std::size_t filled = 0;  // out.size(): the bytes that may be written
    std::size_t o = 0;       // the bytes written

    // Lengthens out so that bytes [o, end) may be written; rare, so kept off the path.
    auto grow = [&](std::size_t end) {
        ask();
        filled = std::min(capacity, std::max(end, filled + kGrowStep));
        out.resize(filled);
        dst = &out[0];
    };
    auto reach = [&](std::size_t end) {
        if (end > filled) {
            grow(end);
        }
    };
    auto emit = [&](std::uint32_t rule) {
        const std::size_t offset = outputs[rule].offset;
        const std::size_t count = outputs[rule].length;
        if (count <= kBlock) {
            reach(o + kBlock);
            std::memcpy(dst + o, blob + offset, kBlock);
        } else {
            reach(o + count);
            std::memcpy(dst + o, blob + offset, count);
        }
        o += count;
    };

    // One pass by index over the unchanged word. A byte that decides its rule alone
    // is one table lookup and one fixed-size copy; a run of bytes that no rule can
    // begin with is found first and copied at once; a walk through the trie is taken
    // from the measuring scan's decisions while they last.
    std::size_t i = 0;
    std::size_t decided = 0;
    while (i < size) {
        ask();
        const std::size_t blockEnd = i + std::min(kAskBlock, size - i);
        while (i < blockEnd) {
            const unsigned char c = in[i];
            const ByteClass kind = byteClass[c];
            if (kind == kDirect) {
                const std::size_t count = directLength[c];
                if (count <= kBlock) {
                    reach(o + kBlock);
                    std::memcpy(dst + o, directPiece[c], kBlock);
                    o += count;
                } else {
                    emit(direct[c]);
                }
                ++i;
            } else if (kind == kCopy) {
                std::size_t end = i + 1;
                while (end < blockEnd && byteClass[in[end]] == kCopy) {
                    ++end;
                }
                const std::size_t run = end - i;
                if (run <= kBlock && i + kBlock <= size) {
                    reach(o + kBlock);
                    std::memcpy(dst + o, in + i, kBlock);
                } else {
                    reach(o + run);
                    std::memcpy(dst + o, in + i, run);
                }
                o += run;
                i = end;
            } else if (decided < decisions.size()) {
                const std::uint32_t rule = std::uint32_t(decisions[decided++]) - 1;
                if (rule == kNoRule) {
                    reach(o + 1);
                    dst[o++] = static_cast<char>(c);
                    ++i;
                } else {
                    emit(rule);
                    i += outputs[rule].matchLength;
                }
            } else {
                const Match match = firstMatch<kLong>(in + i, size - i);
                if (match.rule == kNoRule) {
                    reach(o + 1);
                    dst[o++] = static_cast<char>(c);
                } else {
                    emit(match.rule);
                }
                i += match.length;
            }
        }
    }
    out.resize(o);
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

std::uint64_t defaultWordCeiling()
{
    const std::uint64_t compiledIn = TENDRILVIEW_WORD_CEILING;
    if (compiledIn != 0) {
        return std::min(kCountLimit, compiledIn);
    }
    return std::min(kCountLimit, eighthOfPhysicalMemory());
}

bool LSystem::produce(const KeepGoing& keepGoing)
{
    const Asker ask(keepGoing);
    // The sum over all iterations, which no ceiling bounds.
    std::uint64_t replaces = 0;
    std::uint64_t stoppedAt = 0;  // the iteration stopped for want of room, 0 when all ran
    bool outOfMemory = false;     // stopped because memory ran out, below the ceiling
    // The letters that the work under way needs room for: the next word once measured,
    // until then the word being rewritten.
    std::uint64_t wanted = axiom.size();
    bool abandoned = false;  // keepGoing said false

    // The previous word's storage goes first, so that it never adds to the peak.
    std::string().swap(word);
    std::string next;
    // A word and the next one live side by side, each at most kBlock bytes over its
    // length; the string's own size limit is met like the ceiling.
    const std::uint64_t limit = std::min<std::uint64_t>(
        wordCeiling, std::min<std::uint64_t>(next.max_size() - kBlock, std::uint64_t(1) << 62));

    // The first iteration reads the axiom itself; it is copied into the word only if
    // no iteration replaces it.
    const std::string* current = &axiom;
    // Counted in 64 bits, so that n = 4294967295 ends after its last iteration.
    std::uint64_t iteration = 1;
    try {
        std::optional<RuleMatcher> matcher;
        std::vector<Decision> decisions;
        LetterCounts counts{};  // of *current, kept when the first byte decides every step
        // Once an iteration applies no rule, or only rules that write back what they
        // matched, the word is final: later iterations would make it again with as many
        // replacements, so they only print their numbers and add those.
        bool settled = false;
        std::uint64_t settledReplaces = 0;
        for (; iteration <= n; ++iteration) {
            ask();
            consolePrintf("%u ", static_cast<unsigned>(iteration));
            consoleFlush();
            if (settled) {
                replaces += settledReplaces;
                continue;
            }
            wanted = current->size();
            if (!matcher) {
                // The matcher is held to the description's ceiling together with
                // the description itself.
                const std::uint64_t held = heldBytes(axiom, rules);
                matcher.emplace(rules, held < descriptionCeiling ? descriptionCeiling - held : 0, ask);
                if (matcher->decidedByFirstByte()) {
                    counts = countLetters(*current, ask);
                }
            }
            const bool byCounts = matcher->decidedByFirstByte();
            if (!byCounts && matcher->canRecord()) {
                try {
                    decisions.reserve(current->size() / kLettersPerDecision);
                } catch (const std::bad_alloc&) {
                    // Without room for decisions the writing scan walks the trie itself.
                }
            }
            const Measure measure = byCounts ? matcher->measure(counts, limit)
                                             : matcher->measure(*current, limit, decisions, ask);
            if (measure.overLimit) {
                stoppedAt = iteration;
                break;
            }
            if (measure.replaces == 0 || matcher->keepsEveryWord()) {
                settled = true;
                settledReplaces = measure.replaces;
                replaces += settledReplaces;
                continue;
            }
            const auto length = static_cast<std::size_t>(measure.length);
            wanted = length;
            if (next.capacity() < length + kBlock) {
                // Released before the new buffer is taken, so that at most the word
                // and the next word are held at once.
                std::string().swap(next);
                next.reserve(length + kBlock);
            }
            matcher->rewrite(*current, next, length, decisions, ask);
            std::vector<Decision>().swap(decisions);
            word.swap(next);
            current = &word;
            if (byCounts) {
                counts = matcher->nextCounts(counts, ask);
            }
            replaces += measure.replaces;
        }
    } catch (const std::bad_alloc&) {
        stoppedAt = iteration;
        outOfMemory = true;
    } catch (const std::length_error&) {
        stoppedAt = iteration;
        outOfMemory = true;
    } catch (const Abandoned&) {
        abandoned = true;
    }
    std::string().swap(next);
    if (current == &axiom && !abandoned) {
        try {
            copyAsking(axiom, word, ask);
        } catch (const std::bad_alloc&) {
            // Not even the axiom can be held: the word stays empty, and the report
            // says that the first iteration could not be kept.
            std::string().swap(word);
            stoppedAt = stoppedAt != 0 ? stoppedAt : 1;
            outOfMemory = true;
            wanted = axiom.size();
        } catch (const Abandoned&) {
            abandoned = true;
        }
    }
    if (abandoned) {
        // The caller gave up: no word, and no report beyond the iteration numbers.
        std::string().swap(word);
        consoleFlush();
        return false;
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
