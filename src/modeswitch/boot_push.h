#pragma once
// The boot push: while it runs, a first-stage loader (xload.bin from the
// working folder) is sent to every USB boot device that appears, on a thread
// of its own. Stop clears the run flag and waits for the thread.

#include <atomic>
#include <filesystem>
#include <thread>

#include "core/line_log.h"
#include "platform/clock.h"
#include "platform/device_enumerator.h"
#include "platform/files.h"
#include "platform/settings_store.h"

namespace firmora::modeswitch {

class BootPush {
public:
    BootPush(platform::DeviceEnumerator& devices, platform::Clock& clock, platform::Files& files,
             platform::SettingsStore& settings, core::LineLog& log);
    // Stops the thread and waits for it.
    ~BootPush();
    BootPush(const BootPush&) = delete;
    BootPush& operator=(const BootPush&) = delete;

    // When `xload.bin` lies in `workingFolder`: marks the driver setting
    // (machine value "DownloadSupport" under "SOFTWARE\rgdriverinfo": "NOK",
    // then "OK" once the push is about to start), stops a running push and
    // starts a new one. Nothing otherwise. A loader above 65535 bytes is
    // refused whole.
    void Start(const std::filesystem::path& workingFolder);
    // Clears the run flag and waits for the thread to end.
    void Stop();
    // True from Start until the thread ends (stopped, or the loader unreadable).
    bool Running() const;

private:
    void Push(std::filesystem::path loader);

    platform::DeviceEnumerator& devices_;
    platform::Clock& clock_;
    platform::Files& files_;
    platform::SettingsStore& settings_;
    core::LineLog& log_;
    std::atomic<bool> run_{false};
    std::atomic<bool> alive_{false};
    std::thread thread_;
};

}  // namespace firmora::modeswitch
