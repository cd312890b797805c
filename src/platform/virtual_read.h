#pragma once
// One serial read under a ReadWaitPlan on the VirtualClock: what a simulated
// or scripted port does instead of blocking. It takes bytes as they arrive
// and moves virtual time to the next moment more may arrive, until the
// plan's wait is over.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

#include "platform/serial_ports.h"
#include "platform/virtual_clock.h"

namespace firmora::platform {

struct VirtualReadSource {
    // Moves the bytes that have arrived by now into `buffer`; the count.
    std::function<size_t(uint8_t* buffer, size_t length)> takeArrived;
    // The next virtual time at which more may arrive; none: nothing will.
    std::function<std::optional<uint64_t>()> nextArrival;
    // Checked after each move of time: true ends the read at once (the port went away).
    std::function<bool()> interrupted;
};

struct VirtualReadResult {
    size_t bytesRead = 0;
    bool interrupted = false;
};

VirtualReadResult ReadOnVirtualClock(VirtualClock& clock, const ReadWaitPlan& plan, uint8_t* buffer,
                                     size_t length, const VirtualReadSource& source);

}  // namespace firmora::platform
