#pragma once
// The readiness loop: while the window waits for Start, a thread of its own
// checks every two seconds whether a device is there and whether it may
// receive the package, and shows "Ready" (Start enabled) or "Not Ready"
// with the reason it was refused.
//
// The loop is stopped cooperatively before a run touches the device: Stop
// clears the loop's flag and waits for its thread, every pause runs in
// slices that look at the flag, and once the flag is cleared the loop shows
// nothing more, starts no program and begins no scan. A port scan that has
// begun is finished first (it is bounded by the AT probes' time-outs).

#include <atomic>
#include <filesystem>
#include <mutex>
#include <thread>

#include "core/line_log.h"
#include "link/port_discovery.h"
#include "package/device_interrogation.h"
#include "package/device_matching.h"
#include "package/download_options.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/processes.h"

namespace firmora::package {

// The window as the loop sees it.
class ReadinessView {
public:
    // Shows one decision: the status label, Start's enabled state (with
    // the start images), the version label and Next when given, the
    // refusal's box ("Warning") and the start timer. Runs on the loop's
    // thread, so it only hands the decision to the window's thread: it must
    // neither wait for an answer nor call the loop's Start or Stop.
    virtual void ShowReadiness(const ReadinessDecision& decision) = 0;
    // True while a worker slot is occupied: the loop then leaves every port
    // alone (it is restarted only when all slots are empty).
    virtual bool RunActive() = 0;

protected:
    ~ReadinessView() = default;
};

// What the loop works with; all outlive it.
struct ReadinessServices {
    link::PortDiscovery& discovery;        // the full scan rewrites the selectors
    DeviceInterrogation& interrogation;    // the readings of the scan's AT probe
    platform::Processes& processes;
    platform::Clock& clock;
    platform::Files& files;
    core::LineLog& log;
};

// The package the loop matches against, copied at each start.
struct ReadinessSettings {
    DownloadOptions options;
    SecondVariant second;
    std::filesystem::path workingFolder;  // holds the mode-switch program
    std::filesystem::path imageFolder;    // holds the driver installer and its Config.ini
};

class ReadinessLoop {
public:
    static constexpr uint32_t kPassPauseMs = 2000;
    static constexpr uint32_t kRestartPauseMs = 500;
    static constexpr uint32_t kDriverPauseMs = 3000;
    // Pauses look at the stop flag this often.
    static constexpr uint32_t kPauseSliceMs = 200;

    enum class PassEnd { Continue, End, Stopped };

    ReadinessLoop(ReadinessServices services, ReadinessView& view);
    // Stops the thread and waits for it.
    ~ReadinessLoop();
    ReadinessLoop(const ReadinessLoop&) = delete;
    ReadinessLoop& operator=(const ReadinessLoop&) = delete;

    // Ends a running loop (and waits for it), pauses 500 ms and starts a
    // new one on `settings`.
    void Start(ReadinessSettings settings);
    // Sets the package for CheckReadiness on the calling thread; only while
    // no loop runs.
    void UseSettings(ReadinessSettings settings);
    // Asks the loop to stop and returns at once.
    void RequestStop();
    // Asks the loop to stop and waits until its thread has ended; from then
    // on it touches no port. Harmless when no loop runs.
    void Stop();
    // Whether a loop runs that has neither ended itself nor been stopped.
    bool Running() const;

    // One check on the calling thread: the mode switch when no port is
    // known, the full port scan, the rules, the driver step and the final
    // decision. End when the decision ends the loop; Stopped when a stop
    // was asked for before it decided.
    PassEnd CheckReadiness();

private:
    void Run();
    // Pauses in slices; false as soon as a stop is asked for.
    bool Pause(uint32_t ms);
    // Shows a decision unless a stop was asked for; false then.
    bool Show(const ReadinessDecision& decision);
    void WriteUninstallFlag(const std::string& value);
    bool DriverInstalled();

    ReadinessServices services_;
    ReadinessView& view_;
    ReadinessSettings settings_;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> running_{false};
    // Held while a decision is shown, so that no decision follows a Stop.
    std::mutex showMutex_;
};

}  // namespace firmora::package
