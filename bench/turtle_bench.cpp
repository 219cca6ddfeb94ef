// Benchmarks of the turtle in a real OpenGL context (run it through tests/with-xvfb.sh):
// the measuring pass in symbols per second; the drawing pass, reduced, beside every line
// drawn as it is and one glBegin/glEnd per line in the same run; the replayed redraw; the
// segments that reach OpenGL; and the extra memory of a drawing pass. A table of
// families (Koch island, dragon, Hilbert, Peano, Sierpinski arrowhead, Gosper and a
// context-sensitive tree, beside the bush) times the two passes after a production,
// beside the drawing as it was before coverage (every line reduced and sent to
// OpenGL), in the same run.
#include <benchmark/benchmark.h>

#include <array>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "turtle/gl.h"
#include "bench/make_rule.h"
#include "bench/quiet_stdout.h"
#include "lsystem/lsystem.h"
#include "tests/turtle/glx_window.h"
#include "tests/turtle/one_line_at_a_time.h"
#include "turtle/coverage.h"
#include "turtle/frame.h"
#include "turtle/reduce.h"
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
    // Through an integer, so that GCC, which inlines this into containers' node deletion,
    // does not take the header for a read before the node or the free for a mismatch.
    char* block = reinterpret_cast<char*>(reinterpret_cast<std::uintptr_t>(p) - kHeader);
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
    state.counters["kept_KiB"] =
        static_cast<double>(lsystem->replay->image().size() + lsystem->replay->coverage().size()) / 1024.0;
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

// --- The table of families ------------------------------------------------------------

struct Family {
    const char* name;
    const char* axiom;
    std::vector<Rule> rules;
    std::uint32_t n;
    float delta;
};

const std::vector<Family>& families()
{
    static const std::vector<Family> table = {
        {"bush", "F", {makeRule("", "F", "", "F[+F]F[-F]F")}, 10, 22.5f},
        {"koch_island", "F-F-F-F", {makeRule("", "F", "", "F-F+F+FF-F-F+F")}, 7, 90.0f},
        {"dragon", "FX", {makeRule("", "X", "", "X+YF+"), makeRule("", "Y", "", "-FX-Y")}, 23, 90.0f},
        {"hilbert", "A", {makeRule("", "A", "", "+BF-AFA-FB+"), makeRule("", "B", "", "-AF+BFB+FA-")}, 12, 90.0f},
        {"peano",
         "X",
         {makeRule("", "X", "", "XFYFX+F+YFXFY-F-XFYFX"), makeRule("", "Y", "", "YFXFY-F-XFYFX+F+YFXFY")},
         7,
         90.0f},
        {"sierpinski", "YF", {makeRule("", "X", "", "YF+XF+Y"), makeRule("", "Y", "", "XF-YF-X")}, 15, 60.0f},
        {"gosper",
         "Fl",
         {makeRule("", "Fl", "", "Fl+Fr++Fr-Fl--FlFl-Fr+"), makeRule("", "Fr", "", "-Fl+FrFr++Fr+Fl--Fl-Fr")},
         8,
         60.0f},
        // examples/context-tree.lsys: branches that hold one segment grow, every F doubles.
        {"context_tree",
         "F[+F][-F]",
         {makeRule("[", "+F", "]", "+F[+F][-F]"), makeRule("[", "-F", "]", "-F[+F][-F]"), makeRule("", "F", "", "FF")},
         19,
         25.0f},
    };
    return table;
}

int lastFamily() { return static_cast<int>(families().size()) - 1; }

// The family's word after n rewritings by the program's own engine, made once.
const std::string& producedWord(const Family& family)
{
    static std::map<std::pair<std::string, std::uint32_t>, std::string> words;
    std::string& word = words[{family.name, family.n}];
    if (!word.empty()) return word;
    LSystem system;
    system.axiom = family.axiom;
    system.rules = family.rules;
    system.n = family.n;
    {
        QuietStdout quiet;
        system.produce();
    }
    word.swap(system.word);
    return word;
}

const std::string& familyWord(std::size_t index) { return producedWord(families()[index]); }

void useFamily(std::size_t index)
{
    if (lsystem->word.size() != familyWord(index).size() || lsystem->delta != families()[index].delta)
        lsystem->word = familyWord(index);
    lsystem->d = 1;
    lsystem->delta = families()[index].delta;
}

// The passes after a production: the measuring pass, then the drawing pass to its last pixel.
void BM_FamilyPasses(benchmark::State& state)
{
    const auto index = static_cast<std::size_t>(state.range(0));
    useFamily(index);
    for (auto _ : state) {
        lsystem->render(false, false);
        lsystem->render(true, false);
        glFinish();
    }
    state.SetLabel(families()[index].name);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lsystem->word.size()));
    state.counters["letters"] = static_cast<double>(lsystem->word.size());
    state.counters["segments"] = static_cast<double>(lsystem->replay->sent);
    state.counters["coverage_pixels"] = static_cast<double>(lsystem->replay->coveragePixels);
    state.counters["kept_KiB"] =
        static_cast<double>(lsystem->replay->image().size() + lsystem->replay->coverage().size()) / 1024.0;
}
BENCHMARK(BM_FamilyPasses)->DenseRange(0, lastFamily())->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()
    ->UseRealTime();

// The measuring pass alone, the walk's own cost: the passes after a production cost two
// of these and what the drawing adds.
void BM_FamilyMeasuringPass(benchmark::State& state)
{
    const auto index = static_cast<std::size_t>(state.range(0));
    useFamily(index);
    for (auto _ : state) lsystem->render(false, false);
    state.SetLabel(families()[index].name);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lsystem->word.size()));
}
BENCHMARK(BM_FamilyMeasuringPass)->DenseRange(0, lastFamily())->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()
    ->UseRealTime();

// The drawing pass as it was before coverage: every line through the reduction and on
// to OpenGL as black lines carrying their ink as alpha, in chunks of 256.
std::size_t drawReducedAsBefore(LSystem& system)
{
    struct Chunks {
        std::vector<float> vertices = std::vector<float>(256 * 4);
        std::vector<std::uint8_t> colours = std::vector<std::uint8_t>(256 * 8, 0);
        std::size_t used = 0;
        std::size_t sent = 0;
        void segment(float x0, float y0, float x1, float y1, float ink)
        {
            float* v = vertices.data() + used * 4;
            v[0] = x0;
            v[1] = y0;
            v[2] = x1;
            v[3] = y1;
            const auto alpha = static_cast<std::uint8_t>(std::lround(ink * 255.0f));
            colours[used * 8 + 3] = colours[used * 8 + 7] = alpha == 0 ? 1 : alpha;
            ++sent;
            if (++used == 256) flush();
        }
        void line(float x0, float y0, float x1, float y1) { segment(x0, y0, x1, y1, 1.0f); }
        void flush()
        {
            glDrawArrays(GL_LINES, 0, static_cast<GLsizei>(used * 2));
            used = 0;
        }
    } chunks;
    glClear(GL_COLOR_BUFFER_BIT);
    glLoadIdentity();
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glVertexPointer(2, GL_FLOAT, 0, chunks.vertices.data());
    glColorPointer(4, GL_UNSIGNED_BYTE, 0, chunks.colours.data());
    std::array<double, 16> m;
    glGetDoublev(GL_PROJECTION_MATRIX, m.data());
    const turtle::PixelScale scale{m[0] * 300.0, m[5] * 300.0};
    turtle::LineReducer<Chunks> reducer(scale, std::fabs(scale.x) * system.d, chunks);
    TurtleState end;
    turtle::walkWord(system.word, system.d, system.delta, system.stackCeiling, end, system.stack, reducer);
    reducer.finish();
    chunks.flush();
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    return chunks.sent;
}

void BM_FamilyPassesBefore(benchmark::State& state)
{
    const auto index = static_cast<std::size_t>(state.range(0));
    useFamily(index);
    std::size_t sent = 0;
    for (auto _ : state) {
        lsystem->render(false, false);
        sent = drawReducedAsBefore(*lsystem);
        glFinish();
    }
    state.SetLabel(families()[index].name);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lsystem->word.size()));
    state.counters["letters"] = static_cast<double>(lsystem->word.size());
    state.counters["segments"] = static_cast<double>(sent);
}
BENCHMARK(BM_FamilyPassesBefore)->DenseRange(0, lastFamily())->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()
    ->UseRealTime()->Iterations(1);

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
            if (name.rfind("BM_FamilyPasses/", 0) == 0) families_[run.report_label].first = rate->second;
            if (name.rfind("BM_FamilyPassesBefore/", 0) == 0) families_[run.report_label].second = rate->second;
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
        for (const auto& [name, rate] : families_)
            if (rate.first > 0 && rate.second > 0)
                std::printf("passes after production, %s: %.1f M letters/s, before coverage %.1f M letters/s (%.1f times)\n",
                            name.c_str(), rate.first / 1e6, rate.second / 1e6, rate.first / rate.second);
    }

private:
    std::map<std::string, std::pair<double, double>> rates_;  // by argument: every line chunked, one per line
    std::map<std::string, double> reduced_;                   // by argument: the reduced pass
    std::map<std::string, std::pair<double, double>> families_;  // by family: now, before coverage
};

// A square gone round again and again (F -> F+F+F+F+F), drifting by rounding: lines of
// hundreds of pixels, nearly all past the share that OpenGL draws, which the grid would
// mark along their whole length, time after time, were it not to leave out the lines it
// took lately. The passes after a production, as BM_FamilyPasses times them.
void BM_SquareAgain(benchmark::State& state)
{
    const Family square{"square_again", "F", {makeRule("", "F", "", "F+F+F+F+F")},
                        static_cast<std::uint32_t>(state.range(0)), 90.0f};
    lsystem->word = producedWord(square);
    lsystem->d = 1;
    lsystem->delta = square.delta;
    for (auto _ : state) {
        lsystem->render(false, false);
        lsystem->render(true, false);
        glFinish();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lsystem->word.size()));
    state.counters["letters"] = static_cast<double>(lsystem->word.size());
    state.counters["segments"] = static_cast<double>(lsystem->replay->sent);
}
BENCHMARK(BM_SquareAgain)->Arg(8)->Arg(10)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime()->UseRealTime();

// The drawing walk of a family alone: every line into a coverage grid of the window at
// the word's own frame, as a drawing pass of lines below a pixel marks them, and the
// grid's alpha image. Its rate beside BM_FamilyMeasuringPass's is what the grid costs
// the walk. The family's word is set up apart from the timed function.
void useFamilyOf(const benchmark::State& state) { useFamily(static_cast<std::size_t>(state.range(0))); }

void BM_FamilyCoverageWalk(benchmark::State& state)
{
    const auto index = static_cast<std::size_t>(state.range(0));
    TurtleState end;
    turtle::BoundsSink measured;
    turtle::walkWord(lsystem->word, lsystem->d, lsystem->delta, lsystem->stackCeiling, end, lsystem->stack, measured);
    const turtle::Projection p = turtle::frame(measured.bounds);
    const turtle::PixelMapping mapping{p.left, p.top, turtle::kWindowSize / (p.right - p.left),
                                       turtle::kWindowSize / (p.bottom - p.top)};
    std::vector<std::uint8_t> alpha;
    for (auto _ : state) {
        turtle::CoverageGrid grid(mapping);
        turtle::CoverageGrid::Lines lines(grid);
        turtle::walkWord(lsystem->word, lsystem->d, lsystem->delta, lsystem->stackCeiling, end, lsystem->stack, lines);
        lines.finish();
        grid.alpha(alpha);
        benchmark::DoNotOptimize(alpha.data());
    }
    state.SetLabel(families()[index].name);
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lsystem->word.size()));
}
BENCHMARK(BM_FamilyCoverageWalk)->DenseRange(0, lastFamily())->Setup(useFamilyOf)->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()->UseRealTime();

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
