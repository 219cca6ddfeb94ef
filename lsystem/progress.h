// The rewriting engine's question to its caller, "go on?", asked by work done. Each scan
// holds the production's one Progress and tells it how much it has done (bytes read,
// written, compared or hashed); once per kWorkPerQuestion units it asks the caller's
// keepGoing, so that the time between two questions stays near a millisecond whatever
// the kind of work. When the answer is no, Abandoned unwinds the production.
#pragma once

#include <cstddef>

#include "lsystem/lsystem.h"

namespace rewriting {

// Thrown out of the scans when the caller's keepGoing says false.
struct Abandoned {};

class Progress {
public:
    // About a millisecond of the cheapest work, and a question that costs nothing beside it.
    static constexpr std::size_t kWorkPerQuestion = std::size_t(1) << 20;

    explicit Progress(const KeepGoing& keepGoing) : keepGoing_(keepGoing) {}

    // Asks now; throws Abandoned when the answer is no.
    void ask()
    {
        done_ = 0;
        if (keepGoing_ && !keepGoing_()) {
            throw Abandoned();
        }
    }

    // Counts work done; asks once kWorkPerQuestion units have been done since the last
    // question.
    void did(std::size_t work)
    {
        done_ += work;
        if (done_ >= kWorkPerQuestion) {
            ask();
        }
    }

private:
    const KeepGoing& keepGoing_;
    std::size_t done_ = 0;  // work since the last question
};

}  // namespace rewriting
