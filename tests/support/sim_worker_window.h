#pragma once
// The window side a worker reads during a run, for tests on SimPlatform: the
// real port discovery over the simulated device enumeration, the AT probe
// of device interrogation, and the device-change flags set from the
// enumerator's change notifications as a window sets them from the system's
// broadcasts (any change sets the change flag, an arrival also the arrival
// flag). Header-only: only suites that link the engine and the simulator use it.

#include <mutex>
#include <string>
#include <vector>

#include "core/line_log.h"
#include "engine/worker_window.h"
#include "link/port_discovery.h"
#include "modeswitch/d1_switch.h"
#include "package/device_interrogation.h"
#include "platform/dialogs.h"
#include "sim/sim_platform.h"

namespace firmora::testing {

class SimWorkerWindow final : public engine::WorkerWindow, private core::LineLog {
public:
    explicit SimWorkerWindow(sim::SimPlatform& simulation, const std::string& packageName = "MDM9x15",
                             bool enprg9x15 = false)
        : interrogation_(simulation.serialPorts(), simulation.clock(), *this, packageName),
          d1Switch_(simulation.serialPorts(), simulation.clock()),
          discovery_(simulation.devices(), simulation.clock(), dialogs_, *this, interrogation_, d1Switch_,
                     enprg9x15) {
        simulation.devices().SetChangeHandler([this](const platform::DeviceChangeEvent& event) {
            flags_.changeSeen.store(1);
            if (event.change == platform::DeviceChange::Arrival) flags_.arrivalSeen.store(1);
        });
    }

    std::string DiagPortSelector() override { return discovery_.DiagSelector(); }
    std::string AtPortSelector() override { return discovery_.AtSelector(); }
    core::DeviceChangeFlags& ChangeFlags() override { return flags_; }
    bool ScanPorts() override {
        ++scans;
        return discovery_.ScanPorts();
    }
    bool CheckDiagPort(int portNumber) override { return discovery_.CheckDiagPort(portNumber); }
    void ShowVersion(const std::string& text) override {
        std::lock_guard lock(mutex_);
        versions.push_back(text);
    }
    bool D1Sent() override { return discovery_.D1Sent(); }

    link::PortDiscovery& discovery() { return discovery_; }
    std::vector<std::string> LogLines() {
        std::lock_guard lock(mutex_);
        return log_;
    }

    // Written by the worker's thread; read once it has ended.
    std::vector<std::string> versions;
    int scans = 0;

private:
    void Log(const std::string& text) override {
        std::lock_guard lock(mutex_);
        log_.push_back(text);
    }

    std::mutex mutex_;
    std::vector<std::string> log_;
    core::DeviceChangeFlags flags_;
    platform::ScriptedDialogs dialogs_;
    package::DeviceInterrogation interrogation_;
    modeswitch::SerialD1Switch d1Switch_;
    link::PortDiscovery discovery_;
};

}  // namespace firmora::testing
