// Writes 8-bit RGB images as PNG files, compressed by a small deflate of its own
// (LZ77 with the fixed Huffman codes), so that screenshots need no image library.
#pragma once

#include <cstdint>
#include <vector>

// `rgb` holds height rows of width pixels, three bytes each, top row first.
bool writePng(const char* path, int width, int height, const std::vector<std::uint8_t>& rgb);
