#pragma once
// What the command line's update run gives its worker in place of a window:
// the port selectors and the scans of a link::PortDiscovery, the
// device-change flags set from the DeviceEnumerator's notifications, and the
// version label printed as a line of the run.

#include <string>

#include "core/line_log.h"
#include "core/reporter.h"
#include "engine/run_view.h"
#include "engine/worker_window.h"
#include "link/port_discovery.h"
#include "platform/device_enumerator.h"

namespace firmora::cli {

// The log of the port scans and the AT probe: trace lines of the run's view
// (printed with --verbose).
class ViewLineLog final : public core::LineLog {
public:
    explicit ViewLineLog(engine::RunView& view) : view_(view) {}
    void Log(const std::string& text) override { view_.StatusCallback(0, text, core::kReportTrace); }

private:
    engine::RunView& view_;
};

class RunWindow final : public engine::WorkerWindow {
public:
    // Takes the enumerator's change notifications until it is destroyed.
    RunWindow(link::PortDiscovery& discovery, platform::DeviceEnumerator& devices, engine::RunView& view);
    ~RunWindow() override;
    RunWindow(const RunWindow&) = delete;
    RunWindow& operator=(const RunWindow&) = delete;

    std::string DiagPortSelector() override { return discovery_.DiagSelector(); }
    std::string AtPortSelector() override { return discovery_.AtSelector(); }
    core::DeviceChangeFlags& ChangeFlags() override { return flags_; }
    bool ScanPorts() override { return discovery_.ScanPorts(); }
    bool CheckDiagPort(int portNumber) override { return discovery_.CheckDiagPort(portNumber); }
    void ShowVersion(const std::string& text) override;
    bool D1Sent() override { return discovery_.D1Sent(); }

private:
    link::PortDiscovery& discovery_;
    platform::DeviceEnumerator& devices_;
    engine::RunView& view_;
    core::DeviceChangeFlags flags_;
};

}  // namespace firmora::cli
