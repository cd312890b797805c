#pragma once
// The real-time Clock. An optional time scale speeds a whole run up for
// demonstrations: with scale 10, Sleep(1000) takes 100 ms and the tick count,
// the wall seconds and the local time all run ten times as fast, so that the
// tool's waits and its time stamps stay consistent with each other.

#include <chrono>
#include <cstdint>

#include "platform/clock.h"

namespace firmora::platform {

class SystemClock final : public Clock {
public:
    // A scale that is not a positive finite number counts as 1.
    explicit SystemClock(double timeScale = 1.0);

    void Sleep(uint32_t ms) override;
    uint64_t TickCount() const override;
    int64_t WallSeconds() const override;
    LocalDateTime Now() const override;

    double timeScale() const { return scale_; }

private:
    // Milliseconds of the wall clock since 1970, scaled.
    int64_t WallMilliseconds() const;
    std::chrono::nanoseconds ScaledElapsed() const;

    double scale_;
    std::chrono::steady_clock::time_point startTick_;
    std::chrono::system_clock::time_point startWall_;
};

}  // namespace firmora::platform
