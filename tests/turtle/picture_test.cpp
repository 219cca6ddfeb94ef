// The quality of the drawing pass's picture, case by case, in a real OpenGL context
// (Xvfb with Mesa). The program's picture (a measuring and a drawing pass, read back with
// glReadPixels) is compared with today's drawing (one GL_LINES primitive per F, drawn
// in the same context) and with the reference rasteriser (every F as a band one pixel
// wide, overlaps counted once). Grey is (r + g + b) / 3 in levels 0..255; ink is the sum
// over pixels of (255 - grey) / 255; MAD is the mean absolute grey difference, in levels.
//
// Each case has a kind, which says what must hold (see picture_cases.h): identical to
// today's picture, close to it where lines merge, honest ink where lines are far below a
// pixel, no further from the reference than today's for dense curves, close to the
// reference itself for the dense case of each family, and drawn as at the origin for a
// picture far from the start point.
// Every case prints its figures. With TENDRILVIEW_PICTURE_DIR set, the cases marked so
// leave PNGs of the reference, today's and the program's picture in that directory.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "console/console.h"
#include "lsystem/lsystem.h"
#include "tests/turtle/glx_window.h"
#include "tests/turtle/picture_cases.h"
#include "tests/turtle/picture_quality.h"
#include "tests/turtle/png_file.h"
#include "tests/turtle/reference_raster.h"

namespace {

constexpr int kSize = reference::kWindowSize;

// Loads a description, with the console's output kept out of the test's.
void load(LSystem& lsystem, const std::string& text)
{
    testing::internal::CaptureStdout();
    loadDescription(lsystem, text);
    consoleSync();  // the console module writes from its own thread
    testing::internal::GetCapturedStdout();
}

// Where two RGB pictures differ: the number of pixels, and the first one in reading order.
struct RgbDifference {
    long pixels = 0;
    int column = -1;
    int row = -1;
    int largest = 0;  // the largest difference of one channel, in levels
};

RgbDifference compare(const RgbPicture& a, const RgbPicture& b)
{
    RgbDifference difference;
    for (std::size_t i = 0; i < a.bytes.size(); i += 3) {
        int largest = 0;
        for (std::size_t k = i; k < i + 3; ++k) largest = std::max(largest, std::abs(a.bytes[k] - b.bytes[k]));
        if (largest == 0) continue;
        if (difference.pixels++ == 0) {
            difference.column = static_cast<int>(i / 3 % kSize);
            difference.row = static_cast<int>(i / 3 / kSize);
        }
        difference.largest = std::max(difference.largest, largest);
    }
    return difference;
}

// A figure for messages: three decimals.
std::string figure(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return text;
}

std::vector<std::uint8_t> rgbOf(const reference::GreyPicture& picture)
{
    std::vector<std::uint8_t> rgb;
    rgb.reserve(picture.levels.size() * 3);
    for (const float level : picture.levels) rgb.insert(rgb.end(), 3, static_cast<std::uint8_t>(level + 0.5f));
    return rgb;
}

void keepPictures(const std::string& name, PictureSet& pictures)
{
    const char* directory = std::getenv("TENDRILVIEW_PICTURE_DIR");
    if (!directory || !*directory) return;
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    const std::string stem = std::string(directory) + "/" + name;
    EXPECT_TRUE(writeRgbPng(stem + "-reference.png", kSize, kSize, rgbOf(pictures.reference()))) << stem;
    EXPECT_TRUE(writeRgbPng(stem + "-today.png", kSize, kSize, pictures.today().bytes)) << stem;
    EXPECT_TRUE(writeRgbPng(stem + "-program.png", kSize, kSize, pictures.program().bytes)) << stem;
}

class PictureTest : public testing::TestWithParam<PictureCase> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(window.ok()) << window.error();
        load(lsystem, GetParam().description);
        ASSERT_NE(lsystem.word.find('F'), std::string::npos) << "the case draws nothing";
    }

    GlxWindow window;  // with the drawing state set, as the program sets it
    LSystem lsystem;
};

TEST_P(PictureTest, HoldsForItsKind)
{
    const PictureCase& c = GetParam();
    PictureSet pictures(lsystem);
    const double referenceInk = reference::ink(pictures.reference());
    const double inkRatio = reference::ink(pictures.programGrey()) / referenceInk;
    const double mad = reference::meanAbsoluteDifference(pictures.programGrey(), pictures.reference());
    // Today's picture is drawn only where a bound or a failure message needs it: for the
    // largest words it costs more than all else.
    auto todayMad = [&] { return reference::meanAbsoluteDifference(pictures.todayGrey(), pictures.reference()); };
    auto todayFigures = [&] {
        std::ostringstream text;
        text << "today's drawing: ink " << figure(reference::ink(pictures.todayGrey()) / referenceInk)
             << " of the reference's, MAD " << figure(todayMad()) << " levels from it";
        return text.str();
    };

    switch (c.kind) {
    case PictureKind::Identical: {
        const RgbDifference difference = compare(pictures.program(), pictures.today());
        EXPECT_EQ(difference.pixels, 0) << "pixels differ from today's drawing, the first at column "
                                        << difference.column << ", row " << difference.row
                                        << "; the largest difference is " << difference.largest << " levels";
        break;
    }
    case PictureKind::Merged: {
        const double fromToday = reference::meanAbsoluteDifference(pictures.programGrey(), pictures.todayGrey());
        EXPECT_LE(fromToday, 0.2) << "MAD from today's drawing, in levels";
        break;
    }
    case PictureKind::Ink: {
        const bool inkHolds = std::abs(inkRatio - 1.0) <= c.inkTolerance;
        EXPECT_TRUE(inkHolds) << "the program's ink is " << figure(inkRatio) << " of the reference's, more than "
                              << c.inkTolerance << " from 1; its MAD from the reference is "
                              << figure(mad) << " levels; " << todayFigures();
        if (mad > 1.0 || !inkHolds) {
            EXPECT_LE(mad, std::max(todayMad(), 1.0))
                << "MAD from the reference, in levels, over the larger of today's and 1.0; " << todayFigures();
        }
        break;
    }
    case PictureKind::Dense:
        // A hundredth of a level allows for a few pixels rounded the other way.
        EXPECT_LE(mad, todayMad() + 0.01) << "MAD from the reference, in levels, over today's; " << todayFigures();
        break;
    case PictureKind::Reference:
        EXPECT_TRUE(inkRatio >= 0.9 && inkRatio <= 1.1)
            << "the program's ink is " << figure(inkRatio) << " of the reference's, out of 0.9 to 1.1";
        EXPECT_LE(mad, 10.0) << "MAD from the reference, in levels";
        break;
    case PictureKind::Far:
        EXPECT_TRUE(inkRatio >= 0.95 && inkRatio <= 1.05)
            << "the program's ink is " << figure(inkRatio) << " of the reference's, out of 0.95 to 1.05";
        EXPECT_LE(mad, 1.0) << "MAD from the reference, in levels";
        break;
    }

    std::printf("%s (%s): the reference has %.1f pixels of ink; the program's picture has %.3f of that, MAD %.3f "
                "levels from the reference",
                c.name.c_str(), kindName(c.kind), referenceInk, inkRatio, mad);
    if (pictures.todayDrawn())
        std::printf(" and %.3f from today's; %s",
                    reference::meanAbsoluteDifference(pictures.programGrey(), pictures.todayGrey()),
                    todayFigures().c_str());
    std::printf("\n");

    if (c.keepPictures) keepPictures(c.name, pictures);
}

INSTANTIATE_TEST_SUITE_P(Cases, PictureTest, testing::ValuesIn(pictureCases()),
                         [](const testing::TestParamInfo<PictureCase>& info) { return info.param.name; });

// --- The reference itself, where today's drawing is right ---------------------------

// Pictures of long lines at many angles, where a smoothed line one pixel wide and the
// reference's band should agree but for the rounding of its edges.
struct PlainCase {
    const char* name;
    std::string description;
};

void PrintTo(const PlainCase& c, std::ostream* os) { *os << c.name; }

std::vector<PlainCase> plainCases()
{
    return {
        {"sierpinski_arrowhead", exampleText("sierpinski-arrowhead.lsys")},
        {"odd_angles", "n=0 d=3 delta=37 F+F+F+F-F[+F]"},
    };
}

class ReferenceTest : public testing::TestWithParam<PlainCase> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(window.ok()) << window.error();
        load(lsystem, GetParam().description);
    }

    GlxWindow window;
    LSystem lsystem;
};

// The reference moved by (columns, rows), white where it comes from outside.
reference::GreyPicture moved(const reference::GreyPicture& picture, int columns, int rows)
{
    reference::GreyPicture result;
    result.levels.assign(picture.levels.size(), 255.0f);
    for (int row = std::max(rows, 0); row < std::min(kSize + rows, kSize); ++row)
        for (int column = std::max(columns, 0); column < std::min(kSize + columns, kSize); ++column)
            result.levels[row * kSize + column] = picture.levels[(row - rows) * kSize + column - columns];
    return result;
}

// The reference lies where today's drawing puts the lines, to well under a pixel: moved
// by one pixel either way it differs several times as much. It has the same ink, and its
// start point covers the pixels that OpenGL paints red.
TEST_P(ReferenceTest, LiesOnTodaysLongLines)
{
    PictureSet pictures(lsystem);
    const reference::GreyPicture& today = pictures.todayGrey();
    const double mad = reference::meanAbsoluteDifference(today, pictures.reference());
    for (auto [columns, rows] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}})
        EXPECT_GT(reference::meanAbsoluteDifference(today, moved(pictures.reference(), columns, rows)), 4 * mad)
            << "moved by " << columns << ", " << rows;
    EXPECT_NEAR(reference::ink(today) / reference::ink(pictures.reference()), 1.0, 0.03);

    const reference::PixelSquare point =
        reference::startPoint(reference::PixelMapping(reference::measuredProjection(lsystem)));
    int red = 0;
    for (int row = 0; row < kSize; ++row)
        for (int column = 0; column < kSize; ++column) {
            const std::uint8_t* rgb = pictures.today().bytes.data() + 3 * (row * kSize + column);
            if (rgb[0] != 255 || rgb[1] != 0 || rgb[2] != 0) continue;
            ++red;
            EXPECT_TRUE(column >= point.column && column < point.column + 4 && row >= point.row && row < point.row + 4)
                << "red at column " << column << ", row " << row << "; the square starts at column "
                << point.column << ", row " << point.row;
        }
    EXPECT_GE(red, 12);  // the first line crosses a side of the square at most
}

INSTANTIATE_TEST_SUITE_P(Plain, ReferenceTest, testing::ValuesIn(plainCases()),
                         [](const testing::TestParamInfo<PlainCase>& info) { return std::string(info.param.name); });

// Two words whose reference pictures are compared: coverage, not a sum of inks.
struct CoverageCase {
    const char* name;
    const char* description;
    const char* comparedDescription;
    double inkRatio;  // of the first picture's ink over the second's
    double tolerance;
};

void PrintTo(const CoverageCase& c, std::ostream* os) { *os << c.name; }

const CoverageCase kCoverageCases[] = {
    // The same line drawn back over itself: the same picture.
    {"traced_twice", "n=0 F|F", "n=0 F", 1.0, 0.0},
    // 262,144 lines of 1/480 pixel in a row: as much ink as the one line they make.
    {"thousandths", "n=18 F F->FF", "n=0 d=262144 F", 1.0, 0.01},
    // Every other step of a line left out, far below a pixel: half its ink, give or take
    // the start point's, which both have.
    {"dashed", "n=17 F F->FfF", "n=18 F F->FF", 0.5, 0.02},
};

class CoverageTest : public testing::TestWithParam<CoverageCase> {
protected:
    void SetUp() override { ASSERT_TRUE(window.ok()) << window.error(); }

    reference::GreyPicture referenceOf(const std::string& description)
    {
        LSystem lsystem;
        load(lsystem, description);
        return reference::rasterise(lsystem, reference::measuredProjection(lsystem));
    }

    GlxWindow window;  // with the drawing state set, as the program sets it
};

TEST_P(CoverageTest, CountsOverlapsOnce)
{
    const CoverageCase& c = GetParam();
    const reference::GreyPicture picture = referenceOf(c.description);
    const reference::GreyPicture compared = referenceOf(c.comparedDescription);
    EXPECT_NEAR(reference::ink(picture) / reference::ink(compared), c.inkRatio, c.tolerance);
    if (c.tolerance == 0.0) {
        EXPECT_EQ(reference::meanAbsoluteDifference(picture, compared), 0.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Reference, CoverageTest, testing::ValuesIn(kCoverageCases),
                         [](const testing::TestParamInfo<CoverageCase>& info) { return std::string(info.param.name); });

}  // namespace
