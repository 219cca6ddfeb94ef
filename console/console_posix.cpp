// POSIX: the standard library's mutex, condition variables and thread, and write(2) on
// descriptor 1.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

#include "console/console_platform.h"

struct ConsoleMonitor::Impl {
    std::mutex mutex;
    std::condition_variable work;
    std::condition_variable progress;
};

ConsoleMonitor::ConsoleMonitor() : impl_(std::make_unique<Impl>()) {}
ConsoleMonitor::~ConsoleMonitor() = default;

void ConsoleMonitor::lock() { impl_->mutex.lock(); }
void ConsoleMonitor::unlock() { impl_->mutex.unlock(); }

namespace {

void waitHeld(std::mutex& mutex, std::condition_variable& condition)
{
    std::unique_lock<std::mutex> held(mutex, std::adopt_lock);
    condition.wait(held);
    held.release();  // still locked, as the caller expects
}

}  // namespace

void ConsoleMonitor::waitForProgressUpTo(int milliseconds)
{
    std::unique_lock<std::mutex> held(impl_->mutex, std::adopt_lock);
    impl_->progress.wait_for(held, std::chrono::milliseconds(milliseconds));
    held.release();
}

void ConsoleMonitor::waitForWork() { waitHeld(impl_->mutex, impl_->work); }
void ConsoleMonitor::wakeWriter() { impl_->work.notify_all(); }
void ConsoleMonitor::waitForProgress() { waitHeld(impl_->mutex, impl_->progress); }
void ConsoleMonitor::wakeCaller() { impl_->progress.notify_all(); }

bool startDetachedThread(void (*run)(void*), void* argument)
{
    try {
        std::thread(run, argument).detach();
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

bool writeStandardOutput(const char* bytes, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = write(STDOUT_FILENO, bytes, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}
