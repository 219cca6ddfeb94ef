// The rewriting engine: LSystem::produce rewrites the axiom n times with the rules and
// prints the rewriting report. Each iteration is one left-to-right scan by index over
// the previous word; the first rule in list order whose match text stands at the scan
// position is applied. Also the default word ceiling, from the machine's memory.
#include "lsystem/lsystem.h"

#include "lsystem/physical_memory.h"

#include <algorithm>
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

// Input bytes measured between two looks at the ceiling.
constexpr std::size_t kMeasureBlock = 64 * 1024;

// What a byte at the scan position decides.
enum ByteClass : std::uint8_t {
    kCopy,    // no match text begins with it: it is copied unchanged
    kDirect,  // the byte alone decides the rule: no longer match text can win
    kWalk,    // the trie must be followed further to find the first matching rule
};

struct RuleOutput {
    std::size_t offset;      // of leftContext + successor + rightContext in the output blob
    std::size_t length;      // of that text
    std::size_t matchLength; // bytes of the word the rule consumes
};

struct Measure {
    std::uint64_t length = 0;    // letters of the next word
    std::uint64_t replaces = 0;  // rules applied in the iteration
    bool overLimit = false;      // the next word would be longer than the limit
};

// The match texts of all rules in a trie. Each node remembers the lowest rule index
// whose match text ends there, and the lowest one ending anywhere below it, so that a
// walk from the scan position stops as soon as no deeper match text can come earlier
// in the list. That bounds the cost of a scan step by the longest match text.
class RuleMatcher {
public:
    explicit RuleMatcher(const std::vector<Rule>& rules);

    // Length and replacement count of the next word, without writing it. Stops early
    // (overLimit) once the length passes limit.
    Measure measure(const std::string& word, std::uint64_t limit) const;

    // Writes the next word into out, whose capacity must hold length + kBlock bytes;
    // length is what measure returned for the same word.
    void rewrite(const std::string& word, std::string& out, std::size_t length) const;

private:
    struct Node {
        std::uint32_t endRule = kNoRule;    // lowest rule whose match text ends here
        std::uint32_t belowRule = kNoRule;  // lowest rule whose match text ends deeper
        std::uint32_t firstEdge = 0;        // children: edgeByte_/edgeNode_[firstEdge, +edgeCount)
        std::uint32_t edgeCount = 0;
    };

    std::uint32_t child(const Node& node, unsigned char byte) const;

    // The first rule in list order whose match text begins p[0..rest), or kNoRule.
    // p[0] must be a byte of class kWalk.
    std::uint32_t firstMatch(const unsigned char* p, std::size_t rest) const;

    std::vector<Node> nodes_;  // nodes_[0] is the root
    std::vector<unsigned char> edgeByte_;
    std::vector<std::uint32_t> edgeNode_;
    std::vector<RuleOutput> outputs_;
    std::string blob_;  // all rule outputs, then kBlock spare bytes for fixed-size reads

    std::uint32_t rootChild_[256] = {};  // 0: no match text begins with the byte
    ByteClass class_[256] = {};
    std::uint32_t direct_[256] = {};          // the rule of a kDirect byte
    std::uint64_t measureLength_[256] = {};   // letters a kCopy or kDirect byte produces
    std::uint64_t measureReplaces_[256] = {}; // 1 for kDirect, 0 for kCopy
};

RuleMatcher::RuleMatcher(const std::vector<Rule>& rules)
{
    // Build the trie with unsorted child lists, then lay the edges out sorted by byte.
    struct BuildNode {
        std::uint32_t parent = 0;
        std::uint32_t endRule = kNoRule;
        std::vector<std::pair<unsigned char, std::uint32_t>> children;
    };
    std::vector<BuildNode> build(1);
    outputs_.reserve(rules.size());
    for (std::size_t r = 0; r < rules.size(); ++r) {
        const Rule& rule = rules[r];
        RuleOutput output;
        output.offset = blob_.size();
        blob_ += rule.leftContext;
        blob_ += rule.successor;
        blob_ += rule.rightContext;
        output.length = blob_.size() - output.offset;
        output.matchLength = rule.matchText.size();
        outputs_.push_back(output);

        // An empty match text would match everywhere and consume nothing; the reader
        // never makes one, and here it is never applied rather than loop forever.
        if (rule.matchText.empty()) {
            continue;
        }
        std::uint32_t at = 0;
        for (const char ch : rule.matchText) {
            const auto byte = static_cast<unsigned char>(ch);
            std::uint32_t next = 0;
            for (const auto& edge : build[at].children) {
                if (edge.first == byte) {
                    next = edge.second;
                    break;
                }
            }
            if (next == 0) {
                next = static_cast<std::uint32_t>(build.size());
                build[at].children.emplace_back(byte, next);
                build.emplace_back();
                build.back().parent = at;
            }
            at = next;
        }
        // Rules are inserted in list order, so the first one to end here is the lowest.
        if (build[at].endRule == kNoRule) {
            build[at].endRule = static_cast<std::uint32_t>(r);
        }
    }
    blob_.append(kBlock, '\0');

    nodes_.resize(build.size());
    for (std::size_t i = 0; i < build.size(); ++i) {
        nodes_[i].endRule = build[i].endRule;
    }
    // Children are created after their parents, so a backwards sweep sees every node
    // after all of its descendants.
    for (std::size_t i = build.size(); i-- > 1;) {
        Node& parent = nodes_[build[i].parent];
        const std::uint32_t lowest = std::min(nodes_[i].endRule, nodes_[i].belowRule);
        parent.belowRule = std::min(parent.belowRule, lowest);
    }
    for (std::size_t i = 0; i < build.size(); ++i) {
        auto& children = build[i].children;
        std::sort(children.begin(), children.end());
        nodes_[i].firstEdge = static_cast<std::uint32_t>(edgeByte_.size());
        nodes_[i].edgeCount = static_cast<std::uint32_t>(children.size());
        for (const auto& edge : children) {
            edgeByte_.push_back(edge.first);
            edgeNode_.push_back(edge.second);
        }
    }

    for (const auto& edge : build[0].children) {
        rootChild_[edge.first] = edge.second;
    }
    for (int byte = 0; byte < 256; ++byte) {
        const std::uint32_t at = rootChild_[byte];
        if (at == 0) {
            class_[byte] = kCopy;
            measureLength_[byte] = 1;
        } else if (nodes_[at].endRule != kNoRule && nodes_[at].belowRule > nodes_[at].endRule) {
            class_[byte] = kDirect;
            direct_[byte] = nodes_[at].endRule;
            measureLength_[byte] = outputs_[nodes_[at].endRule].length;
            measureReplaces_[byte] = 1;
        } else {
            class_[byte] = kWalk;
        }
    }
}

std::uint32_t RuleMatcher::child(const Node& node, unsigned char byte) const
{
    const unsigned char* first = edgeByte_.data() + node.firstEdge;
    const unsigned char* last = first + node.edgeCount;
    const unsigned char* found = std::lower_bound(first, last, byte);
    if (found == last || *found != byte) {
        return 0;
    }
    return edgeNode_[node.firstEdge + static_cast<std::size_t>(found - first)];
}

std::uint32_t RuleMatcher::firstMatch(const unsigned char* p, std::size_t rest) const
{
    std::uint32_t best = kNoRule;
    std::uint32_t at = rootChild_[p[0]];
    std::size_t depth = 1;
    for (;;) {
        const Node& node = nodes_[at];
        best = std::min(best, node.endRule);
        if (node.belowRule >= best || depth == rest) {
            return best;
        }
        at = child(node, p[depth]);
        if (at == 0) {
            return best;
        }
        ++depth;
    }
}

Measure RuleMatcher::measure(const std::string& word, std::uint64_t limit) const
{
    // Copied and directly decided bytes cost two table lookups and no branch; only
    // bytes that need the trie leave the straight path.
    const auto* in = reinterpret_cast<const unsigned char*>(word.data());
    const std::size_t size = word.size();
    Measure result;
    std::size_t i = 0;
    while (i < size) {
        const std::size_t blockEnd = std::min(size, i + kMeasureBlock);
        while (i < blockEnd) {
            const unsigned char c = in[i];
            if (class_[c] != kWalk) {
                result.length += measureLength_[c];
                result.replaces += measureReplaces_[c];
                ++i;
                continue;
            }
            const std::uint32_t rule = firstMatch(in + i, size - i);
            if (rule == kNoRule) {
                result.length += 1;
                ++i;
            } else {
                result.length += outputs_[rule].length;
                result.replaces += 1;
                i += outputs_[rule].matchLength;
            }
        }
        if (result.length > limit) {
            result.overLimit = true;
            return result;
        }
    }
    return result;
}

void RuleMatcher::rewrite(const std::string& word, std::string& out, std::size_t length) const
{
    const auto* in = reinterpret_cast<const unsigned char*>(word.data());
    const std::size_t size = word.size();
    const std::size_t capacity = length + kBlock;
    // Byte stores may alias anything, so the tables are reached through locals that
    // the stores cannot change.
    const ByteClass* const byteClass = class_;
    const std::uint32_t* const direct = direct_;
    const RuleOutput* const outputs = outputs_.data();
    const char* const blob = blob_.data();
    out.clear();
    char* dst = &out[0];
    std::size_t filled = 0;  // out.size(): the bytes that may be written
    std::size_t o = 0;       // the bytes written

    // Lengthens out so that bytes [o, end) may be written; rare, so kept off the path.
    auto reach = [&](std::size_t end) {
        if (end > filled) {
            filled = std::min(capacity, std::max(end, filled + kGrowStep));
            out.resize(filled);
            dst = &out[0];
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
    // begin with is found first and copied at once.
    std::size_t i = 0;
    while (i < size) {
        const unsigned char c = in[i];
        const ByteClass kind = byteClass[c];
        if (kind == kDirect) {
            emit(direct[c]);
            ++i;
        } else if (kind == kCopy) {
            std::size_t end = i + 1;
            while (end < size && byteClass[in[end]] == kCopy) {
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
        } else {
            const std::uint32_t rule = firstMatch(in + i, size - i);
            if (rule == kNoRule) {
                reach(o + 1);
                dst[o++] = static_cast<char>(c);
                ++i;
            } else {
                emit(rule);
                i += outputs[rule].matchLength;
            }
        }
    }
    out.resize(o);
}

}  // namespace

std::uint64_t defaultWordCeiling()
{
    const std::uint64_t compiledIn = TENDRILVIEW_WORD_CEILING;
    if (compiledIn != 0) {
        return std::min(kCountLimit, compiledIn);
    }
    const std::uint64_t eighth = physicalMemoryBytes() / 8;
    if (eighth == 0) {
        return kCountLimit;  // the system does not say: only the printable count limits
    }
    return std::min(kCountLimit, eighth);
}

void LSystem::produce()
{
    std::uint32_t replaces = 0;
    std::uint64_t stoppedAt = 0;  // the abandoned iteration, 0 when all ran

    // The previous word's storage goes first, so that it never adds to the peak.
    std::string().swap(word);
    std::string next;
    // A word and the next one live side by side, each at most kBlock bytes over its
    // length; the string's own size limit is met like the ceiling.
    const std::uint64_t limit =
        std::min<std::uint64_t>(wordCeiling, std::min<std::uint64_t>(next.max_size() - kBlock,
                                                                      std::uint64_t(1) << 62));

    // Counted in 64 bits, so that n = 4294967295 ends after its last iteration.
    std::uint64_t iteration = 1;
    try {
        word = axiom;
        std::optional<RuleMatcher> matcher;
        // Once an iteration applies no rule the word is final: later iterations would
        // copy it unchanged, so they only print their numbers.
        bool settled = false;
        for (; iteration <= n; ++iteration) {
            std::printf("%u ", static_cast<unsigned>(iteration));
            std::fflush(stdout);
            if (settled) {
                continue;
            }
            if (!matcher) {
                matcher.emplace(rules);
            }
            const Measure measure = matcher->measure(word, limit);
            if (measure.overLimit) {
                stoppedAt = iteration;
                break;
            }
            if (measure.replaces == 0) {
                settled = true;
                continue;
            }
            const auto length = static_cast<std::size_t>(measure.length);
            if (next.capacity() < length + kBlock) {
                // Released before the new buffer is taken, so that at most the word
                // and the next word are held at once.
                std::string().swap(next);
                next.reserve(length + kBlock);
            }
            matcher->rewrite(word, next, length);
            word.swap(next);
            replaces += static_cast<std::uint32_t>(measure.replaces);
        }
    } catch (const std::bad_alloc&) {
        stoppedAt = iteration;
    } catch (const std::length_error&) {
        stoppedAt = iteration;
    }
    std::string().swap(next);

    std::printf("\n");
    if (stoppedAt != 0) {
        std::printf("Production stopped at iteration %u: the word would exceed %" PRIu64 " letters\n",
                    static_cast<unsigned>(stoppedAt), wordCeiling);
    }
    std::printf("Production done: %u replaces done, final product has %u letters\n", replaces,
                static_cast<unsigned>(word.size()));
    std::printf("----------------\n");
    std::fflush(stdout);
}
