// Reduction of a pass's lines to what can be seen at the window's scale, before they
// reach OpenGL. One streaming pass in window pixels: chains of nearly collinear lines
// become one segment, points within a fraction of a pixel of a segment's start are
// absorbed, and pen jumps of a fraction of a pixel (after "]", or over an "f") count as
// part of the path. Each segment carries the share of ink its drawn length earns.
#pragma once

#include <cmath>
#include <cstddef>

namespace turtle {

// From drawing units to window pixels: pixel = scale * unit + offset, per axis. Only
// distances matter to the reduction, so a flipped axis (a negative scale) is fine.
struct PixelScale {
    double x;
    double y;

    // A scale that can't be measured in (not finite, or zero) leaves lines as they are.
    bool usable() const
    {
        return std::isfinite(x) && std::isfinite(y) && x != 0.0 && y != 0.0;
    }
};

// Distances in window pixels that decide what merges.
inline constexpr double kCollinear = 1.0 / 9.0;  // the most a merged point strays from its segment
inline constexpr double kAbsorb = 0.25;          // points this close to a segment's start add nothing
inline constexpr double kBridge = 0.25;          // a pen jump this short continues the path

// Streams lines (in drawing units, in walk order) and hands the reduced segments to
// sink.segment(x0, y0, x1, y1, ink), where ink in (0, 1] is the drawn share of the
// segment's length. A segment's ends are always points of the path itself, so a line
// that merges with nothing comes out exactly as it went in, with ink 1.
template <class Sink>
class LineReducer {
public:
    // `lineLength`, when positive, is every line's length in pixels (all F steps have the
    // same length, and a square frame scales both axes alike); otherwise each line is
    // measured.
    LineReducer(PixelScale scale, double lineLength, Sink& sink)
        : scale_(scale), lineLength_(lineLength), sink_(sink)
    {
    }

    void line(float x0, float y0, float x1, float y1)
    {
        if (!open_) {
            start(x0, y0);
        } else if (x0 != penX_ || y0 != penY_) {
            // The pen jumped: a short jump is walked over without ink, a long one ends
            // the segment.
            const double jumpX = (x0 - penX_) * scale_.x;
            const double jumpY = (y0 - penY_) * scale_.y;
            if (!(jumpX * jumpX + jumpY * jumpY <= kBridge * kBridge) || !extend(x0, y0)) {
                flush();
                start(x0, y0);
            } else {
                jumped_ = true;
            }
        }
        if (!extend(x1, y1)) {
            flush();
            start(x0, y0);
            if (!extend(x1, y1)) {
                // Not even a segment of its own can take it (a point that is not a
                // number): the line goes as it is.
                sink_.segment(x0, y0, x1, y1, 1.0f);
                open_ = false;
                penX_ = x1;
                penY_ = y1;
                return;
            }
        }
        if (lines_ < kHandful) handful_[lines_] = Line{x0, y0, x1, y1};
        ++lines_;
        if (lineLength_ <= 0.0) {
            const double dx = (x1 - x0) * scale_.x;
            const double dy = (y1 - y0) * scale_.y;
            drawn_ += std::sqrt(dx * dx + dy * dy);
        }
        penX_ = x1;
        penY_ = y1;
    }

    // Hands over the segment still being built; call once the walk has ended.
    void finish()
    {
        flush();
        open_ = false;
    }

private:
    // A point of the path, in drawing units, with its place along the segment.
    struct Point {
        float x;
        float y;
        double along;  // pixels from the segment's start along its direction
    };

    void start(float x, float y)
    {
        open_ = true;
        directed_ = false;
        startX_ = x;
        startY_ = y;
        back_ = front_ = Point{x, y, 0.0};
        drawn_ = 0.0;
        lines_ = 0;
        jumped_ = false;
    }

    // Takes the point (x, y) into the segment if it stays within kCollinear of it;
    // false when it doesn't and the segment must end before it.
    bool extend(float x, float y)
    {
        const double px = (x - startX_) * scale_.x;
        const double py = (y - startY_) * scale_.y;
        if (!directed_) {
            // Until then `along` holds squared distances from the start, which order alike.
            const double squared = px * px + py * py;
            if (squared <= kAbsorb * kAbsorb) {
                if (squared > front_.along) front_ = Point{x, y, squared};
                return true;
            }
            const double distance = std::sqrt(squared);
            if (!(distance < HUGE_VAL)) return false;  // NaN or infinite: nothing merges
            // The first point beyond the start's neighbourhood sets the direction.
            directed_ = true;
            unitX_ = px / distance;
            unitY_ = py / distance;
            front_ = Point{x, y, distance};
            back_.along = 0.0;  // a point absorbed before lies on neither side
            back_.x = startX_;
            back_.y = startY_;
            return true;
        }
        const double across = px * unitY_ - py * unitX_;
        if (!(std::fabs(across) <= kCollinear)) return false;
        const double along = px * unitX_ + py * unitY_;
        if (along > front_.along) {
            front_ = Point{x, y, along};
        } else if (along < back_.along) {
            back_ = Point{x, y, along};
        }
        return true;
    }

    // Hands the segment to the sink, if it holds any line.
    void flush()
    {
        if (!open_ || lines_ == 0) return;
        if (lines_ <= kHandful && !jumped_) {
            // A handful of lines drawn in one stroke: merging them saves little and
            // would flatten the wiggles of a dense curve, so they go as they are.
            for (std::size_t i = 0; i < lines_; ++i) {
                sink_.segment(handful_[i].x0, handful_[i].y0, handful_[i].x1, handful_[i].y1, 1.0f);
            }
            return;
        }
        const double length = directed_ ? front_.along - back_.along : std::sqrt(front_.along);
        const double drawn = lineLength_ > 0.0 ? static_cast<double>(lines_) * lineLength_ : drawn_;
        // Ink by drawn length over the segment's length, at most full: a dashed stretch
        // keeps its share, overlapping lines count once. Float positions put a line's
        // length a few millionths off its step, which must not dim a whole line.
        double ink = 1.0;
        if (drawn < length * (1.0 - 1e-5)) ink = drawn / length;
        sink_.segment(back_.x, back_.y, front_.x, front_.y, static_cast<float>(ink));
    }

    // The lines of a segment that holds no more than kHandful of them.
    static constexpr std::size_t kHandful = 8;
    struct Line {
        float x0, y0, x1, y1;
    };
    Line handful_[kHandful];

    PixelScale scale_;
    double lineLength_;  // pixels per line, or 0 when lines are measured one by one
    Sink& sink_;
    bool open_ = false;      // a segment is being built
    bool directed_ = false;  // it has left its start's neighbourhood and has a direction
    float startX_ = 0.0f;    // where the segment began
    float startY_ = 0.0f;
    double unitX_ = 0.0;  // its direction in pixels, of length 1, once directed
    double unitY_ = 0.0;
    Point back_{};        // the path's points furthest back and furthest along it
    Point front_{};
    std::size_t lines_ = 0;  // lines merged into it
    bool jumped_ = false;    // the pen jumped within it (a bridged "]" or "f")
    double drawn_ = 0.0;     // their length in pixels, when measured one by one
    float penX_ = 0.0f;   // where the last line ended
    float penY_ = 0.0f;
};

}  // namespace turtle
