// POSIX: open(2) and read(2).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "lsystem/raw_file.h"

RawFile::RawFile(const char* path)
{
    int fd;
    do {
        fd = open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) handle_ = fd;
}

RawFile::~RawFile()
{
    if (isOpen()) close(static_cast<int>(handle_));
}

std::size_t RawFile::read(char* bytes, std::size_t size, bool& failed)
{
    failed = false;
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(static_cast<int>(handle_), bytes + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            failed = true;
            break;
        }
        if (n == 0) break;  // the end of the file
        got += static_cast<std::size_t>(n);
    }
    return got;
}
