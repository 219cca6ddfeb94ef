// The program's one window and its OpenGL drawing context, as the main loop sees them:
// open, poll without waiting, wait a little for a message, retitle, swap, close. No system headers here; each window
// system has its own file behind this interface (win32_display.cpp, x11_display.cpp).
#pragma once

#include <cstdint>
#include <string>

// The window's client area is kClientSize by kClientSize pixels, and stays so.
inline constexpr int kClientSize = 600;

// Opens the 600x600 window titled "Tendrilview", shows it with the keyboard focus and
// makes a double-buffered RGBA OpenGL context current on the calling thread; the drawing
// code sets its state (setupDrawingState). Returns false when a step fails, with
// `failure` naming it; nothing stays open then.
bool openDisplay(std::string& failure);

// Releases the context and the window; called once, after a successful openDisplay.
void closeDisplay();

// What one poll found. `virtualKey` is valid for KeyUp only: a Windows virtual-key code.
struct DisplayEvent {
    enum Kind {
        Nothing,  // no message was pending
        Quit,     // the window was asked to close; the loop should end
        KeyUp,    // a key was released; the loop decides, nothing else saw it
        Other,    // any other message, already handled by the window
    } kind;
    std::uint32_t virtualKey;
};

// Takes the next pending message of this thread's window, if any. Never waits.
DisplayEvent pollDisplay();

// Returns once a message is pending or `milliseconds` have passed, whichever is first.
void waitDisplay(int milliseconds);

// Replaces the window's title.
void setDisplayTitle(const wchar_t* title);

// Shows the back buffer.
void swapDisplay();
