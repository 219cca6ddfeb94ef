// The reference picture that the drawing pass is compared with: every F line of a word,
// walked exactly as the program walks it, drawn as a band one pixel wide with butt ends,
// with overlaps counted once (the covered area, not a sum of inks). Coverage is taken at
// kSamplesPerSide x kSamplesPerSide samples per pixel and box-filtered down to the
// 600x600 window, under the projection that the program's measuring pass sets.
// The red start point is drawn as the program's picture shows it: a 4x4-pixel square at
// the projected origin, under the lines.
// Plain arithmetic, no drawing interface; also the figures that compare two pictures.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "display/display.h"
#include "lsystem/lsystem.h"
#include "turtle/frame.h"

namespace reference {

constexpr int kWindowSize = kClientSize;  // the window's client area, in pixels each way
constexpr int kSamplesPerSide = 4;   // coverage samples along each side of a pixel
constexpr float kRedGrey = 85.0f;    // the grey level of pure red, (255 + 0 + 0) / 3

// A picture as grey levels from 0 (black) to 255 (white), kWindowSize rows of
// kWindowSize pixels, the top row first. A picture read from the window converts each
// pixel's RGB levels to grey as (r + g + b) / 3.
struct GreyPicture {
    std::vector<float> levels;
};

// Where the projection glOrtho(left, right, bottom, top) over the 600x600 viewport puts a
// point of the drawing space, in window pixels: columns from the left edge, rows from the
// top edge (y grows downwards on the screen), pixel (c, r) spanning [c, c+1) x [r, r+1).
struct PixelMapping {
    double left;
    double top;
    double columnsPerUnit;
    double rowsPerUnit;

    explicit PixelMapping(const turtle::Projection& p);
    double column(double x) const { return (x - left) * columnsPerUnit; }
    double row(double y) const { return (y - top) * rowsPerUnit; }
};

// The pixels of the red start point: a point of size 4 covers the pixels whose centres lie
// in the 4x4-pixel square centred on the projected origin (counted in OpenGL's window rows,
// which run upwards from the bottom). The square's top-left pixel, in columns and rows
// from the top-left corner of the window; it may lie partly or wholly outside.
struct PixelSquare {
    int column;
    int row;
};
PixelSquare startPoint(const PixelMapping& mapping);

// The projection the program's measuring pass sets for the lsystem's word: the frame of
// the bounds of its F lines. The word must walk to its end without a stack error.
turtle::Projection measuredProjection(const LSystem& lsystem);

// The reference picture of the lsystem's word (its word, d, delta and stack ceiling)
// under `projection`.
GreyPicture rasterise(const LSystem& lsystem, const turtle::Projection& projection);

// The ink of a picture, in pixels of full black: the sum over pixels of (255 - grey) / 255.
double ink(const GreyPicture& picture);

// The mean absolute difference of two pictures' grey levels over all pixels, in levels.
double meanAbsoluteDifference(const GreyPicture& a, const GreyPicture& b);

}  // namespace reference
