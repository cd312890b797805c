#pragma once
// Puts a simulated device's serial responder behind a scripted port: what the
// tool writes reaches the responder, what the responder sends arrives at the
// tool at its virtual time. Requests for transitions are recorded.

#include <utility>
#include <vector>

#include "fake_serial.h"
#include "sim/device_side.h"

namespace firmora::testing {

class ResponderPort final : public sim::DeviceSide {
public:
    ResponderPort(FakeSerialDevice& device, platform::VirtualClock& clock, sim::SerialResponder& responder)
        : device_(device), clock_(clock), responder_(responder) {
        device_.responder = [this](const Bytes& written) {
            responder_.OnHostBytes(written.data(), written.size(), *this);
        };
    }
    ~ResponderPort() override { device_.responder = nullptr; }

    void Send(const sim::Bytes& bytes, uint64_t delayMs) override { device_.Deliver(bytes, delayMs); }
    void Request(sim::ModemRequest request, uint64_t delayMs) override {
        requests.emplace_back(request, clock_.TickCount() + delayMs);
    }
    uint64_t NowMs() const override { return clock_.TickCount(); }

    // (request, virtual time it is due)
    std::vector<std::pair<sim::ModemRequest, uint64_t>> requests;

private:
    FakeSerialDevice& device_;
    platform::VirtualClock& clock_;
    sim::SerialResponder& responder_;
};

}  // namespace firmora::testing
