// Compiles the rules for the scans (see compiled_rules.h).
#include "lsystem/compiled_rules.h"

#include <algorithm>
#include <cstring>

namespace rewriting {

namespace {

// Appends text to blob in pieces, counting each: a successor may be hundreds of
// megabytes long.
void appendCounting(std::string& blob, const std::string& text, Progress& progress)
{
    for (std::size_t k = 0; k < text.size(); k += Progress::kWorkPerQuestion) {
        const std::size_t piece = std::min(Progress::kWorkPerQuestion, text.size() - k);
        blob.append(text, k, piece);
        progress.did(piece);
    }
}

// Whether blob[offset, offset + text.size()) equals text, compared in pieces.
bool equalCounting(const std::string& blob, std::size_t offset, const std::string& text, Progress& progress)
{
    for (std::size_t k = 0; k < text.size(); k += Progress::kWorkPerQuestion) {
        const std::size_t piece = std::min(Progress::kWorkPerQuestion, text.size() - k);
        progress.did(piece);
        if (std::memcmp(blob.data() + offset + k, text.data() + k, piece) != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

CompiledRules::CompiledRules(const std::vector<Rule>& rules, std::uint64_t room, Progress& progress)
    : rules_(rules), trie_(rules, progress)
{
    outputs_.reserve(rules.size());
    for (const Rule& rule : rules) {
        RuleOutput output;
        output.offset = blob_.size();
        progress.did(1);
        appendCounting(blob_, rule.leftContext, progress);
        appendCounting(blob_, rule.successor, progress);
        appendCounting(blob_, rule.rightContext, progress);
        output.length = blob_.size() - output.offset;
        output.matchLength = rule.matchText.size();
        if (!rule.matchText.empty() &&
            (output.length != rule.matchText.size() || !equalCounting(blob_, output.offset, rule.matchText, progress))) {
            keepsEveryWord_ = false;
        }
        outputs_.push_back(output);
    }
    blob_.append(kFixedBlock, '\0');

    if (trie_.hasLongTexts()) {
        // What is held so far; the automaton must fit in the rest of room.
        const std::uint64_t held = trie_.bytesHeld() + outputs_.capacity() * sizeof(RuleOutput) + blob_.capacity() +
                                   sizeof(CompiledRules);
        const std::uint64_t automatonBytes = LongTextAutomaton::bytesNeeded(rules);
        if (held <= room && automatonBytes <= room - held) {
            automaton_.emplace(rules, progress);
        } else {
            hashes_.emplace(rules, progress);
        }
    }

    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<unsigned char>(b);
        const std::uint32_t rule = trie_.oneByteRule(byte);
        if (!trie_.beginsSomeText(byte)) {
            byteClass[b] = kCopied;
        } else if (rule != kNoRule && !trie_.longerCanWin(byte)) {
            byteClass[b] = kOneByteRule;
            oneByteRule[b] = rule;
            oneByteOutputLength[b] = outputs_[rule].length;
            std::memcpy(oneByteOutputStart[b], outputText(rule), kFixedBlock);
        } else {
            byteClass[b] = kTrieWalk;
            decidedByFirstByte_ = false;
        }
    }
}

}  // namespace rewriting
