// A small X11 tool for the end-to-end tests and the gallery: it plays the window manager's
// part that Xvfb lacks (the close box's WM_DELETE_WINDOW message) and looks at what a
// window shows: a one-line summary of its pixels, or a PNG screenshot.
//   x11_probe close WINDOW        send WM_DELETE_WINDOW, as a window manager does
//   x11_probe picture WINDOW      print counts and boxes of white, red and ink pixels
//   x11_probe png WINDOW FILE     write the window's contents as an RGB PNG
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Box {
    int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
    void add(int x, int y)
    {
        left = x < left ? x : left;
        top = y < top ? y : top;
        right = x > right ? x : right;
        bottom = y > bottom ? y : bottom;
    }
    std::string text() const
    {
        if (right < 0) {
            return "none";
        }
        return std::to_string(left) + "," + std::to_string(top) + "," + std::to_string(right) +
               "," + std::to_string(bottom);
    }
};

int shiftOf(unsigned long mask)
{
    int shift = 0;
    while (mask != 0 && (mask & 1) == 0) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

// The window's pixels as rows of 8-bit RGB, top row first.
bool capture(Display* display, Window window, int& width, int& height,
             std::vector<std::uint8_t>& rgb)
{
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes)) {
        return false;
    }
    width = attributes.width;
    height = attributes.height;
    XImage* image = XGetImage(display, window, 0, 0, static_cast<unsigned>(width),
                              static_cast<unsigned>(height), AllPlanes, ZPixmap);
    if (image == nullptr) {
        return false;
    }
    const unsigned long masks[3] = {image->red_mask, image->green_mask, image->blue_mask};
    rgb.resize(static_cast<std::size_t>(width) * height * 3);
    std::size_t at = 0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            for (unsigned long mask : masks) {
                const unsigned long value = (pixel & mask) >> shiftOf(mask);
                const unsigned long top = mask >> shiftOf(mask);
                rgb[at++] = static_cast<std::uint8_t>(top == 0 ? 0 : value * 255 / top);
            }
        }
    }
    XDestroyImage(image);
    return true;
}

// White background, the red start point, and ink: the black lines with their smoothed,
// grey edges. Anything else (a colour that no drawing of the program makes) is "other".
void describe(int width, int height, const std::vector<std::uint8_t>& rgb)
{
    long white = 0, red = 0, ink = 0, other = 0;
    Box inkBox, redBox;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            const int r = p[0], g = p[1], b = p[2];
            if (r >= 250 && g >= 250 && b >= 250) {
                ++white;
            } else if (r >= 200 && g <= 80 && b <= 80) {
                ++red;
                redBox.add(x, y);
            } else if (std::abs(r - g) <= 24 && std::abs(g - b) <= 24) {
                ++ink;
                inkBox.add(x, y);
            } else {
                ++other;
            }
        }
    }
    std::printf("size=%dx%d white=%ld red=%ld ink=%ld other=%ld ink_box=%s red_box=%s\n", width,
                height, white, red, ink, other, inkBox.text().c_str(), redBox.text().c_str());
}

// Writes the rows of 8-bit RGB as a PNG file.
bool writePng(const char* path, int width, int height, const std::vector<std::uint8_t>& rgb)
{
    png_image image = {};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    const int written = png_image_write_to_file(&image, path, 0, rgb.data(), 0, nullptr);
    png_image_free(&image);
    return written != 0;
}

void sendClose(Display* display, Window window)
{
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
}

int usage()
{
    std::fprintf(stderr, "usage: x11_probe close|picture WINDOW, or x11_probe png WINDOW FILE\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        return usage();
    }
    const std::string command = argv[1];
    const Window window = std::strtoul(argv[2], nullptr, 0);
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "x11_probe: no X display\n");
        return 1;
    }
    int result = 0;
    if (command == "close") {
        sendClose(display, window);
    } else if (command == "picture" || (command == "png" && argc >= 4)) {
        int width = 0, height = 0;
        std::vector<std::uint8_t> rgb;
        if (!capture(display, window, width, height, rgb)) {
            std::fprintf(stderr, "x11_probe: can't read window %s\n", argv[2]);
            result = 1;
        } else if (command == "picture") {
            describe(width, height, rgb);
        } else if (!writePng(argv[3], width, height, rgb)) {
            std::fprintf(stderr, "x11_probe: can't write %s\n", argv[3]);
            result = 1;
        }
    } else {
        result = usage();
    }
    XCloseDisplay(display);
    return result;
}
