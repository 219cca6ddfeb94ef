// The rules compiled for the scans of the rewriting engine: the rule trie, the matcher
// of long match texts (automaton or hashes), every rule's output text in one blob, and
// a table of what each byte value decides at the scan position, so that the common
// bytes cost one lookup.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lsystem/long_texts.h"
#include "lsystem/lsystem.h"
#include "lsystem/progress.h"
#include "lsystem/rule_trie.h"

namespace rewriting {

// Rule outputs of up to kFixedBlock bytes, and short runs of copied bytes, are written
// with one copy of kFixedBlock bytes: a fixed-size copy is a couple of instructions,
// a copy of a length known only at run time a call. The bytes past the real length are
// overwritten by the next write or cut off at the end, so every buffer that such a copy
// reads or writes keeps kFixedBlock spare bytes.
constexpr std::size_t kFixedBlock = 16;

// What a byte at the scan position decides.
enum ByteClass : std::uint8_t {
    kCopied,       // no match text begins with it: it is copied unchanged
    kOneByteRule,  // a one-byte match text, and no longer one comes earlier in the list
    kTrieWalk,     // the trie must be followed further to find the first matching rule
};

struct RuleOutput {
    std::size_t offset;       // of leftContext + successor + rightContext in the output blob
    std::size_t length;       // of that text
    std::size_t matchLength;  // bytes of the word the rule consumes
};

class CompiledRules {
public:
    // Builds the automaton for long texts only if it fits in room bytes beside the
    // rest; otherwise the hashes.
    CompiledRules(const std::vector<Rule>& rules, std::uint64_t room, Progress& progress);

    // True when the first byte at the scan position always decides the step: every
    // step then consumes one byte, and the next word follows from letter counts alone.
    bool decidedByFirstByte() const { return decidedByFirstByte_; }

    // True when every rule writes back the text it matched: no word ever changes.
    bool keepsEveryWord() const { return keepsEveryWord_; }

    const RuleTrie& trie() const { return trie_; }
    const RuleOutput& output(std::uint32_t rule) const { return outputs_[rule]; }
    const char* outputText(std::uint32_t rule) const { return blob_.data() + outputs_[rule].offset; }

    // The finder of long match texts for one scan of word.
    LongTextFinder longTextFinder(const std::string& word, Progress& progress) const
    {
        return LongTextFinder(rules_, automaton_ ? &*automaton_ : nullptr, hashes_ ? &*hashes_ : nullptr, word,
                              progress);
    }

    // Per byte value: what it decides, and for kOneByteRule its rule, the length of its
    // output and the output's first kFixedBlock bytes.
    ByteClass byteClass[256] = {};
    std::uint32_t oneByteRule[256] = {};
    std::size_t oneByteOutputLength[256] = {};
    char oneByteOutputStart[256][kFixedBlock] = {};

private:
    const std::vector<Rule>& rules_;
    RuleTrie trie_;
    std::optional<LongTextAutomaton> automaton_;
    std::optional<LongTextHashes> hashes_;
    std::vector<RuleOutput> outputs_;
    std::string blob_;  // all rule outputs, then kFixedBlock spare bytes for fixed-size reads
    bool decidedByFirstByte_ = true;
    bool keepsEveryWord_ = true;
};

}  // namespace rewriting
