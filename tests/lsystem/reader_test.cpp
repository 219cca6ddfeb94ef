// Tests of the description-file reader: how tokens become assignments, rules and the
// axiom, the exact bytes of the summary, files that can't be read or hold tokens far
// longer than a line, the memory ceiling, including an allocation failure below it
// (global operator new is replaced in this test program) and the peak memory beside it,
// and the question whether to go on, asked while a file is awaited and read. Each test
// writes its description into a fresh temporary dir.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <random>
#include <string>
#include <vector>

#include "console/console.h"
#include "lsystem/lsystem.h"
#include "tests/lsystem/allocation_limit.h"

namespace {

namespace fs = std::filesystem;

using namespace std::string_literals;

// A rule as the tests expect it; matchText is checked against the three parts.
struct ExpectedRule {
    std::string leftContext;
    std::string predecessor;
    std::string rightContext;
    std::string successor;
};

struct ReadResult {
    std::string output;  // everything printed on standard output
    LSystem lsystem;
};

class ReaderTest : public testing::Test {
protected:
    void SetUp() override
    {
        const testing::TestInfo* info = testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : name) {
            if (c == '/') c = '_';
        }
        dir_ = fs::temp_directory_path() / ("reader_test_" + name + "_" + std::to_string(std::random_device{}()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }

    void TearDown() override { fs::remove_all(dir_); }

    // Writes bytes into a file of the temporary directory and returns its path.
    std::string writeFile(const std::string& bytes, const char* name = "description.txt")
    {
        const fs::path path = dir_ / name;
        std::ofstream out(path, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    // Reads path into a fresh LSystem, capturing what it prints.
    static void readCapturing(const std::string& path, ReadResult& result)
    {
        testing::internal::CaptureStdout();
        result.lsystem.readDescription(path.c_str());
        consoleSync();  // the console module writes from its own thread
        result.output = testing::internal::GetCapturedStdout();
    }

    fs::path dir_;
};

// The part of the output before the summary: the messages about tokens.
std::string messagesOf(const std::string& output)
{
    const std::size_t summary = output.find("Finished parsing file: \n");
    EXPECT_NE(summary, std::string::npos) << output;
    return output.substr(0, summary);
}

void expectRules(const LSystem& lsystem, const std::vector<ExpectedRule>& expected)
{
    ASSERT_EQ(lsystem.rules.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Rule& rule = lsystem.rules[i];
        EXPECT_EQ(rule.leftContext, expected[i].leftContext) << "rule " << i;
        EXPECT_EQ(rule.predecessor, expected[i].predecessor) << "rule " << i;
        EXPECT_EQ(rule.rightContext, expected[i].rightContext) << "rule " << i;
        EXPECT_EQ(rule.successor, expected[i].successor) << "rule " << i;
        EXPECT_EQ(rule.matchText, rule.leftContext + rule.predecessor + rule.rightContext)
            << "rule " << i;
    }
}

// ---------------------------------------------------------------------------------------
// Token classification and rule cutting.

struct TokenCase {
    const char* label;
    std::string file;
    std::string messages;  // printed before the summary
    std::uint32_t n;
    std::uint32_t d;
    float delta;
    std::string axiom;
    std::vector<ExpectedRule> rules;
};

void PrintTo(const TokenCase& c, std::ostream* os) { *os << c.label; }

const TokenCase kTokenCases[] = {
    {"WorkedExample", "n=2 delta=22.5 x=7\nF\nF->F[+F]F[-F]F   A<B>C->BB\n->X\n",
     "Unable to parse 'x=7' (unknown variable)\nError parsing '->X'\n", 2, 1, 22.5f, "F",
     {{"", "F", "", "F[+F]F[-F]F"}, {"A", "B", "C", "BB"}}},

    // Contexts, and which marker wins.
    {"BothContexts", "A<B>C->X", "", 1, 1, 90.0f, "", {{"A", "B", "C", "X"}}},
    {"RightContextOnly", "B>C->X", "", 1, 1, 90.0f, "", {{"", "B", "C", "X"}}},
    {"LeftContextOnly", "A<B->X", "", 1, 1, 90.0f, "", {{"A", "B", "", "X"}}},
    {"EmptyContextsAreNone", "<B->X B>->X", "", 1, 1, 90.0f, "",
     {{"", "B", "", "X"}, {"", "B", "", "X"}}},
    {"GreaterBeforeLessIsLeftContext", "A>B<C->X", "", 1, 1, 90.0f, "", {{"A>B", "C", "", "X"}}},
    {"SecondLessStaysInPredecessor", "A<B<C->X", "", 1, 1, 90.0f, "", {{"A", "B<C", "", "X"}}},
    {"SecondGreaterStaysInRightContext", "A<B>C>D->X", "", 1, 1, 90.0f, "",
     {{"A", "B", "C>D", "X"}}},

    // The first "->" cuts; the successor is taken whole.
    {"EmptySuccessor", "F->", "", 1, 1, 90.0f, "", {{"", "F", "", ""}}},
    {"ArrowInSuccessor", "A->B->C", "", 1, 1, 90.0f, "", {{"", "A", "", "B->C"}}},
    {"DoubleDashArrow", "F-->G", "", 1, 1, 90.0f, "", {{"", "F-", "", "G"}}},
    {"MarkersInSuccessor", "F->A<B>C", "", 1, 1, 90.0f, "", {{"", "F", "", "A<B>C"}}},
    {"SamePredecessorKeptInOrder", "F->A F->B", "", 1, 1, 90.0f, "",
     {{"", "F", "", "A"}, {"", "F", "", "B"}}},

    // Empty predecessors are rejected, whatever the contexts.
    {"EmptyPredecessors", "A<>C->X <->X ->X -> F->G",
     "Error parsing 'A<>C->X'\nError parsing '<->X'\nError parsing '->X'\nError parsing '->'\n",
     1, 1, 90.0f, "", {{"", "F", "", "G"}}},

    // "=" is tested before "->".
    {"EqualsBeatsArrow", "F->F=F", "Unable to parse 'F->F=F' (unknown variable)\n", 1, 1, 90.0f,
     "", {}},

    // Assignments: the last one that converts counts.
    {"RepeatedAssignment", "n=3 n=5", "", 5, 1, 90.0f, "", {}},
    {"NonConvertingKeepsValue", "n=3 n=x d=4 d= delta=45 delta=abc", "", 3, 4, 45.0f, "", {}},
    {"TrailingTextIgnored", "n=5x d=7.9 delta=30,5", "", 5, 7, 30.0f, "", {}},
    {"EmptyAndSecondEquals", "n= d==3 delta==1", "", 1, 1, 90.0f, "", {}},
    {"PlusSign", "n=+7 d=+0 delta=+2.5", "", 7, 0, 2.5f, "", {}},
    {"UnknownNames", "N=3 x=1 =5 deltax=4 Delta=4",
     "Unable to parse 'N=3' (unknown variable)\nUnable to parse 'x=1' (unknown variable)\n"
     "Unable to parse '=5' (unknown variable)\nUnable to parse 'deltax=4' (unknown variable)\n"
     "Unable to parse 'Delta=4' (unknown variable)\n",
     1, 1, 90.0f, "", {}},
    {"NameLongerThanAnyBuffer", std::string(40, 'n') + "=3",
     "Unable to parse '" + std::string(40, 'n') + "=3' (unknown variable)\n", 1, 1, 90.0f, "", {}},
    {"SpacedAssignment", "n = 3", "Unable to parse '=' (unknown variable)\n", 1, 1, 90.0f, "3", {}},

    // Integers out of range do not convert, where "%u" would wrap them.
    {"NegativeIntegers", "n=4 n=-1 d=-0", "", 4, 1, 90.0f, "", {}},
    {"IntegerTooLarge", "n=4294967296 d=99999999999999999999", "", 1, 1, 90.0f, "", {}},
    {"LargestInteger", "n=4294967295 d=0004294967295", "", 4294967295u, 4294967295u, 90.0f, "",
     {}},
    // One "+" only, as "%u" takes it, and digits right after it.
    {"OneSignOnly", "n=3 n=++5 n=+-5 n=+ d=4 d=+ 6 d=-+7", "", 3, 4, 90.0f, "6", {}},

    // Floats as "%f" reads them, but never infinite or NaN.
    {"InfiniteAndNaNDoNotConvert",
     "delta=inf delta=-INF delta=nan delta=1e39 delta=-1e39 delta=3.5e38 delta=0x1p200 delta=1" +
         std::string(50, '0') + "e-10",
     "", 1, 1, 90.0f, "", {}},
    {"LargestFloat", "delta=3.4028235e38", "", 1, 1, 3.4028235e38f, "", {}},
    {"ExponentWithoutDigits", "delta=1e", "", 1, 1, 1.0f, "", {}},
    {"LeadingPoint", "delta=.5", "", 1, 1, 0.5f, "", {}},
    {"NegativeWithExponent", "delta=-.5e1", "", 1, 1, -5.0f, "", {}},
    {"UnderflowReadsAsZero", "delta=1e-50", "", 1, 1, 0.0f, "", {}},
    {"UnderflowWithManyZeros", "delta=0." + std::string(60, '0') + "1e10", "", 1, 1, 0.0f, "", {}},
    {"Subnormal", "delta=1e-40", "", 1, 1, 1e-40f, "", {}},
    {"Hexadecimal", "delta=0x1.8p4", "", 1, 1, 24.0f, "", {}},
    {"MalformedSigns", "delta=--5 delta=+-5 delta=0x delta=0x-1 delta=. delta=e5", "", 1, 1,
     90.0f, "", {}},

    // Axiom tokens: the last one counts.
    {"LastAxiomWins", "F n=2 G+G", "", 2, 1, 90.0f, "G+G", {}},
    {"AxiomMayHoldMarkers", "A<B>C-D", "", 1, 1, 90.0f, "A<B>C-D", {}},

    // Bytes are bytes: CR, NUL, Ctrl-Z and bytes above 127.
    {"CrLfLineEnds", "n=2\r\nF\r\nF->FF\r\n", "", 2, 1, 90.0f, "F", {{"", "F", "", "FF"}}},
    {"NulAndHighBytes", "A\0\xff\x1a" "B x\0=1 F->\0\x80"s,
     "Unable to parse 'x\0=1' (unknown variable)\n"s, 1, 1, 90.0f, "A\0\xff\x1a" "B"s,
     {{"", "F", "", "\0\x80"s}}},
    // A UTF-8 byte-order mark at the very start of the file is skipped; anywhere else,
    // or cut short, its bytes are symbols like any others.
    {"ByteOrderMarkBeforeAssignment", "\xEF\xBB\xBFn=4 F", "", 4, 1, 90.0f, "F", {}},
    {"ByteOrderMarkBeforeRule", "\xEF\xBB\xBF" "F->FF", "", 1, 1, 90.0f, "", {{"", "F", "", "FF"}}},
    {"ByteOrderMarkAlone", "\xEF\xBB\xBF", "", 1, 1, 90.0f, "", {}},
    {"SecondByteOrderMarkIsSymbols", "\xEF\xBB\xBF\xEF\xBB\xBF" "F", "", 1, 1, 90.0f,
     "\xEF\xBB\xBF" "F", {}},
    {"ByteOrderMarkAfterBlankIsSymbols", " \xEF\xBB\xBFn=4",
     "Unable to parse '\xEF\xBB\xBFn=4' (unknown variable)\n", 1, 1, 90.0f, "", {}},
    {"ByteOrderMarkInsideIsSymbols", "F\xEF\xBB\xBF \xEF\xBB\xBF" "G->H", "", 1, 1, 90.0f,
     "F\xEF\xBB\xBF", {{"", "\xEF\xBB\xBF" "G", "", "H"}}},
    {"HalfAByteOrderMarkIsSymbols", "\xEF\xBB" "F", "", 1, 1, 90.0f, "\xEF\xBB" "F", {}},
    {"AllSixSeparators", "n=2\tF\vG->H\fd=3\rdelta=4 \n", "", 2, 3, 4.0f, "F",
     {{"", "G", "", "H"}}},
};

class TokenTest : public ReaderTest, public testing::WithParamInterface<TokenCase> {};

TEST_P(TokenTest, ClassifiesAndCuts)
{
    const TokenCase& c = GetParam();
    ReadResult result;
    readCapturing(writeFile(c.file), result);
    EXPECT_EQ(messagesOf(result.output), c.messages);
    EXPECT_EQ(result.lsystem.n, c.n);
    EXPECT_EQ(result.lsystem.d, c.d);
    EXPECT_EQ(result.lsystem.delta, c.delta);
    EXPECT_EQ(result.lsystem.axiom, c.axiom);
    expectRules(result.lsystem, c.rules);
    EXPECT_TRUE(result.lsystem.word.empty());
}

INSTANTIATE_TEST_SUITE_P(Reader, TokenTest, testing::ValuesIn(kTokenCases),
                         [](const testing::TestParamInfo<TokenCase>& info) {
                             return std::string(info.param.label);
                         });

TEST_F(ReaderTest, UnderflowKeepsItsSign)
{
    ReadResult result;
    readCapturing(writeFile("delta=-1e-50"), result);
    EXPECT_EQ(result.lsystem.delta, 0.0f);
    EXPECT_TRUE(std::signbit(result.lsystem.delta));
}

// ---------------------------------------------------------------------------------------
// The summary, byte for byte.

struct SummaryCase {
    const char* label;
    std::string file;
    std::string output;
};

void PrintTo(const SummaryCase& c, std::ostream* os) { *os << c.label; }

const SummaryCase kSummaryCases[] = {
    {"EmptyFile", "",
     "Finished parsing file: \n  n=1, d=1, delta=90.000000\n  \n-----------------------\n"},
    {"WhitespaceOnly", " \t\r\n\v\f  \r\n",
     "Finished parsing file: \n  n=1, d=1, delta=90.000000\n  \n-----------------------\n"},
    {"RulesInFileNotation",
     "n=0 d=7 delta=1234.5678 FX A<B>C->X <B->Y B>C->Z A<B->W B>->V F-> =1 ->Q",
     "Unable to parse '=1' (unknown variable)\n"
     "Error parsing '->Q'\n"
     "Finished parsing file: \n"
     "  n=0, d=7, delta=1234.567749\n"
     "  FX\n"
     "  A<B>C->X\n"
     "  B->Y\n"
     "  B>C->Z\n"
     "  A<B->W\n"
     "  B->V\n"
     "  F->\n"
     "-----------------------\n"},
    {"SixDecimalsRounded", "delta=0.0000004 F",
     "Finished parsing file: \n  n=1, d=1, delta=0.000000\n  F\n-----------------------\n"},
    {"NegativeDelta", "delta=-22.25",
     "Finished parsing file: \n  n=1, d=1, delta=-22.250000\n  \n-----------------------\n"},
    {"NulBytesPrintedWhole", "A\0B C\0<D>\0E->\0F"s,
     "Finished parsing file: \n  n=1, d=1, delta=90.000000\n  A\0B\n  C\0<D>\0E->\0F\n"
     "-----------------------\n"s},
};

class SummaryTest : public ReaderTest, public testing::WithParamInterface<SummaryCase> {};

TEST_P(SummaryTest, PrintsExactBytes)
{
    ReadResult result;
    readCapturing(writeFile(GetParam().file), result);
    EXPECT_EQ(result.output, GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(Reader, SummaryTest, testing::ValuesIn(kSummaryCases),
                         [](const testing::TestParamInfo<SummaryCase>& info) {
                             return std::string(info.param.label);
                         });

// ---------------------------------------------------------------------------------------
// Files that can't be read, and long tokens.

void expectDefaults(const LSystem& lsystem)
{
    EXPECT_EQ(lsystem.n, 1u);
    EXPECT_EQ(lsystem.d, 1u);
    EXPECT_EQ(lsystem.delta, 90.0f);
    EXPECT_TRUE(lsystem.axiom.empty());
    EXPECT_TRUE(lsystem.rules.empty());
}

TEST_F(ReaderTest, MissingFileGivesOnlyTheMessage)
{
    ReadResult result;
    readCapturing((dir_ / "no such file").string(), result);
    EXPECT_EQ(result.output, "Couldn't open specified file!\n");
    expectDefaults(result.lsystem);
}

TEST_F(ReaderTest, DirectoryGivesOnlyTheMessage)
{
    ReadResult result;
    readCapturing(dir_.string(), result);
    EXPECT_EQ(result.output, "Couldn't open specified file!\n");
    expectDefaults(result.lsystem);
}

// A rule of 100,000 bytes whose arrow lies near its start stays one rule with its whole
// successor; nothing of it spills into the axiom.
TEST_F(ReaderTest, TokenOfHundredThousandBytesIsOneToken)
{
    const std::string successor(100000 - 3, 'F');
    ReadResult result;
    readCapturing(writeFile("F->" + successor + "\nn=3"), result);
    EXPECT_EQ(messagesOf(result.output), "");
    expectRules(result.lsystem, {{"", "F", "", successor}});
    EXPECT_TRUE(result.lsystem.axiom.empty());
    EXPECT_EQ(result.lsystem.n, 3u);
    EXPECT_NE(result.output.find("  F->" + successor + "\n"), std::string::npos);
}

// Tokens of every length from 1 to 97 bytes, separated by runs of 1 to 5 whitespace bytes,
// over several megabytes: wherever the reader's reads end, no token is cut or merged.
TEST_F(ReaderTest, TokensAcrossReadsStayWhole)
{
    const char separators[] = " \t\r\n\v\f";
    std::string file;
    std::vector<ExpectedRule> expected;
    for (std::size_t i = 0; file.size() < (3u << 20); ++i) {
        const std::size_t length = 1 + i % 97;
        std::string successor = std::to_string(i);
        successor.resize(length, 'G');
        file += "F->" + successor;
        expected.push_back({"", "F", "", successor});
        for (std::size_t k = 0; k <= i % 5; ++k) file += separators[(i + k) % 6];
    }
    // One axiom token far longer than any read, last in the file, without a line end.
    std::string axiom(5u << 20, 'A');
    axiom[0] = 'B';
    axiom.back() = 'Z';
    file += axiom;

    ReadResult result;
    readCapturing(writeFile(file), result);
    EXPECT_EQ(messagesOf(result.output), "");
    expectRules(result.lsystem, expected);
    EXPECT_TRUE(result.lsystem.axiom == axiom) << "axiom of " << result.lsystem.axiom.size()
                                               << " bytes differs";
}

// ---------------------------------------------------------------------------------------
// The memory ceiling: reading stops before the first token that doesn't fit beside what
// is kept, says so, and prints the summary of what was kept.

// The line printed when reading stops at the ceiling.
std::string stoppedLine(std::uint64_t ceiling)
{
    return "Stopped reading: the description needs more than " + std::to_string(ceiling) +
           " bytes of memory\n";
}

// Reads path with the given ceiling, capturing what it prints; while it reads,
// allocations of failFrom bytes or more fail. peak, when given, gets the most memory
// that was allocated beside what was allocated before, while the reader ran.
void readWithCeiling(const std::string& path, std::uint64_t ceiling, ReadResult& result,
                     std::size_t failFrom = kNoAllocationLimit, std::size_t* peak = nullptr)
{
    result.lsystem.descriptionCeiling = ceiling;
    testing::internal::CaptureStdout();
    gFailAllocationsFrom = failFrom;
    gLargestAllocation = 0;
    bool threw = false;
    const std::size_t before = liveAllocatedBytes();
    gPeakLiveBytes = before;
    try {
        result.lsystem.readDescription(path.c_str());
    } catch (...) {
        threw = true;
    }
    if (peak != nullptr) *peak = gPeakLiveBytes - before;
    gFailAllocationsFrom = kNoAllocationLimit;
    consoleSync();
    result.output = testing::internal::GetCapturedStdout();
    EXPECT_FALSE(threw) << "readDescription let an exception out";
}

const std::string kSummaryEnd = "-----------------------\n";

// Each file is read with a ceiling of 64 bytes, which no rule fits: a Rule alone is
// larger, unless the case sets another. Every token counts with its bytes while it is
// read, the axiom while it is kept, a rule with its cost.
struct CeilingCase {
    const char* label;
    std::string file;
    std::string output;
    std::uint64_t ceiling = 64;
};

// The reader reads the file in pieces of 256 KiB.
constexpr std::size_t kReadSize = 256 * 1024;

// "n=2 F", then blanks up to the rule F-> with a successor of the given length, which
// the end of the first read splits after its first bytes; then what follows.
std::string ruleAcrossReads(std::size_t successor, std::size_t first = 100, const std::string& follows = "")
{
    std::string file = "n=2 F";
    file.resize(kReadSize - first, ' ');
    return file + "F->" + std::string(successor, 'G') + "\n" + follows;
}

constexpr std::uint64_t kRuleCeiling = 300000;

void PrintTo(const CeilingCase& c, std::ostream* os) { *os << c.label; }

const CeilingCase kCeilingCases[] = {
    {"TokensThatFit",
     "n=3 x=1 " + std::string(30, 'A') + " delta=45 " + std::string(30, 'B') + " d=2",
     "Unable to parse 'x=1' (unknown variable)\n"
     "Finished parsing file: \n  n=3, d=2, delta=45.000000\n  " + std::string(30, 'B') + "\n" +
         kSummaryEnd},
    {"AxiomAtTheCeiling", "n=3 " + std::string(64, 'A') + "\n",
     "Finished parsing file: \n  n=3, d=1, delta=90.000000\n  " + std::string(64, 'A') + "\n" +
         kSummaryEnd},
    {"LastTokenAtTheCeiling", "n=3 " + std::string(64, 'A'),
     "Finished parsing file: \n  n=3, d=1, delta=90.000000\n  " + std::string(64, 'A') + "\n" +
         kSummaryEnd},
    {"AxiomOneByteOver", "n=3 " + std::string(65, 'A') + " d=2",
     stoppedLine(64) + "Finished parsing file: \n  n=3, d=1, delta=90.000000\n  \n" + kSummaryEnd},
    {"LastTokenOneByteOver", "n=3 " + std::string(65, 'A'),
     stoppedLine(64) + "Finished parsing file: \n  n=3, d=1, delta=90.000000\n  \n" + kSummaryEnd},
    {"LongTokenKeepsEarlierTokens", "n=2 F x=1 " + std::string(1000, 'A') + " d=3 G",
     "Unable to parse 'x=1' (unknown variable)\n" + stoppedLine(64) +
         "Finished parsing file: \n  n=2, d=1, delta=90.000000\n  F\n" + kSummaryEnd},
    {"AssignmentTooLongToHold", "n=2 d=" + std::string(70, '0') + "5 F",
     stoppedLine(64) + "Finished parsing file: \n  n=2, d=1, delta=90.000000\n  \n" + kSummaryEnd},
    {"RuleTakesMoreThanItsText", "n=2 F F->FF G",
     stoppedLine(64) + "Finished parsing file: \n  n=2, d=1, delta=90.000000\n  F\n" + kSummaryEnd},
    // Kept, and counted: the next rule would fit alone, not beside it.
    {"RuleAcrossReadsIsKeptAndCounted", ruleAcrossReads(200000, 100, "F->" + std::string(100000, 'H')),
     stoppedLine(kRuleCeiling) + "Finished parsing file: \n  n=2, d=1, delta=90.000000\n  F\n  F->" +
         std::string(200000, 'G') + "\n" + kSummaryEnd,
     kRuleCeiling},
    {"RuleWithItsArrowAcrossReads", ruleAcrossReads(200000, 2, "d=3"),
     "Finished parsing file: \n  n=2, d=3, delta=90.000000\n  F\n  F->" + std::string(200000, 'G') + "\n" +
         kSummaryEnd,
     kRuleCeiling},
    // Its bytes fit beside the axiom, the rule they make doesn't.
    {"RuleAcrossReadsWhoseTextFitsButNotTheRule", ruleAcrossReads(kRuleCeiling - 10),
     stoppedLine(kRuleCeiling) + "Finished parsing file: \n  n=2, d=1, delta=90.000000\n  F\n" + kSummaryEnd,
     kRuleCeiling},
    {"RuleAcrossReadsLongerThanTheCeiling", ruleAcrossReads(kRuleCeiling),
     stoppedLine(kRuleCeiling) + "Finished parsing file: \n  n=2, d=1, delta=90.000000\n  F\n" + kSummaryEnd,
     kRuleCeiling},
};

class CeilingTest : public ReaderTest, public testing::WithParamInterface<CeilingCase> {};

TEST_P(CeilingTest, StopsBeforeTheTokenThatCrossesIt)
{
    ReadResult result;
    readWithCeiling(writeFile(GetParam().file), GetParam().ceiling, result);
    EXPECT_EQ(result.output, GetParam().output);
}

INSTANTIATE_TEST_SUITE_P(Reader, CeilingTest, testing::ValuesIn(kCeilingCases),
                         [](const testing::TestParamInfo<CeilingCase>& info) {
                             return std::string(info.param.label);
                         });

// The summary of rules F->0, F->1, ... F->(count - 1) and no axiom, with the defaults.
std::string summaryOfNumberedRules(std::size_t count)
{
    std::string summary = "Finished parsing file: \n  n=1, d=1, delta=90.000000\n  \n";
    for (std::size_t i = 0; i < count; ++i) summary += "  F->" + std::to_string(i) + "\n";
    return summary + kSummaryEnd;
}

std::string numberedRules(std::size_t count)
{
    std::string file;
    for (std::size_t i = 0; i < count; ++i) file += "F->" + std::to_string(i) + "\n";
    return file;
}

// Many short rules: the first ones are kept in file order, each counted at no less than
// the memory it takes, and no more than a few times that.
TEST_F(ReaderTest, ManyRulesStopAtTheCeiling)
{
    constexpr std::uint64_t kCeiling = 100000;
    constexpr std::size_t kRules = 5000;
    ReadResult result;
    readWithCeiling(writeFile(numberedRules(kRules)), kCeiling, result);
    const std::size_t kept = result.lsystem.rules.size();
    ASSERT_GT(kept, 0u);
    ASSERT_LT(kept, kRules);
    EXPECT_EQ(result.output, stoppedLine(kCeiling) + summaryOfNumberedRules(kept));
    EXPECT_LE(kept * (sizeof(Rule) + 5), kCeiling);
    EXPECT_GT((kept + 1) * (4 * sizeof(Rule) + 256), kCeiling);
}

// A token far longer than one read of the file, just at and just over the ceiling.
TEST_F(ReaderTest, TokenAcrossReadsAtTheCeiling)
{
    constexpr std::uint64_t kCeiling = 700000;
    for (const std::uint64_t length : {kCeiling - 1, kCeiling}) {
        SCOPED_TRACE(length);
        const std::string axiom(length, 'A');
        ReadResult result;
        readWithCeiling(writeFile("d=3 F " + axiom + "\n"), kCeiling, result);
        // F is kept while the long token is read.
        const bool fits = 1 + length <= kCeiling;
        EXPECT_EQ(result.output, (fits ? "" : stoppedLine(kCeiling)) +
                                     "Finished parsing file: \n  n=1, d=3, delta=90.000000\n  " +
                                     (fits ? axiom : "F") + "\n" + kSummaryEnd);
    }
}

// An endless token, as from a device or a pipe that never ends, stops at the ceiling,
// and no more of it than the ceiling is held: the token's string, growing by doubling,
// never asks for more than twice that. (Past 64 MB allocations fail, so that a reader
// that holds on is caught without exhausting the machine.)
TEST_F(ReaderTest, EndlessTokenStopsAtTheCeiling)
{
    if (!fs::exists("/dev/zero")) GTEST_SKIP() << "no /dev/zero";
    ReadResult result;
    readWithCeiling("/dev/zero", 1 << 20, result, 64 << 20);
    EXPECT_LE(gLargestAllocation, std::size_t(2) << 20);
    EXPECT_EQ(result.output, stoppedLine(1 << 20) +
                                 "Finished parsing file: \n  n=1, d=1, delta=90.000000\n  \n" +
                                 kSummaryEnd);
    EXPECT_TRUE(result.lsystem.axiom.empty());
}

// Near the ceiling the reader holds at most a fifth more than the ceiling, all of its
// memory counted together: an endless token (/dev/zero), and a rule whose successor
// spans hundreds of reads and is kept. Growing the token by doubling held the old and
// the new buffer at once, and copying the successor out of the token held it twice.
TEST_F(ReaderTest, PeakMemoryStaysNearTheCeiling)
{
    constexpr std::uint64_t kCeiling = 256 << 20;
    const std::string successor(200 << 20, 'G');
    const std::string rule = writeFile("n=2 F->" + successor + " G");
    struct Source {
        const char* label;
        std::string path;
        std::string output;
    };
    const Source sources[] = {
        {"/dev/zero", "/dev/zero",
         stoppedLine(kCeiling) + "Finished parsing file: \n  n=1, d=1, delta=90.000000\n  \n" + kSummaryEnd},
        {"long rule", rule,
         "Finished parsing file: \n  n=2, d=1, delta=90.000000\n  G\n  F->" + successor + "\n" + kSummaryEnd},
    };
    for (const Source& source : sources) {
        if (!fs::exists(source.path)) continue;
        SCOPED_TRACE(source.label);
        ReadResult result;
        std::size_t peak = 0;
        // Allocations past twice the ceiling fail, so that a reader that holds on is
        // caught without exhausting the machine.
        readWithCeiling(source.path, kCeiling, result, 2 * kCeiling, &peak);
        EXPECT_LE(peak, kCeiling + kCeiling / 5) << peak << " bytes at the peak";
        EXPECT_TRUE(result.output == source.output) << result.output.substr(0, 200);
    }
}

// Memory that runs out below the ceiling is met like the ceiling: while a long token is
// gathered, and while the vector of rules grows.
TEST_F(ReaderTest, AllocationFailureStopsReading)
{
    constexpr std::size_t kFailFrom = 1 << 20;
    constexpr std::uint64_t ceiling = std::uint64_t{1} << 30;
    {
        ReadResult result;
        readWithCeiling(writeFile("n=2 F " + std::string(4 << 20, 'A') + " d=3"), ceiling, result,
                        kFailFrom);
        EXPECT_EQ(result.output, stoppedLine(ceiling) +
                                     "Finished parsing file: \n  n=2, d=1, delta=90.000000\n  F\n" +
                                     kSummaryEnd);
    }
    {
        constexpr std::size_t kRules = kFailFrom / sizeof(Rule) * 2;
        ReadResult result;
        readWithCeiling(writeFile(numberedRules(kRules)), ceiling, result, kFailFrom);
        const std::size_t kept = result.lsystem.rules.size();
        ASSERT_LT(kept, kRules);
        EXPECT_EQ(result.output, stoppedLine(ceiling) + summaryOfNumberedRules(kept));
    }
}

// ---------------------------------------------------------------------------------------
// Whether to go on: asked while the file is awaited and after each read. When the answer
// is no, the reading stops at once: readDescription returns false and prints nothing
// more, here nothing at all.

// A FIFO in the test's dir with a writer that stays open while the fixture lives, having
// written text: a read of it waits for ever.
class OpenFifo {
public:
    OpenFifo(const fs::path& path, const std::string& text) : path_(path)
    {
        EXPECT_EQ(mkfifo(path.c_str(), 0600), 0);
        writer_ = open(path.c_str(), O_RDWR);  // read and write: opening doesn't wait
        EXPECT_GE(writer_, 0);
        EXPECT_EQ(write(writer_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    ~OpenFifo() { close(writer_); }
    OpenFifo(const OpenFifo&) = delete;
    OpenFifo& operator=(const OpenFifo&) = delete;

private:
    fs::path path_;
    int writer_ = -1;
};

struct AnswerCase {
    const char* label;
    int yes;  // how many questions are answered yes before the first no
};

class AnswerTest : public ReaderTest, public testing::WithParamInterface<AnswerCase> {
protected:
    // Reads path with a question that says yes `yes` times, then no; fails unless the
    // reader asked, stopped on the no within 10 s, and printed nothing.
    void expectAbandoned(const std::string& path, ReadResult& result)
    {
        std::atomic<int> asked{0};
        const int yes = GetParam().yes;
        const KeepGoing keepGoing = [&asked, yes] { return asked++ < yes; };
        testing::internal::CaptureStdout();
        std::future<bool> reading = std::async(std::launch::async, [&] {
            return result.lsystem.readDescription(path.c_str(), keepGoing);
        });
        const bool stopped = reading.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
        const bool finished = stopped ? reading.get() : true;
        consoleSync();
        result.output = testing::internal::GetCapturedStdout();
        ASSERT_TRUE(stopped) << "the reader did not stop when told (asked " << asked << " times)";
        EXPECT_FALSE(finished);
        EXPECT_EQ(asked, yes + 1);
        EXPECT_EQ(result.output, "");
    }
};

TEST_P(AnswerTest, FifoWhoseWriterStaysOpen)
{
    const fs::path path = dir_ / "fifo";
    OpenFifo fifo(path, "n=2 F F->FF ");
    ReadResult result;
    expectAbandoned(path.string(), result);
    EXPECT_EQ(result.lsystem.n, 1u);
    // The future that still waits in the read ends with the writer, at the end of the test.
}

TEST_P(AnswerTest, EndlessFile)
{
    if (!fs::exists("/dev/zero")) GTEST_SKIP() << "no /dev/zero";
    ReadResult result;
    expectAbandoned("/dev/zero", result);
}

TEST_P(AnswerTest, ManyRules)
{
    constexpr std::size_t kRules = 400000;  // about 4 MB: many reads
    ReadResult result;
    expectAbandoned(writeFile(numberedRules(kRules)), result);
    EXPECT_LT(result.lsystem.rules.size(), kRules);
}

INSTANTIATE_TEST_SUITE_P(Reader, AnswerTest,
                         testing::Values(AnswerCase{"NoAtOnce", 0}, AnswerCase{"NoAtTheThird", 2}),
                         [](const testing::TestParamInfo<AnswerCase>& info) {
                             return std::string(info.param.label);
                         });

// A question that always says yes changes nothing: the same output, the same rules.
TEST_F(ReaderTest, AlwaysYesReadsAsWithoutQuestion)
{
    const std::string path = writeFile(numberedRules(300000) + "n=4 " + std::string(600000, 'A'));
    ReadResult without;
    readCapturing(path, without);
    ReadResult with;
    int asked = 0;
    testing::internal::CaptureStdout();
    EXPECT_TRUE(with.lsystem.readDescription(path.c_str(), [&asked] { return ++asked > 0; }));
    consoleSync();
    with.output = testing::internal::GetCapturedStdout();
    EXPECT_GT(asked, 300000);  // once a read, and once a rule of the summary
    EXPECT_TRUE(with.output == without.output);
    EXPECT_EQ(with.lsystem.rules.size(), 300000u);
    EXPECT_EQ(with.lsystem.axiom, without.lsystem.axiom);
}

}  // namespace
