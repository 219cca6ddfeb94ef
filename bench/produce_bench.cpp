// Speed and memory of LSystem::produce: the bracketed bush F -> F[+F]F[-F]F against
// writing the same bytes into fresh memory and against the scan that erases consumed
// bytes from the front of the word; the families of curves (dragon, Levy, a two-letter
// predecessor, a context-sensitive tree) at 10^7 to 10^8 letters; 10,000 rules with one
// first byte; a context-sensitive and a multi-byte-predecessor system; long left
// contexts; peak memory per letter of the word.
// Linux only: /proc, /dev/null and glibc's malloc_trim.
#include "app/large_pages.h"
#include "bench/make_rule.h"
#include "bench/quiet_stdout.h"
#include "lsystem/lsystem.h"

#include <benchmark/benchmark.h>

#include <malloc.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <random>
#include <string>

namespace {

// The program's own setting: the word buffers asked for with large pages.
void setupBush(LSystem& system, std::uint32_t n)
{
    system.axiom = "F";
    system.rules = {makeRule("", "F", "", "F[+F]F[-F]F")};
    system.n = n;
    system.prepareLargeBuffer = adviseLargePages;
}

double seconds(std::chrono::steady_clock::duration span)
{
    return std::chrono::duration<double>(span).count();
}

// The bush from F at n iterations; bytes are the letters of the final word.
void BM_ProduceBush(benchmark::State& state)
{
    LSystem system;
    setupBush(system, static_cast<std::uint32_t>(state.range(0)));
    for (auto _ : state) {
        QuietStdout quiet;
        system.produce();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * system.word.size()));
    state.counters["letters"] = static_cast<double>(system.word.size());
}
BENCHMARK(BM_ProduceBush)->Arg(7)->Arg(8)->Arg(11)->Unit(benchmark::kMillisecond)->UseRealTime();

// The bush at n = 11 into fresh memory without large pages: beside the production of
// BM_ProduceBushBesideFreshFill, what they win.
void BM_ProduceBushSmallPages(benchmark::State& state)
{
    LSystem system;
    setupBush(system, 11);
    system.prepareLargeBuffer = nullptr;
    for (auto _ : state) {
        {
            QuietStdout quiet;
            system.produce();
        }
        state.PauseTiming();
        std::string().swap(system.word);
        std::string().swap(system.spareWord);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * system.word.size()));
    state.counters["letters"] = static_cast<double>(system.word.size());
}
BENCHMARK(BM_ProduceBushSmallPages)->Unit(benchmark::kMillisecond)->UseRealTime();

// The keys P and L in turn on the bush: n = 10, 11, 10, 11, ... on one LSystem, as the
// window makes them. Bytes are the letters of both words of a pair.
void BM_BushPAndL(benchmark::State& state)
{
    LSystem system;
    setupBush(system, 10);
    std::size_t letters = 0;
    {
        QuietStdout quiet;  // the window's first P and L, which take fresh memory
        for (const std::uint32_t n : {11u, 10u}) {
            system.n = n;
            system.produce();
        }
    }
    for (auto _ : state) {
        QuietStdout quiet;
        letters = 0;
        for (const std::uint32_t n : {11u, 10u}) {
            system.n = n;
            system.produce();
            letters += system.word.size();
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * letters));
}
BENCHMARK(BM_BushPAndL)->Unit(benchmark::kMillisecond)->UseRealTime();

// The families of curves, each at 10^7 to 10^8 letters; bytes are the letters of the
// final word, so that letters per second compare with the bush's.
struct Family {
    std::string axiom;
    std::vector<Rule> rules;
    std::uint32_t n;
};

void BM_Family(benchmark::State& state, const Family& family)
{
    LSystem system;
    system.axiom = family.axiom;
    system.rules = family.rules;
    system.n = family.n;
    system.prepareLargeBuffer = adviseLargePages;
    for (auto _ : state) {
        QuietStdout quiet;
        system.produce();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * system.word.size()));
    state.counters["letters"] = static_cast<double>(system.word.size());
}
// The bush itself, for the ratio of the others to it in the same run.
BENCHMARK_CAPTURE(BM_Family, Bush, Family{"F", {makeRule("", "F", "", "F[+F]F[-F]F")}, 11})
    ->Unit(benchmark::kMillisecond)->UseRealTime();
// Heighway's dragon: the word doubles at each iteration.
BENCHMARK_CAPTURE(BM_Family, Dragon,
                  Family{"FX", {makeRule("", "X", "", "X+YF+"), makeRule("", "Y", "", "-FX-Y")}, 24})
    ->Unit(benchmark::kMillisecond)->UseRealTime();
// Levy's C curve: one rule, runs of turns between the steps.
BENCHMARK_CAPTURE(BM_Family, Levy, Family{"F", {makeRule("", "F", "", "+F--F+")}, 24})
    ->Unit(benchmark::kMillisecond)->UseRealTime();
// The Gosper curve with two-letter predecessors Fl and Fr.
BENCHMARK_CAPTURE(BM_Family, TwoLetterPredecessor,
                  Family{"Fl",
                         {makeRule("", "Fl", "", "Fl+Fr++Fr-Fl--FlFl-Fr+"),
                          makeRule("", "Fr", "", "-Fl+FrFr++Fr+Fl--Fl-Fr")},
                         8})
    ->Unit(benchmark::kMillisecond)->UseRealTime();
// examples/context-tree.lsys: branches that hold one segment grow, every F doubles.
BENCHMARK_CAPTURE(BM_Family, ContextSensitiveTree,
                  Family{"F[+F][-F]",
                         {makeRule("[", "+F", "]", "+F[+F][-F]"), makeRule("[", "-F", "]", "-F[+F][-F]"),
                          makeRule("", "F", "", "FF")},
                         21})
    ->Unit(benchmark::kMillisecond)->UseRealTime();

// The bush at n = 11 into fresh memory, as a first production makes it (no storage of
// an earlier one to reuse), and in the same loop the time to allocate and fill a
// buffer of the final word's length with small pages, so that both share the machine's
// state of the moment.
void BM_ProduceBushBesideFreshFill(benchmark::State& state)
{
    LSystem system;
    setupBush(system, 11);
    std::size_t letters = 0;
    double produceTime = 0.0;
    double freshTime = 0.0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        {
            QuietStdout quiet;
            system.produce();
        }
        produceTime += seconds(std::chrono::steady_clock::now() - start);
        letters = system.word.size();

        state.PauseTiming();
        std::string().swap(system.word);
        std::string().swap(system.spareWord);
        const auto freshStart = std::chrono::steady_clock::now();
        {
            std::unique_ptr<char[]> fresh(new char[letters]);
            std::memset(fresh.get(), 'F', letters);
            benchmark::DoNotOptimize(fresh.get());
            benchmark::ClobberMemory();
        }
        freshTime += seconds(std::chrono::steady_clock::now() - freshStart);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * letters));
    state.counters["letters"] = static_cast<double>(letters);
    // Above 1 when produce is faster than filling fresh memory with the same bytes.
    state.counters["speed_vs_fresh_fill"] = freshTime / produceTime;
}
BENCHMARK(BM_ProduceBushBesideFreshFill)->Unit(benchmark::kMillisecond)->UseRealTime();

// Filling freshly allocated memory with as many bytes as the bush has at n = 11.
void BM_FreshFill(benchmark::State& state)
{
    const std::size_t letters = state.range(0);
    for (auto _ : state) {
        std::unique_ptr<char[]> fresh(new char[letters]);
        std::memset(fresh.get(), 'F', letters);
        benchmark::DoNotOptimize(fresh.get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * letters));
}
BENCHMARK(BM_FreshFill)->Arg(122070311)->Unit(benchmark::kMillisecond)->UseRealTime();

// The scan as first described: rules tried in list order at the front of the word,
// consumed bytes erased from the front, the next word copied back. Quadratic in the
// word's length; the baseline for the scan by index.
std::string eraseFromFront(const std::string& axiom, const std::vector<Rule>& rules, std::uint32_t n)
{
    std::string word = axiom;
    std::string next;
    for (std::uint32_t i = 1; i <= n; ++i) {
        while (!word.empty()) {
            bool applied = false;
            for (const Rule& rule : rules) {
                if (word.size() >= rule.matchText.size() &&
                    word.compare(0, rule.matchText.size(), rule.matchText) == 0) {
                    next += rule.leftContext;
                    next += rule.successor;
                    next += rule.rightContext;
                    word.erase(0, rule.matchText.size());
                    applied = true;
                    break;
                }
            }
            if (!applied) {
                next += word[0];
                word.erase(0, 1);
            }
        }
        word = next;
        next.clear();
    }
    return word;
}

void BM_EraseFromFrontBush(benchmark::State& state)
{
    LSystem system;
    setupBush(system, static_cast<std::uint32_t>(state.range(0)));
    std::size_t letters = 0;
    for (auto _ : state) {
        const std::string word = eraseFromFront(system.axiom, system.rules, system.n);
        letters = word.size();
        benchmark::DoNotOptimize(word.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * letters));
    state.counters["letters"] = static_cast<double>(letters);
}
BENCHMARK(BM_EraseFromFrontBush)->Arg(7)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

// One iteration over a long pseudo-random axiom; bytes are the letters written.
void runOnce(benchmark::State& state, LSystem& system)
{
    system.prepareLargeBuffer = adviseLargePages;
    std::size_t letters = 0;
    for (auto _ : state) {
        QuietStdout quiet;
        system.produce();
        letters = system.word.size();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * letters));
    state.counters["letters"] = static_cast<double>(letters);
}

std::string randomWord(std::size_t length, const std::string& alphabet, std::uint32_t seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
    std::string word(length, ' ');
    for (char& c : word) {
        c = alphabet[pick(random)];
    }
    return word;
}

// 10,000 rules A0000 .. A9999, each renaming its token; nine tokens in ten match one,
// the tenth breaks off after two digits, so the trie is left at depth three.
void BM_TenThousandRulesSameFirstByte(benchmark::State& state)
{
    LSystem system;
    for (int r = 0; r < 10000; ++r) {
        char match[8];
        char output[8];
        std::snprintf(match, sizeof match, "%04d", r);
        std::snprintf(output, sizeof output, "%04d", (r * 7919 + 13) % 10000);
        system.rules.push_back(makeRule("", std::string("A") + match, "", std::string("A") + output));
    }
    std::mt19937 random(7);
    std::uniform_int_distribution<int> digit(0, 9);
    std::uniform_int_distribution<int> tenth(0, 9);
    std::string axiom;
    axiom.reserve(32u << 20);
    while (axiom.size() < (32u << 20)) {
        axiom += 'A';
        axiom += static_cast<char>('0' + digit(random));
        axiom += static_cast<char>('0' + digit(random));
        if (tenth(random) == 0) {
            axiom += '-';
        } else {
            axiom += static_cast<char>('0' + digit(random));
            axiom += static_cast<char>('0' + digit(random));
        }
    }
    system.axiom = axiom;
    system.n = 1;
    runOnce(state, system);
}
BENCHMARK(BM_TenThousandRulesSameFirstByte)->Unit(benchmark::kMillisecond)->UseRealTime();

// Contexts of one and two letters around one-letter predecessors, among brackets.
std::vector<Rule> contextSensitiveRules()
{
    return {
        makeRule("A", "B", "A", "BB"),
        makeRule("F", "F", "", "FA"),
        makeRule("", "A", "+", "F"),
        makeRule("[", "B", "]", ""),
        makeRule("AB", "F", "F", "[F]"),
        makeRule("", "B", "", "A"),
    };
}

void BM_ContextSensitive(benchmark::State& state)
{
    LSystem system;
    system.rules = contextSensitiveRules();
    system.axiom = randomWord(32u << 20, "ABF+-[]", 11);
    system.n = 1;
    runOnce(state, system);
}
BENCHMARK(BM_ContextSensitive)->Unit(benchmark::kMillisecond)->UseRealTime();

// Predecessors of two and three letters that overlap and share prefixes.
void BM_MultiBytePredecessor(benchmark::State& state)
{
    LSystem system;
    system.rules = {
        makeRule("", "AB", "", "BA"),
        makeRule("", "ABA", "", "C"),
        makeRule("", "BAB", "", "ABBA"),
        makeRule("", "CC", "", "C"),
        makeRule("", "BC", "", "CAB"),
        makeRule("", "CAB", "", ""),
    };
    system.axiom = randomWord(32u << 20, "ABC", 13);
    system.n = 1;
    runOnce(state, system);
}
BENCHMARK(BM_MultiBytePredecessor)->Unit(benchmark::kMillisecond)->UseRealTime();

// One rule whose left context is a run of A's as long as the argument, before B, over a
// word of 100,000 letters made of runs of one A fewer and a B: at every position the
// context stands almost whole and fails at the last byte. With a 100,000-byte context,
// this is a description file of 200 KB.
void BM_LongLeftContext(benchmark::State& state)
{
    const auto context = static_cast<std::size_t>(state.range(0));
    LSystem system;
    system.rules = {makeRule(std::string(context, 'A'), "B", "", "X")};
    std::string axiom;
    while (axiom.size() < 100000) {
        axiom += std::string(context - 1, 'A') + "B";
    }
    axiom.resize(100000);
    system.axiom = axiom;
    system.n = 1;
    runOnce(state, system);
}
BENCHMARK(BM_LongLeftContext)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();

// Many long contexts at once: 1,000 rules whose match texts are runs of A's of 1,000
// to 1,999 bytes, each before a letter of its own, over 1,000,000 letters of such runs.
void BM_ManyLongContexts(benchmark::State& state)
{
    LSystem system;
    for (int r = 0; r < 1000; ++r) {
        system.rules.push_back(makeRule(std::string(1000 + r, 'A'), std::string(1, static_cast<char>(0x80 + r % 64)), "", "X"));
    }
    std::mt19937 random(5);
    std::uniform_int_distribution<int> run(900, 2100);
    std::uniform_int_distribution<int> letter(0x80, 0xbf);
    std::string axiom;
    while (axiom.size() < 1000000) {
        axiom += std::string(run(random), 'A');
        axiom += static_cast<char>(letter(random));
    }
    system.axiom = axiom;
    system.n = 1;
    runOnce(state, system);
}
BENCHMARK(BM_ManyLongContexts)->Unit(benchmark::kMillisecond)->UseRealTime();

std::uint64_t statusKilobytes(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t fieldLength = std::strlen(field);
    while (std::getline(status, line)) {
        if (line.compare(0, fieldLength, field) == 0) {
            return std::stoull(line.substr(fieldLength));
        }
    }
    return 0;
}

// Peak resident memory during produce, per letter of the final word: the kernel's
// high-water mark is reset before the call (Linux: 5 into /proc/self/clear_refs) and
// the allocator first hands its free memory back, so that only produce's own buffers
// count. Argument 0, 1: the bush at n = 11, 12 (the word grows fivefold each time);
// 2: the context-sensitive system, whose word stays about as long, over 3 iterations.
void BM_ProducePeakMemory(benchmark::State& state)
{
    double bytesPerLetter = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        LSystem system;
        if (state.range(0) < 2) {
            setupBush(system, state.range(0) == 0 ? 11 : 12);
        } else {
            system.rules = contextSensitiveRules();
            system.axiom = randomWord(64u << 20, "ABF+-[]", 11);
            system.n = 3;
            system.prepareLargeBuffer = adviseLargePages;
        }
        malloc_trim(0);
        {
            std::ofstream reset("/proc/self/clear_refs");
            reset << "5";
        }
        const std::uint64_t before = statusKilobytes("VmRSS:");
        if (statusKilobytes("VmHWM:") > before + 1024) {
            state.SkipWithError("the peak resident size could not be reset");
            break;
        }
        state.ResumeTiming();
        {
            QuietStdout quiet;
            system.produce();
        }
        const std::uint64_t peak = statusKilobytes("VmHWM:");
        bytesPerLetter = static_cast<double>(peak - before) * 1024.0 / static_cast<double>(system.word.size());
        state.counters["letters"] = static_cast<double>(system.word.size());
    }
    state.counters["peak_bytes_per_letter"] = bytesPerLetter;
}
BENCHMARK(BM_ProducePeakMemory)->DenseRange(0, 2)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
