// How much memory each of the program's growing stores may take: the ceilings that main
// works out once from the machine's physical memory and hands to the LSystem, so that a
// description, a word or a stack too big for the machine is refused instead of
// exhausting it.
#pragma once

#include <cstdint>

struct Ceilings {
    std::uint64_t word;         // letters of the longest word produce may make
    std::uint64_t description;  // bytes that the axiom and the rules may take
    std::uint64_t stack;        // entries of the turtle's stack
};

// An eighth of physical memory for each of the three, asked of the system once per
// process; 1 GiB (an eighth of 8 GiB) when the system does not say. An eighth, because at
// their ceilings the description takes one, the rewriting two (the word and the next one
// side by side) and the stack one: half of the memory together, and the other half stays
// for the system, the OpenGL driver and the other programs. The word's ceiling is also at
// most 4,294,967,295 letters, the most that a report can count, and the build may set a
// smaller one (TENDRILVIEW_WORD_CEILING).
Ceilings ceilingsForThisMachine();
