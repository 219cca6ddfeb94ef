// A rule as the reader makes one from "left<predecessor>right->successor", for benchmarks
// that set up an L-system without a description file.
#pragma once

#include <string>
#include <utility>

#include "lsystem/lsystem.h"

inline Rule makeRule(std::string left, std::string predecessor, std::string right, std::string successor)
{
    Rule rule;
    rule.matchText = left + predecessor + right;
    rule.leftContext = std::move(left);
    rule.predecessor = std::move(predecessor);
    rule.rightContext = std::move(right);
    rule.successor = std::move(successor);
    return rule;
}
