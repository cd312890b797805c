#include "sim/sim_platform.h"

#include "sim/memory_settings_store.h"
#include "sim/sim_bus.h"
#include "sim/sim_device_enumerator.h"
#include "sim/sim_processes.h"
#include "sim/sim_serial_ports.h"
#include "sim/sim_usb_bulk.h"

namespace firmora::sim {

SimPlatform::SimPlatform(platform::LocalDateTime start)
    : clock_(start),
      bus_(std::make_unique<SimBus>(clock_)),
      serialPorts_(std::make_unique<SimSerialPorts>(*bus_)),
      devices_(std::make_unique<SimDeviceEnumerator>(*bus_)),
      usbBulk_(std::make_unique<SimUsbBulk>(*bus_)),
      processes_(std::make_unique<SimProcesses>(*bus_)),
      settings_(std::make_unique<MemorySettingsStore>()) {}

std::unique_ptr<SimPlatform> SimPlatform::FromScenario(const Scenario& scenario) {
    auto platform = std::make_unique<SimPlatform>();
    for (const Scenario& device : scenario.Devices()) platform->AddModem(device);
    return platform;
}

SimPlatform::~SimPlatform() {
    // The seams go before the bus they use, the bus before the clock.
    settings_.reset();
    processes_.reset();
    usbBulk_.reset();
    devices_.reset();
    serialPorts_.reset();
    bus_.reset();
}

VirtualModem& SimPlatform::AddModem(const Scenario& scenario) { return *bus_->Attach(scenario).modem; }

size_t SimPlatform::ModemCount() const {
    std::lock_guard lock(bus_->mutex());
    return bus_->devices().size();
}

VirtualModem& SimPlatform::Modem(size_t index) {
    std::lock_guard lock(bus_->mutex());
    return *bus_->devices().at(index)->modem;
}

Scheduler& SimPlatform::scheduler() { return bus_->scheduler(); }
std::recursive_mutex& SimPlatform::lock() { return bus_->mutex(); }
platform::SerialPorts& SimPlatform::serialPorts() { return *serialPorts_; }
platform::DeviceEnumerator& SimPlatform::devices() { return *devices_; }
platform::UsbBulk& SimPlatform::usbBulk() { return *usbBulk_; }
platform::Processes& SimPlatform::processes() { return *processes_; }
platform::SettingsStore& SimPlatform::settings() { return *settings_; }

}  // namespace firmora::sim
