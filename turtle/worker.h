// A second thread for the turtle's passes, so that a long walk can use both cores of a
// machine: started on first use, it runs one job at a time and then waits for the next,
// for the life of the process (a thread that tore itself down while the process exits
// would race the exit's own work).
#pragma once

namespace turtle {

// Starts job(argument) on the worker. False, and nothing runs, if there is no worker (it
// could not be started) or it is still busy with an earlier job.
bool startOnWorker(void (*job)(void*), void* argument);

// Waits at most `milliseconds` for the job started last to end; true once it has (or if
// none was started).
bool waitForWorker(int milliseconds);

}  // namespace turtle
