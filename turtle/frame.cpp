// Framing arithmetic: squares the bounds of a picture and adds the margin. Each stored
// bound and the margin are rounded to float; sums between stores run in double.
#include "turtle/frame.h"

namespace turtle {

Projection frame(Bounds b)
{
    if (b.empty()) b = Bounds{0.0f, 0.0f, 0.0f, 0.0f};

    const float width = b.maxX - b.minX;
    const float height = b.maxY - b.minY;
    // Widen the smaller extent by half the difference on each side: the frame is square.
    if (height < width) {
        const double k = (static_cast<double>(width) - height) * 0.5;
        b.minY = static_cast<float>(b.minY - k);
        b.maxY = static_cast<float>(b.maxY + k);
    } else {
        const double k = (static_cast<double>(height) - width) * 0.5;
        b.minX = static_cast<float>(b.minX - k);
        b.maxX = static_cast<float>(b.maxX + k);
    }

    float side = std::max(width, height);
    if (side == 0.0f) {  // only the start point, or lines of length zero
        b.minX -= 0.5f;
        b.maxX += 0.5f;
        b.minY -= 0.5f;
        b.maxY += 0.5f;
        side = 1.0f;
    }
    const float margin = static_cast<float>(static_cast<double>(side) * static_cast<double>(0.05f));

    return Projection{static_cast<double>(b.minX) - margin, static_cast<double>(b.maxX) + margin,
                      static_cast<double>(b.maxY) + margin, static_cast<double>(b.minY) - margin,
                      -1.0, 1.0};
}

}  // namespace turtle
