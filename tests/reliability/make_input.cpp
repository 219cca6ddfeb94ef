// Writes the big description files of the bad-input tests to standard output, so that
// none of them is kept in the repository:
//   make_input random BYTES SEED   bytes of a seeded generator, every value 0 to 255
//   make_input token BYTES         n=1 and one axiom token of BYTES: A to Z over and over,
//                                  every 26000th byte "+" (a square of 1000 steps a side)
//   make_input rules COUNT         COUNT rules Q00000->F ..., then F->FF and an axiom
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// xorshift64*: the same bytes on every machine for the same seed.
std::uint64_t nextRandom(std::uint64_t& state)
{
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 0x2545F4914F6CDD1Dull;
}

void writeAll(const std::string& text)
{
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) {
        std::perror("make_input");
        std::exit(1);
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: make_input random BYTES SEED | token BYTES | rules COUNT\n");
        return 2;
    }
    const std::uint64_t count = std::strtoull(argv[2], nullptr, 10);
    std::string block;
    if (std::strcmp(argv[1], "random") == 0 && argc == 4) {
        std::uint64_t state = std::strtoull(argv[3], nullptr, 10) | 1;
        for (std::uint64_t i = 0; i < count; i += 8) {
            const std::uint64_t value = nextRandom(state);
            for (std::uint64_t k = 0; k < 8 && i + k < count; ++k) block += static_cast<char>(value >> (8 * k));
            if (block.size() >= (1u << 16)) {
                writeAll(block);
                block.clear();
            }
        }
    } else if (std::strcmp(argv[1], "token") == 0) {
        block = "n=1\n";
        for (std::uint64_t i = 0; i < count; ++i) {
            block += i % 26000 == 25999 ? '+' : static_cast<char>('A' + i % 26);
            if (block.size() >= (1u << 16)) {
                writeAll(block);
                block.clear();
            }
        }
        block += '\n';
    } else if (std::strcmp(argv[1], "rules") == 0) {
        char rule[32];
        for (std::uint64_t i = 0; i < count; ++i) {
            std::snprintf(rule, sizeof rule, "Q%05llu->F\n", static_cast<unsigned long long>(i));
            block += rule;
            if (block.size() >= (1u << 16)) {
                writeAll(block);
                block.clear();
            }
        }
        block += "F->FF\nn=1 Q00042Q99999F\n";
    } else {
        std::fprintf(stderr, "make_input: unknown kind '%s'\n", argv[1]);
        return 2;
    }
    writeAll(block);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
