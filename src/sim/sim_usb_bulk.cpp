#include "sim/sim_usb_bulk.h"

#include <algorithm>
#include <cstring>

#include "platform/last_error.h"

namespace firmora::sim {
namespace {

constexpr uint8_t kBulkInAddress = 0x81;
constexpr uint8_t kBulkOutAddress = 0x01;

// What interface and endpoints share: the device and the bus generation
// they were opened in.
struct Connection {
    SimBus& bus;
    SimBus::Device& device;
    uint64_t generation;

    bool Present() const {
        if (device.generation == generation) return true;
        platform::SetLastError(kErrIo);
        return false;
    }
};

class SimEndpoint final : public platform::UsbEndpoint {
public:
    SimEndpoint(Connection connection, bool in) : c_(connection), in_(in) {}

    bool WriteSync(const uint8_t* data, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) override;
    bool ReadSync(uint8_t* buffer, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) override;
    bool Close() override {
        closed_ = true;
        return true;
    }

private:
    bool Usable() {
        if (closed_) {
            platform::SetLastError(kErrBadHandle);
            return false;
        }
        return c_.Present();
    }

    Connection c_;
    bool in_;
    bool closed_ = false;
};

bool SimEndpoint::WriteSync(const uint8_t* data, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) {
    std::lock_guard lock(c_.bus.mutex());
    transferred = 0;
    if (!Usable()) return false;
    if (in_) {
        platform::SetLastError(kErrInvalid);
        return false;
    }
    // The transfer takes the time the scenario's bus speed gives it; the boot
    // loader sees the message once all of it has crossed.
    const uint64_t rate = c_.device.profile.bulkBytesPerMs;
    if (rate > 0) {
        c_.device.bulkCreditBytes += length;
        const uint64_t ms = c_.device.bulkCreditBytes / rate;
        if (timeoutMs > 0 && ms > timeoutMs) {
            c_.bus.clock().Sleep(timeoutMs);
            c_.device.bulkCreditBytes = 0;
            platform::SetLastError(kErrTimedOut);
            return false;
        }
        c_.device.bulkCreditBytes %= rate;
        if (ms > 0) {
            const uint64_t generation = c_.generation;
            c_.bus.WaitUntil(c_.device, generation, [] { return false; }, c_.bus.clock().TickCount() + ms);
            if (!Usable()) return false;
        }
    }
    c_.device.modem->FastbootHostMessage(data, length);
    transferred = length;
    return true;
}

bool SimEndpoint::ReadSync(uint8_t* buffer, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) {
    std::lock_guard lock(c_.bus.mutex());
    transferred = 0;
    if (!Usable()) return false;
    if (!in_) {
        platform::SetLastError(kErrInvalid);
        return false;
    }
    auto& replies = c_.device.fastbootReplies;
    auto& clock = c_.bus.clock();
    const auto arrived = [&] { return !replies.empty() && replies.front().first <= clock.TickCount(); };
    std::optional<uint64_t> deadline;
    if (timeoutMs > 0) deadline = clock.TickCount() + timeoutMs;
    switch (c_.bus.WaitUntil(c_.device, c_.generation, arrived, deadline)) {
        case SimBus::WaitResult::Left:
            platform::SetLastError(kErrIo);
            return false;
        case SimBus::WaitResult::TimedOut:
            platform::SetLastError(kErrTimedOut);
            return false;
        case SimBus::WaitResult::Ready: break;
    }
    const Bytes& message = replies.front().second;
    transferred = static_cast<uint32_t>(std::min<size_t>(length, message.size()));
    std::memcpy(buffer, message.data(), transferred);
    replies.pop_front();
    return true;
}

class SimInterface final : public platform::UsbInterface {
public:
    SimInterface(Connection connection, std::string path) : c_(connection), path_(std::move(path)) {}

    bool GetInterfaceName(std::string& name) override {
        std::lock_guard lock(c_.bus.mutex());
        if (!Usable()) return false;
        name = path_;
        return true;
    }
    bool GetInterfaceDescriptor(platform::UsbInterfaceDescriptor& descriptor) override {
        std::lock_guard lock(c_.bus.mutex());
        if (!Usable()) return false;
        descriptor = platform::UsbInterfaceDescriptor{};
        return true;
    }
    bool GetDefaultBulkReadEndpointInformation(platform::UsbEndpointInformation& info) override {
        return EndpointInformation(info, kBulkInAddress);
    }
    bool GetDefaultBulkWriteEndpointInformation(platform::UsbEndpointInformation& info) override {
        return EndpointInformation(info, kBulkOutAddress);
    }
    std::unique_ptr<platform::UsbEndpoint> OpenDefaultBulkReadEndpoint() override { return Open(true); }
    std::unique_ptr<platform::UsbEndpoint> OpenDefaultBulkWriteEndpoint() override { return Open(false); }
    bool Close() override {
        closed_ = true;
        return true;
    }

private:
    bool Usable() {
        if (closed_) {
            platform::SetLastError(kErrBadHandle);
            return false;
        }
        return c_.Present();
    }
    bool EndpointInformation(platform::UsbEndpointInformation& info, uint8_t address) {
        std::lock_guard lock(c_.bus.mutex());
        if (!Usable()) return false;
        info = platform::UsbEndpointInformation{};
        info.endpointAddress = address;
        return true;
    }
    std::unique_ptr<platform::UsbEndpoint> Open(bool in) {
        std::lock_guard lock(c_.bus.mutex());
        if (!Usable()) return nullptr;
        return std::make_unique<SimEndpoint>(c_, in);
    }

    Connection c_;
    std::string path_;
    bool closed_ = false;
};

}  // namespace

std::unique_ptr<platform::UsbInterface> SimUsbBulk::CreateInterfaceByName(const std::string& devicePath) {
    std::lock_guard lock(bus_.mutex());
    bus_.CatchUp();
    SimBus::Device* device = bus_.FindFastboot(devicePath);
    if (!device) {
        platform::SetLastError(kErrNoDevice);
        return nullptr;
    }
    return std::make_unique<SimInterface>(Connection{bus_, *device, device->generation},
                                          device->modem->FastbootInterfacePath());
}

}  // namespace firmora::sim
