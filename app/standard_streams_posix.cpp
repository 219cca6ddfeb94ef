// POSIX: descriptors 0, 1 and 2, and SIGPIPE.
#include "app/standard_streams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

void openClosedStandardStreams()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // open takes the lowest free descriptor, which is fd when the lower ones are open,
        // as they are by now; dup2 covers any other case.
        const int opened = open("/dev/null", O_RDWR);
        if (opened < 0) return;
        if (opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
}

void ignoreBrokenPipes()
{
    std::signal(SIGPIPE, SIG_IGN);
}
