// The OpenGL state that every turtle pass relies on, set in one place once the display's
// context is current: the viewport over the 600x600 window, the projection until the
// first picture is framed, and white paper with smoothed, blended black lines.
#pragma once

#include "turtle/frame.h"

// Viewport, initial projection (model-view selected, identity), white clear colour,
// smoothed lines of width 1 blended by their alpha, points of size 4.
void setupDrawingState();

// Replaces the projection, and leaves the model-view matrix selected, set to identity.
void setProjection(const turtle::Projection& projection);
