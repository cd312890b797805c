#pragma once
// SimPlatform: every platform seam the tool needs from the machine, served by
// virtual modems on a VirtualClock, so that the engine and the application
// run unchanged and a whole update takes no real time. Several modems may be
// plugged in at once; each follows its own scenario.
//
// The seams may be called from several threads (worker, readiness loop, boot
// push); one lock inside serialises them with the modems' scheduled events.
// A test that drives a modem directly while such threads run takes lock().

#include <cstddef>
#include <memory>
#include <mutex>

#include "platform/device_enumerator.h"
#include "platform/processes.h"
#include "platform/serial_ports.h"
#include "platform/settings_store.h"
#include "platform/usb_bulk.h"
#include "platform/virtual_clock.h"
#include "sim/scheduler.h"
#include "sim/virtual_modem.h"

namespace firmora::sim {

class SimBus;
class SimProcesses;

class SimPlatform {
public:
    explicit SimPlatform(platform::LocalDateTime start = {2026, 1, 5, 9, 0, 0, 0});
    // A platform with one modem per device of the scenario.
    static std::unique_ptr<SimPlatform> FromScenario(const Scenario& scenario);
    ~SimPlatform();
    SimPlatform(const SimPlatform&) = delete;
    SimPlatform& operator=(const SimPlatform&) = delete;

    // Plugs in one more modem; it is present from now on, without an arrival event.
    VirtualModem& AddModem(const Scenario& scenario);
    size_t ModemCount() const;
    VirtualModem& Modem(size_t index);

    platform::VirtualClock& clock() { return clock_; }
    // The modems' scheduler: callbacks run under lock() at their virtual time.
    Scheduler& scheduler();
    std::recursive_mutex& lock();

    platform::SerialPorts& serialPorts();
    platform::DeviceEnumerator& devices();
    platform::UsbBulk& usbBulk();
    platform::Processes& processes();
    platform::SettingsStore& settings();

private:
    platform::VirtualClock clock_;
    std::unique_ptr<SimBus> bus_;
    std::unique_ptr<platform::SerialPorts> serialPorts_;
    std::unique_ptr<platform::DeviceEnumerator> devices_;
    std::unique_ptr<platform::UsbBulk> usbBulk_;
    std::unique_ptr<platform::Processes> processes_;
    std::unique_ptr<platform::SettingsStore> settings_;
};

}  // namespace firmora::sim
