// The read-ahead's file: std::filebuf, opened in binary mode (on Windows the program's
// code page is UTF-8, so the narrow path opens in any script, as fopen does).
#include "lsystem/raw_file.h"

#include <algorithm>
#include <ios>

RawFile::RawFile(const char* path) { buffer_.open(path, std::ios::in | std::ios::binary); }

std::size_t RawFile::read(char* bytes, std::size_t size, bool& failed)
{
    // The library reports a failed read by throwing; pieces of a bounded size keep what
    // came before the failure.
    constexpr std::size_t kPiece = std::size_t{1} << 16;
    failed = false;
    std::size_t got = 0;
    try {
        while (got < size) {
            const std::streamsize want = static_cast<std::streamsize>(std::min(kPiece, size - got));
            const std::streamsize came = buffer_.sgetn(bytes + got, want);
            if (came <= 0) break;  // the end of the file
            got += static_cast<std::size_t>(came);
        }
    } catch (const std::ios_base::failure&) {
        failed = true;
    }
    return got;
}
