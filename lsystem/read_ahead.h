// A file read on a thread of its own, a block at a time and a few blocks ahead, for the
// description reader: an open or a read that waits for data that doesn't come (a FIFO
// whose writer stays open, a terminal) holds up only that thread, while the caller waits
// a little at a time and asks whether to go on.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class ReadAhead {
public:
    // Starts opening path for reading its bytes. Where no thread can be
    // made, the file is opened and read by next() on the caller's thread instead.
    ReadAhead(const char* path, std::size_t blockSize);
    // The thread is left to end by itself once its open or read under way returns.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    enum class Got {
        Block,      // block holds the next bytes: blockSize of them, fewer at the end
        End,        // the file has ended
        Failed,     // a read failed; nothing follows
        Unopened,   // the file couldn't be opened
        Abandoned,  // keepGoing said false while the caller waited
    };

    // The next block of the file, into block. While nothing has come, keepGoing (when
    // not empty) is asked every 20 ms; when it says false, the read is abandoned and
    // every later call says Abandoned too.
    Got next(std::vector<char>& block, const std::function<bool()>& keepGoing);

    struct Shared;  // what the caller and the thread share; defined in read_ahead.cpp

private:
    std::shared_ptr<Shared> shared_;
};
