// What the turtle keeps between passes, so that redrawing a picture costs what the
// picture costs rather than what the word costs: whether the projection in force frames
// the current word and how, and the finished image of the last drawing pass (1.4 MB,
// whatever the word), which a redraw of the same picture draws again.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "turtle/frame.h"
#include "turtle/walk.h"

namespace turtle {

// What a drawing pass depends on beyond the state it sets itself. The word is known by
// its storage and length: it changes only through produce, which is always followed by
// a measuring pass, and a measuring pass forgets the kept picture.
struct PassKey {
    const char* word = nullptr;
    std::size_t size = 0;
    std::uint32_t d = 0;
    float delta = 0.0f;
    std::uint64_t stackCeiling = 0;
    std::array<double, 16> projection{};

    // The same word walked with the same step and angle (a NaN delta equals itself).
    bool sameWalk(const PassKey& other) const
    {
        return word == other.word && size == other.size && d == other.d &&
               (delta == other.delta || (delta != delta && other.delta != other.delta));
    }
    bool operator==(const PassKey& other) const
    {
        return sameWalk(other) && stackCeiling == other.stackCeiling && projection == other.projection;
    }
};

// How a finished measuring pass loaded its frame: the frame, the point of the drawing
// space that vertices are sent relative to, and the matrix OpenGL then held.
struct Framing {
    Projection frame{};
    double originX = 0.0;
    double originY = 0.0;
    std::array<double, 16> matrix{};
};

class Replay {
public:
    static constexpr int kSize = kWindowSize;

    // Set by a measuring pass: it framed `key`'s word (true) or ended early and left the
    // projection as it was (false).
    // A finished pass also leaves the checkpoints of its walk, from which a drawing
    // pass of the same word can walk it in pieces.
    void framed(const PassKey& key, bool finished, const Framing& framing = {},
                std::vector<Checkpoint> checkpoints = {})
    {
        forget();
        framedKey_ = key;
        framed_ = finished;
        framing_ = framing;
        checkpoints_ = std::move(checkpoints);
    }
    // Whether the projection in force was set by a finished measuring pass of this word.
    bool frames(const PassKey& key) const { return framed_ && framedKey_.sameWalk(key); }
    // How that pass framed the word, while its matrix is the one in force (key.projection).
    const Framing* framing(const PassKey& key) const
    {
        return frames(key) && key.projection == framing_.matrix ? &framing_ : nullptr;
    }

    // The checkpoints of the measuring pass that framed this word, in word order; none
    // where no finished pass framed it.
    const std::vector<Checkpoint>& checkpoints(const PassKey& key) const
    {
        static const std::vector<Checkpoint> none;
        return frames(key) ? checkpoints_ : none;
    }

    // A drawing pass has ended (not abandoned), and its image has been read into
    // imageToFill(): it becomes the picture that later passes of the same key replay.
    void keep(const PassKey& key, WalkEnd end, std::uint32_t lines)
    {
        key_ = key;
        end_ = end;
        lines_ = lines;
        kept_ = true;
    }
    // The storage for the image of a pass; allocated once and reused, so that the
    // allocator is not asked for 1.4 MB again at every new picture.
    std::vector<std::uint8_t>& imageToFill()
    {
        kept_ = false;
        return image_;
    }
    void forget() { kept_ = false; }
    // The storage for a pass's coverage image (alpha per pixel), likewise reused.
    std::vector<std::uint8_t>& coverageToFill() { return coverage_; }
    const std::vector<std::uint8_t>& coverage() const { return coverage_; }

    bool keeps(const PassKey& key) const { return kept_ && key == key_; }
    WalkEnd end() const { return end_; }
    std::uint32_t lines() const { return lines_; }
    const std::vector<std::uint8_t>& image() const { return image_; }  // RGBA rows, bottom first

    // What the last walked drawing pass sent to OpenGL: segments, and pixels of coverage.
    std::size_t sent = 0;
    std::size_t coveragePixels = 0;

private:
    bool framed_ = false;
    PassKey framedKey_;
    Framing framing_;
    std::vector<Checkpoint> checkpoints_;

    bool kept_ = false;
    PassKey key_;
    WalkEnd end_ = WalkEnd::Finished;
    std::uint32_t lines_ = 0;
    std::vector<std::uint8_t> image_;
    std::vector<std::uint8_t> coverage_;
};

}  // namespace turtle
