// The drawing interface: the OpenGL state that every pass relies on, set once the
// display's context is current, and what a turtle pass asks of it in a few whole
// operations: the start of a picture, chunks of lines, the coverage image, the kept
// image and the projection. One implementation draws with fixed-function OpenGL
// (canvas_gl.cpp); one draws nothing (tests/fuzz/null_canvas.cpp), for running passes
// where no context exists.
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

// Viewport over the window, the projection until the first picture is framed (model-view
// selected, identity), white clear colour, smoothed lines of width 1 blended by their
// alpha, points of size 4.
void setupDrawingState();

// Replaces the projection, and leaves the model-view matrix selected, set to identity.
void setProjection(const turtle::Projection& projection);
