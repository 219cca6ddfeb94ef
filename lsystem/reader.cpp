// The description-file reader: splits the file into whitespace-separated tokens, applies
// each as an assignment, a rule or the axiom, reports the tokens it can't use and prints
// a summary of what it understood. The file is read as raw bytes in chunks, on a thread
// of its own (read_ahead.h), so tokens have no length limit, every byte other than
// whitespace is an ordinary symbol, and a file that never ends or never comes doesn't
// keep the caller from asking whether to go on. The memory that the description takes
// is counted, and reading stops at its ceiling.
#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "console/console.h"
#include "lsystem/lsystem.h"
#include "lsystem/read_ahead.h"

namespace {

constexpr std::size_t kChunkSize = 1 << 18;

// Blank, horizontal tab, line feed, vertical tab, form feed and carriage return: the
// bytes that separate tokens. A table, because the split looks at every byte of the file.
struct WhitespaceTable {
    bool isSpace[256] = {};
    constexpr WhitespaceTable()
    {
        isSpace[static_cast<unsigned char>(' ')] = true;
        isSpace[static_cast<unsigned char>('\t')] = true;
        isSpace[static_cast<unsigned char>('\n')] = true;
        isSpace[static_cast<unsigned char>('\v')] = true;
        isSpace[static_cast<unsigned char>('\f')] = true;
        isSpace[static_cast<unsigned char>('\r')] = true;
    }
};
constexpr WhitespaceTable kWhitespace;

// Reads an unsigned number from the start of text as "%u" does (an optional "+", then
// decimal digits; whatever follows is ignored). A "-" sign, no digits, or a value above
// 4294967295 give false and leave out unchanged, where "%u" would wrap or truncate.
// from_chars takes no sign at all and reads every digit before it says out of range.
bool convertUnsigned(std::string_view text, std::uint32_t& out)
{
    const char* first = text.data();
    const char* const last = first + text.size();
    if (first < last && *first == '+') ++first;
    std::uint32_t value = 0;
    if (std::from_chars(first, last, value).ec != std::errc()) return false;
    out = value;
    return true;
}

// For a number that from_chars found out of range: true when it is too large for a
// float, false when it is too small. The number is a mantissa of digits in the given
// base with an optional point, then an optional exponent (decimal digits after "e" for
// base 10, a power of two after "p" for base 16). Its size is the position of its first
// non-zero digit plus the exponent; out of range and not below one means too large.
bool isTooLarge(const char* first, const char* last, bool hex)
{
    const char marker = hex ? 'p' : 'e';
    std::int64_t leadPosition = 0;  // power of the base of the first non-zero digit
    std::int64_t digitsBeforePoint = 0;
    std::int64_t digitIndex = 0;
    bool seenPoint = false;
    bool seenNonZero = false;
    const char* p = first;
    for (; p < last && (*p | 0x20) != marker; ++p) {
        if (*p == '.') {
            seenPoint = true;
            continue;
        }
        if (!seenPoint) ++digitsBeforePoint;
        if (!seenNonZero && *p != '0') {
            seenNonZero = true;
            leadPosition = digitIndex;
        }
        ++digitIndex;
    }
    std::int64_t magnitude = digitsBeforePoint - 1 - leadPosition;
    if (hex) magnitude *= 4;
    std::int64_t exponent = 0;
    if (p < last) {
        ++p;
        bool negative = false;
        if (p < last && (*p == '+' || *p == '-')) negative = *p++ == '-';
        // Exponents far beyond any float are all alike; stop counting there.
        for (; p < last && exponent < 1000000000; ++p) exponent = exponent * 10 + (*p - '0');
        if (negative) exponent = -exponent;
    }
    return magnitude + exponent >= 0;
}

// Reads a float from the start of text as "%f" does: an optional sign, then a decimal
// number (".5", "5.", "1e5"), a hexadecimal one after "0x", or "inf" and "nan" spelt in
// any case; whatever follows is ignored. A value too small for a float reads as zero
// with its sign, as "%f" has it. No number, infinity and NaN (also from a value too large
// for a float) give false and leave out unchanged. std::from_chars does the conversion,
// so the result is the same on every platform and ignores the locale.
bool convertFloat(std::string_view text, float& out)
{
    const char* p = text.data();
    const char* const end = p + text.size();
    bool negative = false;
    if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
    const bool hex = end - p >= 2 && p[0] == '0' && (p[1] | 0x20) == 'x';
    if (hex) p += 2;
    // from_chars takes a "-" of its own; "%f" takes one sign only.
    if (p < end && (*p == '+' || *p == '-')) return false;
    float value = 0.0f;
    const std::from_chars_result result = std::from_chars(
        p, end, value, hex ? std::chars_format::hex : std::chars_format::general);
    if (result.ec == std::errc::invalid_argument) return false;
    if (result.ec == std::errc::result_out_of_range) {
        if (isTooLarge(p, result.ptr, hex)) return false;
        value = 0.0f;
    }
    if (!std::isfinite(value)) return false;
    out = negative ? -value : value;
    return true;
}

void print(std::string_view bytes) { consoleWrite(bytes.data(), bytes.size()); }

// Prints prefix, the whole token (NUL bytes included) and suffix.
void reportToken(std::string_view prefix, std::string_view token, std::string_view suffix)
{
    print(prefix);
    print(token);
    print(suffix);
}

// What one rule takes beyond the bytes of its five strings, counted generously: the Rule
// itself twice, since the vector of rules may have room for twice as many as it holds,
// and for each string a heap block's extra (its terminator, the allocator's header and
// rounding), as if no string were short enough to be stored inside the Rule.
constexpr std::uint64_t kRuleOverhead = 2 * sizeof(Rule) + 5 * 32;

std::uint64_t ruleCost(std::size_t contextsAndPredecessor, std::size_t successor)
{
    // The contexts and the predecessor are stored twice: by themselves and in matchText.
    return 2 * static_cast<std::uint64_t>(contextsAndPredecessor) + successor + kRuleOverhead;
}

// Thrown when a token, or the rule made of it, doesn't fit under the ceiling. The
// reading then stops as when memory runs out.
struct CeilingReached {};

// The description takes the axiom's bytes and each rule's cost. room is what the ceiling
// leaves beside the rules kept so far; the axiom's size is looked up where it is, since
// every axiom token changes it. Throws CeilingReached unless bytes more fit beside both.
void hold(const LSystem& lsystem, std::uint64_t bytes, std::uint64_t room)
{
    if (bytes + lsystem.axiom.size() > room) throw CeilingReached();
}

// Applies one token: an assignment if it holds "=", else a rule if it holds "->", else
// the new axiom. A token is held beside the axiom and the rules while it is read and
// applied, so it must fit in room too, whatever it turns out to be. Returns the cost of
// the rule that it adds, 0 when it adds none; throws CeilingReached, having applied
// nothing, when the token or its rule doesn't fit. room comes and goes by value, so that
// the loop over the tokens keeps it in a register. When the token is the whole of
// `owner`, a rule's successor takes owner's storage instead of a copy, so that a long
// rule is not held twice; owner is then left empty.
std::uint64_t applyToken(LSystem& lsystem, std::string_view token, std::uint64_t room,
                         std::string* owner = nullptr)
{
    hold(lsystem, token.size(), room);

    const std::size_t equals = token.find('=');
    if (equals != std::string_view::npos) {
        const std::string_view name = token.substr(0, equals);
        const std::string_view value = token.substr(equals + 1);
        if (name == "n") {
            convertUnsigned(value, lsystem.n);
        } else if (name == "d") {
            convertUnsigned(value, lsystem.d);
        } else if (name == "delta") {
            convertFloat(value, lsystem.delta);
        } else {
            reportToken("Unable to parse '", token, "' (unknown variable)\n");
        }
        return 0;
    }

    const std::size_t arrow = token.find("->");
    if (arrow == std::string_view::npos) {
        lsystem.axiom.assign(token.data(), token.size());
        return 0;
    }
    std::string_view left = token.substr(0, arrow);
    const std::string_view successor = token.substr(arrow + 2);
    std::string_view leftContext;
    std::string_view rightContext;
    // "<" first, so that a ">" standing before the first "<" stays in the left context.
    const std::size_t less = left.find('<');
    if (less != std::string_view::npos) {
        leftContext = left.substr(0, less);
        left = left.substr(less + 1);
    }
    const std::size_t greater = left.find('>');
    if (greater != std::string_view::npos) {
        rightContext = left.substr(greater + 1);
        left = left.substr(0, greater);
    }
    if (left.empty()) {
        reportToken("Error parsing '", token, "'\n");
        return 0;
    }
    const std::uint64_t cost =
        ruleCost(leftContext.size() + left.size() + rightContext.size(), successor.size());
    hold(lsystem, cost, room);
    Rule rule;
    rule.predecessor.assign(left.data(), left.size());
    rule.leftContext.assign(leftContext.data(), leftContext.size());
    rule.rightContext.assign(rightContext.data(), rightContext.size());
    rule.matchText.reserve(leftContext.size() + left.size() + rightContext.size());
    rule.matchText.append(leftContext.data(), leftContext.size());
    rule.matchText.append(left.data(), left.size());
    rule.matchText.append(rightContext.data(), rightContext.size());
    if (owner != nullptr) {
        rule.successor.swap(*owner);
        rule.successor.erase(0, arrow + 2);
    } else {
        rule.successor.assign(successor.data(), successor.size());
    }
    lsystem.rules.push_back(std::move(rule));
    return cost;
}

// Applies a token gathered in a string of its own, which is left empty, as applyToken
// does. An axiom token is moved into the axiom rather than copied, so that a token of
// gigabytes is held once.
std::uint64_t applyGathered(LSystem& lsystem, std::string& token, std::uint64_t room)
{
    std::uint64_t cost = 0;
    if (token.find('=') == std::string::npos && token.find("->") == std::string_view::npos) {
        hold(lsystem, token.size(), room);
        lsystem.axiom.swap(token);
    } else {
        // A long rule gives its storage to its successor, which is then not copied.
        cost = applyToken(lsystem, token, room, token.capacity() > kChunkSize ? &token : nullptr);
    }
    // A long token's buffer is given back rather than kept for the next one.
    if (token.capacity() > kChunkSize) {
        std::string().swap(token);
    } else {
        token.clear();
    }
    return cost;
}

// Makes room in pending, a token gathered across chunks, for more bytes. Doubling would
// leave the old and the new buffer alive during the copy, and a buffer twice the token's
// size: near the ceiling, twice the ceiling. So once the token outgrows an eighth of
// what it may reach (room less the axiom it is held beside), it is given all of that at
// once, and never moves again: at most an eighth of the ceiling more is ever held.
void makeRoom(std::string& pending, std::size_t more, const LSystem& lsystem, std::uint64_t room)
{
    const std::size_t needed = pending.size() + more;
    if (needed <= pending.capacity()) return;
    const std::size_t most = static_cast<std::size_t>(room - lsystem.axiom.size());  // >= needed
    const std::size_t doubled = std::max(needed, 2 * pending.capacity());
    if (doubled <= most / 8) {
        pending.reserve(doubled);
        return;
    }
    try {
        pending.reserve(most);
    } catch (const std::bad_alloc&) {
        // The memory is short of the ceiling: grow in smaller steps while it lasts.
        pending.reserve(std::min(most, needed + needed / 8));
    }
}

enum class ReadOutcome { Read, Unreadable, Abandoned };

// Reads the file's tokens and applies them, with room beside the rules that the LSystem
// holds already. Unreadable when the file can't be read at all; Abandoned when
// keepGoing, asked after each chunk and while a chunk is awaited, said false. Throws
// CeilingReached when a token doesn't fit.
ReadOutcome readTokens(const char* path, LSystem& lsystem, std::uint64_t room,
                       const KeepGoing& keepGoing)
{
    ReadAhead file(path, kChunkSize);
    std::vector<char> chunk;
    ReadAhead::Got got = file.next(chunk, keepGoing);
    // Opening a directory succeeds on some systems; its first read fails.
    if (got == ReadAhead::Got::Unopened || got == ReadAhead::Got::Failed) {
        return ReadOutcome::Unreadable;
    }

    // A token that reaches the end of a chunk is gathered in pending until its end turns
    // up; every other token is applied straight from the chunk. The inner loops are plain
    // byte loops over a table lookup because they touch every byte of the file once.
    // pending is held against the room before it grows, so that a token longer than the
    // ceiling is never held whole.
    // A UTF-8 byte-order mark (EF BB BF), which Notepad writes at the start of a file, is
    // skipped there and only there: it would otherwise stick to the first token. fread
    // fills the chunk unless the file ends, so a mark is never split by the first read.
    static constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";
    std::size_t skip =
        chunk.size() >= 3 && std::memcmp(chunk.data(), kByteOrderMark, 3) == 0 ? 3 : 0;

    std::string pending;
    while (got == ReadAhead::Got::Block) {
        const char* p = chunk.data() + skip;
        skip = 0;
        const char* const end = chunk.data() + chunk.size();
        if (!pending.empty()) {
            const char* q = p;
            while (q < end && !kWhitespace.isSpace[static_cast<unsigned char>(*q)]) ++q;
            hold(lsystem, pending.size() + static_cast<std::size_t>(q - p), room);
            makeRoom(pending, static_cast<std::size_t>(q - p), lsystem, room);
            pending.append(p, q);
            p = q;
            if (p < end) room -= applyGathered(lsystem, pending, room);
        }
        while (p < end) {
            while (p < end && kWhitespace.isSpace[static_cast<unsigned char>(*p)]) ++p;
            if (p == end) break;
            const char* const start = p;
            while (p < end && !kWhitespace.isSpace[static_cast<unsigned char>(*p)]) ++p;
            if (p == end) {
                hold(lsystem, static_cast<std::size_t>(p - start), room);
                pending.assign(start, p);
                break;
            }
            room -= applyToken(lsystem,
                               std::string_view(start, static_cast<std::size_t>(p - start)), room);
        }
        if (keepGoing && !keepGoing()) return ReadOutcome::Abandoned;
        // A read error ends the reading as the end of the file does.
        got = file.next(chunk, keepGoing);
    }
    if (got == ReadAhead::Got::Abandoned) return ReadOutcome::Abandoned;
    if (!pending.empty()) applyGathered(lsystem, pending, room);
    return ReadOutcome::Read;
}

}  // namespace

bool LSystem::readDescription(const char* path, const KeepGoing& keepGoing)
{
    // The rules that the LSystem holds already count too; a freshly constructed one has
    // none. With no room left every token is refused, as each has a byte at least.
    std::uint64_t rulesCost = 0;
    for (const Rule& rule : rules) {
        rulesCost += ruleCost(rule.matchText.size(), rule.successor.size());
    }
    const std::uint64_t room = rulesCost < descriptionCeiling ? descriptionCeiling - rulesCost : 0;
    // Memory can run out below the ceiling, when the machine has less free than it has
    // in all, and a string can't grow past its largest size; both are met like the
    // ceiling. What was applied stays, and the token being read is given back as the
    // exception leaves readTokens.
    ReadOutcome outcome = ReadOutcome::Read;
    bool stopped = false;
    try {
        outcome = readTokens(path, *this, room, keepGoing);
    } catch (const CeilingReached&) {
        stopped = true;
    } catch (const std::bad_alloc&) {
        stopped = true;
    } catch (const std::length_error&) {
        stopped = true;
    }
    if (outcome == ReadOutcome::Abandoned) {
        consoleFlush();
        return false;
    }
    if (outcome == ReadOutcome::Unreadable) {
        print("Couldn't open specified file!\n");
        consoleFlush();
        return true;
    }
    if (stopped) {
        consolePrintf("Stopped reading: the description needs more than %" PRIu64
                      " bytes of memory\n",
                      descriptionCeiling);
    }

    consolePrintf("Finished parsing file: \n  n=%u, d=%u, delta=%f\n  ", n, d,
                  static_cast<double>(delta));
    print(axiom);
    print("\n");
    for (const Rule& rule : rules) {
        // A summary of millions of rules takes its time; more so on a pipe that nobody
        // reads, where the console makes it wait for room.
        if (keepGoing && !keepGoing()) {
            consoleFlush();
            return false;
        }
        print("  ");
        if (!rule.leftContext.empty()) {
            print(rule.leftContext);
            print("<");
        }
        print(rule.predecessor);
        if (!rule.rightContext.empty()) {
            print(">");
            print(rule.rightContext);
        }
        print("->");
        print(rule.successor);
        print("\n");
    }
    print("-----------------------\n");
    consoleFlush();
    return true;
}
