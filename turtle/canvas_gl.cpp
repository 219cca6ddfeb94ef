// The turtle's drawing operations in fixed-function OpenGL 1.x, and the drawing state
// that every pass relies on.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "turtle/canvas.h"
#include "turtle/gl.h"

namespace {

constexpr int kSize = turtle::kWindowSize;

// Puts the raster position at the window's bottom-left corner, whatever the matrices.
void rasterAtCorner()
{
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glRasterPos2f(-1.0f, -1.0f);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
}

}  // namespace

namespace turtle::canvas {

void startPicture(float x, float y)
{
    glClear(GL_COLOR_BUFFER_BIT);
    glLoadIdentity();  // the model-view matrix: set-up and measuring passes leave it selected
    glColor3f(1.0f, 0.0f, 0.0f);
    glBegin(GL_POINTS);
    glVertex2f(x, y);
    glEnd();
    glColor3f(0.0f, 0.0f, 0.0f);
}

void drawLines(const float* vertices, const std::uint8_t* colours, std::size_t lines)
{
    if (lines == 0) return;
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glVertexPointer(2, GL_FLOAT, 0, vertices);
    glColorPointer(4, GL_UNSIGNED_BYTE, 0, colours);
    glDrawArrays(GL_LINES, 0, static_cast<GLsizei>(lines * 2));
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
}

void drawCoverage(const std::vector<std::uint8_t>& alpha)
{
    rasterAtCorner();
    // An alpha image has red, green and blue 0: black, blended by its alpha.
    glDrawPixels(kSize, kSize, GL_ALPHA, GL_UNSIGNED_BYTE, alpha.data());
}

void readPicture(std::vector<std::uint8_t>& image)
{
    image.resize(static_cast<std::size_t>(kSize) * kSize * 4);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadBuffer(GL_BACK);
    glReadPixels(0, 0, kSize, kSize, GL_RGBA, GL_UNSIGNED_BYTE, image.data());
}

void drawPicture(const std::vector<std::uint8_t>& image)
{
    rasterAtCorner();
    glDisable(GL_BLEND);  // pixel for pixel
    glDrawPixels(kSize, kSize, GL_RGBA, GL_UNSIGNED_BYTE, image.data());
    glEnable(GL_BLEND);
}

void loadProjection(const Projection& p, double originX, double originY)
{
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(p.left - originX, p.right - originX, p.bottom - originY, p.top - originY, p.zNear, p.zFar);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

std::array<double, 16> projectionMatrix()
{
    std::array<double, 16> m;
    glGetDoublev(GL_PROJECTION_MATRIX, m.data());
    return m;
}

}  // namespace turtle::canvas

void setProjection(const turtle::Projection& p) { turtle::canvas::loadProjection(p, 0.0, 0.0); }

void setupDrawingState()
{
    glViewport(0, 0, kSize, kSize);
    // Until the first measuring pass frames a picture: (-500, -500) at the top-left
    // corner and (500, 500) at the bottom-right, y growing downwards.
    setProjection(turtle::Projection{-500.0, 500.0, 500.0, -500.0, -1.0, 1.0});
    glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
    glLineWidth(1.0f);
    glEnable(GL_LINE_SMOOTH);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_BLEND);
    glPointSize(4.0f);
}
