// Prints what a window shows, in four classes of pixels, for the end-to-end tests:
//   window_pixels WINDOW_ID   ->   white=N red=N dark=N other=N
// white is the background, red the start point, dark the (smoothed) black lines.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <cstdlib>

namespace {

// The 8-bit value of one colour channel of a pixel, from the image's mask.
unsigned channel(unsigned long pixel, unsigned long mask)
{
    if (mask == 0) return 0;
    int shift = 0;
    while (((mask >> shift) & 1) == 0) ++shift;
    const unsigned long max = mask >> shift;
    return static_cast<unsigned>(((pixel & mask) >> shift) * 255 / max);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: window_pixels WINDOW_ID\n");
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "window_pixels: no X display\n");
        return 1;
    }
    const Window window = std::strtoul(argv[1], nullptr, 0);
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes)) return 1;
    XImage* image = XGetImage(display, window, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
    if (!image) {
        std::fprintf(stderr, "window_pixels: can't read the window\n");
        return 1;
    }
    long white = 0, red = 0, dark = 0, other = 0;
    for (int y = 0; y < image->height; ++y) {
        for (int x = 0; x < image->width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            const unsigned r = channel(pixel, image->red_mask);
            const unsigned g = channel(pixel, image->green_mask);
            const unsigned b = channel(pixel, image->blue_mask);
            if (r >= 0xF0 && g >= 0xF0 && b >= 0xF0) {
                ++white;
            } else if (r >= 0xC0 && g < 0x60 && b < 0x60) {
                ++red;
            } else if (r < 0xC0 && g < 0xC0 && b < 0xC0) {
                ++dark;
            } else {
                ++other;
            }
        }
    }
    std::printf("white=%ld red=%ld dark=%ld other=%ld\n", white, red, dark, other);
    XDestroyImage(image);
    XCloseDisplay(display);
    return 0;
}
