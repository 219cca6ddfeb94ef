// Fuzz target of the whole run without a window: arbitrary bytes, with their repeats
// written out (harness.h), are read as a description, produced under a word ceiling and
// walked by a measuring and a drawing pass (no OpenGL context is current, so the GL
// calls do nothing). The word and the console reports must match the model in
// reference.h.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "lsystem/lsystem.h"
#include "tests/fuzz/harness.h"
#include "tests/fuzz/reference.h"

namespace {

// Small enough that most inputs finish in milliseconds, with the model doing the same
// work again by its slow scan. Inputs of odd size get a ceiling of their own below 2,000
// letters, often below the axiom's length, so that every edge of the ceiling is met;
// a quarter of the inputs (size 2 modulo 4) get room for a million letters, so that
// successors of tens of thousands of letters can be written out many times over.
constexpr std::uint64_t kWordCeiling = 1 << 16;
constexpr std::uint64_t kLargeWordCeiling = 1 << 20;

std::uint64_t wordCeilingFor(std::size_t size)
{
    if (size % 2 != 0) return 1 + size * 13 % 2000;
    return size % 4 == 2 ? kLargeWordCeiling : kWordCeiling;
}

// The bytes the model may compare in one input, some hundredths of a second: past them
// the run is cut to the iterations that the model finished.
constexpr std::uint64_t kModelWork = 20000000;

// Descriptions are written out to at most 128 KiB: room for successors and contexts of
// tens of thousands of letters.
constexpr std::size_t kMostFileBytes = 128 * 1024;

// A description may ask for billions of iterations of a word that does not grow; those
// take time in proportion to n and find nothing new after the first few dozen.
constexpr std::uint32_t kMostIterations = 40;

// How long both passes over a word may take: ample for the walks of the longest word.
constexpr auto kMostPassTime = std::chrono::seconds(2);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static harness::Files files;
    const std::string input = harness::expand(data, size, kMostFileBytes);
    const char* path = files.writeInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());

    LSystem lsystem;
    lsystem.readDescription(path);
    files.console();
    const std::uint64_t ceiling = wordCeilingFor(size);
    lsystem.wordCeiling = ceiling;
    lsystem.n = std::min(lsystem.n, kMostIterations);

    std::vector<reference::RuleText> rules;
    for (const Rule& rule : lsystem.rules) {
        rules.push_back({rule.leftContext, rule.predecessor, rule.rightContext, rule.successor});
    }
    const reference::Production model = reference::produce(lsystem.axiom, rules, lsystem.n, ceiling, kModelWork);
    lsystem.n = model.n;

    lsystem.produce();
    harness::expectEqual("production report", files.console(), model.output);
    harness::expectEqual("word", lsystem.word, model.word);

    // The passes ask whether to go on every 65,536 letters and every 250,000 pixels of
    // long lines marked in the coverage grid, where each long line past OpenGL's share
    // costs up to a window's width: a word of a hundred thousand of them takes a minute
    // under the sanitizers. So the passes are cut after a while, as Esc would cut them;
    // a pass cut short prints nothing.
    const auto deadline = std::chrono::steady_clock::now() + kMostPassTime;
    const KeepGoing bounded = [deadline] { return std::chrono::steady_clock::now() < deadline; };
    const bool drawn = lsystem.render(false, false, bounded) && lsystem.render(true, true, bounded);
    harness::expectEqual("rendering report", files.console(),
                         drawn ? reference::renderOutput(lsystem.word) : std::string());
    return 0;
}
