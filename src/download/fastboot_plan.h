#pragma once
// FastbootPlan: the image download of a run, once the device shows its boot
// loader. It writes the selected single images over one connection, then
// each [FastbootDownloadFiles] entry over a connection of its own, and
// restarts the device over a last one. The first failure passes over
// everything after it and no restart is sent.

#include <functional>

#include "core/reporter.h"
#include "download/fastboot_client.h"
#include "download/plan_input.h"
#include "platform/clock.h"
#include "platform/device_enumerator.h"

namespace firmora::download {

class FastbootPlan {
public:
    FastbootPlan(FastbootClient& client, platform::DeviceEnumerator& devices, core::Reporter& reporter,
                 platform::Clock& clock);

    // Called whenever the window's busy picture should show.
    void SetShowBusyPicture(std::function<void()> show) { showBusyPicture_ = std::move(show); }

    // Runs the whole plan; the outcome is the run status.
    void Run(const PlanInput& input);

private:
    bool Healthy() const { return reporter_.RunStatus() == core::kRunHealthy; }
    void ShowBusyPicture();
    // False when the plan must end at once.
    bool OpenConnection();
    bool CloseConnection();
    bool WriteSingleImages(const PlanInput& input);
    bool WriteEntry(const PlanEntry& entry);
    void Restart();

    FastbootClient& client_;
    platform::DeviceEnumerator& devices_;
    core::Reporter& reporter_;
    platform::Clock& clock_;
    std::function<void()> showBusyPicture_;
};

}  // namespace firmora::download
