// The display on Linux: an X11 window of fixed 600x600 size at the screen's origin with
// a GLX context. It behaves as the Windows display does: the close box (WM_DELETE_WINDOW)
// makes the next poll report quit, key releases come as Windows virtual-key codes of the
// unshifted key, and a held key releases once (detectable auto-repeat).
#include "display/display.h"

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <poll.h>

#include <GL/glx.h>

#include <chrono>

#include "display/extensions.h"

namespace {

// Process-wide handles, set by openDisplay and released by closeDisplay.
Display* display = nullptr;
Colormap colormap = 0;
Window window = 0;
GLXContext renderingContext = nullptr;

Atom wmProtocols = 0;
Atom wmDeleteWindow = 0;
Atom utf8String = 0;
Atom netWmName = 0;
bool quitPosted = false;  // the close box was used; the next poll reports quit


// Unshifted keysyms to Windows virtual-key codes: a run of keysyms maps to a run of
// codes from `firstCode` on. Keys not listed come as code 0, which the loop drops.
struct KeyRun {
    KeySym first;
    KeySym last;
    std::uint32_t firstCode;
};
const KeyRun kKeyRuns[] = {
    {XK_a, XK_z, 0x41},            // VK 'A'..'Z'
    {XK_0, XK_9, 0x30},            // VK '0'..'9'
    {XK_KP_0, XK_KP_9, 0x60},      // VK_NUMPAD0..VK_NUMPAD9
    {XK_F1, XK_F12, 0x70},         // VK_F1..VK_F12
    {XK_Left, XK_Down, 0x25},      // VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN
    {XK_Escape, XK_Escape, 0x1B},  // VK_ESCAPE
    {XK_BackSpace, XK_BackSpace, 0x08},
    {XK_Tab, XK_Tab, 0x09},
    {XK_Return, XK_Return, 0x0D},
    {XK_space, XK_space, 0x20},
    {XK_Shift_L, XK_Shift_R, 0x10},      // VK_SHIFT
    {XK_Control_L, XK_Control_R, 0x11},  // VK_CONTROL
    {XK_Alt_L, XK_Alt_R, 0x12},          // VK_MENU
};

std::uint32_t virtualKeyOf(XKeyEvent& event)
{
    // Index 0 is the key's unshifted symbol: Shift and Caps Lock change nothing.
    const KeySym symbol = XLookupKeysym(&event, 0);
    for (const KeyRun& run : kKeyRuns) {
        if (symbol >= run.first && symbol <= run.last) {
            return run.firstCode + static_cast<std::uint32_t>(symbol - run.first);
        }
    }
    return 0;
}

// What the window does with a message that is not a key release, as a window
// procedure would: the close request ends the main loop, everything else is ignored.
void handleEvent(XEvent& event)
{
    if (event.type == ClientMessage && event.xclient.message_type == wmProtocols &&
        static_cast<Atom>(event.xclient.data.l[0]) == wmDeleteWindow) {
        quitPosted = true;
    } else if (event.type == MappingNotify) {
        XRefreshKeyboardMapping(&event.xmapping);
    }
}

// X errors during opening are failures to report, not reasons to end the process.
int openingErrors = 0;
int countError(Display*, XErrorEvent*)
{
    ++openingErrors;
    return 0;
}

// Waits (at most a few seconds, in case a window manager holds it back) until the
// window is on the screen, since only a viewable window can take the focus.
bool waitUntilMapped()
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    XEvent event;
    while (!XCheckTypedWindowEvent(display, window, MapNotify, &event)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd connection = {ConnectionNumber(display), POLLIN, 0};
        poll(&connection, 1, static_cast<int>(left.count()));
    }
    return true;
}

// Window-manager hints: fixed size at the origin, title bar with a close box only.
void setWindowHints()
{
    XSizeHints* size = XAllocSizeHints();
    size->flags = USPosition | PPosition | PSize | PMinSize | PMaxSize;
    size->x = 0;
    size->y = 0;
    size->width = size->min_width = size->max_width = kClientSize;
    size->height = size->min_height = size->max_height = kClientSize;
    XSetWMNormalHints(display, window, size);
    XFree(size);

    XClassHint* names = XAllocClassHint();
    char resourceName[] = "tendrilview";
    char resourceClass[] = "Tendrilview";
    names->res_name = resourceName;
    names->res_class = resourceClass;
    XSetClassHint(display, window, names);
    XFree(names);

    // Motif hints, read by most window managers: move and close, no resize, minimise or
    // maximise; a border, a title and the window menu.
    const long motif[5] = {1L | 2L, 4L | 32L, 2L | 8L | 16L, 0, 0};  // flags, functions, decorations
    const Atom motifHints = XInternAtom(display, "_MOTIF_WM_HINTS", False);
    XChangeProperty(display, window, motifHints, motifHints, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(motif), 5);

    XSetWMProtocols(display, window, &wmDeleteWindow, 1);
}

// Asks that a swap wait for the display's refresh, where GLX allows it, so that the
// picture doesn't tear; false where it can't. A driver may say yes and not wait (Wine
// does), so the main loop paces the redraw by the time it measures, not by this.
bool setSwapInterval()
{
    using SwapIntervalExt = void (*)(Display*, GLXDrawable, int);
    using SwapIntervalMesa = int (*)(unsigned int);
    const char* extensions = glXQueryExtensionsString(display, DefaultScreen(display));
    if (hasExtension(extensions, "GLX_EXT_swap_control")) {
        const auto swapInterval = reinterpret_cast<SwapIntervalExt>(
            glXGetProcAddressARB(reinterpret_cast<const GLubyte*>("glXSwapIntervalEXT")));
        if (swapInterval != nullptr) {
            swapInterval(display, window, 1);
            return true;
        }
    }
    if (hasExtension(extensions, "GLX_MESA_swap_control")) {
        const auto swapInterval = reinterpret_cast<SwapIntervalMesa>(
            glXGetProcAddressARB(reinterpret_cast<const GLubyte*>("glXSwapIntervalMESA")));
        if (swapInterval != nullptr) {
            return swapInterval(1) == 0;
        }
    }
    return false;
}

// While it lives, X errors are counted in openingErrors instead of ending the program;
// the handler before it comes back however openDisplay returns.
struct CountingErrors {
    CountingErrors() : previous((openingErrors = 0, XSetErrorHandler(countError))) {}
    ~CountingErrors() { XSetErrorHandler(previous); }
    CountingErrors(const CountingErrors&) = delete;
    CountingErrors& operator=(const CountingErrors&) = delete;
    XErrorHandler previous;
};

bool fail(std::string& failure, const char* what)
{
    failure = what;
    closeDisplay();
    return false;
}

}  // namespace

bool openDisplay(std::string& failure)
{
    display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return fail(failure, "no X display (is DISPLAY set?)");
    }
    int errorBase = 0;
    int eventBase = 0;
    if (!glXQueryExtension(display, &errorBase, &eventBase)) {
        return fail(failure, "the X display has no OpenGL (GLX)");
    }
    const CountingErrors counting;

    int attributes[] = {GLX_RGBA, GLX_DOUBLEBUFFER, GLX_RED_SIZE, 1, GLX_GREEN_SIZE, 1,
                        GLX_BLUE_SIZE, 1, GLX_DEPTH_SIZE, 0, None};
    XVisualInfo* visual = glXChooseVisual(display, DefaultScreen(display), attributes);
    if (visual == nullptr) {
        return fail(failure, "no double-buffered RGBA visual");
    }

    const Window root = RootWindow(display, visual->screen);
    colormap = XCreateColormap(display, root, visual->visual, AllocNone);
    XSetWindowAttributes windowAttributes = {};
    windowAttributes.colormap = colormap;
    windowAttributes.background_pixmap = None;  // the server never erases the client area
    windowAttributes.border_pixel = 0;
    windowAttributes.event_mask = KeyPressMask | KeyReleaseMask | StructureNotifyMask |
                                  ExposureMask | FocusChangeMask;
    window = XCreateWindow(display, root, 0, 0, kClientSize, kClientSize, 0, visual->depth, InputOutput,
                           visual->visual, CWColormap | CWBackPixmap | CWBorderPixel | CWEventMask,
                           &windowAttributes);
    wmProtocols = XInternAtom(display, "WM_PROTOCOLS", False);
    wmDeleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    utf8String = XInternAtom(display, "UTF8_STRING", False);
    netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    setWindowHints();
    setDisplayTitle(L"Tendrilview");

    renderingContext = glXCreateContext(display, visual, nullptr, True);
    XFree(visual);
    XSync(display, False);
    if (openingErrors != 0) {
        return fail(failure, "the X server refused the window or its OpenGL context");
    }
    if (renderingContext == nullptr) {
        return fail(failure, "no OpenGL context");
    }
    if (!glXMakeCurrent(display, window, renderingContext)) {
        return fail(failure, "couldn't make the OpenGL context current");
    }

    // A held key repeats its presses only, so its release comes once.
    XkbSetDetectableAutoRepeat(display, True, nullptr);
    XMapRaised(display, window);
    if (waitUntilMapped()) {
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
    }
    XSync(display, False);

    setSwapInterval();  // where it fails or does nothing, the main loop paces itself
    return true;
}

void closeDisplay()
{
    if (display == nullptr) {
        return;
    }
    if (renderingContext != nullptr) {
        glXMakeCurrent(display, None, nullptr);
        glXDestroyContext(display, renderingContext);
        renderingContext = nullptr;
    }
    if (window != 0) {
        XDestroyWindow(display, window);
        window = 0;
    }
    if (colormap != 0) {
        XFreeColormap(display, colormap);
        colormap = 0;
    }
    XCloseDisplay(display);
    display = nullptr;
}

DisplayEvent pollDisplay()
{
    if (quitPosted) {
        return {DisplayEvent::Quit, 0};
    }
    // XPending flushes what was sent and reads what has arrived, without waiting.
    if (XPending(display) == 0) {
        return {DisplayEvent::Nothing, 0};
    }
    XEvent event;
    XNextEvent(display, &event);
    // Key releases are the loop's own: the window never sees them.
    if (event.type == KeyRelease) {
        return {DisplayEvent::KeyUp, virtualKeyOf(event.xkey)};
    }
    handleEvent(event);
    return {DisplayEvent::Other, 0};
}

void waitDisplay(int milliseconds)
{
    // Events already read from the connection wait in Xlib's queue, not on the socket.
    if (quitPosted || XPending(display) != 0) {
        return;
    }
    pollfd connection = {ConnectionNumber(display), POLLIN, 0};
    poll(&connection, 1, milliseconds);
}

void setDisplayTitle(const wchar_t* title)
{
    // WM_NAME in Latin-1 for old window managers, _NET_WM_NAME in UTF-8 for the rest.
    std::string latin1;
    std::string utf8;
    for (const wchar_t* at = title; *at != L'\0'; ++at) {
        const auto code = static_cast<std::uint32_t>(*at);
        latin1 += code < 0x100 ? static_cast<char>(code) : '?';
        if (code < 0x80) {
            utf8 += static_cast<char>(code);
        } else if (code < 0x800) {
            utf8 += static_cast<char>(0xC0 | (code >> 6));
            utf8 += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (code >> 12));
            utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (code >> 18));
            utf8 += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    XChangeProperty(display, window, XA_WM_NAME, XA_STRING, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(latin1.data()),
                    static_cast<int>(latin1.size()));
    XChangeProperty(display, window, netWmName, utf8String, 8, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(utf8.data()),
                    static_cast<int>(utf8.size()));
    XFlush(display);
}

void swapDisplay()
{
    glXSwapBuffers(display, window);
}
