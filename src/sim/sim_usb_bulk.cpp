#include "sim/sim_usb_bulk.h"

#include <cstring>

#include "platform/last_error.h"

namespace firmora::sim {
namespace {

constexpr uint8_t kBulkInAddress = 0x81;
constexpr uint8_t kBulkOutAddress = 0x01;

bool Fail(uint32_t code) {
    platform::SetLastError(code);
    return false;
}

// A connection to one device in the bus generation it was opened in.
class SimTransport final : public platform::BulkTransport {
public:
    SimTransport(SimBus& bus, SimBus::Device& device, std::string path)
        : bus_(bus), device_(device), generation_(device.generation), path_(std::move(path)) {}

    bool Describe(platform::BulkInterfaceInfo& info) override;
    bool Write(const uint8_t* data, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) override;
    bool Read(uint8_t* buffer, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) override;
    bool Close() override {
        std::lock_guard lock(bus_.mutex());
        if (closed_) return Fail(kErrBadHandle);
        closed_ = true;
        return true;
    }

private:
    // Called with the bus locked.
    bool Usable() const {
        if (closed_) return Fail(kErrBadHandle);
        if (device_.generation != generation_) return Fail(kErrIo);
        return true;
    }

    SimBus& bus_;
    SimBus::Device& device_;
    const uint64_t generation_;
    const std::string path_;
    bool closed_ = false;
};

bool SimTransport::Describe(platform::BulkInterfaceInfo& info) {
    std::lock_guard lock(bus_.mutex());
    if (!Usable()) return false;
    info = platform::BulkInterfaceInfo{};
    info.name = path_;
    info.in.endpointAddress = kBulkInAddress;
    info.out.endpointAddress = kBulkOutAddress;
    return true;
}

bool SimTransport::Write(const uint8_t* data, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) {
    std::lock_guard lock(bus_.mutex());
    transferred = 0;
    if (!Usable()) return false;
    // The transfer takes the time the scenario's bus speed gives it; the boot
    // loader sees the message once all of it has crossed.
    const uint64_t rate = device_.profile.bulkBytesPerMs;
    if (rate > 0) {
        device_.bulkCreditBytes += length;
        const uint64_t ms = device_.bulkCreditBytes / rate;
        if (timeoutMs > 0 && ms > timeoutMs) {
            bus_.clock().Sleep(timeoutMs);
            device_.bulkCreditBytes = 0;
            return Fail(kErrTimedOut);
        }
        device_.bulkCreditBytes %= rate;
        if (ms > 0) {
            bus_.WaitUntil(device_, generation_, [] { return false; }, bus_.clock().TickCount() + ms);
            if (!Usable()) return false;
        }
    }
    device_.modem->FastbootHostMessage(data, length);
    transferred = length;
    return true;
}

bool SimTransport::Read(uint8_t* buffer, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) {
    std::lock_guard lock(bus_.mutex());
    transferred = 0;
    if (!Usable()) return false;
    auto& replies = device_.fastbootReplies;
    auto& clock = bus_.clock();
    const auto arrived = [&] { return !replies.empty() && replies.front().first <= clock.TickCount(); };
    std::optional<uint64_t> deadline;
    if (timeoutMs > 0) deadline = clock.TickCount() + timeoutMs;
    switch (bus_.WaitUntil(device_, generation_, arrived, deadline)) {
        case SimBus::WaitResult::Left: return Fail(kErrIo);
        case SimBus::WaitResult::TimedOut: return Fail(kErrTimedOut);
        case SimBus::WaitResult::Ready: break;
    }
    const Bytes message = std::move(replies.front().second);
    replies.pop_front();
    if (message.size() > length) return Fail(kErrOverflow);
    transferred = static_cast<uint32_t>(message.size());
    if (transferred > 0) std::memcpy(buffer, message.data(), transferred);
    return true;
}

}  // namespace

std::unique_ptr<platform::BulkTransport> SimUsbBulk::Open(const std::string& devicePath) {
    std::lock_guard lock(bus_.mutex());
    bus_.CatchUp();
    SimBus::Device* device = bus_.FindFastboot(devicePath);
    if (!device) {
        platform::SetLastError(kErrNoDevice);
        return nullptr;
    }
    return std::make_unique<SimTransport>(bus_, *device, device->modem->FastbootInterfacePath());
}

}  // namespace firmora::sim
