#include "sim/sim_bus.h"

#include <algorithm>
#include <cctype>

namespace firmora::sim {
namespace {

// Runs the modems' callbacks on the VirtualClock under the bus lock.
class LockingScheduler final : public Scheduler {
public:
    LockingScheduler(platform::VirtualClock& clock, std::recursive_mutex& mutex, std::weak_ptr<int> alive)
        : clock_(clock), mutex_(mutex), alive_(std::move(alive)) {}

    uint64_t NowMs() const override { return clock_.TickCount(); }
    void After(uint64_t delayMs, std::function<void()> fn) override {
        clock_.ScheduleIn(delayMs, [mutex = &mutex_, alive = alive_, fn = std::move(fn)] {
            if (alive.expired()) return;
            std::lock_guard lock(*mutex);
            fn();
        });
    }

private:
    platform::VirtualClock& clock_;
    std::recursive_mutex& mutex_;
    std::weak_ptr<int> alive_;
};

}  // namespace

bool SamePath(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](unsigned char x, unsigned char y) {
               return std::tolower(x) == std::tolower(y);
           });
}

SimBus::SimBus(platform::VirtualClock& clock) : clock_(clock) {
    scheduler_ = std::make_unique<LockingScheduler>(clock_, mutex_, alive_);
    // Whichever thread moves time takes the bus first, so a modem's reply
    // is never left half-delivered while another thread's wait runs out.
    clock_.SetEventLock(&mutex_);
}

SimBus::~SimBus() {
    clock_.SetEventLock(nullptr);
    std::lock_guard lock(mutex_);
    alive_.reset();
}

Scheduler& SimBus::scheduler() { return *scheduler_; }

SimBus::Device& SimBus::Attach(const Scenario& scenario) {
    std::lock_guard lock(mutex_);
    auto device = std::make_unique<Device>();
    Device* d = device.get();
    d->profile = UsbProfile::FromScenario(scenario.json);
    d->modem = std::make_unique<VirtualModem>(scenario, *scheduler_);
    for (const PortProfile& port : d->profile.ports) {
        const PortRole role = port.role;
        d->ports[role];
        d->modem->SetPortSink(role, [this, d, role](const Bytes& bytes) {
            HostPort& host = d->ports[role];
            // Output nobody has the port open for is lost, as on a real port.
            if (!host.openHandle) return;
            const uint64_t now = clock_.TickCount();
            for (uint8_t b : bytes) host.incoming.emplace_back(now, b);
        });
    }
    d->modem->SetFastbootSink([this, d](const Bytes& bytes) { d->fastbootReplies.emplace_back(clock_.TickCount(), bytes); });
    d->modem->SetBusListener([this, d](const BusEvent& event) { OnBusEvent(*d, event); });
    devices_.push_back(std::move(device));
    return *d;
}

void SimBus::SetChangeHandler(platform::DeviceEnumerator::ChangeHandler handler) {
    std::lock_guard lock(mutex_);
    changeHandler_ = std::move(handler);
}

void SimBus::OnBusEvent(Device& device, const BusEvent& event) {
    const bool arrival = event.kind == BusEvent::Kind::Arrival;
    if (!arrival) {
        ++device.generation;
        for (auto& [role, port] : device.ports) {
            port.incoming.clear();
            port.openHandle = false;
        }
        device.fastbootReplies.clear();
        device.bulkCreditBytes = 0;
    }
    if (!changeHandler_) return;
    const auto change = arrival ? platform::DeviceChange::Arrival : platform::DeviceChange::Removal;
    if (!event.interfacePath.empty()) changeHandler_({change, false, event.interfacePath});
    for (const PortInfo& port : event.ports) {
        changeHandler_({change, true, "COM" + std::to_string(port.comNumber)});
    }
}

SimBus::Device* SimBus::FindComPort(int comNumber, PortRole& role) {
    for (auto& device : devices_) {
        for (const PortInfo& port : device->modem->Ports()) {
            if (port.comNumber == comNumber) {
                role = port.role;
                return device.get();
            }
        }
    }
    return nullptr;
}

SimBus::Device* SimBus::FindFastboot(const std::string& path) {
    for (auto& device : devices_) {
        const std::string present = device->modem->FastbootInterfacePath();
        if (!present.empty() && SamePath(present, path)) return device.get();
    }
    return nullptr;
}

SimBus::Device* SimBus::FindUsbBoot(const std::string& path) {
    for (auto& device : devices_) {
        const std::string present = device->modem->UsbBootDevicePath();
        if (!present.empty() && SamePath(present, path)) return device.get();
    }
    return nullptr;
}

void SimBus::CatchUp() { clock_.AdvanceTo(clock_.TickCount()); }

SimBus::WaitResult SimBus::WaitUntil(Device& device, uint64_t generation, const std::function<bool()>& ready,
                                     std::optional<uint64_t> deadline) {
    for (;;) {
        CatchUp();
        if (device.generation != generation) return WaitResult::Left;
        if (ready()) return WaitResult::Ready;
        const uint64_t now = clock_.TickCount();
        if (deadline && now >= *deadline) return WaitResult::TimedOut;
        const std::optional<uint64_t> next = clock_.NextEventTick();
        // Nothing scheduled and no limit: nothing can ever arrive.
        if (!next && !deadline) return WaitResult::TimedOut;
        uint64_t target = next ? *next : *deadline;
        if (deadline && *deadline < target) target = *deadline;
        clock_.AdvanceTo(target);
    }
}

}  // namespace firmora::sim
