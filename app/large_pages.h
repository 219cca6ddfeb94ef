// Large pages for the rewriting engine's word buffers. main hands adviseLargePages to the
// LSystem (LSystem::prepareLargeBuffer); each platform has its own source file behind it,
// chosen in CMake, and the benchmark of the engine links the same one.
#pragma once

#include <cstddef>

// Asks the system to back the buffer [data, data + bytes), just allocated and not yet
// written, with large pages where it can. Advice only: where the system says no, the
// buffer works as before.
void adviseLargePages(void* data, std::size_t bytes);
