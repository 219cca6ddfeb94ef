// Tendrilview's entry point and main loop: checks the argument, opens the display, reads,
// produces and draws the L-system, then redraws continuously while P and L change the
// number of iterations, until Esc is released or the window is closed.
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>

#include "app/standard_streams.h"
#include "display/display.h"
#include "lsystem/console.h"
#include "lsystem/lsystem.h"

namespace {

constexpr std::uint32_t kEscape = 0x1B;  // Windows virtual-key codes
constexpr std::uint32_t kKeyP = 0x50;
constexpr std::uint32_t kKeyL = 0x4C;

// Makes the word afresh, frames it (measuring pass) and draws it with its line count.
// The reports are flushed at once so that a pipe shows them as they come.
void produceAndFrame(LSystem& lsystem)
{
    // The rewriting engine still prints with the C library, straight to standard output:
    // what the console module holds goes out first, so that the order stays. (To go once
    // the engine prints through the console module too.)
    consoleSync();
    lsystem.produce();
    lsystem.render(false, false);
    lsystem.render(true, true);
    consoleFlush();
}

}  // namespace

int main(int argc, char** argv)
{
    openClosedStandardStreams();  // before anything can open a file on descriptor 0, 1 or 2
    if (argc < 2) {
        consolePrintf("You have to pass filename as argument!\n");
        consoleFinish();
        return -1;
    }
    std::string failure;
    if (!openDisplay(failure)) {
        consolePrintf("Couldn't open a window: %s\n", failure.c_str());
        consoleFinish();
        return 1;
    }
    LSystem lsystem;  // sets the drawing state: the context must be current
    lsystem.readDescription(argv[1]);
    produceAndFrame(lsystem);

    for (;;) {
        const DisplayEvent event = pollDisplay();
        if (event.kind == DisplayEvent::Nothing) {
            lsystem.render(true, false);
            swapDisplay();
            consoleFlush();  // a word with an unmatched ']' reports on every redraw
            continue;
        }
        if (event.kind == DisplayEvent::Quit) {
            break;
        }
        if (event.kind != DisplayEvent::KeyUp) {
            continue;
        }
        if (event.virtualKey == kEscape) {
            break;
        }
        if (event.virtualKey != kKeyP && event.virtualKey != kKeyL) {
            continue;  // any other key release is dropped
        }
        if (event.virtualKey == kKeyP) {
            if (lsystem.n < UINT32_MAX) ++lsystem.n;  // stays at the largest n, never wraps to 0
        } else if (lsystem.n > 0) {
            --lsystem.n;
        }
        wchar_t title[99];
        std::swprintf(title, 99, L"Tendrilview, n=%u", static_cast<unsigned>(lsystem.n));
        setDisplayTitle(title);
        produceAndFrame(lsystem);
    }

    closeDisplay();
    // Unwritten repetitions are dropped, and the reports written, however long the
    // reader of standard output takes: the window is gone by now.
    consoleFinish();
    return 0;  // the LSystem is destroyed after the display is closed
}
