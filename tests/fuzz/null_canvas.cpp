// The turtle's drawing operations for passes run without a drawing context (the
// pipeline fuzzer): nothing is drawn, and the projection is only remembered, as the
// matrix glOrtho would make, so that passes frame and replay as they do on screen.
#include <vector>

#include "turtle/canvas.h"

namespace {

std::array<double, 16> projection{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

}  // namespace

namespace turtle::canvas {

void startPicture(float, float) {}
void drawLines(const float*, const std::uint8_t*, std::size_t) {}
void drawCoverage(const std::vector<std::uint8_t>&) {}
void readPicture(std::vector<std::uint8_t>& image) { image.assign(std::size_t{kWindowSize} * kWindowSize * 4, 255); }
void drawPicture(const std::vector<std::uint8_t>&) {}

void loadProjection(const Projection& p, double originX, double originY)
{
    const double l = p.left - originX, r = p.right - originX;
    const double b = p.bottom - originY, t = p.top - originY;
    projection = {2.0 / (r - l), 0, 0, 0, 0, 2.0 / (t - b), 0, 0, 0, 0, -2.0 / (p.zFar - p.zNear), 0,
                  -(r + l) / (r - l), -(t + b) / (t - b), -(p.zFar + p.zNear) / (p.zFar - p.zNear), 1};
}

std::array<double, 16> projectionMatrix() { return projection; }

}  // namespace turtle::canvas

void setProjection(const turtle::Projection& p) { turtle::canvas::loadProjection(p, 0.0, 0.0); }

void setupDrawingState() { setProjection(turtle::Projection{-500.0, 500.0, 500.0, -500.0, -1.0, 1.0}); }
