// Windows: CreateFileA and ReadFile. The program's code page is UTF-8 (its manifest), so
// the narrow path opens in any script, as fopen did.
#include <windows.h>

#include "lsystem/raw_file.h"

RawFile::RawFile(const char* path)
{
    // Others may read and write the file meanwhile, as with fopen.
    const HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) handle_ = reinterpret_cast<std::intptr_t>(file);
}

RawFile::~RawFile()
{
    if (isOpen()) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::size_t RawFile::read(char* bytes, std::size_t size, bool& failed)
{
    failed = false;
    std::size_t got = 0;
    while (got < size) {
        const std::size_t left = size - got;
        const DWORD piece = left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left);
        DWORD n = 0;
        if (!ReadFile(reinterpret_cast<HANDLE>(handle_), bytes + got, piece, &n, nullptr)) {
            // A pipe whose writer has gone ends as a file does.
            failed = GetLastError() != ERROR_BROKEN_PIPE;
            break;
        }
        if (n == 0) break;  // the end of the file
        got += n;
    }
    return got;
}
