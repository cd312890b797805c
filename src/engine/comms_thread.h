#pragma once
// TCommsThread: one update of one device on a thread of its own. It walks
// the update workflow once (library, AT channel, checks, start set, backup,
// reboot into the boot loader, the fastboot plan, the device's return and
// the re-found ports, the restores, the end set, closing, "PASS") and
// reports every step through its RunReporter. The worker is the only user of
// the device links during the run.
//
// Whoever owns the worker owns what it reads (the services and the window):
// the destructor stops the run and waits for the thread, so the worker can
// never outlive them.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "engine/run_reporter.h"
#include "engine/run_view.h"
#include "engine/worker_window.h"
#include "package/download_options.h"
#include "platform/clock.h"
#include "platform/device_enumerator.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/serial_ports.h"
#include "platform/settings_store.h"
#include "platform/usb_bulk.h"
#include "preserve/nv_tables.h"

namespace firmora::engine {

// The run's settings, copied into the worker when it is created.
struct WorkerSettings {
    package::DownloadOptions options;
    int slot = 0;                             // the window's worker slot, 0 to 7
    int diagPort = 0;                         // COM numbers; updated in place after a reset
    int atPort = 0;
    std::filesystem::path packageFolder;      // images and libraries of the package
    std::filesystem::path workingFolder;      // the package's programs and its Config.ini (TempFiles)
    std::filesystem::path backupRoot;         // per-device backup folders go below it
    uint64_t totalImageSize = 0;              // sets the progress scale
};

// The seams the worker runs over; all outlive it.
struct WorkerServices {
    platform::Clock& clock;
    platform::SerialPorts& serialPorts;
    platform::DeviceEnumerator& devices;
    platform::UsbBulk& usbBulk;
    platform::Processes& processes;
    platform::Dialogs& dialogs;
    platform::SettingsStore& settings;
    platform::Files& files;
    const preserve::ProductNvTables& nvTables;
    WorkerWindow& window;
    RunView& view;
};

class TCommsThread {
public:
    TCommsThread(WorkerServices services, WorkerSettings settings);
    // Stops the run and waits for the thread.
    ~TCommsThread();
    TCommsThread(const TCommsThread&) = delete;
    TCommsThread& operator=(const TCommsThread&) = delete;

    // Called on the worker's thread once Execute has returned (the window's
    // termination handler; a front end marshals it to its own thread).
    void SetOnTerminate(std::function<void()> handler);

    // Starts the thread (the worker is created suspended).
    void Resume();
    // The thread body: walks the workflow once. Tests may call it directly.
    void Execute();
    // The window's Stop: the run status becomes 210 unless a failure is recorded.
    void Stop();
    // Waits for the thread to end (no effect when it never started).
    void WaitFor();

    int32_t RunStatus() const { return reporter_.RunStatus(); }
    // True once "PASS" was reported.
    bool Passed() const { return passed_.load(); }
    // The device backup folder of this run (empty until the backup made it);
    // read it once the run has ended.
    const std::filesystem::path& BackupFolder() const { return backupFolder_; }
    // The run's settings; the port numbers change when a reset moved the
    // ports, so read them once the run has ended.
    const WorkerSettings& Settings() const { return settings_; }

private:
    WorkerServices services_;
    WorkerSettings settings_;
    RunReporter reporter_;
    std::function<void()> onTerminate_;
    std::filesystem::path backupFolder_;
    std::atomic<bool> passed_{false};
    std::thread thread_;
};

}  // namespace firmora::engine
