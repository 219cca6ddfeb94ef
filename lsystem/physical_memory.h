// The size of the machine's physical memory, asked of the operating system.
// Each platform has its own source file behind this declaration; CMake picks one.
// The rewriting engine derives its default word ceiling from it.
#pragma once

#include <cstdint>

// Installed physical memory in bytes; 0 when the system does not say.
std::uint64_t physicalMemoryBytes();
