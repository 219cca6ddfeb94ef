// What the console module needs of the platform: a lock with two conditions, a detached
// thread and a blocking write to standard output. Each platform has its own source file
// behind this declaration (console_posix.cpp, console_win32.cpp); CMake picks one. The
// description reader's read-ahead thread uses the lock and the thread too.
#pragma once

#include <cstddef>
#include <memory>

// A mutex with two condition variables: one on which the writer waits for work, one on
// which the caller waits for the writer's progress.
class ConsoleMonitor {
public:
    ConsoleMonitor();
    ~ConsoleMonitor();
    ConsoleMonitor(const ConsoleMonitor&) = delete;
    ConsoleMonitor& operator=(const ConsoleMonitor&) = delete;

    void lock();
    void unlock();
    void waitForWork();  // the lock is held; released while waiting
    void wakeWriter();
    void waitForProgress();  // the lock is held; released while waiting
    void waitForProgressUpTo(int milliseconds);  // the same, or until the time has passed
    void wakeCaller();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Runs run(argument) on a new thread that nobody joins. False if none could be made.
bool startDetachedThread(void (*run)(void*), void* argument);

// Writes all size bytes to the process's standard output, waiting as long as that takes.
// False when the output fails (closed, or an error); the rest of the bytes is dropped.
bool writeStandardOutput(const char* bytes, std::size_t size);
