// The rule trie: the match texts of all rules down to kTrieDepth bytes, walked from a
// scan position to find the first rule in list order whose match text stands there.
// Each node remembers the lowest rule whose match text ends there and the lowest one
// ending anywhere below it, so that a walk stops as soon as no deeper text can come
// earlier in the list: a step of the scan costs at most kTrieDepth loads, whatever the
// number of rules. Where a long match text can still decide, the walk hands over to
// the scan's LongTextFinder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "lsystem/long_texts.h"
#include "lsystem/lsystem.h"
#include "lsystem/progress.h"

namespace rewriting {

// The nodes are 16-byte entries in one array. The children of a node lie side by side,
// so one step down is one index computation and one load: in a dense block the child
// for byte b sits at b - lo, in a sparse one (children bytes far apart) the few
// children are searched. The root's block is dense over all 256 byte values.
class RuleTrie {
public:
    explicit RuleTrie(const std::vector<Rule>& rules, Progress& progress);

    // The lowest rule whose match text is the one byte b, or kNoRule; and whether a
    // longer match text beginning with b comes earlier in the list than it.
    std::uint32_t oneByteRule(unsigned char b) const { return nodes_[b].endRule; }
    bool longerCanWin(unsigned char b) const { return nodes_[b].belowRule < nodes_[b].endRule; }
    bool beginsSomeText(unsigned char b) const { return nodes_[b].byte == b; }

    // True when some node at kTrieDepth has long match texts below it.
    bool hasLongTexts() const { return hasLongTexts_; }

    // The first rule in list order whose match text begins p[0..rest), and the length
    // of its match text. The length comes from the walk itself, so that the next scan
    // position does not wait for another load. kLongTexts: hasLongTexts(); without
    // long texts the walk has no deep node to look for. longTexts: the finder of the
    // scan of the word that p lies in.
    template <bool kLongTexts>
    [[gnu::always_inline]] Match firstMatch(const unsigned char* p, std::size_t rest, LongTextFinder& longTexts) const;

    // The same for the text p[0..rest) alone, when no match text is long; closed is
    // set false when the bytes after the text could change the answer (a longer match
    // text that would win begins with what is left of it).
    Match isolatedMatch(const unsigned char* p, std::size_t rest, bool& closed) const;

    // What the trie holds, in bytes.
    std::uint64_t bytesHeld() const { return nodes_.capacity() * sizeof(Node); }

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
    // A node at kTrieDepth with long match texts below it has no child slots: its dense
    // block is empty, and belowRule says that a long text can still win.

    // The child of node along byte, or nullptr.
    const Node* child(const Node& node, unsigned char byte) const
    {
        if (!(node.slots & kSparse)) {
            const unsigned slot = static_cast<unsigned>(byte) - node.lo;  // wraps when below lo
            const Node* next = &nodes_[node.base + byte];                 // computed beside the range check
            return slot < node.slots && next->byte == byte ? next : nullptr;
        }
        const Node* k = &nodes_[node.base];
        const Node* end = k + (node.slots & ~kSparse);
        while (k != end && k->byte < byte) {
            ++k;
        }
        return k != end && k->byte == byte ? k : nullptr;
    }

    // The walk where it reached a node at kTrieDepth below which a long match text can
    // still decide: down again, then the long texts. Rare, and kept out of the walk.
    [[gnu::noinline, gnu::cold]] Match deepMatch(const unsigned char* p, std::size_t rest,
                                                 LongTextFinder& longTexts) const;

    std::vector<Node> nodes_;  // nodes_[b] for b < 256: the root's children
    bool hasLongTexts_ = false;
};

template <bool kLongTexts>
inline Match RuleTrie::firstMatch(const unsigned char* p, std::size_t rest, LongTextFinder& longTexts) const
{
    const Node* node = &nodes_[p[0]];
    Match best = {node->endRule, 1};
    // A node with a lower rule below it has children, unless it lies at kTrieDepth with
    // long match texts below it.
    for (std::size_t depth = 1; node->belowRule < best.rule && depth < rest; ++depth) {
        const Node* next = child(*node, p[depth]);
        if (next == nullptr) {
            if (kLongTexts && node->slots == 0) {
                return deepMatch(p, rest, longTexts);
            }
            break;
        }
        node = next;
        if (node->endRule < best.rule) {
            best = {node->endRule, depth + 1};
        }
    }
    return best;
}

}  // namespace rewriting
