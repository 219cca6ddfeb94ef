// QuietStdout sends standard output to /dev/null while it lives. The reader and the
// rewriting engine print reports that, in a benchmark, would bury its own table.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "console/console.h"

class QuietStdout {
public:
    QuietStdout()
    {
        std::fflush(stdout);
        consoleSync();
        saved_ = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        close(null);
    }
    ~QuietStdout()
    {
        std::fflush(stdout);
        consoleSync();  // the console module writes from its own thread
        dup2(saved_, STDOUT_FILENO);
        close(saved_);
    }
    QuietStdout(const QuietStdout&) = delete;
    QuietStdout& operator=(const QuietStdout&) = delete;

private:
    int saved_;
};
