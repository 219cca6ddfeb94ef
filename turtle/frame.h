// Framing: the bounds of a picture's lines, and the orthographic projection that fits
// them into the square window with a margin. Plain arithmetic, no drawing interface,
// so that the six numbers handed to glOrtho can be checked without a window.
#pragma once

#include <algorithm>
#include <limits>

#include "display/display.h"

namespace turtle {

inline constexpr int kWindowSize = kClientSize;  // the window's client area, in pixels each way

// The least and greatest x and y over both ends of every line seen.
struct Bounds {
    float minX = std::numeric_limits<float>::infinity();
    float maxX = -std::numeric_limits<float>::infinity();
    float minY = std::numeric_limits<float>::infinity();
    float maxY = -std::numeric_limits<float>::infinity();

    // Widens the bounds to hold (x, y). A NaN coordinate leaves them alone.
    void add(float x, float y)
    {
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
    }

    bool empty() const { return !(minX <= maxX) || !(minY <= maxY); }
};

// The walk's sink for a measuring pass: widens the bounds by both ends of each line.
struct BoundsSink {
    Bounds bounds;
    void line(float x0, float y0, float x1, float y1)
    {
        bounds.add(x0, y0);
        bounds.add(x1, y1);
    }
};

// The arguments of glOrtho. bottom holds the larger y, so y grows downwards on screen.
struct Projection {
    double left;
    double right;
    double bottom;
    double top;
    double zNear;
    double zFar;
};

// The projection that shows `bounds` as a square with a margin of a twentieth of its
// side all round. Empty bounds (no line) frame the start point (0, 0); a picture of
// no extent gets a side of 1.
Projection frame(Bounds bounds);

}  // namespace turtle
