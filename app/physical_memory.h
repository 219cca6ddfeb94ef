// The size of the machine's physical memory, asked of the operating system. Each
// platform has its own source file behind it (physical_memory_posix.cpp,
// physical_memory_win32.cpp); CMake picks one.
#pragma once

#include <cstdint>

// Installed physical memory in bytes; 0 when the system does not say.
std::uint64_t physicalMemoryBytes();
