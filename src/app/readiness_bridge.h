#pragma once
// The readiness loop as the window sees it. The loop runs on a thread of its
// own; each decision it makes is handed to the window's thread through the
// form's report queue and shown there. The run controller stops the loop
// before a run touches the device and closes the AT port the loop's device
// interrogation may have left open.

#include <atomic>
#include <functional>

#include "app/flash_form.h"
#include "app/run_plugins.h"
#include "package/device_interrogation.h"
#include "package/readiness_loop.h"

namespace firmora::app {

class ReadinessBridge final : public ReadinessLoop, public package::ReadinessView {
public:
    ReadinessBridge(const package::ReadinessServices& services, package::DeviceInterrogation& interrogation);
    // Stops the loop and waits for it.
    ~ReadinessBridge() override;
    ReadinessBridge(const ReadinessBridge&) = delete;
    ReadinessBridge& operator=(const ReadinessBridge&) = delete;

    // The window that shows the decisions, and what runs after each (on the
    // window's thread). Set before the first Start.
    void Attach(TFlashSrcUiForm& form, std::function<void(const package::ReadinessDecision&)> shown);
    // The package the loop matches against from the next Start on.
    void UseSettings(package::ReadinessSettings settings);

    // --- ReadinessLoop (the window's thread) ---
    void Stop() override;
    void Start() override;
    bool AtPortOpen() override;
    bool CloseAtPort() override;

    // --- package::ReadinessView (the loop's thread) ---
    void ShowReadiness(const package::ReadinessDecision& decision) override;
    bool RunActive() override;

private:
    package::DeviceInterrogation& interrogation_;
    package::ReadinessSettings settings_;
    TFlashSrcUiForm* form_ = nullptr;
    std::function<void(const package::ReadinessDecision&)> shown_;
    // Set while the loop is stopped for a run: the window stops the loop
    // before every run and restarts it only when every slot is empty.
    std::atomic<bool> stoppedForRun_{false};
    // Last, so that its thread ends before the members it calls go.
    package::ReadinessLoop loop_;
};

}  // namespace firmora::app
