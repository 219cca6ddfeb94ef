// The display on Windows: a Win32 window with a fixed 600x600 client area and a WGL
// context, its window procedure (the close box ends the main loop) and the message poll.
// Every step of opening is checked, and a failure is reported by name with everything
// opened so far released again.
#include "display/display.h"

#include <windows.h>

#include <GL/gl.h>

#include "display/extensions.h"

namespace {

// Process-wide handles, set by openDisplay and released by closeDisplay.
HINSTANCE moduleHandle = nullptr;
HWND window = nullptr;
HDC deviceContext = nullptr;
HGLRC renderingContext = nullptr;
bool classRegistered = false;

const wchar_t kClassName[] = L"Tendrilview";

// Every field of the request, in the record's order.
const PIXELFORMATDESCRIPTOR kPixelFormat = {
    40,                                                           // nSize
    1,                                                            // nVersion
    PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER,   // dwFlags
    PFD_TYPE_RGBA,                                                // iPixelType
    32,                                                           // cColorBits
    0, 0, 0, 0, 0, 0,     // cRedBits, cRedShift, cGreenBits, cGreenShift, cBlueBits, cBlueShift
    0, 0,                 // cAlphaBits, cAlphaShift
    0, 0, 0, 0, 0,        // cAccumBits, cAccumRedBits, cAccumGreenBits, cAccumBlueBits, cAccumAlphaBits
    0,                    // cDepthBits: no depth buffer
    0,                    // cStencilBits
    0,                    // cAuxBuffers
    PFD_MAIN_PLANE,       // iLayerType
    0,                    // bReserved
    0, 0, 0,              // dwLayerMask, dwVisibleMask, dwDamageMask
};
static_assert(sizeof(PIXELFORMATDESCRIPTOR) == 40, "the descriptor's nSize is 40");

const DWORD kStyle = WS_CAPTION | WS_SYSMENU | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
const DWORD kFrameStyle = WS_CAPTION | WS_SYSMENU;  // the clipping styles add no frame
const DWORD kExtendedStyle = WS_EX_APPWINDOW | WS_EX_WINDOWEDGE;

// The close box posts the quit message; the window itself stays until closeDisplay.
LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// Asks that a swap wait for the display's refresh, where the driver allows it, so that the
// picture doesn't tear; false where it can't. A driver may say yes and not wait (Wine
// does), so the main loop paces the redraw by the time it measures, not by this.
bool setSwapInterval()
{
    using ExtensionsProc = const char*(WINAPI*)();
    using SwapIntervalProc = BOOL(WINAPI*)(int);
    // wglGetProcAddress returns a generic function pointer; going through void(*)()
    // is the conversion the compiler accepts between unrelated function types.
    const auto extensionsString = reinterpret_cast<ExtensionsProc>(
        reinterpret_cast<void (*)()>(wglGetProcAddress("wglGetExtensionsStringEXT")));
    const char* extensions = extensionsString != nullptr
        ? extensionsString()
        : reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    if (!hasExtension(extensions, "WGL_EXT_swap_control")) {
        return false;
    }
    const auto swapInterval = reinterpret_cast<SwapIntervalProc>(
        reinterpret_cast<void (*)()>(wglGetProcAddress("wglSwapIntervalEXT")));
    return swapInterval != nullptr && swapInterval(1);
}

bool fail(std::string& failure, const char* what)
{
    failure = what;
    closeDisplay();
    return false;
}

}  // namespace

bool openDisplay(std::string& failure)
{
    moduleHandle = GetModuleHandleW(nullptr);

    WNDCLASSW windowClass;
    windowClass.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
    windowClass.lpfnWndProc = windowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = moduleHandle;
    windowClass.hIcon = LoadIconW(nullptr, IDI_WINLOGO);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = nullptr;  // the system never erases the client area
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = kClassName;
    if (RegisterClassW(&windowClass) == 0) {
        return fail(failure, "couldn't register the window class");
    }
    classRegistered = true;

    RECT rectangle = {0, 0, kClientSize, kClientSize};  // the client area, grown to the outer size
    AdjustWindowRectEx(&rectangle, kFrameStyle, FALSE, kExtendedStyle);
    window = CreateWindowExW(kExtendedStyle, kClassName, L"Tendrilview", kStyle, 0, 0,
                             rectangle.right - rectangle.left, rectangle.bottom - rectangle.top,
                             nullptr, nullptr, moduleHandle, nullptr);
    if (window == nullptr) {
        return fail(failure, "couldn't create the window");
    }
    deviceContext = GetDC(window);
    if (deviceContext == nullptr) {
        return fail(failure, "no device context for the window");
    }

    const int format = ChoosePixelFormat(deviceContext, &kPixelFormat);
    if (format == 0) {
        return fail(failure, "no double-buffered RGBA pixel format");
    }
    if (!SetPixelFormat(deviceContext, format, &kPixelFormat)) {
        return fail(failure, "couldn't set the pixel format");
    }
    renderingContext = wglCreateContext(deviceContext);
    if (renderingContext == nullptr) {
        return fail(failure, "no OpenGL context");
    }
    if (!wglMakeCurrent(deviceContext, renderingContext)) {
        return fail(failure, "couldn't make the OpenGL context current");
    }

    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetFocus(window);
    setSwapInterval();  // where it fails or does nothing, the main loop paces itself
    return true;
}

void closeDisplay()
{
    if (renderingContext != nullptr) {
        wglMakeCurrent(nullptr, nullptr);
        wglDeleteContext(renderingContext);
        renderingContext = nullptr;
    }
    if (deviceContext != nullptr) {
        ReleaseDC(window, deviceContext);
        deviceContext = nullptr;
    }
    if (window != nullptr) {
        DestroyWindow(window);
        window = nullptr;
    }
    if (classRegistered) {
        UnregisterClassW(kClassName, moduleHandle);
        classRegistered = false;
    }
}

DisplayEvent pollDisplay()
{
    MSG message;
    if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        return {DisplayEvent::Nothing, 0};
    }
    if (message.message == WM_QUIT) {
        return {DisplayEvent::Quit, 0};
    }
    // Key releases are the loop's own: never translated, never dispatched.
    if (message.message == WM_KEYUP) {
        return {DisplayEvent::KeyUp, static_cast<std::uint32_t>(message.wParam)};
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
    return {DisplayEvent::Other, 0};
}

void waitDisplay(int milliseconds)
{
    // Any message in the queue ends the wait, also one that a poll has seen but left.
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(milliseconds), QS_ALLINPUT,
                                MWMO_INPUTAVAILABLE);
}

void setDisplayTitle(const wchar_t* title)
{
    SetWindowTextW(window, title);
}

void swapDisplay()
{
    SwapBuffers(deviceContext);
}
