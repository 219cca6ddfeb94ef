// Windows: a critical section with two condition variables, CreateThread, and WriteFile
// on the standard output handle. MinGW's default thread model offers no std::thread,
// so the Win32 calls are used directly.
#include <windows.h>

#include <cstddef>
#include <new>

#include "console/console_platform.h"

struct ConsoleMonitor::Impl {
    CRITICAL_SECTION section;
    CONDITION_VARIABLE work;
    CONDITION_VARIABLE progress;
};

ConsoleMonitor::ConsoleMonitor() : impl_(std::make_unique<Impl>())
{
    InitializeCriticalSection(&impl_->section);
    InitializeConditionVariable(&impl_->work);
    InitializeConditionVariable(&impl_->progress);
}

ConsoleMonitor::~ConsoleMonitor() { DeleteCriticalSection(&impl_->section); }

void ConsoleMonitor::lock() { EnterCriticalSection(&impl_->section); }
void ConsoleMonitor::unlock() { LeaveCriticalSection(&impl_->section); }
void ConsoleMonitor::waitForWork() { SleepConditionVariableCS(&impl_->work, &impl_->section, INFINITE); }
void ConsoleMonitor::wakeWriter() { WakeAllConditionVariable(&impl_->work); }
void ConsoleMonitor::waitForProgress()
{
    SleepConditionVariableCS(&impl_->progress, &impl_->section, INFINITE);
}
void ConsoleMonitor::waitForProgressUpTo(int milliseconds)
{
    SleepConditionVariableCS(&impl_->progress, &impl_->section, static_cast<DWORD>(milliseconds));
}
void ConsoleMonitor::wakeCaller() { WakeAllConditionVariable(&impl_->progress); }

namespace {

struct ThreadStart {
    void (*run)(void*);
    void* argument;
};

DWORD WINAPI threadMain(LPVOID parameter)
{
    const ThreadStart start = *static_cast<ThreadStart*>(parameter);
    delete static_cast<ThreadStart*>(parameter);
    start.run(start.argument);
    return 0;
}

bool writeAll(HANDLE handle, const char* bytes, std::size_t size)
{
    while (size > 0) {
        DWORD written = 0;
        const DWORD piece = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        if (!WriteFile(handle, bytes, piece, &written, nullptr)) return false;
        bytes += written;
        size -= written;
    }
    return true;
}

}  // namespace

bool startDetachedThread(void (*run)(void*), void* argument)
{
    auto* start = new (std::nothrow) ThreadStart{run, argument};
    if (start == nullptr) return false;
    const HANDLE thread = CreateThread(nullptr, 0, threadMain, start, 0, nullptr);
    if (thread == nullptr) {
        delete start;
        return false;
    }
    CloseHandle(thread);
    return true;
}

// The C library writes its standard output in text mode, each "\n" as "\r\n"; so does
// this, through a buffer of translated pieces.
bool writeStandardOutput(const char* bytes, std::size_t size)
{
    const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
    char buffer[8192];
    std::size_t used = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (used + 2 > sizeof buffer) {
            if (!writeAll(handle, buffer, used)) return false;
            used = 0;
        }
        if (bytes[i] == '\n') buffer[used++] = '\r';
        buffer[used++] = bytes[i];
    }
    return writeAll(handle, buffer, used);
}
