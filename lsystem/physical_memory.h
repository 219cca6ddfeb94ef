// The size of the machine's physical memory, asked of the operating system, and the
// share of it that each of the program's growing stores may take. Each platform has its
// own source file behind physicalMemoryBytes; CMake picks one.
#pragma once

#include <cstdint>

// Installed physical memory in bytes; 0 when the system does not say.
std::uint64_t physicalMemoryBytes();

// An eighth of physical memory in bytes, asked of the system once per process; 1 GiB
// (an eighth of 8 GiB) when the system does not say. The default ceilings of the
// description, the word and the turtle's stack all derive from it. An eighth, because
// at their ceilings the description takes one, the rewriting two (the word and the next
// one side by side) and the stack one: half of the memory together, and the other half
// stays for the system, the OpenGL driver and the other programs.
std::uint64_t eighthOfPhysicalMemory();
