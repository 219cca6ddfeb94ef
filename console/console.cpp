// The console module's buffer and its writer thread; the platform's lock, thread and
// write are behind console_platform.h. See console.h for what callers may rely on.
//
// The bytes handed over wait in a queue of segments, each all reports or all
// repetitions, with consecutive texts of a kind joined into one segment. The writer takes
// the queue's first segment, writes it with the lock released and comes back for the
// next one; `pending` counts the queued bytes and those of the write under way, and is
// what the two rooms are measured against. The writer waits for work only when the queue
// is empty, and is woken by a flush: texts printed between two flushes usually go out in
// one write.
#include "console/console.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "console/console_platform.h"

namespace {

constexpr std::size_t kRepeatRoom = std::size_t{64} << 10;
constexpr std::size_t kReportRoom = std::size_t{16} << 20;

struct Segment {
    std::string bytes;
    bool repetition;
};

// What the caller and one writer thread share. The writer holds a reference of its own,
// so that a writer still blocked in a write when the run ends (on a pipe that nobody
// reads) never finds the channel gone.
struct Channel {
    ConsoleMonitor monitor;
    std::deque<Segment> queue;  // handed over, in the order printed
    std::size_t pending = 0;    // bytes in the queue and in the write under way
    bool writing = false;       // a write is under way
    bool writingRepetition = false;
};

std::shared_ptr<Channel> gChannel;

// How often a report that waits for room asks the wait hook.
constexpr int kAskEvery = 20;  // milliseconds
std::function<bool()> gWaitHook;

void writerMain(void* argument)
{
    const std::unique_ptr<std::shared_ptr<Channel>> own(static_cast<std::shared_ptr<Channel>*>(argument));
    Channel& c = **own;
    c.monitor.lock();
    for (;;) {
        // The writer never ends: once the run is over it waits here until the process
        // exits. A thread that tore itself down while the process exits would race the
        // exit's own work (LeakSanitizer's check stops and reads every thread).
        while (c.queue.empty()) c.monitor.waitForWork();
        Segment segment = std::move(c.queue.front());
        c.queue.pop_front();
        c.writing = true;
        c.writingRepetition = segment.repetition;
        c.monitor.unlock();
        // A failed write (standard output closed or broken) drops the segment: there is
        // no better place for it.
        writeStandardOutput(segment.bytes.data(), segment.bytes.size());
        c.monitor.lock();
        c.writing = false;
        c.pending -= segment.bytes.size();
        c.monitor.wakeCaller();
    }
}

// The channel, with its writer started on first use; null when none could be made
// (no memory, or no thread), and the caller then writes by itself.
Channel* channel()
{
    if (gChannel) return gChannel.get();
    try {
        auto made = std::make_shared<Channel>();
        auto forWriter = std::make_unique<std::shared_ptr<Channel>>(made);
        if (!startDetachedThread(writerMain, forWriter.get())) return nullptr;
        forWriter.release();  // the writer owns it now
        gChannel = std::move(made);
        // A run that ends through exit() rather than main's end (Xlib ends the process
        // so when the X server goes away) writes its reports all the same.
        static const bool endAtExit = std::atexit(consoleFinish) == 0;
        (void)endAtExit;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    return gChannel.get();
}

// Appends bytes to the queue's last segment if it is of the same kind, else to a new one.
// The lock is held. False when memory ran out.
bool append(Channel& c, const char* bytes, std::size_t size, bool repetition)
{
    try {
        if (c.queue.empty() || c.queue.back().repetition != repetition) {
            c.queue.push_back(Segment{std::string(), repetition});
        }
        c.queue.back().bytes.append(bytes, size);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    c.pending += size;
    return true;
}

void addReport(const char* bytes, std::size_t size)
{
    Channel* const c = channel();
    if (c == nullptr) {
        writeStandardOutput(bytes, size);
        return;
    }
    c->monitor.lock();
    bool beyondRoom = false;  // the wait hook said not to wait
    while (size > 0) {
        if (!beyondRoom && c->pending >= kReportRoom) {
            c->monitor.wakeWriter();
            if (!gWaitHook) {
                c->monitor.waitForProgress();
                continue;
            }
            // The hook may take a while (it takes the window's messages): the writer
            // goes on meanwhile.
            c->monitor.unlock();
            const bool wait = gWaitHook();
            c->monitor.lock();
            if (wait) {
                c->monitor.waitForProgressUpTo(kAskEvery);
            } else {
                beyondRoom = true;
            }
            continue;
        }
        const std::size_t take = beyondRoom ? size : std::min(size, kReportRoom - c->pending);
        if (!append(*c, bytes, take, false)) {
            // No memory for the buffer: once everything before it is written, the rest
            // is written here, so that it is neither lost nor out of order.
            c->monitor.wakeWriter();
            while (c->pending != 0) c->monitor.waitForProgress();
            c->monitor.unlock();
            writeStandardOutput(bytes, size);
            return;
        }
        bytes += take;
        size -= take;
    }
    c->monitor.unlock();
}

}  // namespace

void consolePrintf(const char* format, ...)
{
    std::va_list arguments;
    va_start(arguments, format);
    std::va_list again;
    va_copy(again, arguments);
    char small[512];
    const int length = std::vsnprintf(small, sizeof small, format, arguments);
    va_end(arguments);
    if (length >= 0 && static_cast<std::size_t>(length) < sizeof small) {
        addReport(small, static_cast<std::size_t>(length));
    } else if (length >= 0) {
        std::vector<char> large(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(large.data(), large.size(), format, again);
        addReport(large.data(), static_cast<std::size_t>(length));
    }
    va_end(again);
}

void consoleWrite(const char* bytes, std::size_t size)
{
    if (size != 0) addReport(bytes, size);
}

void consoleRepeat(const char* text)
{
    const std::size_t size = std::strlen(text);
    Channel* const c = channel();
    if (c == nullptr) {
        writeStandardOutput(text, size);  // no writer: as the C library would
        return;
    }
    c->monitor.lock();
    if (c->pending + size <= kRepeatRoom) {
        append(*c, text, size, true);  // dropped if memory ran out
    }
    c->monitor.unlock();
}

void consoleSetWaitHook(std::function<bool()> hook) { gWaitHook = std::move(hook); }

void consoleFlush()
{
    if (!gChannel) return;
    Channel& c = *gChannel;
    c.monitor.lock();
    if (!c.queue.empty()) c.monitor.wakeWriter();
    c.monitor.unlock();
}

void consoleSync()
{
    if (!gChannel) return;
    Channel& c = *gChannel;
    c.monitor.lock();
    c.monitor.wakeWriter();
    while (c.pending != 0) c.monitor.waitForProgress();
    c.monitor.unlock();
}

void consoleFinish()
{
    if (!gChannel) return;
    Channel& c = *gChannel;
    c.monitor.lock();
    for (auto segment = c.queue.begin(); segment != c.queue.end();) {
        if (segment->repetition) {
            c.pending -= segment->bytes.size();
            segment = c.queue.erase(segment);
        } else {
            ++segment;
        }
    }
    // A repetition being written is not waited for: on a pipe that nobody reads, that
    // write never ends, and the writer is left to it.
    c.monitor.wakeWriter();
    while (!c.queue.empty() || (c.writing && !c.writingRepetition)) c.monitor.waitForProgress();
    c.monitor.unlock();
    gChannel.reset();
}

std::size_t consolePendingBytes()
{
    if (!gChannel) return 0;
    Channel& c = *gChannel;
    c.monitor.lock();
    const std::size_t pending = c.pending;
    c.monitor.unlock();
    return pending;
}
