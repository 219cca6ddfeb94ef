// Benchmarks of the turtle in a real OpenGL context (run it through tests/with-xvfb.sh):
// the measuring pass in symbols per second; the drawing pass, reduced, beside every line
// drawn as it is and one glBegin/glEnd per line in the same run; the replayed redraw; the
// segments that reach OpenGL; and the extra memory of a drawing pass.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "turtle/gl.h"
#include "lsystem/lsystem.h"
#include "tests/turtle/glx_window.h"
#include "tests/turtle/one_line_at_a_time.h"
#include "turtle/replay.h"
#include "turtle/walk.h"

// Heap use of the process through operator new, current and peak, so that a drawing
// pass can show what it allocates. Each block carries its size in a header.
namespace {
std::atomic<std::size_t> heapNow{0};
std::atomic<std::size_t> heapPeak{0};
constexpr std::size_t kHeader = alignof(std::max_align_t);
}  // namespace

void* operator new(std::size_t size)
{
    char* block = static_cast<char*>(std::malloc(size + kHeader));
    if (!block) throw std::bad_alloc();
    *reinterpret_cast<std::size_t*>(block) = size;
    const std::size_t now = heapNow += size;
    std::size_t peak = heapPeak.load();
    while (now > peak && !heapPeak.compare_exchange_weak(peak, now)) {
    }
    return block + kHeader;
}

void operator delete(void* p) noexcept
{
    if (!p) return;
    char* block = static_cast<char*>(p) - kHeader;
    heapNow -= *reinterpret_cast<std::size_t*>(block);
    std::free(block);
}

void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace {

LSystem* lsystem = nullptr;  // made once the window's context is current

// The word of F -> F[+F]F[-F]F after n rewritings of F, made once per n.
const std::string& plant(int n)
{
    static std::map<int, std::string> words;
    std::string& word = words[n];
    if (word.empty()) {
        word = "F";
        for (int i = 0; i < n; ++i) {
            std::string next;
            next.reserve(word.size() * 6);
            for (char c : word) {
                if (c == 'F')
                    next += "F[+F]F[-F]F";
                else
                    next += c;
            }
            word.swap(next);
        }
    }
    return word;
}

void usePlant(int n)
{
    if (lsystem->word.size() != plant(n).size()) lsystem->word = plant(n);
    lsystem->d = 10;
    lsystem->delta = 25.7f;
}

std::size_t countLines(const std::string& word)
{
    std::size_t lines = 0;
    for (char c : word) lines += c == 'F';
    return lines;
}

void BM_MeasuringPass(benchmark::State& state)
{
    usePlant(static_cast<int>(state.range(0)));
    for (auto _ : state) lsystem->render(false, false);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lsystem->word.size()));
    state.counters["symbols"] = static_cast<double>(lsystem->word.size());
}
BENCHMARK(BM_MeasuringPass)->Arg(11)->Unit(benchmark::kMillisecond);

// Today's drawing before the reduction, kept here as the figure to beat: every F line
// as it is, in client-side vertex arrays of 256 lines, one glDrawArrays call each.
turtle::WalkEnd drawEveryLine(LSystem& system)
{
    struct ChunkedLines {
        std::vector<float> vertices = std::vector<float>(256 * 4);
        std::size_t used = 0;
        void line(float x0, float y0, float x1, float y1)
        {
            float* v = vertices.data() + used * 4;
            v[0] = x0;
            v[1] = y0;
            v[2] = x1;
            v[3] = y1;
            if (++used == 256) flush();
        }
        void flush()
        {
            glDrawArrays(GL_LINES, 0, static_cast<GLsizei>(used * 2));
            used = 0;
        }
    } sink;
    glClear(GL_COLOR_BUFFER_BIT);
    glLoadIdentity();
    glColor3f(0.0f, 0.0f, 0.0f);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(2, GL_FLOAT, 0, sink.vertices.data());
    TurtleState end;
    const turtle::WalkEnd result =
        turtle::walkWord(system.word, system.d, system.delta, system.stackCeiling, end, system.stack, sink);
    sink.flush();
    glDisableClientState(GL_VERTEX_ARRAY);
    return result;
}

// A drawing pass as render makes it after a production, to its last pixel: the walk,
// the reduction and what reaches OpenGL (the kept picture is forgotten first).
void BM_DrawingPass(benchmark::State& state)
{
    usePlant(static_cast<int>(state.range(0)));
    lsystem->render(false, false);
    for (auto _ : state) {
        lsystem->replay->forget();
        lsystem->render(true, false);
        glFinish();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * countLines(lsystem->word)));
    state.counters["segments"] = static_cast<double>(lsystem->replay->sent);
}
BENCHMARK(BM_DrawingPass)->Arg(9)->Arg(11)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// An idle redraw: the same picture again, replayed from what the last pass sent.
void BM_Replay(benchmark::State& state)
{
    usePlant(static_cast<int>(state.range(0)));
    lsystem->render(false, false);
    lsystem->render(true, false);
    for (auto _ : state) {
        lsystem->render(true, false);
        glFinish();
    }
    state.counters["segments"] = static_cast<double>(lsystem->replay->sent);
}
BENCHMARK(BM_Replay)->Arg(9)->Arg(11)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_DrawingPassEveryLine(benchmark::State& state)
{
    usePlant(static_cast<int>(state.range(0)));
    lsystem->render(false, false);
    for (auto _ : state) {
        drawEveryLine(*lsystem);
        glFinish();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * countLines(lsystem->word)));
}
BENCHMARK(BM_DrawingPassEveryLine)->Arg(9)->Arg(11)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

void BM_DrawingPassOneBeginPerLine(benchmark::State& state)
{
    usePlant(static_cast<int>(state.range(0)));
    lsystem->render(false, false);
    for (auto _ : state) {
        drawOneLineAtATime(*lsystem, lsystem->stack);
        glFinish();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * countLines(lsystem->word)));
}
BENCHMARK(BM_DrawingPassOneBeginPerLine)->Arg(9)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

// Resident-set figures of this process, in KiB, from /proc/self/status.
long statusKiB(const char* field)
{
    std::ifstream status("/proc/self/status");
    std::string name;
    long value = -1;
    while (status >> name) {
        if (name == field) {
            status >> value;
            return value;
        }
        status.ignore(1 << 16, '\n');
    }
    return -1;
}

// Extra memory of one drawing pass, after a first pass has warmed the driver up: the
// peak of operator new above what was held before, and the growth of the peak resident
// set over the resident set before (the kernel's peak is reset first).
void BM_DrawingPassMemory(benchmark::State& state)
{
    usePlant(static_cast<int>(state.range(0)));
    lsystem->render(false, false);
    lsystem->render(true, false);
    glFinish();
    std::size_t heapExtra = 0;
    long residentExtra = 0;
    for (auto _ : state) {
        { std::ofstream("/proc/self/clear_refs") << "5"; }
        const long residentBefore = statusKiB("VmRSS:");
        const std::size_t heapBefore = heapNow.load();
        heapPeak = heapBefore;
        lsystem->replay->forget();
        lsystem->render(true, false);
        glFinish();
        heapExtra = std::max(heapExtra, heapPeak.load() - heapBefore);
        residentExtra = std::max(residentExtra, statusKiB("VmHWM:") - residentBefore);
    }
    state.counters["lines"] = static_cast<double>(countLines(lsystem->word));
    state.counters["heap_extra_KiB"] = static_cast<double>(heapExtra) / 1024.0;
    state.counters["kept_KiB"] = static_cast<double>(lsystem->replay->image().size()) / 1024.0;
    state.counters["rss_peak_extra_KiB"] = static_cast<double>(residentExtra);
}
BENCHMARK(BM_DrawingPassMemory)->Arg(7)->Arg(9)->Arg(11)->Iterations(1)->Unit(benchmark::kMillisecond);

// Segments a framed drawing pass sends to OpenGL, beside the word's F lines: for the
// bush at n = 7 to 12 (argument n), and for F -> FF at n = 1 to 24 (argument 100 + n).
void BM_SegmentsSent(benchmark::State& state)
{
    const int arg = static_cast<int>(state.range(0));
    if (arg < 100) {
        usePlant(arg);
        lsystem->delta = 22.5f;
        lsystem->d = 1;
    } else {
        lsystem->word.assign(std::size_t{1} << (arg - 100), 'F');
        lsystem->d = 1;
    }
    lsystem->render(false, false);
    for (auto _ : state) {
        lsystem->replay->forget();
        lsystem->render(true, false);
    }
    state.counters["lines"] = static_cast<double>(countLines(lsystem->word));
    state.counters["segments"] = static_cast<double>(lsystem->replay->sent);
}
BENCHMARK(BM_SegmentsSent)->DenseRange(7, 12)->Arg(101)->Arg(108)->Arg(116)->Arg(124)->Iterations(1)
    ->Unit(benchmark::kMillisecond);

// The console report, followed by the time of a drawing pass as it was before the
// reduction (every line) over that of today's, and by the drawing rate of the chunked
// vertex arrays over that of one glBegin per line, for each word measured both ways.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            const auto rate = run.counters.find("items_per_second");
            if (rate == run.counters.end()) continue;
            const std::string name = run.benchmark_name();
            const std::string n = name.substr(name.find('/') + 1);
            if (name.rfind("BM_DrawingPass/", 0) == 0) reduced_[n] = rate->second;
            if (name.rfind("BM_DrawingPassEveryLine/", 0) == 0) rates_[n].first = rate->second;
            if (name.rfind("BM_DrawingPassOneBeginPerLine/", 0) == 0) rates_[n].second = rate->second;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override
    {
        ConsoleReporter::Finalize();
        for (const auto& [n, rate] : reduced_)
            if (rate > 0 && rates_[n].first > 0)
                std::printf("drawing pass, n=%s: reduced in %.4f of the time of every line drawn as it is\n",
                            n.c_str(), rates_[n].first / rate);
        for (const auto& [n, rate] : rates_)
            if (rate.first > 0 && rate.second > 0)
                std::printf("drawing pass, n=%s: every line in vertex-array chunks at %.2f times the rate of one glBegin per line\n",
                            n.c_str(), rate.first / rate.second);
    }

private:
    std::map<std::string, std::pair<double, double>> rates_;  // by argument: every line chunked, one per line
    std::map<std::string, double> reduced_;                   // by argument: the reduced pass
};

}  // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    GlxWindow window;
    if (!window.ok()) {
        std::fprintf(stderr, "turtle_bench: %s\n", window.error().c_str());
        return 1;
    }
    LSystem system;
    lsystem = &system;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    lsystem = nullptr;
    return 0;
}
