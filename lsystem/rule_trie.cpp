// The rule trie's layout and its deep walk (see rule_trie.h).
#include "lsystem/rule_trie.h"

#include <algorithm>
#include <stdexcept>

namespace rewriting {

RuleTrie::RuleTrie(const std::vector<Rule>& rules, Progress& progress)
{
    if (rules.size() >= kNoRule) {
        throw std::length_error("more rules than 32-bit numbers");
    }
    // An empty match text would match everywhere and consume nothing; the reader never
    // makes one, and here it is never applied rather than loop forever.
    std::vector<std::uint32_t> order;
    for (std::size_t r = 0; r < rules.size(); ++r) {
        if (!rules[r].matchText.empty()) {
            order.push_back(static_cast<std::uint32_t>(r));
        }
    }

    // Sorted by match text, every node of the trie is a range of rules that share its
    // text as a prefix; a stable sort keeps equal texts in list order. Only the bytes
    // that the trie holds, and one more to put a text before its longer followers,
    // take part.
    std::stable_sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        progress.did(kTrieDepth);
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
        progress.did(hi - lo);
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
            const std::size_t next = first + (dense ? byte - (forceDense ? 0 : low) : g);
            nodes_[next].byte = byte;
            stack.push_back({static_cast<std::uint32_t>(next), groupLo, k, depth + 1});
        }
    };

    layOutChildren(kNoRule, 0, order.size(), 0, true);
    while (!stack.empty()) {
        const Pending pending = stack.back();
        stack.pop_back();
        progress.did(pending.hi - pending.lo);
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
            hasLongTexts_ = true;
        }
    }
}

Match RuleTrie::isolatedMatch(const unsigned char* p, std::size_t rest, bool& closed) const
{
    const Node* node = &nodes_[p[0]];
    Match best = {node->endRule, 1};
    std::size_t depth = 1;
    for (; node->belowRule < best.rule && depth < rest; ++depth) {
        const Node* next = child(*node, p[depth]);
        if (next == nullptr) {
            break;
        }
        node = next;
        if (node->endRule < best.rule) {
            best = {node->endRule, depth + 1};
        }
    }
    closed = depth < rest || node->belowRule >= best.rule;
    return best;
}

Match RuleTrie::deepMatch(const unsigned char* p, std::size_t rest, LongTextFinder& longTexts) const
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
    const Match longMatch = longTexts.firstMatchAt(p, match.rule);
    return longMatch.rule != kNoRule ? longMatch : match;
}

}  // namespace rewriting
