// A test-only OpenGL window for the turtle's drawing tests and benchmark: a 600x600
// double-buffered RGBA Xlib/GLX window, mapped, with its context current and set up as
// the program's display does it (viewport, initial projection, model-view selected).
#pragma once

#include <memory>
#include <string>

class GlxWindow {
public:
    GlxWindow();  // check ok() before drawing
    ~GlxWindow();
    GlxWindow(const GlxWindow&) = delete;
    GlxWindow& operator=(const GlxWindow&) = delete;

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }  // why the window could not be made
    void swapBuffers();

private:
    struct Handles;
    std::unique_ptr<Handles> handles_;
    std::string error_;
};
