// The program's, today's and the reference picture of one word, drawn on demand and
// kept, and the figures that compare them.
#include "tests/turtle/picture_quality.h"

#include <algorithm>
#include <deque>

#include "turtle/canvas.h"
#include "turtle/gl.h"
#include "tests/turtle/one_line_at_a_time.h"

namespace {

constexpr int kSize = reference::kWindowSize;

}  // namespace

reference::GreyPicture RgbPicture::grey() const
{
    reference::GreyPicture picture;
    picture.levels.resize(bytes.size() / 3);
    for (std::size_t i = 0; i < picture.levels.size(); ++i)
        picture.levels[i] = static_cast<float>(bytes[3 * i] + bytes[3 * i + 1] + bytes[3 * i + 2]) / 3.0f;
    return picture;
}

RgbPicture readBackBuffer()
{
    std::vector<std::uint8_t> upwards(static_cast<std::size_t>(kSize) * kSize * 3);
    glFinish();
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, kSize, kSize, GL_RGB, GL_UNSIGNED_BYTE, upwards.data());
    // OpenGL's rows run upwards from the bottom of the window.
    RgbPicture picture;
    picture.bytes.resize(upwards.size());
    const std::size_t rowBytes = static_cast<std::size_t>(kSize) * 3;
    for (int row = 0; row < kSize; ++row)
        std::copy_n(upwards.data() + (kSize - 1 - row) * rowBytes, rowBytes, picture.bytes.data() + row * rowBytes);
    return picture;
}

PictureSet::PictureSet(LSystem& lsystem) : lsystem_(lsystem) {}

const turtle::Projection& PictureSet::projection()
{
    if (!projection_) projection_ = reference::measuredProjection(lsystem_);
    return *projection_;
}

const RgbPicture& PictureSet::program()
{
    if (!program_) {
        glPushAttrib(GL_ALL_ATTRIB_BITS);
        glPushClientAttrib(GL_CLIENT_ALL_ATTRIB_BITS);
        lsystem_.render(false, false);
        lsystem_.render(true, false);
        program_ = readBackBuffer();
        glPopClientAttrib();
        glPopAttrib();
    }
    return *program_;
}

const RgbPicture& PictureSet::today()
{
    if (!today_) {
        setProjection(projection());
        std::deque<TurtleState> stack;
        drawOneLineAtATime(lsystem_, stack);
        today_ = readBackBuffer();
    }
    return *today_;
}

const reference::GreyPicture& PictureSet::reference()
{
    if (!reference_) reference_ = reference::rasterise(lsystem_, projection());
    return *reference_;
}

const reference::GreyPicture& PictureSet::programGrey()
{
    if (!programGrey_) programGrey_ = program().grey();
    return *programGrey_;
}

const reference::GreyPicture& PictureSet::todayGrey()
{
    if (!todayGrey_) todayGrey_ = today().grey();
    return *todayGrey_;
}

PictureFigures measurePictureQuality(LSystem& lsystem)
{
    PictureSet pictures(lsystem);
    const double referenceInk = reference::ink(pictures.reference());
    PictureFigures figures;
    figures.inkRatio = reference::ink(pictures.programGrey()) / referenceInk;
    figures.madFromReference = reference::meanAbsoluteDifference(pictures.programGrey(), pictures.reference());
    figures.madFromToday = reference::meanAbsoluteDifference(pictures.programGrey(), pictures.todayGrey());
    figures.todayInkRatio = reference::ink(pictures.todayGrey()) / referenceInk;
    figures.todayMadFromReference = reference::meanAbsoluteDifference(pictures.todayGrey(), pictures.reference());
    return figures;
}
