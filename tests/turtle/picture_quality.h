// Pictures of one word in the current OpenGL context (a 600x600 window set up as the
// program's display sets it, with the LSystem's drawing state), and the figures that
// compare them: the program's picture (a measuring and a drawing pass of
// LSystem::render), today's picture (one GL_LINES primitive per F, drawOneLineAtATime)
// and the reference of reference_raster.h. Shared by the picture test and benchmarks.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "lsystem/lsystem.h"
#include "tests/turtle/reference_raster.h"
#include "turtle/frame.h"

// The back buffer as read back: 600 rows of 600 RGB pixels, the top row first.
struct RgbPicture {
    std::vector<std::uint8_t> bytes;

    reference::GreyPicture grey() const;  // (r + g + b) / 3 per pixel
};

// Reads the back buffer of the current context.
RgbPicture readBackBuffer();

// The three pictures of the lsystem's word, each made once, when first asked for. The
// word, d and delta must not change while the set is in use.
class PictureSet {
public:
    explicit PictureSet(LSystem& lsystem);

    // LSystem::render(false, false), then render(true, false), read back. OpenGL's state
    // is saved around the passes, so that what they leave set does not reach the others.
    const RgbPicture& program();
    // The program's measured projection, then the red start point and one GL_LINES
    // primitive per F line.
    const RgbPicture& today();
    const reference::GreyPicture& reference();

    const reference::GreyPicture& programGrey();
    const reference::GreyPicture& todayGrey();
    bool todayDrawn() const { return today_.has_value(); }

private:
    const turtle::Projection& projection();

    LSystem& lsystem_;
    std::optional<turtle::Projection> projection_;
    std::optional<RgbPicture> program_;
    std::optional<RgbPicture> today_;
    std::optional<reference::GreyPicture> reference_;
    std::optional<reference::GreyPicture> programGrey_;
    std::optional<reference::GreyPicture> todayGrey_;
};

// How the program's picture of a word compares with the reference and with today's.
struct PictureFigures {
    double inkRatio;                // program's ink over the reference's
    double madFromReference;        // mean absolute grey difference, in levels
    double madFromToday;
    double todayInkRatio;           // today's ink over the reference's
    double todayMadFromReference;
};

// Draws the three pictures of the lsystem's word (already produced) and compares them.
PictureFigures measurePictureQuality(LSystem& lsystem);
