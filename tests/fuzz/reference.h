// A plain, slow model of the reader, the rewriting and the turtle's console report,
// written from the file format and the reports alone. The fuzz targets run the real code
// and this model on the same bytes and stop at the first difference; the rewriting tests
// (tests/lsystem/produce_test.cpp) check produce against its rewriting.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace reference {

struct RuleText {
    std::string leftContext;
    std::string predecessor;
    std::string rightContext;
    std::string successor;
};

// What a description file means. delta is unknown (nullopt) when a value of the file is
// a hexadecimal float, whose reading this model does not repeat.
struct Description {
    std::uint32_t n = 1;
    std::uint32_t d = 1;
    std::optional<float> delta = 90.0f;
    std::string axiom;
    std::vector<RuleText> rules;
    std::string messages;  // the reader's lines about bad tokens, in file order
};

inline bool isSeparator(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// "%u" without its wrap-around: an optional "+", at least one digit, at most 4294967295.
inline std::optional<std::uint32_t> readUnsigned(const std::string& text)
{
    std::size_t i = 0;
    if (i < text.size() && text[i] == '+') ++i;
    const std::size_t first = i;
    std::uint64_t value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
        if (value > 0xFFFFFFFFull) return std::nullopt;
        ++i;
    }
    if (i == first) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

// "%f" for decimal numbers, without infinity and NaN. Returns false when the text is a
// hexadecimal number, which this model leaves alone; otherwise value is the number, or
// nullopt when none converts.
inline bool readFloat(const std::string& text, std::optional<float>& value)
{
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) return false;
    const bool digit = i < text.size() && text[i] >= '0' && text[i] <= '9';
    const bool pointDigit = i + 1 < text.size() && text[i] == '.' && text[i + 1] >= '0' && text[i + 1] <= '9';
    if (!digit && !pointDigit) {
        value = std::nullopt;  // no number, or inf / nan, which do not convert either
        return true;
    }
    // strtof reads the same decimal number as "%f"; the bytes after it never matter,
    // so a NUL among them (which would end the C string early) changes nothing.
    const float f = std::strtof(text.c_str(), nullptr);
    value = std::isfinite(f) ? std::optional<float>(f) : std::nullopt;
    return true;
}

inline Description readDescription(const std::string& file)
{
    Description out;
    // A UTF-8 byte-order mark at the very start is not part of the text.
    std::size_t i = file.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (i < file.size()) {
        while (i < file.size() && isSeparator(static_cast<unsigned char>(file[i]))) ++i;
        const std::size_t start = i;
        while (i < file.size() && !isSeparator(static_cast<unsigned char>(file[i]))) ++i;
        if (i == start) break;
        const std::string token = file.substr(start, i - start);

        const std::size_t equals = token.find('=');
        if (equals != std::string::npos) {
            const std::string name = token.substr(0, equals);
            const std::string text = token.substr(equals + 1);
            if (name == "n" || name == "d") {
                const std::optional<std::uint32_t> value = readUnsigned(text);
                if (value) (name == "n" ? out.n : out.d) = *value;
            } else if (name == "delta") {
                std::optional<float> value;
                if (!readFloat(text, value)) {
                    out.delta = std::nullopt;
                } else if (value) {
                    out.delta = value;
                }
            } else {
                out.messages += "Unable to parse '" + token + "' (unknown variable)\n";
            }
            continue;
        }
        const std::size_t arrow = token.find("->");
        if (arrow != std::string::npos) {
            RuleText rule;
            std::string left = token.substr(0, arrow);
            rule.successor = token.substr(arrow + 2);
            const std::size_t less = left.find('<');
            if (less != std::string::npos) {
                rule.leftContext = left.substr(0, less);
                left = left.substr(less + 1);
            }
            const std::size_t greater = left.find('>');
            if (greater != std::string::npos) {
                rule.rightContext = left.substr(greater + 1);
                left = left.substr(0, greater);
            }
            if (left.empty()) {
                out.messages += "Error parsing '" + token + "'\n";
            } else {
                rule.predecessor = left;
                out.rules.push_back(rule);
            }
            continue;
        }
        out.axiom = token;
    }
    return out;
}

// The reader's whole console output for a description; delta is the value to print.
inline std::string readerOutput(const Description& description, float delta)
{
    char line[128];
    std::snprintf(line, sizeof line, "  n=%u, d=%u, delta=%f\n  ", description.n, description.d,
                  static_cast<double>(delta));
    std::string out = description.messages + "Finished parsing file: \n" + line + description.axiom + "\n";
    for (const RuleText& rule : description.rules) {
        out += "  ";
        if (!rule.leftContext.empty()) out += rule.leftContext + "<";
        out += rule.predecessor;
        if (!rule.rightContext.empty()) out += ">" + rule.rightContext;
        out += "->" + rule.successor + "\n";
    }
    return out + "-----------------------\n";
}

struct Production {
    std::string word;
    std::string output;  // the console report
    std::uint32_t n;     // the iterations asked for, or fewer when the work ran out
};

// Rewriting as a plain scan: at each position the first rule whose text stands there.
// An iteration that would make the word longer than ceiling is abandoned. The scan
// compares byte by byte, which long match texts over long words make slow: once more
// than work bytes have been compared, the production is that of the iterations done
// before, and n says how many they were.
inline Production produce(const std::string& axiom, const std::vector<RuleText>& rules, std::uint32_t n,
                          std::uint64_t ceiling, std::uint64_t work = UINT64_MAX)
{
    Production result;
    result.word = axiom;
    result.n = n;
    std::uint64_t replacements = 0;
    std::string stopLine;
    std::vector<std::string> matches;
    for (const RuleText& rule : rules) matches.push_back(rule.leftContext + rule.predecessor + rule.rightContext);
    std::uint64_t compared = 0;
    for (std::uint32_t iteration = 1; iteration <= n; ++iteration) {
        const std::size_t printed = result.output.size();
        result.output += std::to_string(iteration) + " ";
        std::string next;
        std::uint64_t count = replacements;
        bool abandoned = false;
        bool outOfWork = false;
        for (std::size_t at = 0; at < result.word.size() && !outOfWork;) {
            std::size_t applied = rules.size();
            for (std::size_t r = 0; r < rules.size(); ++r) {
                const std::string& match = matches[r];
                if (result.word.size() - at < match.size()) continue;
                std::size_t same = 0;
                while (same < match.size() && result.word[at + same] == match[same]) ++same;
                compared += same + 1;
                if (same == match.size()) {
                    applied = r;
                    break;
                }
            }
            if (compared > work) outOfWork = true;
            if (applied < rules.size()) {
                const RuleText& rule = rules[applied];
                next += rule.leftContext;
                next += rule.successor;
                next += rule.rightContext;
                at += matches[applied].size();
                ++count;
            } else {
                next += result.word[at++];
            }
            if (next.size() > ceiling) {
                abandoned = true;
                break;
            }
        }
        if (outOfWork) {
            result.output.resize(printed);
            result.n = iteration - 1;
            break;
        }
        if (abandoned) {
            stopLine = "Production stopped at iteration " + std::to_string(iteration) +
                       ": the word would exceed " + std::to_string(ceiling) + " letters\n";
            break;
        }
        result.word.swap(next);
        replacements = count;
    }
    result.output += "\n" + stopLine + "Production done: " + std::to_string(replacements) +
                     " replaces done, final product has " + std::to_string(result.word.size()) + " letters\n" +
                     "----------------\n";
    return result;
}

// What a measuring pass and then a reporting drawing pass print for a word: the line
// count, or "Stack error !" from each pass when a "]" finds the stack empty.
inline std::string renderOutput(const std::string& word)
{
    std::uint32_t lines = 0;
    std::uint64_t depth = 0;
    for (const char c : word) {
        if (c == 'F') {
            ++lines;
        } else if (c == '[') {
            ++depth;
        } else if (c == ']') {
            if (depth == 0) return "Stack error !Stack error !";
            --depth;
        }
    }
    return "Rendering done: " + std::to_string(lines) + " lines were drawn\n" +
           "--------------------------------\n";
}

}  // namespace reference
