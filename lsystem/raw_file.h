// A file read through the system's own calls rather than the C library's streams, for the
// description reader's read-ahead thread: a stream stays locked while a read waits, and
// a read that waits for ever (a FIFO whose writer stays open) would then hold up anything
// that flushes all streams. Each platform has its own file (raw_file_posix.cpp,
// raw_file_win32.cpp); CMake picks one.
#pragma once

#include <cstddef>
#include <cstdint>

class RawFile {
public:
    explicit RawFile(const char* path);  // opens path for reading its bytes
    ~RawFile();
    RawFile(const RawFile&) = delete;
    RawFile& operator=(const RawFile&) = delete;

    bool isOpen() const { return handle_ != kClosed; }

    // Reads until size bytes have come or the file has ended, as fread does, and returns
    // how many came; failed tells whether a read failed (a directory's first read does).
    std::size_t read(char* bytes, std::size_t size, bool& failed);

private:
    static constexpr std::intptr_t kClosed = -1;
    std::intptr_t handle_ = kClosed;  // a descriptor, or a Windows handle
};
