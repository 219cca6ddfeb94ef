// Windows: the process's standard handles, and the C runtime's descriptors 0, 1 and 2
// made from them when the program started.
#include "app/standard_streams.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {

HANDLE openNul()
{
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    return CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       &inheritable, OPEN_EXISTING, 0, nullptr);
}

}  // namespace

void openClosedStandardStreams()
{
    const DWORD kinds[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
    for (DWORD kind : kinds) {
        const HANDLE handle = GetStdHandle(kind);
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE) continue;
        const HANDLE nul = openNul();
        if (nul == INVALID_HANDLE_VALUE) return;
        SetStdHandle(kind, nul);
    }
    // The C runtime's descriptors were made from the handles at start-up; one that has
    // no handle gets the null device too, so that the C library's output has a place.
    for (int fd = 0; fd <= 2; ++fd) {
        if (_get_osfhandle(fd) >= 0) continue;
        const int nul = _open("NUL", _O_RDWR | _O_BINARY);
        if (nul < 0) return;
        if (nul != fd) {
            _dup2(nul, fd);
            _close(nul);
        }
    }
}

void ignoreBrokenPipes()
{
    // WriteFile on a broken pipe fails with ERROR_NO_DATA; no signal is raised.
}
