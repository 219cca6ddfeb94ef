// A test-only OpenGL window for the turtle's drawing tests and benchmark: the program's
// own display (display/display.h), a 600x600 double-buffered RGBA window with its context
// current and the drawing state set as the program sets it (setupDrawingState).
#pragma once

#include <string>

class GlxWindow {
public:
    GlxWindow();  // check ok() before drawing; one at a time, as the display is one
    ~GlxWindow();
    GlxWindow(const GlxWindow&) = delete;
    GlxWindow& operator=(const GlxWindow&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }  // why the window could not be made
    void swapBuffers();

private:
    std::string error_;
};
