#pragma once
// The virtual modem's time paced by a real clock, so that someone can watch
// a simulated update: every pause of the tool takes its time on the real
// clock (scaled as that clock is), then moves the virtual clock on by the
// same amount. Waits inside the virtual modem (a port's reply, a reboot)
// still jump ahead to the modem's next event.
//
// Several threads pause at once (the worker, the readiness loop): each moves
// the virtual clock to where its own pause was meant to end, so that
// concurrent pauses overlap as they would on a real clock instead of adding up.

#include "platform/clock.h"
#include "platform/virtual_clock.h"

namespace firmora::platform {

class PacedClock final : public Clock {
public:
    // Both outlive this clock.
    PacedClock(VirtualClock& time, Clock& pace) : time_(time), pace_(pace) {}

    void Sleep(uint32_t ms) override;
    uint64_t TickCount() const override { return time_.TickCount(); }
    int64_t WallSeconds() const override { return time_.WallSeconds(); }
    LocalDateTime Now() const override { return time_.Now(); }

private:
    VirtualClock& time_;
    Clock& pace_;
};

}  // namespace firmora::platform
