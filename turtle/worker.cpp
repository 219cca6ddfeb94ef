// The turtle's worker thread, on the console's platform lock and thread.
#include "turtle/worker.h"

#include <new>

#include "console/console_platform.h"

namespace turtle {
namespace {

struct Worker {
    ConsoleMonitor monitor;  // the worker waits for a job as "work", the caller for its end as "progress"
    void (*job)(void*) = nullptr;
    void* argument = nullptr;
    bool busy = false;  // from a job's start until it has ended
};

void run(void* shared)
{
    Worker& worker = *static_cast<Worker*>(shared);
    worker.monitor.lock();
    for (;;) {
        while (worker.job == nullptr) worker.monitor.waitForWork();
        void (*const job)(void*) = worker.job;
        void* const argument = worker.argument;
        worker.job = nullptr;
        worker.monitor.unlock();
        job(argument);
        worker.monitor.lock();
        worker.busy = false;
        worker.monitor.wakeCaller();
    }
}

// The worker, or null where no thread could be made. Never destroyed: its thread uses it
// until the process ends.
Worker* theWorker()
{
    static Worker* const worker = []() -> Worker* {
        Worker* made = nullptr;
        try {
            made = new Worker;
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        if (startDetachedThread(run, made)) return made;
        delete made;
        return nullptr;
    }();
    return worker;
}

}  // namespace

bool startOnWorker(void (*job)(void*), void* argument)
{
    Worker* const worker = theWorker();
    if (worker == nullptr) return false;
    worker->monitor.lock();
    const bool free = !worker->busy;
    if (free) {
        worker->job = job;
        worker->argument = argument;
        worker->busy = true;
        worker->monitor.wakeWriter();
    }
    worker->monitor.unlock();
    return free;
}

bool waitForWorker(int milliseconds)
{
    Worker* const worker = theWorker();
    if (worker == nullptr) return true;
    worker->monitor.lock();
    if (worker->busy) worker->monitor.waitForProgressUpTo(milliseconds);
    const bool ended = !worker->busy;
    worker->monitor.unlock();
    return ended;
}

}  // namespace turtle
