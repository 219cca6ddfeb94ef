// Tests of the console module with standard output on a pipe of one page that the test
// reads only when it chooses: printing never waits for the pipe, reports all come out
// in order, repetitions are dropped only while the buffer is full and at the end, and a
// report that waits for room asks the wait hook.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "console/console.h"

namespace {

using namespace std::chrono_literals;

// Standard output goes into a pipe of 4096 bytes while the fixture lives; nothing reads
// it until drain() starts a reader. Tests check their results only once the output is
// restored, since googletest prints its failures on standard output.
class ConsoleTest : public testing::Test {
protected:
    void SetUp() override
    {
        int ends[2];
        ASSERT_EQ(pipe(ends), 0);
        fcntl(ends[1], F_SETPIPE_SZ, 4096);
        readEnd_ = ends[0];
        saved_ = dup(STDOUT_FILENO);
        ASSERT_GE(dup2(ends[1], STDOUT_FILENO), 0);
        close(ends[1]);
    }

    void TearDown() override
    {
        restore();
        if (reader_.joinable()) reader_.join();
        close(readEnd_);
    }

    // Starts reading everything that comes through the pipe until it closes.
    void drain()
    {
        reader_ = std::thread([this] {
            char buffer[65536];
            ssize_t got;
            while ((got = read(readEnd_, buffer, sizeof buffer)) > 0) output_.append(buffer, static_cast<std::size_t>(got));
        });
    }

    // Ends the run as the program does and returns what came out: the pipe is being
    // read, so that the reports can be written.
    std::string finish()
    {
        if (!reader_.joinable()) drain();
        consoleFinish();
        restore();  // the write end closes: the reader sees the end
        reader_.join();
        return output_;
    }

    // Runs work on a thread of its own and tells whether it ended within a minute while
    // nobody read the pipe; the pipe is drained afterwards in any case, so that it ends.
    bool endsWithoutReader(const std::function<void()>& work)
    {
        std::future<void> done = std::async(std::launch::async, work);
        const bool ended = done.wait_for(60s) == std::future_status::ready;
        if (!ended) drain();
        done.get();
        return ended;
    }

    void restore()
    {
        if (saved_ < 0) return;
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
        saved_ = -1;
    }

    int readEnd_ = -1;
    int saved_ = -1;
    std::thread reader_;
    std::string output_;
};

// The position of every report line in text, or npos when one is missing.
std::size_t positionOf(const std::string& text, int report, std::size_t from)
{
    return text.find("report " + std::to_string(report) + "\n", from);
}

TEST_F(ConsoleTest, NoWaitOnAnUnreadPipeAndNoReportLost)
{
    // 3000 reports of about 12 bytes, far more than the pipe holds, each followed by
    // redraws that repeat a message naming it.
    constexpr int kReports = 3000;
    constexpr int kRepeats = 40;
    std::size_t repeated = 0;
    std::size_t reported = 0;
    const bool ended = endsWithoutReader([&] {
        for (int i = 0; i < kReports; ++i) {
            reported += std::to_string(i).size() + 8;
            consolePrintf("report %d\n", i);
            consoleFlush();
            const std::string mark = "<" + std::to_string(i) + ">";
            for (int r = 0; r < kRepeats; ++r) {
                consoleRepeat(mark.c_str());
                consoleFlush();
                repeated += mark.size();
            }
        }
    });
    const std::size_t pending = consolePendingBytes();
    const std::string text = finish();
    // Checked once standard output is back: a failure printed into the full pipe would
    // wait for ever.
    EXPECT_TRUE(ended) << "printing waited for the pipe";
    // What waited was the reports and at most the repetitions' room of 64 KiB.
    EXPECT_LE(pending, reported + (64u << 10));

    // Every report once, in order; between reports i and i + 1 only whole marks <i>.
    std::size_t at = 0;
    std::size_t marks = 0;
    for (int i = 0; i < kReports; ++i) {
        const std::size_t found = positionOf(text, i, at);
        ASSERT_NE(found, std::string::npos) << "report " << i << " is missing";
        ASSERT_EQ(found, text.find("report", at)) << "a report before report " << i;
        const std::string line = "report " + std::to_string(i) + "\n";
        at = found + line.size();
        const std::string mark = "<" + std::to_string(i) + ">";
        const std::size_t next = text.find("report", at);
        const std::string between = text.substr(at, next == std::string::npos ? std::string::npos : next - at);
        for (std::size_t m = 0; m < between.size(); m += mark.size()) {
            ASSERT_EQ(between.compare(m, mark.size(), mark), 0)
                << "after report " << i << ": '" << between << "'";
        }
        marks += between.size();
    }
    // The repetitions that found the buffer full are gone; most of them, as the pipe
    // took only one page before the end.
    EXPECT_LT(marks, repeated / 4);
}

TEST_F(ConsoleTest, EndWritesPendingReportsAndDropsPendingRepetitions)
{
    // A report larger than the pipe: the writer stays in its write until the end.
    const std::string large(8192, 'x');
    consoleWrite(large.data(), large.size());
    consoleFlush();
    consoleRepeat("<before>");
    consolePrintf("last %s\n", "report");
    consoleRepeat("<after>");
    consoleFlush();
    const std::size_t reports = large.size() + std::string("last report\n").size();

    // The end drops the repetitions at once, then waits for the reports.
    std::thread ending([] { consoleFinish(); });
    for (int i = 0; i < 600 && consolePendingBytes() != reports; ++i) std::this_thread::sleep_for(100ms);
    const std::size_t pending = consolePendingBytes();
    drain();
    ending.join();
    restore();
    reader_.join();
    EXPECT_EQ(pending, reports) << "the repetitions were not dropped at the end";
    ASSERT_EQ(output_.size(), reports);
    EXPECT_EQ(output_.compare(0, large.size(), large), 0);
    EXPECT_EQ(output_.substr(large.size()), "last report\n");
}

TEST_F(ConsoleTest, ReportLargerThanTheBufferComesOutWhole)
{
    // Past the reports' room the caller waits for the writer; nothing is cut or lost.
    drain();
    std::string large(40u << 20, '\0');
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>('a' + i % 26);
    consolePrintf("head\n");
    consoleWrite(large.data(), large.size());
    consolePrintf("tail\n");
    consoleFlush();
    const std::string text = finish();
    EXPECT_EQ(text.size(), large.size() + 10);
    EXPECT_TRUE(text == "head\n" + large + "tail\n");
}

// A report that finds the buffer full waits for room, and meanwhile asks the wait hook
// (where the program takes its window's messages) every 20 ms or so, for as long as the
// hook says to wait. Once it says not to, the report is taken at once, beyond the room.
// Either way every byte comes out, in order.
TEST_F(ConsoleTest, WaitingReportAsksTheHookAndStopsWaitingWhenTold)
{
    std::atomic<int> asked{0};
    std::atomic<bool> wait{true};
    consoleSetWaitHook([&] {
        ++asked;
        return wait.load();
    });
    const std::string large(17u << 20, 'r');  // more than the room and the pipe together
    std::future<void> printing = std::async(std::launch::async, [&] {
        consolePrintf("before\n");
        consoleWrite(large.data(), large.size());
        consolePrintf("after\n");
    });
    std::this_thread::sleep_for(400ms);
    const bool waited = printing.wait_for(0s) != std::future_status::ready;
    const int askedWhileWaiting = asked;
    wait = false;
    const bool ended = printing.wait_for(20s) == std::future_status::ready;
    if (!ended) drain();
    printing.get();
    consoleSetWaitHook({});
    const std::string text = finish();
    EXPECT_TRUE(waited) << "the report did not wait for room";
    EXPECT_GE(askedWhileWaiting, 4) << "the hook was not asked while the report waited";
    EXPECT_TRUE(ended) << "the report still waited after the hook said not to";
    EXPECT_EQ(text.size(), large.size() + 13);
    EXPECT_TRUE(text == "before\n" + large + "after\n");
}

TEST_F(ConsoleTest, SyncWaitsUntilEverythingIsWritten)
{
    drain();
    consolePrintf("a %u b %.2f\n", 7u, 0.5);
    consoleRepeat("Stack error !");
    consoleSync();
    EXPECT_EQ(consolePendingBytes(), 0u);
    consolePrintf("c\n");
    EXPECT_EQ(finish(), "a 7 b 0.50\nStack error !c\n");
}

}  // namespace
