#include "sim/virtual_modem.h"

#include <algorithm>
#include <cstdio>

#include "sim/at_device.h"
#include "sim/diag_device.h"
#include "sim/fastboot_device.h"
#include "sim/partition_store.h"
#include "sim/usb_profile.h"

namespace firmora::sim {
namespace {

// Packet bytes of a DIAG request shown in the command log.
constexpr size_t kLogDiagBytes = 8;

std::string HexBytes(const uint8_t* data, size_t length) {
    std::string out;
    char cell[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(cell, sizeof cell, "%02X", data[i]);
        if (i) out += ' ';
        out += cell;
    }
    return out;
}

}  // namespace

// Bytes from the device to the host on one route (a serial port or the
// boot loader's bulk-in endpoint), kept in the order they were sent.
struct DeviceRoute {
    std::function<void(const Bytes&)> sink;
    uint64_t lastArrivalMs = 0;
};

struct VirtualModem::Impl {
    class PortSide;
    class FastbootSide;

    struct Port {
        PortProfile profile;
        std::unique_ptr<SerialResponder> responder;
        std::unique_ptr<PortSide> side;
        DeviceRoute route;
    };

    Impl(const Scenario& scenario, Scheduler& scheduler);

    Port* FindPort(PortRole role);
    PortInfo Info(const Port& port) const;
    std::vector<PortInfo> PresentPorts() const;
    std::string PresentInterfacePath() const;

    void Deliver(DeviceRoute& route, const Bytes& bytes, uint64_t delayMs);
    void Schedule(ModemRequest request, uint64_t delayMs);
    void Carry(ModemRequest request);
    // Leaves the bus now; comes back as `to` after `delayMs` unless `to` is Absent.
    void LeaveAndReturn(Personality to, uint64_t delayMs);
    void Arrive(Personality to);
    void Emit(BusEvent::Kind kind, Personality personality, std::vector<PortInfo> ports, std::string path);

    void LogDiag(const std::vector<uint8_t>& packet);
    void LogFastboot();
    void Wipe();

    Scenario scenario;
    Scheduler& scheduler;
    UsbProfile profile;
    AtDeviceState at;
    DiagDeviceState diag;
    PartitionStore partitions;
    std::vector<Port> ports;
    std::unique_ptr<FastbootDevice> fastboot;
    std::unique_ptr<FastbootSide> fastbootSide;
    DeviceRoute fastbootRoute;
    size_t fastbootLogged = 0;  // entries of the boot loader's log already copied

    Personality personality = Personality::Absent;
    // Counts departures from the bus: replies and transitions scheduled
    // before the device left are dropped when they fall due.
    uint64_t generation = 0;
    size_t normalReturns = 0;
    bool started = false;
    std::function<void(const BusEvent&)> listener;
    std::vector<std::string> log;
    Bytes usbBootBuffer;
    Bytes usbBootLoader;
    // Tells scheduled callbacks whether the modem still exists.
    std::shared_ptr<int> alive = std::make_shared<int>(0);
};

class VirtualModem::Impl::PortSide final : public DeviceSide {
public:
    PortSide(Impl& modem, PortRole role) : modem_(modem), role_(role) {}
    void Send(const Bytes& bytes, uint64_t delayMs) override {
        if (Port* port = modem_.FindPort(role_)) modem_.Deliver(port->route, bytes, delayMs);
    }
    void Request(ModemRequest request, uint64_t delayMs) override { modem_.Schedule(request, delayMs); }
    uint64_t NowMs() const override { return modem_.scheduler.NowMs(); }

private:
    Impl& modem_;
    PortRole role_;
};

class VirtualModem::Impl::FastbootSide final : public DeviceSide {
public:
    explicit FastbootSide(Impl& modem) : modem_(modem) {}
    void Send(const Bytes& bytes, uint64_t delayMs) override { modem_.Deliver(modem_.fastbootRoute, bytes, delayMs); }
    void Request(ModemRequest request, uint64_t delayMs) override { modem_.Schedule(request, delayMs); }
    uint64_t NowMs() const override { return modem_.scheduler.NowMs(); }

private:
    Impl& modem_;
};

VirtualModem::Impl::Impl(const Scenario& s, Scheduler& sched)
    : scenario(s),
      scheduler(sched),
      profile(UsbProfile::FromScenario(scenario.json)),
      at(AtDeviceState::FromScenario(scenario.json)),
      diag(DiagDeviceState::FromScenario(scenario.json)),
      partitions(PartitionStore::FromScenario(scenario.json)) {
    for (const PortProfile& portProfile : profile.ports) {
        Port port;
        port.profile = portProfile;
        switch (portProfile.protocol) {
            case PortProfile::Protocol::At: {
                auto responder = std::make_unique<AtResponder>(at, scenario.json);
                responder->SetCommandListener([this](const std::string& line) { log.push_back("AT: " + line); });
                port.responder = std::move(responder);
                break;
            }
            case PortProfile::Protocol::Diag: {
                auto responder = std::make_unique<DiagResponder>(diag, scenario.json);
                responder->SetRequestObserver([this](const std::vector<uint8_t>& packet) { LogDiag(packet); });
                port.responder = std::move(responder);
                break;
            }
            case PortProfile::Protocol::None: break;
        }
        port.side = std::make_unique<PortSide>(*this, portProfile.role);
        ports.push_back(std::move(port));
    }
    fastboot = std::make_unique<FastbootDevice>(partitions, scenario.json);
    fastbootSide = std::make_unique<FastbootSide>(*this);
    fastboot->onPartitionChanged = [this](const std::string& name) {
        if (name == profile.efsPartition) Wipe();
    };
}

VirtualModem::Impl::Port* VirtualModem::Impl::FindPort(PortRole role) {
    for (Port& port : ports) {
        if (port.profile.role == role) return &port;
    }
    return nullptr;
}

PortInfo VirtualModem::Impl::Info(const Port& port) const {
    const PortProfile& p = port.profile;
    return PortInfo{p.role, p.comNumber, p.name + " (COM" + std::to_string(p.comNumber) + ")", p.description,
                    p.hardwareId};
}

std::vector<PortInfo> VirtualModem::Impl::PresentPorts() const {
    std::vector<PortInfo> present;
    if (personality != Personality::Normal) return present;
    for (const Port& port : ports) present.push_back(Info(port));
    return present;
}

std::string VirtualModem::Impl::PresentInterfacePath() const {
    switch (personality) {
        case Personality::Bootloader: return profile.fastbootInterfacePath;
        case Personality::UsbBoot: return profile.usbBootDevicePath;
        case Personality::CdromOnly: return profile.cdromDevicePath;
        case Personality::Absent:
        case Personality::Normal: break;
    }
    return {};
}

void VirtualModem::Impl::Deliver(DeviceRoute& route, const Bytes& bytes, uint64_t delayMs) {
    if (personality == Personality::Absent) return;
    const uint64_t now = scheduler.NowMs();
    const uint64_t at = std::max(now + delayMs, route.lastArrivalMs);
    route.lastArrivalMs = at;
    std::weak_ptr<int> token = alive;
    const uint64_t sentIn = generation;
    scheduler.After(at - now, [this, token, sentIn, &route, bytes] {
        if (token.expired() || sentIn != generation) return;
        if (route.sink) route.sink(bytes);
    });
}

void VirtualModem::Impl::Schedule(ModemRequest request, uint64_t delayMs) {
    std::weak_ptr<int> token = alive;
    const uint64_t askedIn = generation;
    scheduler.After(delayMs, [this, token, askedIn, request] {
        if (token.expired() || askedIn != generation) return;
        Carry(request);
    });
}

void VirtualModem::Impl::Carry(ModemRequest request) {
    if (personality == Personality::Absent) return;
    const Personality from = personality;
    Personality to = Personality::Normal;
    uint64_t delayMs = 0;
    switch (request) {
        case ModemRequest::RebootToBootloader:
            to = Personality::Bootloader;
            delayMs = profile.rebootToBootloaderMs;
            break;
        case ModemRequest::Reset:
            to = profile.resetReturnsAs;
            delayMs = profile.resetMs;
            break;
        case ModemRequest::PowerOff:
            to = profile.resetReturnsAs;
            delayMs = profile.powerOffMs;
            break;
        case ModemRequest::SwitchToModem:
            to = Personality::Normal;
            delayMs = profile.switchToModemMs;
            break;
        case ModemRequest::SwitchToCdrom:
            to = Personality::CdromOnly;
            delayMs = profile.switchToCdromMs;
            break;
        case ModemRequest::DropOffBus:
            to = profile.dropNeverReturns ? Personality::Absent : profile.dropReturnsAs.value_or(from);
            delayMs = profile.dropReturnMs;
            break;
    }
    if (profile.neverReturnAfter.count(request)) to = Personality::Absent;
    LeaveAndReturn(to, delayMs);
}

void VirtualModem::Impl::LeaveAndReturn(Personality to, uint64_t delayMs) {
    const Personality from = personality;
    std::vector<PortInfo> leaving = PresentPorts();
    std::string path = PresentInterfacePath();

    personality = Personality::Absent;
    ++generation;
    for (Port& port : ports) {
        if (port.responder) port.responder->OnDisconnect();
        port.route.lastArrivalMs = 0;
    }
    fastboot->OnDisconnect();
    fastbootRoute.lastArrivalMs = 0;
    usbBootBuffer.clear();

    Emit(BusEvent::Kind::Removal, from, std::move(leaving), std::move(path));
    if (to == Personality::Absent) return;

    std::weak_ptr<int> token = alive;
    const uint64_t leftIn = generation;
    scheduler.After(delayMs, [this, token, leftIn, to] {
        if (token.expired() || leftIn != generation) return;
        Arrive(to);
    });
}

void VirtualModem::Impl::Arrive(Personality to) {
    if (to == Personality::Normal && started) {
        if (normalReturns < profile.returnComPorts.size()) {
            for (const auto& [role, number] : profile.returnComPorts[normalReturns]) {
                if (Port* port = FindPort(role)) port->profile.comNumber = number;
            }
        }
        ++normalReturns;
    }
    started = true;
    personality = to;
    Emit(BusEvent::Kind::Arrival, to, PresentPorts(), PresentInterfacePath());
}

void VirtualModem::Impl::Emit(BusEvent::Kind kind, Personality which, std::vector<PortInfo> changed,
                              std::string path) {
    if (!listener) return;
    listener(BusEvent{kind, which, std::move(changed), std::move(path)});
}

void VirtualModem::Impl::LogDiag(const std::vector<uint8_t>& packet) {
    std::string line = "DIAG: " + HexBytes(packet.data(), std::min(packet.size(), kLogDiagBytes));
    if (packet.size() > kLogDiagBytes) line += " ...";
    log.push_back(std::move(line));
}

void VirtualModem::Impl::LogFastboot() {
    const std::vector<std::string>& commands = fastboot->CommandLog();
    for (; fastbootLogged < commands.size(); ++fastbootLogged) log.push_back("FASTBOOT: " + commands[fastbootLogged]);
}

// Writing the EFS partition replaces the device's file system with the
// image's: everything stored there (identity, AT parameters, NV items, EFS
// files) is back to what a factory-fresh device holds.
void VirtualModem::Impl::Wipe() {
    at = AtDeviceState::FactoryFromScenario(scenario.json);
    diag = DiagDeviceState::FactoryFromScenario(scenario.json);
}

VirtualModem::VirtualModem(const Scenario& scenario, Scheduler& scheduler)
    : impl_(std::make_unique<Impl>(scenario, scheduler)) {
    const Personality initial = impl_->profile.initial;
    if (initial == Personality::Absent) return;
    // Plugged in before the host looked: present at once, without an arrival.
    impl_->started = true;
    impl_->personality = initial;
}

VirtualModem::~VirtualModem() = default;

Personality VirtualModem::personality() const { return impl_->personality; }

std::vector<PortInfo> VirtualModem::Ports() const { return impl_->PresentPorts(); }

std::string VirtualModem::FastbootInterfacePath() const {
    return impl_->personality == Personality::Bootloader ? impl_->profile.fastbootInterfacePath : std::string();
}

std::string VirtualModem::UsbBootDevicePath() const {
    return impl_->personality == Personality::UsbBoot ? impl_->profile.usbBootDevicePath : std::string();
}

std::string VirtualModem::CdromDevicePath() const {
    return impl_->personality == Personality::CdromOnly ? impl_->profile.cdromDevicePath : std::string();
}

const Scenario& VirtualModem::scenario() const { return impl_->scenario; }

void VirtualModem::HostWrite(PortRole role, const uint8_t* data, size_t length) {
    if (impl_->personality != Personality::Normal) return;
    Impl::Port* port = impl_->FindPort(role);
    if (!port) return;
    if (port->responder) port->responder->OnHostBytes(data, length, *port->side);
}

void VirtualModem::SetPortSink(PortRole role, std::function<void(const Bytes&)> sink) {
    if (Impl::Port* port = impl_->FindPort(role)) port->route.sink = std::move(sink);
}

void VirtualModem::FastbootHostMessage(const uint8_t* data, size_t length) {
    if (impl_->personality != Personality::Bootloader) return;
    impl_->fastboot->OnHostMessage(data, length, *impl_->fastbootSide);
    impl_->LogFastboot();
}

void VirtualModem::FastbootHostDisconnected() { impl_->fastboot->OnDisconnect(); }

void VirtualModem::SetFastbootSink(std::function<void(const Bytes&)> sink) {
    impl_->fastbootRoute.sink = std::move(sink);
}

void VirtualModem::UsbBootWrite(const uint8_t* data, size_t length) {
    Impl& m = *impl_;
    if (m.personality != Personality::UsbBoot) return;
    m.usbBootBuffer.insert(m.usbBootBuffer.end(), data, data + length);
    if (m.usbBootBuffer.size() < 4) return;
    const uint64_t size = static_cast<uint64_t>(m.usbBootBuffer[0]) | static_cast<uint64_t>(m.usbBootBuffer[1]) << 8 |
                          static_cast<uint64_t>(m.usbBootBuffer[2]) << 16 |
                          static_cast<uint64_t>(m.usbBootBuffer[3]) << 24;
    if (size > m.profile.usbBootMaxLoaderBytes) {
        // A size no loader has: the boot ROM ignores the transfer and waits again.
        m.log.push_back("USBBOOT: (refused a loader of " + std::to_string(size) + " bytes)");
        m.usbBootBuffer.clear();
        return;
    }
    if (m.usbBootBuffer.size() < 4 + size) return;
    m.usbBootLoader.assign(m.usbBootBuffer.begin() + 4, m.usbBootBuffer.begin() + 4 + static_cast<ptrdiff_t>(size));
    m.log.push_back("USBBOOT: (first-stage loader, " + std::to_string(size) + " bytes)");
    m.LeaveAndReturn(m.profile.afterUsbBoot, m.profile.usbBootMs);
}

const Bytes& VirtualModem::UsbBootLoader() const { return impl_->usbBootLoader; }

void VirtualModem::SetBusListener(std::function<void(const BusEvent&)> listener) {
    impl_->listener = std::move(listener);
}

void VirtualModem::Request(ModemRequest request) { impl_->Carry(request); }

AtDeviceState& VirtualModem::at() { return impl_->at; }
DiagDeviceState& VirtualModem::diag() { return impl_->diag; }
PartitionStore& VirtualModem::partitions() { return impl_->partitions; }
const std::vector<std::string>& VirtualModem::CommandLog() const { return impl_->log; }

}  // namespace firmora::sim
