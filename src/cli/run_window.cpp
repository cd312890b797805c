#include "cli/run_window.h"

namespace firmora::cli {

RunWindow::RunWindow(link::PortDiscovery& discovery, platform::DeviceEnumerator& devices, engine::RunView& view)
    : discovery_(discovery), devices_(devices), view_(view) {
    // Any change sets the change flag; an arrival sets the arrival flag too.
    // Nothing here clears them: that is the worker's part.
    devices_.SetChangeHandler([this](const platform::DeviceChangeEvent& event) {
        flags_.changeSeen.store(1);
        if (event.change == platform::DeviceChange::Arrival) flags_.arrivalSeen.store(1);
    });
}

RunWindow::~RunWindow() { devices_.SetChangeHandler(nullptr); }

void RunWindow::ShowVersion(const std::string& text) { view_.StatusCallback(0, text, core::kReportInfo); }

}  // namespace firmora::cli
