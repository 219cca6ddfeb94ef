// The description reader's read-ahead: a detached thread opens the file and reads it into
// a short queue of blocks, and the caller takes them from there, waiting 20 ms at a time.
// The lock and the thread are the console's platform ones (console_platform.h), the file
// is read through the system's calls (raw_file.h).
#include "lsystem/read_ahead.h"

#include <deque>
#include <memory>
#include <new>
#include <utility>

#include "console/console_platform.h"
#include "lsystem/raw_file.h"

namespace {

constexpr std::size_t kBlocksAhead = 2;  // read but not yet taken, at most
constexpr int kAskEvery = 20;            // milliseconds between questions while waiting

}  // namespace

// What the caller and the thread share; the thread holds a reference of its own, so that
// a thread still blocked in a read after the caller has gone never finds it gone.
struct ReadAhead::Shared {
    ConsoleMonitor monitor;  // the thread waits for room as "work", the caller for blocks as "progress"
    std::string path;
    std::size_t blockSize = 0;
    bool threaded = false;  // false: next() opens and reads by itself
    std::unique_ptr<RawFile> file;  // next()'s own file where there is no thread

    bool openDone = false;  // the open has returned ...
    bool opened = false;    // ... and succeeded
    std::deque<std::vector<char>> blocks;
    bool ended = false;     // the last block has been queued
    bool failed = false;    // the read that ended it failed with nothing read
    bool noMemory = false;  // it ended for want of memory
    bool abandoned = false;  // the caller gave up or has gone
};

namespace {

// Reads the next block of file into block; false when it is the last one, which may
// hold nothing. failed tells whether that read failed with nothing read; a std::bad_alloc
// leaves by itself.
bool readBlock(RawFile& file, std::size_t blockSize, std::vector<char>& block, bool& failed)
{
    block.resize(blockSize);
    bool readFailed = false;
    const std::size_t got = file.read(block.data(), blockSize, readFailed);
    block.resize(got);
    failed = got == 0 && readFailed;
    return got == blockSize;
}

void readAheadMain(void* argument)
{
    const std::unique_ptr<std::shared_ptr<ReadAhead::Shared>> own(
        static_cast<std::shared_ptr<ReadAhead::Shared>*>(argument));
    ReadAhead::Shared& s = **own;
    auto file = std::make_unique<RawFile>(s.path.c_str());
    s.monitor.lock();
    s.openDone = true;
    s.opened = file->isOpen();
    s.monitor.wakeCaller();
    while (file->isOpen() && !s.abandoned && !s.ended) {
        if (s.blocks.size() >= kBlocksAhead) {
            s.monitor.waitForWork();
            continue;
        }
        s.monitor.unlock();
        std::vector<char> block;
        bool more = false;
        bool failed = false;
        bool noMemory = false;
        try {
            more = readBlock(*file, s.blockSize, block, failed);
        } catch (const std::bad_alloc&) {
            noMemory = true;
        }
        s.monitor.lock();
        try {
            if (!block.empty()) s.blocks.push_back(std::move(block));
        } catch (const std::bad_alloc&) {
            noMemory = true;
        }
        if (!more || noMemory) {
            s.ended = true;
            s.failed = failed;
            s.noMemory = noMemory;
        }
        s.monitor.wakeCaller();
    }
    s.monitor.unlock();
    file.reset();
    // The thread never ends: once its work is done it waits here until the process exits.
    // A thread that tore itself down while the process exits would race the exit's own
    // work (LeakSanitizer's check stops and reads every thread).
    s.monitor.lock();
    for (;;) s.monitor.waitForWork();
}

}  // namespace

ReadAhead::ReadAhead(const char* path, std::size_t blockSize) : shared_(std::make_shared<Shared>())
{
    shared_->path = path;
    shared_->blockSize = blockSize;
    auto forThread = std::make_unique<std::shared_ptr<Shared>>(shared_);
    shared_->threaded = startDetachedThread(readAheadMain, forThread.get());
    if (shared_->threaded) forThread.release();  // the thread owns it now
}

ReadAhead::~ReadAhead()
{
    Shared& s = *shared_;
    if (!s.threaded) return;
    s.monitor.lock();
    s.abandoned = true;
    s.monitor.wakeWriter();
    s.monitor.unlock();
}

ReadAhead::Got ReadAhead::next(std::vector<char>& block, const std::function<bool()>& keepGoing)
{
    Shared& s = *shared_;
    if (!s.threaded) {
        // On this thread, as the reader did before it had one: no question is asked.
        if (!s.openDone) {
            s.openDone = true;
            s.file = std::make_unique<RawFile>(s.path.c_str());
            s.opened = s.file->isOpen();
        }
        if (!s.opened) return Got::Unopened;
        if (s.ended) return Got::End;
        bool failed = false;
        s.ended = !readBlock(*s.file, s.blockSize, block, failed);
        if (!block.empty()) return Got::Block;
        return failed ? Got::Failed : Got::End;
    }
    s.monitor.lock();
    for (;;) {
        if (s.abandoned) break;
        if (!s.blocks.empty()) {
            block.swap(s.blocks.front());
            s.blocks.pop_front();
            s.monitor.wakeWriter();
            s.monitor.unlock();
            return Got::Block;
        }
        if (s.openDone && !s.opened) {
            s.monitor.unlock();
            return Got::Unopened;
        }
        if (s.ended) {
            const bool noMemory = s.noMemory;
            const bool failed = s.failed;
            s.monitor.unlock();
            if (noMemory) throw std::bad_alloc();
            return failed ? Got::Failed : Got::End;
        }
        if (!keepGoing) {
            s.monitor.waitForProgress();
            continue;
        }
        s.monitor.unlock();
        const bool go = keepGoing();
        s.monitor.lock();
        if (!go) {
            s.abandoned = true;
            s.monitor.wakeWriter();
            break;
        }
        s.monitor.waitForProgressUpTo(kAskEvery);
    }
    s.monitor.unlock();
    return Got::Abandoned;
}
