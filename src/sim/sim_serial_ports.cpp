#include "sim/sim_serial_ports.h"

#include <algorithm>

#include "platform/last_error.h"
#include "platform/virtual_read.h"

namespace firmora::sim {
namespace {

class SimSerialPort final : public platform::SerialPort {
public:
    SimSerialPort(SimBus& bus, SimBus::Device& device, PortRole role)
        : bus_(bus), device_(device), role_(role), generation_(device.generation) {
        Host().openHandle = true;
    }
    ~SimSerialPort() override { Close(); }

    bool GetLineSettings(platform::LineSettings& out) override {
        std::lock_guard lock(bus_.mutex());
        if (!Usable()) return false;
        out = line_;
        return true;
    }
    bool SetLineSettings(const platform::LineSettings& settings) override {
        std::lock_guard lock(bus_.mutex());
        if (!Usable()) return false;
        line_ = settings;
        return true;
    }
    bool SetTimeouts(const platform::SerialTimeouts& timeouts) override {
        std::lock_guard lock(bus_.mutex());
        if (!Usable()) return false;
        timeouts_ = timeouts;
        return true;
    }
    bool SetQueueSizes(uint32_t, uint32_t) override {
        std::lock_guard lock(bus_.mutex());
        return Usable();
    }
    bool Purge(uint32_t flags) override {
        std::lock_guard lock(bus_.mutex());
        if (!Usable()) return false;
        if (flags & platform::kPurgeRxClear) {
            bus_.CatchUp();
            const uint64_t now = bus_.clock().TickCount();
            auto& in = Host().incoming;
            while (!in.empty() && in.front().first <= now) in.pop_front();
        }
        return true;
    }
    bool ClearErrors(uint32_t& errorMask, platform::SerialQueueStatus* status) override {
        std::lock_guard lock(bus_.mutex());
        errorMask = 0;
        if (!Usable()) return false;
        if (status) {
            bus_.CatchUp();
            status->inQueue = static_cast<uint32_t>(Arrived());
            status->outQueue = 0;
        }
        return true;
    }
    bool Read(uint8_t* buffer, size_t length, size_t& bytesRead) override;
    bool Write(const uint8_t* data, size_t length, size_t& bytesWritten) override {
        std::lock_guard lock(bus_.mutex());
        bytesWritten = 0;
        if (!Usable()) return false;
        device_.modem->HostWrite(role_, data, length);
        bytesWritten = length;
        return true;
    }
    bool DeviceGone() const override {
        std::lock_guard lock(bus_.mutex());
        return device_.generation != generation_;
    }
    bool Close() override {
        std::lock_guard lock(bus_.mutex());
        if (closed_) return true;
        closed_ = true;
        if (device_.generation == generation_) Host().openHandle = false;
        return true;
    }

private:
    SimBus::HostPort& Host() { return device_.ports[role_]; }

    // A closed handle fails with EBADF, a handle of a device that has left the
    // bus since it was opened with EIO, as a hung-up line does.
    bool Usable() {
        if (closed_) {
            platform::SetLastError(kErrBadHandle);
            return false;
        }
        if (device_.generation != generation_) {
            platform::SetLastError(kErrIo);
            return false;
        }
        return true;
    }

    size_t Arrived() {
        const uint64_t now = bus_.clock().TickCount();
        const auto& in = Host().incoming;
        return static_cast<size_t>(
            std::count_if(in.begin(), in.end(), [now](const auto& item) { return item.first <= now; }));
    }

    size_t TakeArrived(uint8_t* buffer, size_t length) {
        const uint64_t now = bus_.clock().TickCount();
        auto& in = Host().incoming;
        size_t got = 0;
        while (got < length && !in.empty() && in.front().first <= now) {
            buffer[got++] = in.front().second;
            in.pop_front();
        }
        return got;
    }

    SimBus& bus_;
    SimBus::Device& device_;
    PortRole role_;
    uint64_t generation_;
    bool closed_ = false;
    platform::LineSettings line_{};
    platform::SerialTimeouts timeouts_{};
};

bool SimSerialPort::Read(uint8_t* buffer, size_t length, size_t& bytesRead) {
    std::lock_guard lock(bus_.mutex());
    bytesRead = 0;
    if (!Usable()) return false;
    auto& clock = bus_.clock();
    bus_.CatchUp();
    // Replies reach the port through events on the clock, so the next event
    // is the next moment a byte may arrive.
    const platform::VirtualReadResult result = platform::ReadOnVirtualClock(
        clock, platform::PlanRead(timeouts_, length), buffer, length,
        {[this](uint8_t* to, size_t n) { return TakeArrived(to, n); }, [&clock] { return clock.NextEventTick(); },
         [this] { return device_.generation != generation_; }});
    bytesRead = result.bytesRead;
    return result.interrupted ? Usable() : true;
}

}  // namespace

std::unique_ptr<platform::SerialPort> SimSerialPorts::Open(const std::string& deviceName) {
    std::lock_guard lock(bus_.mutex());
    bus_.CatchUp();
    const std::optional<int> number = platform::ParseComName(deviceName);
    PortRole role = PortRole::Diag;
    SimBus::Device* device = number ? bus_.FindComPort(*number, role) : nullptr;
    if (!device) {
        platform::SetLastError(kErrNoDevice);
        return nullptr;
    }
    if (device->ports[role].openHandle) {
        platform::SetLastError(kErrBusy);
        return nullptr;
    }
    return std::make_unique<SimSerialPort>(bus_, *device, role);
}

}  // namespace firmora::sim
