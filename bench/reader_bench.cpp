// Speed of the description reader on big files: 25, 50 and 100 MB of typical lines
// (assignments, rules with and without contexts, bad tokens, axiom tokens), of one
// single token, and of tiny tokens. Reports bytes per second and fits the time to the
// size, which must be linear. The files are made once, in a temporary directory.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "bench/quiet_stdout.h"
#include "lsystem/lsystem.h"

namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kMegabyte = 1 << 20;

// The benchmark's temporary directory, removed at exit.
class Scratch {
public:
    Scratch()
        : dir_(fs::temp_directory_path() / ("tendrilview-reader-bench-" + std::to_string(getpid())))
    {
        fs::create_directories(dir_);
    }
    ~Scratch() { fs::remove_all(dir_); }
    const fs::path& dir() const { return dir_; }

private:
    fs::path dir_;
};

Scratch& scratch()
{
    static Scratch instance;
    return instance;
}

enum class Content { TypicalLines, OneToken, TinyTokens };

// One description file of the given content and size, written on first use.
std::string descriptionFile(Content content, std::int64_t bytes)
{
    static std::map<std::pair<Content, std::int64_t>, std::string> made;
    std::string& path = made[{content, bytes}];
    if (!path.empty()) return path;

    path = (scratch().dir() / (std::to_string(static_cast<int>(content)) + "-" + std::to_string(bytes))).string();
    std::string unit;
    switch (content) {
    case Content::TypicalLines:
        unit = "n=4 delta=22.5 d=2 F\nF->F[+F]F[-F]F A<B>C->BB X->F-[[X]+X]+F[+FX]-X x=7 ->X\r\n";
        break;
    case Content::OneToken:
        unit = "F[+F]F[-F]F";
        break;
    case Content::TinyTokens:
        unit = "F G\tH\nI ";
        break;
    }
    std::string block;
    while (block.size() < (1u << 20)) block += unit;

    std::ofstream out(path, std::ios::binary);
    for (std::int64_t written = 0; written < bytes;) {
        const std::int64_t piece = std::min<std::int64_t>(bytes - written, static_cast<std::int64_t>(block.size()));
        out.write(block.data(), piece);
        written += piece;
    }
    return path;
}

void readFile(benchmark::State& state, Content content)
{
    const std::int64_t bytes = state.range(0) * kMegabyte;
    const std::string path = descriptionFile(content, bytes);
    for (auto _ : state) {
        auto lsystem = std::make_unique<LSystem>();
        lsystem->descriptionCeiling = UINT64_MAX;  // the whole file, also on a small machine
        {
            QuietStdout quiet;
            lsystem->readDescription(path.c_str());
        }
        benchmark::DoNotOptimize(lsystem->rules.data());
        state.PauseTiming();
        lsystem.reset();  // freeing millions of rules is not the reader's time
        state.ResumeTiming();
    }
    state.SetBytesProcessed(state.iterations() * bytes);
    state.SetComplexityN(bytes);
}

void BM_ReadTypicalLines(benchmark::State& state) { readFile(state, Content::TypicalLines); }
void BM_ReadOneToken(benchmark::State& state) { readFile(state, Content::OneToken); }
void BM_ReadTinyTokens(benchmark::State& state) { readFile(state, Content::TinyTokens); }

// Sizes in MB. The fit over them (the "BigO" line) shows whether time grows as N.
void sizes(benchmark::internal::Benchmark* family)
{
    family->Arg(25)->Arg(50)->Arg(100)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);
}

BENCHMARK(BM_ReadTypicalLines)->Apply(sizes);
BENCHMARK(BM_ReadOneToken)->Apply(sizes);
BENCHMARK(BM_ReadTinyTokens)->Apply(sizes);

}  // namespace

BENCHMARK_MAIN();
