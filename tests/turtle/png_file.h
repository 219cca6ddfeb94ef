// PNG files of the pictures that the drawing tests compare, for a person to look at.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes `rgb`, `height` rows of `width` pixels of three bytes each, the top row first,
// as an 8-bit RGB PNG file. Says whether the file was written whole.
bool writeRgbPng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgb);
