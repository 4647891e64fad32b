#pragma once

#include <chrono>
#include <memory>

namespace orvex {

// Time for the model's timed rules (probe waits, the repair throttle, cooldowns, the sign-in
// window). Monotonic, so a change of the wall clock never shortens or stretches a wait. Tests
// use a clock whose sleeps only move its own time forward.
class Clock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Duration = std::chrono::steady_clock::duration;

    virtual ~Clock() = default;
    virtual TimePoint now() = 0;
    // Blocks the calling worker thread.
    virtual void sleep(Duration duration) = 0;

    static std::shared_ptr<Clock> system();
};

} // namespace orvex
