#include "platform/virtual_read.h"

namespace firmora::platform {

VirtualReadResult ReadOnVirtualClock(VirtualClock& clock, const ReadWaitPlan& plan, uint8_t* buffer,
                                     size_t length, const VirtualReadSource& source) {
    VirtualReadResult result;
    // Advances to `tick`; false when the source went away meanwhile.
    const auto advance = [&](uint64_t tick) {
        clock.AdvanceTo(tick);
        result.interrupted = source.interrupted && source.interrupted();
        return !result.interrupted;
    };
    switch (plan.mode) {
        case ReadWaitPlan::Mode::Immediate:
            result.bytesRead = source.takeArrived(buffer, length);
            return result;
        case ReadWaitPlan::Mode::FirstByte: {
            const uint64_t deadline = clock.TickCount() + plan.firstByteMs;
            for (;;) {
                result.bytesRead = source.takeArrived(buffer, length);
                if (result.bytesRead > 0 || clock.TickCount() >= deadline) return result;
                const auto next = source.nextArrival();
                if (!advance(next && *next < deadline ? *next : deadline)) return result;
            }
        }
        case ReadWaitPlan::Mode::Accumulate: {
            const uint64_t start = clock.TickCount();
            std::optional<uint64_t> deadline;
            if (plan.totalMs) deadline = start + *plan.totalMs;
            uint64_t lastByteAt = start;
            for (;;) {
                const size_t got = source.takeArrived(buffer + result.bytesRead, length - result.bytesRead);
                if (got > 0) lastByteAt = clock.TickCount();
                result.bytesRead += got;
                if (result.bytesRead == length) return result;
                std::optional<uint64_t> limit = deadline;
                if (plan.intervalMs && result.bytesRead > 0) {
                    const uint64_t gapLimit = lastByteAt + *plan.intervalMs;
                    if (!limit || gapLimit < *limit) limit = gapLimit;
                }
                if (limit && clock.TickCount() >= *limit) return result;
                const auto next = source.nextArrival();
                // Nothing will ever arrive: a real port would block for good; return instead.
                if (!next && !limit) return result;
                if (!advance(next && (!limit || *next < *limit) ? *next : *limit)) return result;
            }
        }
    }
    return result;
}

}  // namespace firmora::platform
