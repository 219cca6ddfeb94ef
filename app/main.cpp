// Tendrilview's entry point and main loop: checks the argument, opens the display, reads,
// produces and draws the L-system, then redraws continuously while P and L change the
// number of iterations, until Esc is released or the window is closed. The window keeps
// answering during long work: reading, rewriting and drawing ask now and then whether to
// go on, and so does a report that waits for room in the console's buffer; the answer
// takes the window's messages.
#include <chrono>
#include <cstdint>
#include <cwchar>
#include <deque>
#include <string>

#include "app/large_pages.h"
#include "app/memory_budget.h"
#include "app/standard_streams.h"
#include "display/display.h"
#include "console/console.h"
#include "lsystem/lsystem.h"
#include "turtle/canvas.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kEscape = 0x1B;  // Windows virtual-key codes
constexpr std::uint32_t kKeyP = 0x50;
constexpr std::uint32_t kKeyL = 0x4C;

// How often long work stops to take the window's messages.
constexpr auto kLookEvery = std::chrono::milliseconds(20);
// The shortest time from one idle redraw to the next: about 60 a second where the swap
// doesn't wait for the screen. Measured, since a driver may say its swap waits and not.
constexpr auto kFrame = std::chrono::microseconds(16667);

// What the window has asked for and the loop has not done yet.
struct Inbox {
    std::deque<std::uint32_t> keys;  // releases of P and L, in the order they came
    bool quit = false;               // Esc was released or the window was closed
};

// Takes one pending message into the inbox; false when none was pending.
bool takeMessage(Inbox& inbox)
{
    const DisplayEvent event = pollDisplay();
    switch (event.kind) {
    case DisplayEvent::Nothing:
        return false;
    case DisplayEvent::Quit:
        inbox.quit = true;
        break;
    case DisplayEvent::KeyUp:
        if (event.virtualKey == kEscape) {
            inbox.quit = true;
        } else if (event.virtualKey == kKeyP || event.virtualKey == kKeyL) {
            inbox.keys.push_back(event.virtualKey);
        }
        break;  // any other key release is dropped
    case DisplayEvent::Other:
        break;  // already handled by the window
    }
    return true;
}

// Makes the word afresh, frames it (measuring pass) and draws it with its line count;
// false when the window asked to end meanwhile. The reports go out at once, so that a
// pipe shows them as they come.
bool produceAndFrame(LSystem& lsystem, const KeepGoing& keepGoing)
{
    const bool done = lsystem.produce(keepGoing) && lsystem.render(false, false, keepGoing) &&
                      lsystem.render(true, true, keepGoing);
    consoleFlush();
    return done;
}

}  // namespace

int main(int argc, char** argv)
{
    openClosedStandardStreams();  // before anything can open a file on descriptor 0, 1 or 2
    ignoreBrokenPipes();          // output to a pipe whose reader has gone is dropped
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
    LSystem lsystem;
    const Ceilings ceilings = ceilingsForThisMachine();
    lsystem.wordCeiling = ceilings.word;
    lsystem.descriptionCeiling = ceilings.description;
    lsystem.stackCeiling = ceilings.stack;
    lsystem.prepareLargeBuffer = adviseLargePages;
    setupDrawingState();  // needs the display's context, current from here on

    // Long work asks this every so often: the window's messages are taken, P and L wait
    // in the inbox for the work to end, and Esc or the close box abandon it.
    Inbox inbox;
    Clock::time_point lastLook = Clock::now();
    const KeepGoing keepGoing = [&inbox, &lastLook] {
        const Clock::time_point now = Clock::now();
        if (now - lastLook >= kLookEvery) {
            lastLook = now;
            while (!inbox.quit && takeMessage(inbox)) {
            }
        }
        return !inbox.quit;
    };
    // A report that waits for room asks it too; after Esc it no longer waits, so that
    // the work can be abandoned, and the reports go out before the program ends.
    consoleSetWaitHook(keepGoing);

    if (lsystem.readDescription(argv[1], keepGoing)) {
        produceAndFrame(lsystem, keepGoing);
    }
    while (!inbox.quit) {
        if (!inbox.keys.empty()) {
            if (inbox.keys.front() == kKeyP) {
                if (lsystem.n < UINT32_MAX) ++lsystem.n;  // stays at the largest n, never wraps to 0
            } else if (lsystem.n > 0) {
                --lsystem.n;
            }
            inbox.keys.pop_front();
            wchar_t title[99];
            std::swprintf(title, 99, L"Tendrilview, n=%u", static_cast<unsigned>(lsystem.n));
            setDisplayTitle(title);
            produceAndFrame(lsystem, keepGoing);
            continue;
        }
        if (takeMessage(inbox)) {
            continue;
        }
        // Nothing pending: draw the picture again and show it.
        const Clock::time_point frameStart = Clock::now();
        lastLook = frameStart;
        if (!lsystem.render(true, false, keepGoing)) {
            break;
        }
        swapDisplay();
        consoleFlush();  // a word with an unmatched ']' reports on every redraw
        // Where the swap waited for the screen the time is mostly gone; elsewhere the
        // loop waits out the rest, and a message ends the wait.
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            frameStart + kFrame - Clock::now());
        if (left.count() > 0) {
            waitDisplay(static_cast<int>(left.count()));
        }
    }

    consoleSetWaitHook({});  // it refers to the inbox and the display
    closeDisplay();
    // Unwritten repetitions are dropped, and the reports written, however long the
    // reader of standard output takes: the window is gone by now.
    consoleFinish();
    return 0;  // the LSystem is destroyed after the display is closed
}
