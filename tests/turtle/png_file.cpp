// PNG writing through libpng, with its error jumps kept inside this function.
#include "tests/turtle/png_file.h"

#include <png.h>

#include <cstdio>

bool writeRgbPng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgb)
{
    if (rgb.size() != static_cast<std::size_t>(width) * height * 3) return false;
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    volatile bool written = false;
    // libpng reports errors by longjmp to here; only plain data lives across the jump.
    if (info && setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, file);
        png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                     PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        for (int row = 0; row < height; ++row)
            png_write_row(png, rgb.data() + static_cast<std::size_t>(row) * width * 3);
        png_write_end(png, nullptr);
        written = true;
    }
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    return std::fclose(file) == 0 && written;
}
