// The test-only GLX window: opens the display named by DISPLAY, picks a double-buffered
// RGBA visual, maps a 600x600 window, waits until it is shown, and makes a direct
// context current on it. Set-up of the matrices follows the program's display.
#include "tests/turtle/glx_window.h"

#include <GL/glx.h>
#include <X11/Xlib.h>

#include "lsystem/gl.h"

struct GlxWindow::Handles {
    Display* display = nullptr;
    Window window = 0;
    Colormap colormap = 0;
    GLXContext context = nullptr;
};

GlxWindow::GlxWindow() : handles_(new Handles)
{
    Handles& h = *handles_;
    h.display = XOpenDisplay(nullptr);
    if (!h.display) {
        error_ = "no X display (run through tests/with-xvfb.sh)";
        return;
    }
    int attributes[] = {GLX_RGBA, GLX_DOUBLEBUFFER, GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8,
                        GLX_BLUE_SIZE, 8, None};
    XVisualInfo* visual = glXChooseVisual(h.display, DefaultScreen(h.display), attributes);
    if (!visual) {
        error_ = "no double-buffered RGBA visual";
        return;
    }
    const Window root = RootWindow(h.display, visual->screen);
    h.colormap = XCreateColormap(h.display, root, visual->visual, AllocNone);
    XSetWindowAttributes set{};
    set.colormap = h.colormap;
    set.event_mask = StructureNotifyMask;
    h.window = XCreateWindow(h.display, root, 0, 0, 600, 600, 0, visual->depth, InputOutput,
                             visual->visual, CWColormap | CWEventMask, &set);
    XMapWindow(h.display, h.window);
    XEvent event;
    do {
        XWindowEvent(h.display, h.window, StructureNotifyMask, &event);
    } while (event.type != MapNotify);

    h.context = glXCreateContext(h.display, visual, nullptr, True);
    XFree(visual);
    if (!h.context || !glXMakeCurrent(h.display, h.window, h.context)) {
        error_ = "no OpenGL context";
        return;
    }
    glViewport(0, 0, 600, 600);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-500.0, 500.0, 500.0, -500.0, -1.0, 1.0);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
}

GlxWindow::~GlxWindow()
{
    Handles& h = *handles_;
    if (h.display) {
        if (h.context) {
            glXMakeCurrent(h.display, None, nullptr);
            glXDestroyContext(h.display, h.context);
        }
        if (h.window) XDestroyWindow(h.display, h.window);
        if (h.colormap) XFreeColormap(h.display, h.colormap);
        XCloseDisplay(h.display);
    }
}

void GlxWindow::swapBuffers()
{
    glXSwapBuffers(handles_->display, handles_->window);
}
