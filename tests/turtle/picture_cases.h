// The cases of the picture test, shared with benchmarks that want the same figures: each
// a description file's text and the kind of comparison that the drawing pass must pass.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "lsystem/lsystem.h"

// What must hold for a case; the figures are those of picture_quality.h.
enum class PictureKind {
    // Every line is a pixel long or more and none continues another in a straight line,
    // so nothing can merge: the picture equals today's, pixel for pixel.
    Identical,
    // Lines of a pixel or more continue each other in straight chains: the mean absolute
    // grey difference from today's picture is at most 0.2 levels.
    Merged,
    // Lines far below a pixel, where today's drawing loses ink: the ink is 0.85 to 1.15 of
    // the reference's, and the difference from the reference is at most today's or
    // 1.0 level, whichever is larger.
    Ink,
    // Space-filling curves of sub-pixel steps: the difference from the reference is at
    // most today's.
    Dense,
    // Dense pictures of sub-pixel lines held to the reference itself: ink 0.9 to 1.1 of
    // the reference's, and a mean absolute difference of at most 10 levels from it.
    Reference,
    // A picture far from the start point, where float vertices lose the picture: drawn
    // as it would be at the origin, within 1 level of the reference, ink 0.95 to 1.05.
    Far,
};

const char* kindName(PictureKind kind);

struct PictureCase {
    std::string name;
    std::string description;  // the text of a description file: n, d, delta, the axiom, the rules
    PictureKind kind;
    bool keepPictures = false;  // written as PNGs when TENDRILVIEW_PICTURE_DIR is set
    double inkTolerance = 0.15;  // Ink: how far the ink may be from the reference's, either side
};

inline void PrintTo(const PictureCase& c, std::ostream* os) { *os << c.name; }

std::vector<PictureCase> pictureCases();

// The text of a file in examples/.
std::string exampleText(const char* file);

// Reads `text` as a description file into lsystem and produces the word. Both print
// their reports on standard output.
void loadDescription(LSystem& lsystem, const std::string& text);
