// What the turtle keeps between passes, so that redrawing a picture costs what the
// picture costs rather than what the word costs: whether the projection in force frames
// the current word, and the finished image of the last drawing pass (1.4 MB, whatever
// the word), which a redraw of the same picture draws again.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

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

class Replay {
public:
    static constexpr int kSize = 600;  // the window's client area is kSize x kSize pixels

    // Set by a measuring pass: it framed `key`'s word (true) or ended early and left the
    // projection as it was (false).
    void framed(const PassKey& key, bool finished)
    {
        forget();
        framedKey_ = key;
        framed_ = finished;
    }
    // Whether the projection in force was set by a finished measuring pass of this word.
    bool frames(const PassKey& key) const { return framed_ && framedKey_.sameWalk(key); }

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

    bool keeps(const PassKey& key) const { return kept_ && key == key_; }
    WalkEnd end() const { return end_; }
    std::uint32_t lines() const { return lines_; }
    const std::vector<std::uint8_t>& image() const { return image_; }  // RGBA rows, bottom first

    // Segments the last walked drawing pass sent to OpenGL.
    std::size_t sent = 0;

private:
    bool framed_ = false;
    PassKey framedKey_;

    bool kept_ = false;
    PassKey key_;
    WalkEnd end_ = WalkEnd::Finished;
    std::uint32_t lines_ = 0;
    std::vector<std::uint8_t> image_;
};

}  // namespace turtle
