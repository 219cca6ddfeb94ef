// A file read for the description reader's read-ahead thread. It reads through a file
// buffer of the C++ library, which calls the system's read directly and holds no lock of
// the C library's streams while it waits: a read that waits for ever (a FIFO whose writer
// stays open) must not hold up anything that flushes all streams, as exit does.
#pragma once

#include <cstddef>
#include <fstream>

class RawFile {
public:
    explicit RawFile(const char* path);  // opens path for reading its bytes

    bool isOpen() const { return buffer_.is_open(); }

    // Reads until size bytes have come or the file has ended, as fread does, and returns
    // how many came; failed tells whether a read failed (a directory's first read does).
    std::size_t read(char* bytes, std::size_t size, bool& failed);

private:
    std::filebuf buffer_;
};
