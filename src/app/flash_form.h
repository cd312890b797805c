#pragma once
// TFlashSrcUiForm: the main window as a toolkit-neutral model. It holds the
// controls as data (WindowControls) and runs one update at a time: Start and
// Re-update check the device and the selection, create the worker
// (TCommsThread) in slot 0 and let it run; the worker's lines come back
// through the report queue and are handled on the window's thread
// (milestones, the support text, the result page); the termination handler
// frees the slot. A front end draws the controls, forwards its events to the
// handlers below and drains the queue on its own thread.
//
// The window owns what its workers read: closing or destroying it stops
// every worker and waits for it first.

#include <array>
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "app/report_queue.h"
#include "app/report_sink.h"
#include "app/run_log.h"
#include "app/run_plugins.h"
#include "app/run_validation.h"
#include "app/window_controls.h"
#include "core/reporter.h"
#include "engine/comms_thread.h"
#include "engine/run_view.h"
#include "engine/worker_window.h"
#include "link/port_discovery.h"
#include "package/device_matching.h"
#include "package/download_options.h"
#include "platform/paths.h"
#include "preserve/nv_tables.h"

namespace firmora::app {

// The seams a window runs over; all outlive it.
struct FormServices {
    platform::Clock& clock;
    platform::SerialPorts& serialPorts;
    platform::DeviceEnumerator& devices;
    platform::UsbBulk& usbBulk;
    platform::Processes& processes;
    platform::Dialogs& dialogs;
    platform::SettingsStore& settings;
    platform::Files& files;
    platform::Paths& paths;
    const preserve::ProductNvTables& nvTables;
    link::PortDiscovery& discovery;
};

// The version line the window writes into a new run log.
inline constexpr const char* kWindowVersionLine = "1.3.5.0";

class TFlashSrcUiForm final : public engine::WorkerWindow {
public:
    static constexpr int kSlotCount = ReportSink::kSlotCount;

    // Takes the enumerator's change notifications until it is destroyed.
    TFlashSrcUiForm(FormServices services, package::DownloadOptions options, RunPackage package,
                    DeviceChecks checks = {}, ReadinessLoop* readiness = nullptr);
    // Stops every worker and waits for it.
    ~TFlashSrcUiForm() override;
    TFlashSrcUiForm(const TFlashSrcUiForm&) = delete;
    TFlashSrcUiForm& operator=(const TFlashSrcUiForm&) = delete;

    // --- Handlers (the window's thread) ---
    void StartClick();
    void Reupdate1Click();
    void StopClick();

    // The seams of one worker among several at once (the command line's
    // --all): the device's own window, whose selectors and rescans see only
    // that device, its own view of the devices and serial ports, and where
    // its lines go (called on the worker's thread).
    struct DeviceWorkerSeams {
        engine::WorkerWindow& window;
        platform::DeviceEnumerator& devices;
        platform::SerialPorts& serialPorts;
        engine::RunView& view;
    };
    // Before the devices are scanned for LaunchDeviceWorker: stops the
    // readiness loop (it would probe the same ports).
    void BeginDeviceWorkers();
    // Launches a worker for one of several devices in `slot` on `ports`,
    // with the window's package and options. Refused (false) when the slot is in use or a running
    // worker holds the Diag or AT port; the ports stay marked busy until the
    // worker's end has been handled. Start and Re-update keep to one device.
    bool LaunchDeviceWorker(int slot, const RunPorts& ports, const DeviceWorkerSeams& seams);
    // Asks every running worker to stop; nothing is waited for.
    void StopAllWorkers();
    // Asked before the window closes: false keeps it open.
    bool FormCloseQuery();
    // The finish and close picture buttons.
    void FinishButtonClick();
    void CloseButtonClick();

    // --- The window's own wizard and ways out (the window's thread) ---
    // Next (Label21): the page after the press, by WizardStep, which counts
    // every press: the device check; then the refusal when the device's
    // revision family does not fit the package, else nothing visible; then
    // the updating page and Start.
    void nextButtonClick();
    int WizardStep() const { return wizardStep_; }
    // Cancel (Label20): asks first; Yes runs the closing sequence.
    void Label20Click();
    // Finish (Label16, also the click area Label18 over the close picture).
    void Label16Click();
    // The close picture: the closing sequence, then the close button's
    // handling when the window stayed open.
    void Image7Click();
    // The minimise control: the press shows its pressed picture, the release
    // its idle one again and then minimises (onMinimise).
    void Image_min0MouseDown();
    void Image_min0MouseUp();
    // Dragging the window by its background picture (screen coordinates):
    // the window follows the cursor's travel since the press. Every move
    // refreshes the Start and Finish pictures first.
    void Image_BigMouseDown(Position cursorOnScreen);
    void Image_BigMouseMove(Position cursorOnScreen);
    void Image_BigMouseUp();
    // The compact layouts' success and failure buttons: the application ends at once.
    void SpeedButton1Click();
    void SpeedButton2Click();
    // Picture buttons of the other window styles: hover on the idle picture,
    // press and release on the hovered one, release on the idle one.
    void Image_start0MouseMove();
    void Image_start0MouseUp();
    void Image_start2MouseDown();
    void Image_start2MouseUp();
    void Image_start0_0MouseMove();
    void Image_start0_0MouseUp();
    void Image_start2_2MouseDown();
    void Image_start2_2MouseUp();
    void Image_finish0MouseMove();
    void Image_finish0MouseUp();
    void Image_finish2MouseDown();
    void Image_finish2MouseUp();
    // Ends every running process whose executable's file name contains
    // `text` (case-sensitive), except this program and the processes it
    // started; one that cannot be ended is left running.
    void EndProcessesContaining(const std::string& text);
    // The front end minimises the window.
    std::function<void()> onMinimise;
    // The front end processes its pending window messages (repaints the new
    // page before a long step).
    std::function<void()> onProcessMessages;
    // The window's single report sink (also for its own lines).
    void ReportLine(const std::string& text, int kind);
    // Window destruction: stops every worker and waits for it, then keeps
    // the port choices. Safe to call more than once.
    void FlashDestroy();
    // One readiness decision: the status label, Start (with its images),
    // the version label, Next, the refusal's box and the start timer.
    void ShowReadiness(const package::ReadinessDecision& decision);
    // Makes another variant of a dual package the one the run writes (the
    // board-type check at Start): its options, caption and folders.
    void UsePackage(package::DownloadOptions options, RunPackage package);

    // The worker threads' hand-over: drain it on the window's thread.
    ReportQueue& queue() { return queue_; }
    WindowControls& controls() { return controls_; }
    // A copy of the port selectors (the worker's scans rewrite them).
    PortSelectors Selectors() const;
    // Selects the entry "COM" + number in the Diag or AT selector when it is
    // listed (the last choices); otherwise entry 0 stays selected.
    void SelectPorts(int diagPort, int atPort);
    const WindowControls& controls() const { return controls_; }
    const package::DownloadOptions& options() const { return options_; }
    const RunPackage& package() const { return package_; }
    ReportSink& sink() { return sink_; }
    RunLog& runLog() { return log_; }

    // Whether Start checks the connected device itself before a run (its
    // software version or its board variant): a run that bypasses Start
    // cannot make these checks.
    bool StartChecksTheDevice() const;
    bool BackupDone() const { return backupDone_; }
    bool ReupdateMode() const { return reupdateMode_; }
    bool SlotOccupied(int slot) const;
    // The worker in a slot (null when empty), for the window's thread: its
    // run status and backup folder while it runs.
    const engine::TCommsThread* Worker(int slot) const;
    // The backup folder of the worker that ended last in a slot (empty when
    // it made none): where the device's data are kept after a failed run.
    const std::filesystem::path& EndedBackupFolder(int slot) const;
    bool AnySlotOccupied() const;
    bool DiagPortBusy(int port) const;
    bool AtPortBusy(int port) const;
    // Set when the window has asked to close (a confirmed close, or a
    // failed device check that ends the application).
    bool CloseRequested() const { return closeRequested_; }
    bool ApplicationEnding() const { return applicationEnding_; }
    // The window's close request: the front end closes (and destroys) it.
    std::function<void()> onCloseRequested;
    // Each report line once the window has handled it (the window's thread):
    // a front end shows it.
    std::function<void(const std::string& text, int kind)> onReportLine;
    // Each line of a worker as the worker makes it, on the worker's thread,
    // before it is queued (a test holds a worker at a chosen line here).
    std::function<void(int slot, const std::string& text, int kind)> onWorkerReport;

    // --- engine::WorkerWindow (the worker's thread) ---
    std::string DiagPortSelector() override;
    std::string AtPortSelector() override;
    core::DeviceChangeFlags& ChangeFlags() override { return changeFlags_; }
    bool ScanPorts() override;
    bool CheckDiagPort(int portNumber) override;
    void ShowVersion(const std::string& text) override;
    bool D1Sent() override;

private:
    // The worker's report callbacks, posted to the queue in order.
    class QueuedView final : public engine::RunView {
    public:
        explicit QueuedView(TFlashSrcUiForm& form) : form_(form) {}
        void StatusCallback(int slot, const std::string& text, int kind) override;
        void ErrorCallback(int slot, const std::string& text) override;
        void SetGaugeMax(int slot, int maximum) override;
        void SetGaugePosition(int slot, int position) override;

    private:
        TFlashSrcUiForm& form_;
    };

    enum class Entry { Start, Reupdate };
    bool BeginRun(Entry entry);
    void ReleaseReadinessPort(const char* place);
    bool DeviceChecksPass();
    bool ChecksVersionAtStart() const;
    bool ChecksBoardAtStart() const;
    bool ValidateAndLaunch();
    void Launch(int slot, const RunPorts& ports, const DeviceWorkerSeams& seams);
    void ShowRunStarted();
    void ShowRunRefused();
    void HandleLine(const std::string& text, int kind);
    void WriteSupportText();
    std::string SupportSentence() const;
    void ShowResultPage(int kind);
    void OnWorkerTerminated(int slot, engine::TCommsThread* worker);
    void OnDeviceChange(const platform::DeviceChangeEvent& event);
    void RefreshStartImages();
    void EndOfRunStartImages();
    // The wizard's pages and ways out (flash_form_wizard.cpp).
    void ShowPage(const std::string& heading, const std::string& line1, const std::string& line2);
    void ShowButtons(bool cancel, bool finish, bool next);
    void ClosingSequence();
    void ShowCompactResult(int kind);
    void ResizeAboutCentre(int width, int height);
    void ProcessMessages();
    void StartPictureMove(Control& set);
    void StartPictureDown(Control& set);
    void StartPictureUp(Control& set);
    void StartPictureIdleUp(Control& set);
    void SetStatusLabel(const std::string& english, const std::string& japanese, bool japaneseText, Colour colour);
    void FillSelectors();
    bool ConfirmJapaneseClose();
    void RequestClose();
    void EndApplication();
    void StopAndWaitForWorkers();
    bool AlternateStartImages() const;
    bool HasVariant() const;
    Control& Gauge();
    uint64_t TotalImageSize() const;

    FormServices services_;
    package::DownloadOptions options_;
    RunPackage package_;
    DeviceChecks checks_;
    ReadinessLoop* readiness_;

    WindowControls controls_;
    mutable std::mutex selectorMutex_;
    PortSelectors selectors_;
    RunLog log_;
    ReportSink sink_;
    ReportQueue queue_;
    QueuedView view_{*this};
    core::DeviceChangeFlags changeFlags_;

    std::array<std::unique_ptr<engine::TCommsThread>, kSlotCount> slots_;
    std::array<RunPorts, kSlotCount> slotPorts_{};
    BusyPorts diagBusy_{};
    BusyPorts atBusy_{};
    std::array<std::filesystem::path, kSlotCount> endedBackupFolders_;
    bool backupDone_ = false;
    bool reupdateMode_ = false;
    bool closeRequested_ = false;
    bool applicationEnding_ = false;
    bool destroyed_ = false;
    int wizardStep_ = 0;
    // The drag by the background picture: where the cursor and the window
    // were at the press.
    struct Drag {
        bool active = false;
        Position cursor;
        Position window;
    } drag_;
};

}  // namespace firmora::app
