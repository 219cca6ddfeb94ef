// Fuzz target of the description reader: arbitrary bytes, with their repeats written
// out (harness.h), as a description file. The
// fields the reader fills and everything it prints must match the model in
// reference.h; the sanitizers catch any bad memory access or undefined behaviour.
#include <cstdint>
#include <cstring>
#include <string>

#include "lsystem/lsystem.h"
#include "tests/fuzz/harness.h"
#include "tests/fuzz/reference.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static harness::Files files;
    // Up to 320 KiB: past the end of the reader's first read of 256 KiB.
    const std::string input = harness::expand(data, size, 320 * 1024);
    const char* path = files.writeInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());

    LSystem lsystem;
    lsystem.readDescription(path);
    const std::string console = files.console();

    const reference::Description model = reference::readDescription(input);
    harness::expectEqual("n", std::to_string(lsystem.n), std::to_string(model.n));
    harness::expectEqual("d", std::to_string(lsystem.d), std::to_string(model.d));
    if (model.delta && std::memcmp(&lsystem.delta, &*model.delta, sizeof(float)) != 0) {
        harness::expectEqual("delta", std::to_string(lsystem.delta), std::to_string(*model.delta));
    }
    harness::expectEqual("axiom", lsystem.axiom, model.axiom);
    harness::expectEqual("rule count", std::to_string(lsystem.rules.size()), std::to_string(model.rules.size()));
    for (std::size_t i = 0; i < model.rules.size(); ++i) {
        const Rule& rule = lsystem.rules[i];
        const reference::RuleText& expected = model.rules[i];
        harness::expectEqual("leftContext", rule.leftContext, expected.leftContext);
        harness::expectEqual("predecessor", rule.predecessor, expected.predecessor);
        harness::expectEqual("rightContext", rule.rightContext, expected.rightContext);
        harness::expectEqual("successor", rule.successor, expected.successor);
        harness::expectEqual("matchText", rule.matchText,
                             expected.leftContext + expected.predecessor + expected.rightContext);
    }
    harness::expectEqual("reader output", console, reference::readerOutput(model, lsystem.delta));
    return 0;
}
