// What both fuzz targets share: the input bytes, with their repeats written out, go
// into a file for readDescription, standard output goes into a second file so that
// each run's console text can be compared with the model, and a difference stops the
// fuzzer with both texts shown.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "console/console.h"

namespace harness {

// Inputs of a few KiB can't hold the long successors, long contexts, long runs of
// copied letters and tokens across the reader's 256 KiB reads where the engine's and
// the reader's riskiest code lies. So a repeat may stand anywhere in an input: the byte
// 0x01, a count byte c, a length byte l, then l bytes (at least one), which stand for
// themselves (c + 1) * (c + 1) times: once up to 65,536 times. A 0x01 without all of
// that after it is itself; "\x01\x00\x01\x01" is a single 0x01. The whole is cut at
// most bytes, which each target sets: large files are slow to write and read.
inline std::string expand(const std::uint8_t* data, std::size_t size, std::size_t most)
{
    std::string out;
    for (std::size_t i = 0; i < size && out.size() < most;) {
        if (data[i] != 0x01 || i + 3 >= size) {
            out += static_cast<char>(data[i++]);
            continue;
        }
        const std::size_t times = (std::size_t(data[i + 1]) + 1) * (std::size_t(data[i + 1]) + 1);
        const std::size_t length = std::max<std::size_t>(1, data[i + 2]);
        if (i + 3 + length > size) {
            out += static_cast<char>(data[i++]);
            continue;
        }
        const char* piece = reinterpret_cast<const char*>(data + i + 3);
        for (std::size_t k = 0; k < times && out.size() < most; ++k) {
            out.append(piece, length);
        }
        i += 3 + length;
    }
    if (out.size() > most) out.resize(most);
    return out;
}

// The description file and the captured console of this process.
class Files {
public:
    Files()
    {
        // In memory where possible: rewriting a file on ext4 waits for the disk.
        const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        const std::string base = std::string(dir) + "/tendrilview-fuzz-" + std::to_string(getpid());
        inputPath_ = base + ".lsys";
        outputPath_ = base + ".out";
        std::fflush(stdout);
        // O_APPEND: every write lands at the end, so truncating the file restarts it.
        const int fd = open(outputPath_.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_APPEND, 0600);
        if (fd < 0 || dup2(fd, STDOUT_FILENO) < 0) {
            std::perror("capturing standard output");
            std::abort();
        }
        close(fd);
    }

    ~Files()
    {
        unlink(inputPath_.c_str());
        unlink(outputPath_.c_str());
    }

    // Writes the description file and empties the console; returns the file's path.
    const char* writeInput(const std::uint8_t* data, std::size_t size)
    {
        std::FILE* file = std::fopen(inputPath_.c_str(), "wb");
        if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) {
            std::perror("writing the description file");
            std::abort();
        }
        std::fflush(stdout);
        consoleSync();
        if (ftruncate(STDOUT_FILENO, 0) != 0) std::abort();
        return inputPath_.c_str();
    }

    // Everything printed on standard output since writeInput.
    std::string console() const
    {
        std::fflush(stdout);
        consoleSync();  // the console module writes from its own thread
        std::string text;
        char buffer[65536];
        for (off_t at = 0;;) {
            const ssize_t got = pread(STDOUT_FILENO, buffer, sizeof buffer, at);
            if (got < 0) std::abort();
            if (got == 0) break;
            text.append(buffer, static_cast<std::size_t>(got));
            at += got;
        }
        if (ftruncate(STDOUT_FILENO, 0) != 0) std::abort();
        return text;
    }

private:
    std::string inputPath_;
    std::string outputPath_;
};

// Stops the fuzzer when the program and the model disagree. The texts go to standard
// error, which libFuzzer keeps; NUL and other control bytes are shown escaped.
inline void expectEqual(const char* what, const std::string& program, const std::string& model)
{
    if (program == model) return;
    auto show = [](const std::string& text) {
        std::string shown;
        for (const unsigned char c : text.substr(0, 4000)) {
            if (c == '\n' || (c >= 0x20 && c < 0x7f)) {
                shown += static_cast<char>(c);
            } else {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
                shown += escaped;
            }
        }
        return shown;
    };
    std::fprintf(stderr, "\n%s differs from the model.\n--- program:\n%s\n--- model:\n%s\n", what,
                 show(program).c_str(), show(model).c_str());
    std::abort();
}

}  // namespace harness
