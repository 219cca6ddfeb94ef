// Tests of LSystem::produce: the worked examples and edge cases as one table, seeded
// random systems against the plain model of tests/fuzz/reference.h, and the word ceiling,
// including an allocation failure below it (through the replaced operator new of
// allocation_limit.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "console/console.h"
#include "lsystem/lsystem.h"
#include "tests/fuzz/reference.h"
#include "tests/lsystem/allocation_limit.h"

namespace {

using namespace std::string_literals;

using reference::RuleText;

Rule makeRule(const RuleText& text)
{
    Rule rule;
    rule.leftContext = text.leftContext;
    rule.predecessor = text.predecessor;
    rule.rightContext = text.rightContext;
    rule.matchText = text.leftContext + text.predecessor + text.rightContext;
    rule.successor = text.successor;
    return rule;
}

std::vector<Rule> makeRules(const std::vector<RuleText>& texts)
{
    std::vector<Rule> rules;
    for (const RuleText& text : texts) {
        rules.push_back(makeRule(text));
    }
    return rules;
}

// What was printed since testing::internal::CaptureStdout, once the console module's
// writer thread has written it.
std::string capturedOutput()
{
    consoleSync();
    return testing::internal::GetCapturedStdout();
}

// Runs produce and returns what it printed.
std::string produceCapturingOutput(LSystem& system)
{
    testing::internal::CaptureStdout();
    system.produce();
    return capturedOutput();
}

std::string summary(std::uint64_t replaces, std::uint64_t letters)
{
    return "Production done: " + std::to_string(replaces) + " replaces done, final product has " +
           std::to_string(letters) + " letters\n----------------\n";
}

// piece, times times over.
std::string repeated(const std::string& piece, std::size_t times)
{
    std::string text;
    text.reserve(piece.size() * times);
    for (std::size_t k = 0; k < times; ++k) {
        text += piece;
    }
    return text;
}

// --- The worked examples and edge cases -------------------------------------------

struct Case {
    const char* name;
    std::string axiom;
    std::vector<RuleText> rules;
    std::uint32_t n;
    std::string word;
    std::string summary;  // the report's closing lines, after the iteration numbers
};

const Case kCases[] = {
    {"GrowingPair", "AB", {{"", "A", "", "AB"}, {"", "B", "", "A"}}, 3, "ABAABABA", summary(10, 8)},
    {"LeftContextAfterCopiedByte", "AAB", {{"A", "B", "", "C"}}, 1, "AAC", summary(1, 3)},
    {"ConsumedPredecessorIsNoContext", "AAA", {{"A", "A", "", "X"}}, 1, "AXA", summary(1, 3)},
    {"ConsumedRightContextNotRewritten", "AB", {{"", "A", "B", "C"}, {"", "B", "", "D"}}, 1, "CB", summary(1, 2)},
    {"EarlierRuleHidesContextRule", "AB", {{"", "A", "", "Y"}, {"A", "B", "", "C"}}, 1, "YB", summary(1, 2)},
    {"NoIterations", "F+F", {{"", "F", "", "FF"}}, 0, "F+F", summary(0, 3)},
    {"EmptyAxiom", "", {{"", "F", "", "FF"}}, 2, "", summary(0, 0)},
    {"NoRules", "F[+F]", {}, 3, "F[+F]", summary(0, 5)},
    {"EmptySuccessorDeletes", "AB", {{"", "A", "", ""}}, 1, "B", summary(1, 1)},
    {"EmptySuccessorKeepsContexts", "XAY", {{"X", "A", "Y", ""}}, 1, "XY", summary(1, 2)},
    {"MatchTextLongerThanRest", "BA", {{"", "A", "B", "X"}}, 1, "BA", summary(0, 2)},
    {"CaseMatters", "aAa", {{"", "A", "", "B"}}, 1, "aBa", summary(1, 3)},
    {"BracketsAreLetters", "A[B]AB", {{"A", "B", "", "X"}, {"", "[", "", "("}}, 1, "A(B]AX", summary(2, 6)},
    {"SameMatchTextFirstWins", "AA", {{"", "A", "", "X"}, {"", "A", "", "Y"}}, 1, "XX", summary(2, 2)},
    {"SameMatchTextOtherSplitFirstWins", "AB", {{"A", "B", "", "1"}, {"", "A", "B", "2"}}, 1, "A1", summary(1, 2)},
    {"LongerMatchTextNotPreferred", "ABC", {{"", "ABD", "", "x"}, {"", "A", "", "y"}, {"", "ABC", "", "z"}}, 1, "yBC", summary(1, 3)},
    {"EarlierLongerMatchTextWins", "ABCABA", {{"", "ABC", "", "1"}, {"", "AB", "", "2"}, {"", "A", "", "3"}}, 1, "123", summary(3, 3)},
    {"EveryByteValueIsALetter", "\xff\x80\0A"s, {{"", "\xff", "", "\x01"}, {"", "\0"s, "", "0"}}, 1, "\x01\x80" "0A", summary(2, 4)},
    {"RulesThatWriteBackWhatTheyMatchCountEachTime", "ABAB", {{"", "A", "", "A"}, {"", "B", "A", "B"}}, 3, "ABAB", summary(6, 4)},
    {"WordThatBecomesEmptyStaysEmpty", "AAB", {{"", "A", "", ""}, {"", "B", "", "A"}}, 4, "", summary(4, 0)},
    {"LongSuccessorsAndLongCopiedRuns", "A------------------------A", {{"", "A", "", "[abcdefghijklmnopqrstuvwxyz]"}}, 1, "[abcdefghijklmnopqrstuvwxyz]------------------------[abcdefghijklmnopqrstuvwxyz]", summary(2, 80)},
    {"SuccessorOfSeventyThousandLettersBesideMultiByteRule", "ABCAB", {{"", "A", "", std::string(70000, 'x')}, {"", "BC", "", "D"}}, 1, std::string(70000, 'x') + "D" + std::string(70000, 'x') + "B", summary(3, 140002)},
    // Long enough that the measuring scan keeps two decisions for the writing one, in
    // the order of the bytes that needed the trie: the 70,000 letters, too many for the
    // byte's fixed step, make A one of them, though the writing scan decides it alone.
    {"EighteenLettersWithSeventyThousandLetterSuccessorBesideMultiByteRule", "ABCABCABCABCABCABC", {{"", "A", "", std::string(70000, 'x')}, {"", "BC", "", "D"}}, 1, repeated(std::string(70000, 'x') + "D", 6), summary(12, 420006)},
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

class ProduceCaseTest : public testing::TestWithParam<Case> {};

TEST_P(ProduceCaseTest, GivesWordCountAndConsoleText)
{
    const Case& c = GetParam();
    LSystem system;
    system.axiom = c.axiom;
    system.rules = makeRules(c.rules);
    system.n = c.n;
    system.word = "left over from an earlier call";

    std::string numbers;
    for (std::uint32_t i = 1; i <= c.n; ++i) numbers += std::to_string(i) + " ";
    EXPECT_EQ(produceCapturingOutput(system), numbers + "\n" + c.summary);
    EXPECT_EQ(system.word, c.word);
    EXPECT_EQ(system.axiom, c.axiom);
}

INSTANTIATE_TEST_SUITE_P(Examples, ProduceCaseTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

// --- Against the plain model -------------------------------------------------------

// A small random system over a few letters, with contexts, multi-byte predecessors,
// empty and long successors, and repeated match texts.
struct RandomSystem {
    std::string axiom;
    std::vector<RuleText> rules;
    std::uint32_t n;
    std::uint64_t ceiling;
};

RandomSystem randomSystem(std::mt19937& random)
{
    auto below = [&](int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random); };
    const std::string alphabet = "AB[+-";  // '-' rarely starts a rule, so it forms copied runs
    auto text = [&](int length, bool ruleText) {
        std::string s;
        for (int i = 0; i < length; ++i) {
            s += alphabet[below(ruleText ? 4 : 5)];
        }
        return s;
    };

    RandomSystem system;
    system.axiom = text(below(4) == 0 ? below(40) : below(8), false);
    const int ruleCount = below(7);
    for (int r = 0; r < ruleCount; ++r) {
        RuleText rule;
        if (r > 0 && below(4) == 0) {
            // The match text of an earlier rule, split again, so that only one can win.
            const RuleText& earlier = system.rules[below(r)];
            const std::string match = earlier.leftContext + earlier.predecessor + earlier.rightContext;
            const int left = below(static_cast<int>(match.size()));
            const int predecessor = 1 + below(static_cast<int>(match.size()) - left);
            rule.leftContext = match.substr(0, left);
            rule.predecessor = match.substr(left, predecessor);
            rule.rightContext = match.substr(left + predecessor);
        } else {
            rule.leftContext = text(below(3) == 0 ? 1 + below(2) : 0, true);
            rule.predecessor = text(1 + (below(3) == 0 ? below(3) : 0), true);
            rule.rightContext = text(below(3) == 0 ? 1 + below(2) : 0, true);
        }
        rule.successor = text(below(8) == 0 ? 15 + below(25) : below(5), false);
        system.rules.push_back(rule);
    }
    system.n = static_cast<std::uint32_t>(below(6));
    system.ceiling = below(3) == 0 ? static_cast<std::uint64_t>(below(200)) : 20000;
    return system;
}

TEST(ProduceAgainstReference, RandomSmallSystems)
{
    std::mt19937 random(20240601);
    for (int round = 0; round < 3000; ++round) {
        const RandomSystem random_system = randomSystem(random);
        LSystem system;
        system.axiom = random_system.axiom;
        system.rules = makeRules(random_system.rules);
        system.n = random_system.n;
        system.wordCeiling = random_system.ceiling;

        const reference::Production expected =
            reference::produce(random_system.axiom, random_system.rules, random_system.n, random_system.ceiling);
        const std::string console = produceCapturingOutput(system);
        ASSERT_EQ(system.word, expected.word) << "round " << round << ", axiom " << random_system.axiom;
        ASSERT_EQ(console, expected.output) << "round " << round << ", axiom " << random_system.axiom;
    }
}

// Words long enough that the output grows in several steps and the ceiling is looked
// at many times during one scan.
TEST(ProduceAgainstReference, LongWords)
{
    std::mt19937 random(7);
    std::string axiom(300000, ' ');
    for (char& c : axiom) {
        c = "ABF+-[]"[std::uniform_int_distribution<int>(0, 6)(random)];
    }
    const std::vector<RuleText> rules = {{"A", "B", "A", "BB"},
                                         {"F", "F", "", "FA"},
                                         {"", "A", "+", "F"},
                                         {"[", "B", "]", ""},
                                         {"", "F", "", "F[+F]F[-F]F"},
                                         {"", "B", "", "A"}};
    for (const std::uint32_t n : {1u, 2u, 3u}) {
        LSystem system;
        system.axiom = axiom;
        system.rules = makeRules(rules);
        system.n = n;
        const reference::Production expected = reference::produce(axiom, rules, n, system.wordCeiling);
        EXPECT_EQ(produceCapturingOutput(system), expected.output);
        EXPECT_TRUE(system.word == expected.word) << "n = " << n;
    }
}

// Thousands of rules over byte values far apart, so that the matcher must keep the
// children of many trie nodes as sparse lists besides dense blocks.
TEST(ProduceAgainstReference, ManyRulesOverFarApartBytes)
{
    const std::string bytes = "\x00\x01\x7f\x80\xfe\xff" "A"s;
    std::mt19937 random(99);
    auto below = [&](int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random); };
    auto text = [&](int length) {
        std::string s;
        for (int i = 0; i < length; ++i) {
            s += bytes[below(static_cast<int>(bytes.size()))];
        }
        return s;
    };
    for (int round = 0; round < 5; ++round) {
        std::vector<RuleText> texts;
        for (int r = 0; r < 3000; ++r) {
            texts.push_back({text(below(2)), text(1 + below(3)), text(below(2)), text(below(4))});
        }
        // Longer match texts first, so that they are not all hidden by shorter ones
        // and the walks through the trie go deep.
        std::stable_sort(texts.begin(), texts.end(), [](const RuleText& a, const RuleText& b) {
            return a.leftContext.size() + a.predecessor.size() + a.rightContext.size() >
                   b.leftContext.size() + b.predecessor.size() + b.rightContext.size();
        });
        LSystem system;
        system.axiom = text(1000);
        system.rules = makeRules(texts);
        system.n = 2;
        const reference::Production expected = reference::produce(system.axiom, texts, system.n, system.wordCeiling);
        ASSERT_EQ(produceCapturingOutput(system), expected.output) << "round " << round;
        ASSERT_TRUE(system.word == expected.word) << "round " << round;
    }
}

// Match texts of up to 60 bytes, longer than the matcher's trie is deep, over words of
// long runs of A, so that many scan positions need the long texts. With the default
// description ceiling the long texts are found by an automaton; with a ceiling of 0
// there is no room for one, and they are compared one by one.
struct LongTextMode {
    const char* name;
    std::uint64_t descriptionCeiling;
};

void PrintTo(const LongTextMode& mode, std::ostream* out) { *out << mode.name; }

class LongMatchTextTest : public testing::TestWithParam<LongTextMode> {};

TEST_P(LongMatchTextTest, AgreesWithReference)
{
    std::mt19937 random(4242);
    auto below = [&](int bound) { return std::uniform_int_distribution<int>(0, bound - 1)(random); };
    auto text = [&](int length) {
        std::string s;
        for (int i = 0; i < length; ++i) {
            s += below(12) == 0 ? "B+"[below(2)] : 'A';
        }
        return s;
    };
    for (int round = 0; round < 400; ++round) {
        std::vector<RuleText> texts;
        const int ruleCount = 1 + below(6);
        for (int r = 0; r < ruleCount; ++r) {
            const int length = below(3) == 0 ? 1 + below(4) : 10 + below(51);
            const std::string match = text(length);
            const int left = below(length);
            const int predecessor = 1 + below(length - left);
            texts.push_back({match.substr(0, left), match.substr(left, predecessor),
                             match.substr(left + predecessor), text(below(4))});
        }
        LSystem system;
        system.descriptionCeiling = GetParam().descriptionCeiling;
        system.axiom = text(below(3000));
        system.rules = makeRules(texts);
        system.n = 1 + below(3);
        system.wordCeiling = 50000;
        const reference::Production expected = reference::produce(system.axiom, texts, system.n, system.wordCeiling);
        ASSERT_EQ(produceCapturingOutput(system), expected.output) << "round " << round;
        ASSERT_TRUE(system.word == expected.word) << "round " << round;
    }
}

INSTANTIATE_TEST_SUITE_P(Matchers, LongMatchTextTest,
                         testing::Values(LongTextMode{"Automaton", std::uint64_t{1} << 30},
                                         LongTextMode{"OneByOne", 0}),
                         [](const testing::TestParamInfo<LongTextMode>& info) { return std::string(info.param.name); });

// A left context of a million bytes, in a description of about 4 MB: the matcher's
// memory stays within what the description ceiling leaves beside the description (at
// 12 MB there is no room for the automaton, at 64 MB there is), and the word is right
// either way.
TEST(LongMatchTextMemory, MatcherStaysWithinTheDescriptionCeiling)
{
    const std::string context(1 << 20, 'A');
    const std::string axiom = context + "BAAB";
    for (const std::uint64_t ceiling : {std::uint64_t(12) << 20, std::uint64_t(64) << 20}) {
        LSystem system;
        system.axiom = axiom;
        system.rules = makeRules({{context, "B", "", "X"}});
        system.descriptionCeiling = ceiling;
        gLargestAllocation = 0;
        EXPECT_EQ(produceCapturingOutput(system), "1 \n" + summary(1, axiom.size()));
        EXPECT_LT(gLargestAllocation, ceiling / 2) << ceiling;
        EXPECT_TRUE(system.word == context + "XAAB");
    }
}

// Each call starts again from the axiom, whatever n and the word were before.
TEST(ProduceAgainstReference, RepeatedCallsWithChangingN)
{
    LSystem system;
    system.axiom = "F";
    const std::vector<RuleText> rules = {{"", "F", "", "F[+F]F[-F]F"}};
    system.rules = makeRules(rules);
    for (const std::uint32_t n : {3u, 4u, 0u, 0u, 2u, 5u}) {
        system.n = n;
        const reference::Production expected = reference::produce(system.axiom, rules, n, system.wordCeiling);
        EXPECT_EQ(produceCapturingOutput(system), expected.output) << "n = " << n;
        EXPECT_EQ(system.word, expected.word) << "n = " << n;
    }
}

// --- The word ceiling ----------------------------------------------------------------

// The bush F -> F[+F]F[-F]F has 11, 61, 311, 1561 and 7811 letters after 1 to 5
// iterations, with 1, 6, 31, 156 and 781 replacements in all.
class WordCeilingTest : public testing::Test {
protected:
    void SetUp() override
    {
        system_.axiom = "F";
        system_.rules = makeRules(bushRules_);
    }
    void TearDown() override { gFailAllocationsFrom = kNoAllocationLimit; }

    std::string bush(std::uint32_t n)
    {
        return reference::produce("F", bushRules_, n, static_cast<std::uint64_t>(-1)).word;
    }

    const std::vector<RuleText> bushRules_ = {{"", "F", "", "F[+F]F[-F]F"}};
    LSystem system_;
};

TEST_F(WordCeilingTest, StopsAtTheIterationThatCrossesIt)
{
    system_.n = 6;
    system_.wordCeiling = 310;
    EXPECT_EQ(produceCapturingOutput(system_),
              "1 2 3 \n"
              "Production stopped at iteration 3: the word would exceed 310 letters\n"
              "Production done: 6 replaces done, final product has 61 letters\n"
              "----------------\n");
    EXPECT_EQ(system_.word, bush(2));
}

TEST_F(WordCeilingTest, WordOfExactlyTheCeilingIsKept)
{
    system_.n = 3;
    system_.wordCeiling = 311;
    EXPECT_EQ(produceCapturingOutput(system_), "1 2 3 \n" + summary(31, 311));
    EXPECT_EQ(system_.word, bush(3));
}

TEST_F(WordCeilingTest, LaterCallWithSmallerNWorksNormally)
{
    system_.n = 5;
    system_.wordCeiling = 1000;
    produceCapturingOutput(system_);
    system_.n = 3;
    EXPECT_EQ(produceCapturingOutput(system_), "1 2 3 \n" + summary(31, 311));
    EXPECT_EQ(system_.word, bush(3));
}

// The crossing is found part-way through a long scan; the previous word stays whole.
TEST_F(WordCeilingTest, CrossedInTheMiddleOfALongScan)
{
    system_.axiom = std::string(1000000, 'F');
    system_.rules = makeRules({{"", "F", "", "FF"}});
    system_.n = 2;
    system_.wordCeiling = 1500000;
    EXPECT_EQ(produceCapturingOutput(system_),
              "1 \n"
              "Production stopped at iteration 1: the word would exceed 1500000 letters\n" +
                  summary(0, 1000000));
    EXPECT_EQ(system_.word, system_.axiom);
}

TEST_F(WordCeilingTest, AllocationFailureBelowItStopsAndSaysSo)
{
    system_.n = 7;
    system_.wordCeiling = 1000000;
    gFailAllocationsFrom = 20000;  // the 39,061 letters of iteration 6 can't be held
    const std::string console = produceCapturingOutput(system_);
    gFailAllocationsFrom = kNoAllocationLimit;
    EXPECT_EQ(console,
              "1 2 3 4 5 6 \n"
              "Production stopped at iteration 6: not enough memory for 39061 letters\n" +
                  summary(781, 7811));
    EXPECT_EQ(system_.word, bush(5));

    system_.n = 6;
    EXPECT_EQ(produceCapturingOutput(system_), "1 2 3 4 5 6 \n" + summary(3906, 39061));
}

// --- Abandoning a production through keepGoing ------------------------------------

// Systems whose words run to millions of letters, one for each way produce works: the
// bush F -> FF, decided by each letter alone, through letter counts and one writing
// scan per iteration; a context-sensitive system, which is scanned twice per iteration;
// an axiom that no rule changes, which is only counted and copied; a successor of
// millions of letters.
struct LongSystem {
    const char* name;
    std::string axiom;
    std::vector<RuleText> rules;
    std::uint32_t n;
};

const LongSystem kLongSystems[] = {
    {"FirstByteDecides", std::string(4 << 20, 'F'), {{"", "F", "", "FF"}}, 2},
    {"ContextScan", repeated("ABAF+", 1 << 20), {{"A", "B", "A", "BB"}, {"", "A", "+", "F"}, {"", "B", "", "A"}}, 3},
    {"NothingReplaced", std::string(6 << 20, 'x'), {{"", "F", "", "FF"}}, 2},
    {"LongSuccessor", "A-A", {{"", "A", "", std::string(3 << 20, 'B')}, {"", "B", "", "F"}}, 3},
};

void PrintTo(const LongSystem& s, std::ostream* out) { *out << s.name; }

// A keepGoing that says true as often as allowed, then false, and counts its calls.
class CountingKeepGoing {
public:
    explicit CountingKeepGoing(std::uint64_t allowed) : allowed_(allowed) {}
    KeepGoing function()
    {
        return [this] { return ++calls_ <= allowed_; };
    }
    std::uint64_t calls() const { return calls_; }

private:
    std::uint64_t allowed_;
    std::uint64_t calls_ = 0;
};

class AbandonTest : public testing::TestWithParam<LongSystem> {
protected:
    void SetUp() override
    {
        system_.axiom = GetParam().axiom;
        system_.rules = makeRules(GetParam().rules);
        system_.n = GetParam().n;
        testing::internal::CaptureStdout();
        EXPECT_TRUE(system_.produce());
        console_ = capturedOutput();
        word_ = system_.word;
    }

    LSystem system_;
    std::string console_;  // of a production without keepGoing
    std::string word_;
};

// Always true: the same word and report, and the question asked at least once per four
// million letters that the iterations read and write.
TEST_P(AbandonTest, KeepGoingThatAlwaysSaysTrueChangesNothing)
{
    CountingKeepGoing keepGoing(static_cast<std::uint64_t>(-1));
    testing::internal::CaptureStdout();
    EXPECT_TRUE(system_.produce(keepGoing.function()));
    EXPECT_EQ(capturedOutput(), console_);
    EXPECT_TRUE(system_.word == word_);

    std::uint64_t letters = 0;
    std::uint64_t previous = system_.axiom.size();
    for (std::uint32_t n = 1; n <= GetParam().n; ++n) {
        system_.n = n;
        produceCapturingOutput(system_);
        letters += previous + system_.word.size();
        previous = system_.word.size();
    }
    EXPECT_GE(keepGoing.calls(), letters >> 22);
}

// False at the first call, half-way and at the last: produce stops at that call,
// leaves the word empty, prints only the iteration numbers begun, and a later
// production works as before.
TEST_P(AbandonTest, KeepGoingThatSaysFalseStopsAtOnce)
{
    CountingKeepGoing counter(static_cast<std::uint64_t>(-1));
    testing::internal::CaptureStdout();
    system_.produce(counter.function());
    capturedOutput();
    const std::uint64_t calls = counter.calls();
    ASSERT_GE(calls, 4u);

    for (const std::uint64_t allowed : {std::uint64_t(0), calls / 2, calls - 1}) {
        CountingKeepGoing keepGoing(allowed);
        system_.word = "left over";
        testing::internal::CaptureStdout();
        EXPECT_FALSE(system_.produce(keepGoing.function())) << allowed;
        const std::string console = capturedOutput();
        EXPECT_EQ(keepGoing.calls(), allowed + 1);
        EXPECT_TRUE(system_.word.empty()) << allowed;
        EXPECT_EQ(console.find('\n'), std::string::npos) << console;
        EXPECT_EQ(console_.compare(0, console.size(), console), 0) << console;
    }

    testing::internal::CaptureStdout();
    EXPECT_TRUE(system_.produce());
    EXPECT_EQ(capturedOutput(), console_);
    EXPECT_TRUE(system_.word == word_);
}

INSTANTIATE_TEST_SUITE_P(LongWords, AbandonTest, testing::ValuesIn(kLongSystems),
                         [](const testing::TestParamInfo<LongSystem>& info) { return std::string(info.param.name); });

// Memory running out elsewhere than at the next word: the matcher of the rules can't
// be built, or the axiom can't be copied into the word. The number of letters is the
// length of the word that was to be rewritten or kept.
struct OutOfMemoryCase {
    const char* name;
    std::string axiom;
    std::vector<RuleText> rules;
    std::uint32_t n;
    std::size_t failFrom;  // allocations of this many bytes or more fail
    std::string console;
    std::string word;
};

void PrintTo(const OutOfMemoryCase& c, std::ostream* out) { *out << c.name; }

const OutOfMemoryCase kOutOfMemoryCases[] = {
    // The trie's first block alone takes 4 KiB.
    {"MatcherCantBeBuilt", "F+F", {{"", "F", "", "FF"}}, 3, 4000,
     "1 \nProduction stopped at iteration 1: not enough memory for 3 letters\n" + summary(0, 3), "F+F"},
    {"AxiomCantBeKept", std::string(10000, 'x'), {{"", "F", "", "FF"}}, 2, 5000,
     "1 2 \nProduction stopped at iteration 1: not enough memory for 10000 letters\n" + summary(0, 0), ""},
};

class OutOfMemoryTest : public testing::TestWithParam<OutOfMemoryCase> {
protected:
    void TearDown() override { gFailAllocationsFrom = kNoAllocationLimit; }
};

TEST_P(OutOfMemoryTest, StopsAndSaysHowManyLetters)
{
    const OutOfMemoryCase& c = GetParam();
    LSystem system;
    system.axiom = c.axiom;
    system.rules = makeRules(c.rules);
    system.n = c.n;
    gFailAllocationsFrom = c.failFrom;
    const std::string console = produceCapturingOutput(system);
    gFailAllocationsFrom = kNoAllocationLimit;
    EXPECT_EQ(console, c.console);
    EXPECT_EQ(system.word, c.word);
}

INSTANTIATE_TEST_SUITE_P(Places, OutOfMemoryTest, testing::ValuesIn(kOutOfMemoryCases),
                         [](const testing::TestParamInfo<OutOfMemoryCase>& info) { return std::string(info.param.name); });

// --- Several iterations at once ------------------------------------------------------

// Systems whose last iterations are taken at once: by letters where the first byte
// decides, by pieces where every rule's output scans alone as anywhere (the Gosper
// curve's two-letter predecessors, closed contexts), and one whose output is not closed
// ("A" at its end could begin "AB"), which goes one iteration at a time. Each against
// the plain model, at several n and word ceilings, one call after another.
struct AtOnceCase {
    const char* name;
    std::string axiom;
    std::vector<RuleText> rules;
};

void PrintTo(const AtOnceCase& c, std::ostream* out) { *out << c.name; }

const AtOnceCase kAtOnceCases[] = {
    {"Dragon", "FX", {{"", "X", "", "X+YF+"}, {"", "Y", "", "-FX-Y"}}},
    {"Gosper", "Fl", {{"", "Fl", "", "Fl+Fr++Fr-Fl--FlFl-Fr+"}, {"", "Fr", "", "-Fl+FrFr++Fr+Fl--Fl-Fr"}}},
    {"ClosedContexts", "AB", {{"A", "B", "A", "BAB"}, {"", "AB", "", "ABA"}, {"", "B", "", "AB"}, {"", "BAA", "", "B"}}},
    {"BracketsAndRightContext", "XY[Z]", {{"", "X", "", "X[Y]Z"}, {"", "[Y]", "", "[YZ]"}, {"", "Z", "Z", "ZY"}, {"", "Y", "", "X"}}},
    {"OutputNotClosed", "AB", {{"", "AB", "", "BA"}, {"", "B", "", "BA"}, {"", "A", "", "BBA"}}},
};

class AtOnceTest : public testing::TestWithParam<AtOnceCase> {};

TEST_P(AtOnceTest, AgreesWithReference)
{
    const AtOnceCase& c = GetParam();
    LSystem system;
    system.axiom = c.axiom;
    system.rules = makeRules(c.rules);
    for (const std::uint64_t ceiling : {std::uint64_t(300000), std::uint64_t(5000)}) {
        system.wordCeiling = ceiling;
        for (const std::uint32_t n : {0u, 1u, 2u, 5u, 9u, 4u, 12u, 70u}) {
            system.n = n;
            const reference::Production expected = reference::produce(c.axiom, c.rules, n, ceiling);
            ASSERT_EQ(produceCapturingOutput(system), expected.output) << "n = " << n << ", ceiling " << ceiling;
            ASSERT_TRUE(system.word == expected.word) << "n = " << n << ", ceiling " << ceiling;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Systems, AtOnceTest, testing::ValuesIn(kAtOnceCases),
                         [](const testing::TestParamInfo<AtOnceCase>& info) { return std::string(info.param.name); });

// --- The storage of the words ---------------------------------------------------------

// P and L after a first production write into the storage that it left: no allocation
// as large as half the word, while the storage held between productions stays within
// 2.5 bytes per letter of the largest word. The bush, whose last iterations are taken
// at once, and a context-sensitive system, which writes every iteration; n is where
// each makes a few million letters.
TEST(WordStorage, PAndLReuseTheLastProductionsStorage)
{
    const std::pair<std::vector<RuleText>, std::uint32_t> systems[] = {
        {{{"", "F", "", "F[+F]F[-F]F"}}, 8},
        {{{"[", "+F", "]", "+F[+F][-F]"}, {"[", "-F", "]", "-F[+F][-F]"}, {"", "F", "", "FF"}}, 16},
    };
    for (const auto& [rules, n] : systems) {
        LSystem system;
        system.axiom = "F[+F][-F]";
        system.rules = makeRules(rules);
        system.n = n;
        produceCapturingOutput(system);
        const std::size_t largest = system.word.size();
        ASSERT_GT(largest, 1000000u);
        for (const std::uint32_t later : {n - 1, n, n - 1, n}) {
            system.n = later;
            gLargestAllocation = 0;
            const std::string console = produceCapturingOutput(system);
            EXPECT_LT(gLargestAllocation, largest / 2) << "n = " << later;
            EXPECT_EQ(console, reference::produce(system.axiom, rules, later, system.wordCeiling).output);
            EXPECT_LE(system.word.capacity() + system.spareWord.capacity(), largest * 5 / 2) << "n = " << later;
        }
    }
}

// --- The replacement count ------------------------------------------------------------

// A million letters, each replaced by itself at every iteration, 4,097 times:
// 4,296,015,872 replacements, past 2^32, printed whole.
TEST(ReplacementCount, IsPrintedWholePastThirtyTwoBits)
{
    LSystem system;
    system.axiom = std::string(1 << 20, 'A');
    system.rules = makeRules({{"", "A", "", "A"}});
    system.n = 4097;
    testing::internal::CaptureStdout();
    system.produce();
    const std::string console = capturedOutput();
    EXPECT_EQ(console.substr(console.find('\n') + 1), summary(4296015872u, 1 << 20));
    EXPECT_EQ(system.word, system.axiom);
}

TEST(DefaultWordCeiling, IsThePrintableCount)
{
    EXPECT_EQ(LSystem().wordCeiling, 4294967295u);
}

}  // namespace
