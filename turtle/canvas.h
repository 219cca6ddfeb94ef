// What a turtle pass asks of the drawing interface, in a few whole operations: the
// start of a picture, chunks of lines, the coverage image, the kept image and the
// projection. One implementation draws with fixed-function OpenGL (canvas_gl.cpp); one
// draws nothing (canvas_null.cpp), for running passes where no context exists.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "turtle/frame.h"

namespace turtle::canvas {

// Clears the picture, resets the model-view matrix, draws the red start point at (x, y)
// in vertex coordinates, and leaves black as the current colour.
void startPicture(float x, float y);

// Draws `lines` independent lines: two (x, y) vertices and two RGBA colours each.
void drawLines(const float* vertices, const std::uint8_t* colours, std::size_t lines);

// Blends black over the whole window by `alpha`: one byte a pixel, rows from the bottom.
void drawCoverage(const std::vector<std::uint8_t>& alpha);

// Reads the finished picture (RGBA rows from the bottom) and draws such an image again.
void readPicture(std::vector<std::uint8_t>& image);
void drawPicture(const std::vector<std::uint8_t>& image);

// The orthographic projection of `frame` with the point (originX, originY) of the
// drawing space at vertex (0, 0); the model-view matrix is left selected, set to identity.
void loadProjection(const Projection& frame, double originX, double originY);

// The projection matrix in force, column by column.
std::array<double, 16> projectionMatrix();

}  // namespace turtle::canvas
