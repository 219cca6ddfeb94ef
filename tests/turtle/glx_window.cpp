// The test-only window: openDisplay and closeDisplay of the display library, so that the
// tests draw in the window and context that the program itself opens.
#include "tests/turtle/glx_window.h"

#include "display/display.h"
#include "turtle/canvas.h"

GlxWindow::GlxWindow()
{
    if (!openDisplay(error_)) {
        if (error_.empty()) error_ = "the display could not be opened";
        return;
    }
    setupDrawingState();
}

GlxWindow::~GlxWindow()
{
    if (ok()) {
        closeDisplay();
    }
}

void GlxWindow::swapBuffers()
{
    swapDisplay();
}
