#include "app/flash_form.h"

#include <utility>

#include "app/window_settings.h"
#include "package/project_table.h"

namespace firmora::app {
namespace {

constexpr const char* kSupportDashes =
    "--------------------------------------------------------------------------------------------------";
constexpr const char* kJapaneseCloseQuestion = "ダウンロード実行中です。終了しますか？";

void MarkPort(BusyPorts& ports, int number, bool busy) {
    if (number >= 1 && number <= kHighestPortNumber) ports[static_cast<size_t>(number)] = busy;
}

}  // namespace

// --- The worker's callbacks: posted in the order the worker makes them ---

void TFlashSrcUiForm::QueuedView::StatusCallback(int slot, const std::string& text, int kind) {
    if (form_.onWorkerReport) form_.onWorkerReport(slot, text, kind);
    form_.queue_.Post([this, slot, text, kind] { form_.sink_.StatusCallback(slot, text, kind); });
}

void TFlashSrcUiForm::QueuedView::ErrorCallback(int slot, const std::string& text) {
    if (form_.onWorkerReport) form_.onWorkerReport(slot, text, core::kReportError);
    form_.queue_.Post([this, slot, text] { form_.sink_.ErrorCallback(slot, text); });
}

void TFlashSrcUiForm::QueuedView::SetGaugeMax(int slot, int maximum) {
    form_.queue_.Post([this, slot, maximum] { form_.sink_.SetGaugeMax(slot, maximum); });
}

void TFlashSrcUiForm::QueuedView::SetGaugePosition(int slot, int position) {
    form_.queue_.Post([this, slot, position] { form_.sink_.SetGaugePosition(slot, position); });
}

// --- Construction and destruction ---

TFlashSrcUiForm::TFlashSrcUiForm(FormServices services, package::DownloadOptions options, RunPackage package,
                                 DeviceChecks checks, ReadinessLoop* readiness)
    : services_(services),
      options_(std::move(options)),
      package_(std::move(package)),
      checks_(std::move(checks)),
      readiness_(readiness),
      log_(services_.clock, services_.paths),
      sink_(services_.clock, log_) {
    sink_.onLine = [this](const std::string& text, int kind, const std::string&) { HandleLine(text, kind); };
    sink_.onGauge = [this](int maximum, int position) {
        Control& gauge = Gauge();
        gauge.maximum = maximum;
        gauge.progress = position;
    };
    const bool alternate = AlternateStartImages();
    controls_.Image_start0.visible = !alternate;
    controls_.Image_start0_0.visible = alternate;
    controls_.StartButton.enabled = false;
    RefreshStartImages();
    FillSelectors();
    services_.devices.SetChangeHandler([this](const platform::DeviceChangeEvent& event) { OnDeviceChange(event); });
}

TFlashSrcUiForm::~TFlashSrcUiForm() {
    services_.devices.SetChangeHandler(nullptr);
    StopAndWaitForWorkers();
}

void TFlashSrcUiForm::StopAndWaitForWorkers() {
    // Every worker is told first, so they wind down together; then each is
    // waited for (its destructor joins the thread).
    for (auto& worker : slots_) {
        if (worker) worker->Stop();
    }
    for (auto& worker : slots_) worker.reset();
    diagBusy_.fill(false);
    atBusy_.fill(false);
}

void TFlashSrcUiForm::FlashDestroy() {
    if (destroyed_) return;
    destroyed_ = true;
    StopAndWaitForWorkers();
    // The workers' last lines belong in the run log.
    queue_.Drain();
    const PortSelectors selectors = Selectors();
    WritePortChoices(services_.settings, selectors.PortCBox.Text(), selectors.SerialPortCBox.Text());
    services_.settings.WriteString(platform::SettingsScope::User, std::string(kWindowSettingsKey), "Image File Folder",
                                   package_.packageFolder.string());
}

void TFlashSrcUiForm::ShowReadiness(const package::ReadinessDecision& decision) {
    // A decision that comes in after a run began must neither offer Start
    // nor put "Ready" over the run's own status.
    const bool running = AnySlotOccupied();
    if (!running) {
        Control& label = controls_.Label_status;
        label.text = decision.status;
        label.font = decision.japaneseFont ? JapaneseFont() : Font{};
    }
    controls_.StartButton.enabled = decision.ready && !running;
    RefreshStartImages();
    if (decision.versionLabel) controls_.Label_version.text = *decision.versionLabel;
    if (decision.nextEnabled) controls_.Label21.enabled = *decision.nextEnabled;
    if (decision.stopStartTimer) controls_.Timer1.enabled = false;
    if (!decision.refusal.empty()) {
        services_.dialogs.ShowMessage(package::kWarningCaption, decision.refusal, platform::DialogButtons::Ok,
                                      platform::DialogIcon::Warning);
    }
}

void TFlashSrcUiForm::UsePackage(package::DownloadOptions options, RunPackage package) {
    options_ = std::move(options);
    package_ = std::move(package);
    controls_.Frame.caption = options_.Caption;
    controls_.Label_title.text = options_.Caption;
    controls_.ImageFolderEdit.text = package_.packageFolder.string();
}

// --- Start and Re-update ---

void TFlashSrcUiForm::StartClick() { BeginRun(Entry::Start); }

void TFlashSrcUiForm::Reupdate1Click() { BeginRun(Entry::Reupdate); }

bool TFlashSrcUiForm::BeginRun(Entry entry) {
    // One run at a time, and a refused press must not scan (and so probe)
    // the ports the running worker holds, nor take Stop from its run.
    if (SlotOccupied(0)) return false;
    const int project = options_.ProjectIndex;
    if (entry == Entry::Start) {
        if (!log_.IsOpen()) log_.Open(options_.Caption, project);
        ReportLine(kWindowVersionLine, core::kReportTrace);
        if (IsJapaneseProduct(project)) {
            if (project == package::kProjectDI79_21 && !(checks_.softwareVersion && checks_.softwareVersion())) {
                log_.Close();
                return false;
            }
            if (!(checks_.confirmStart && checks_.confirmStart())) {
                if (project == package::kProjectDI79_21) EndApplication();
                return false;
            }
        }
        backupDone_ = false;
        reupdateMode_ = false;
        if (project == package::kProjectZP200_EA || HasVariant()) controls_.Timer1.enabled = false;
    } else {
        backupDone_ = true;
        reupdateMode_ = true;
        const std::string status = ReadDownloadStatus(services_.settings);
        if (NothingToResume(status)) {
            ReportLine("Status was wrong", core::kReportError);
        } else {
            ClearFinishedSteps(status, options_);
        }
        if (package_.verifyImages) package_.images = package_.verifyImages();
        if (!log_.IsOpen()) log_.Open(options_.Caption, project);
    }

    controls_.DownloadInfoMemo.text.clear();
    controls_.StartButton.enabled = false;
    controls_.StopButton.enabled = true;
    RefreshStartImages();

    if (readiness_ != nullptr) readiness_->Stop();
    services_.clock.Sleep(500);
    ReleaseReadinessPort(entry == Entry::Start ? "26" : "25");

    controls_.Image_progress.visible = false;
    controls_.Image_gif.visible = true;
    ReportLine("Check......", core::kReportTrace);
    ScanPorts();
    if (entry == Entry::Start && !DeviceChecksPass()) {
        log_.Close();
        log_.DeleteAfterSuccess();
        EndApplication();
        return false;
    }
    ReportLine("Check......completely", core::kReportTrace);
    if (!ValidateAndLaunch()) {
        ShowRunRefused();
        return false;
    }
    ShowRunStarted();
    return true;
}

void TFlashSrcUiForm::ReleaseReadinessPort(const char* place) {
    const std::string at = std::string("-") + place;
    for (int attempt = 0; attempt < 10; ++attempt) {
        services_.clock.Sleep(500);
        if (readiness_ == nullptr || !readiness_->AtPortOpen()) {
            ReportLine("com null" + at, core::kReportTrace);
            return;
        }
        ReportLine("com not null" + at, core::kReportTrace);
        if (readiness_->CloseAtPort()) {
            ReportLine("close com" + at, core::kReportTrace);
            return;
        }
        ReportLine("Warning" + at, core::kReportTrace);
        services_.clock.Sleep(100);
    }
}

bool TFlashSrcUiForm::ChecksVersionAtStart() const {
    const int project = options_.ProjectIndex;
    return project == package::kProjectZO71_11 || project == package::kProjectZI71_15 ||
           project == package::kProjectZP200_EA || HasVariant();
}

bool TFlashSrcUiForm::ChecksBoardAtStart() const {
    const std::string& name = options_.Name;
    return !ChecksVersionAtStart() && (name == "ZT72" || name == "ZT73" || name == "ZT6711" || name == "ZT6718");
}

bool TFlashSrcUiForm::StartChecksTheDevice() const {
    return ChecksVersionAtStart() || ChecksBoardAtStart() || options_.ProjectIndex == package::kProjectDI79_21;
}

bool TFlashSrcUiForm::DeviceChecksPass() {
    // A check the product needs but nobody plugged in fails: a run never
    // goes ahead on a check that was not made.
    auto pass = [](const std::function<bool()>& check) { return check && check(); };
    if (ChecksVersionAtStart()) return pass(checks_.softwareVersion);
    if (ChecksBoardAtStart()) return pass(checks_.dualPackage);
    return true;
}

bool TFlashSrcUiForm::ValidateAndLaunch() {
    Validation v;
    {
        std::lock_guard lock(selectorMutex_);
        v = ValidateRun({.options = options_,
                         .reupdateMode = reupdateMode_,
                         .imageListEmpty = package_.images.empty(),
                         .diag = selectors_.PortCBox,
                         .app = selectors_.AppPortCBox,
                         .at = selectors_.SerialPortCBox,
                         .diagBusy = diagBusy_,
                         .atBusy = atBusy_});
    }
    if (v.outcome == Validation::Outcome::Refused) {
        if (v.showFailureStatus) ShowRunRefused();
        services_.dialogs.ShowMessage(v.caption, v.text, platform::DialogButtons::Ok, platform::DialogIcon::Warning);
    }
    if (!v.ok()) return false;
    Launch(0, v.ports, {*this, services_.devices, services_.serialPorts, view_});
    return true;
}

void TFlashSrcUiForm::BeginDeviceWorkers() {
    // Each device keeps a run log of its own; the window's would only hold
    // these lines and, never seeing a PASS, would stay behind.
    if (readiness_ != nullptr) readiness_->Stop();
    ReleaseReadinessPort("26");
    backupDone_ = false;
    reupdateMode_ = false;
}

bool TFlashSrcUiForm::LaunchDeviceWorker(int slot, const RunPorts& ports, const DeviceWorkerSeams& seams) {
    if (slot < 0 || slot >= kSlotCount || SlotOccupied(slot) || DiagPortBusy(ports.diag) || AtPortBusy(ports.at)) {
        return false;
    }
    Launch(slot, ports, seams);
    ShowRunStarted();
    return true;
}

void TFlashSrcUiForm::StopAllWorkers() {
    ReportLine("Shutting down COMM...", core::kReportTrace);
    for (auto& worker : slots_) {
        if (worker) worker->Stop();
    }
}

void TFlashSrcUiForm::Launch(int slot, const RunPorts& ports, const DeviceWorkerSeams& seams) {
    MarkPort(diagBusy_, ports.diag, true);
    MarkPort(atBusy_, ports.at, true);
    Control& gauge = Gauge();
    gauge.progress = 0;
    gauge.handCursor = true;
    controls_.StartButton.enabled = false;
    controls_.StopButton.enabled = true;
    controls_.GroupBox3.enabled = false;
    controls_.lvFileList.enabled = false;
    ReportLine("Syncing......", core::kReportTrace);

    engine::WorkerSettings settings;
    settings.options = options_;
    settings.slot = slot;
    settings.diagPort = ports.diag;
    settings.atPort = ports.at;
    settings.packageFolder = package_.packageFolder;
    settings.workingFolder = package_.workingFolder;
    settings.backupRoot = package_.backupFolder;
    settings.totalImageSize = TotalImageSize();
    auto worker = std::make_unique<engine::TCommsThread>(
        engine::WorkerServices{services_.clock, seams.serialPorts, seams.devices, services_.usbBulk,
                               services_.processes, services_.dialogs, services_.settings, services_.files,
                               services_.nvTables, seams.window, seams.view},
        std::move(settings));
    engine::TCommsThread* raw = worker.get();
    // Through the queue, after every line the worker reported.
    worker->SetOnTerminate([this, slot, raw] { queue_.Post([this, slot, raw] { OnWorkerTerminated(slot, raw); }); });
    slots_[static_cast<size_t>(slot)] = std::move(worker);
    slotPorts_[static_cast<size_t>(slot)] = ports;
    controls_.Image_gif.visible = true;
    raw->Resume();
}

void TFlashSrcUiForm::ShowRunStarted() {
    const bool japaneseWindow = IsJapaneseProduct(options_.ProjectIndex) || options_.Language == 1;
    SetStatusLabel(" Upgrading...", "アップデートしています", japaneseWindow, Colour::Black);
}

void TFlashSrcUiForm::ShowRunRefused() {
    controls_.StartButton.enabled = true;
    controls_.StopButton.enabled = false;
    RefreshStartImages();
    controls_.Image_gif.visible = false;
    controls_.Image_progress.visible = true;
    SetStatusLabel(" Upgrade failure", "アップデートに失敗しました", IsJapaneseProduct(options_.ProjectIndex), Colour::Red);
}

void TFlashSrcUiForm::SetStatusLabel(const std::string& english, const std::string& japanese, bool japaneseText,
                                     Colour colour) {
    Control& label = controls_.Label_status;
    label.text = japaneseText ? japanese : english;
    if (japaneseText) label.font = JapaneseFont();
    label.colour = colour;
}

void TFlashSrcUiForm::StopClick() {
    ReportLine("Shutting down COMM...", core::kReportTrace);
    if (slots_[0]) slots_[0]->Stop();
}

// --- Report lines ---

void TFlashSrcUiForm::ReportLine(const std::string& text, int kind) { sink_.ReportLine(text, kind); }

void TFlashSrcUiForm::HandleLine(const std::string& text, int kind) {
    if (IsMilestone(text)) {
        WriteDownloadStatus(services_.settings, text);
        if (text == "Backup succssfully") backupDone_ = true;
    }
    if (kind == core::kReportSuccess) {
        controls_.Reupdate1.visible = false;
        log_.DeleteAfterSuccess();
    } else if (kind == core::kReportError) {
        if (backupDone_ && !reupdateMode_) controls_.Reupdate1.visible = true;
        WriteSupportText();
        log_.Close();
    }
    if (kind == core::kReportError || kind == core::kReportSuccess) {
        ShowResultPage(kind);
    } else if (kind == core::kReportInfo) {
        controls_.Label_status.colour = Colour::Black;
    }
    if (onReportLine) onReportLine(text, kind);
}

std::string TFlashSrcUiForm::SupportSentence() const {
    if (IsJapaneseProduct(options_.ProjectIndex)) {
        return "Please try plug in USB cable to upgrade again, if it fails please contact the Operator.";
    }
    if (options_.ProjectIndex == package::kProjectZP200_EA || HasVariant()) {
        return "Please try plug in USB cable to upgrade again, if it fails please contact the Operator's customer center.";
    }
    return "Please try plug in USB cable to upgrade again, if it fails please contact us.";
}

void TFlashSrcUiForm::WriteSupportText() {
    for (const std::string& line :
         {std::string("\r\n"), std::string(kSupportDashes), SupportSentence(),
          std::string("We will reply to you as soon as possible and resolve the issue."),
          std::string("To cause any inconvenience to your understanding."), std::string(kSupportDashes)}) {
        log_.WriteLine(line);
    }
}

// --- The end of a run ---

void TFlashSrcUiForm::OnWorkerTerminated(int slot, engine::TCommsThread* worker) {
    std::unique_ptr<engine::TCommsThread>& held = slots_[static_cast<size_t>(slot)];
    if (held.get() != worker) return;  // already replaced or destroyed
    endedBackupFolders_[static_cast<size_t>(slot)] = worker->BackupFolder();
    held.reset();                      // its body has returned; this joins the thread
    MarkPort(diagBusy_, slotPorts_[static_cast<size_t>(slot)].diag, false);
    MarkPort(atBusy_, slotPorts_[static_cast<size_t>(slot)].at, false);
    WindowControls& c = controls_;
    c.StopButton.enabled = false;
    c.Image_close0.visible = true;
    const int project = options_.ProjectIndex;
    if (project == package::kProjectZP200 || project == package::kProjectZP200_EA || HasVariant()) {
        c.CloseButton.enabled = true;
    }
    EndOfRunStartImages();
    c.Image_gif.visible = false;
    c.Image_progress.visible = false;
    if (!c.StopButton.enabled) {
        c.GroupBox3.enabled = true;
        c.lvFileList.enabled = true;
    }
    Gauge().handCursor = false;
}

void TFlashSrcUiForm::RefreshStartImages() {
    Control& start = AlternateStartImages() ? controls_.Image_start0_0 : controls_.Image_start0;
    start.pictureIndex = controls_.StartButton.enabled ? 0 : 3;
    if (controls_.CloseButton.enabled) controls_.Image_finish0.pictureIndex = 0;
}

void TFlashSrcUiForm::EndOfRunStartImages() {
    WindowControls& c = controls_;
    const int project = options_.ProjectIndex;
    if (project == package::kProjectRA66_51) {
        c.Image_start0_0.visible = false;
        c.Image_finish0.pictureIndex = 3;
    } else if (project == package::kProjectZP200) {
        c.Image_start0_0.visible = false;
        c.Image_finish0.pictureIndex = 0;
    } else if (project == package::kProjectZP200_EA || HasVariant()) {
        c.Image_start0_0.visible = false;
        c.Image_finish0.pictureIndex = 0;
        c.Label_warning_start_japanese.visible = false;
    } else if (IsJapaneseProduct(project) || options_.Language == 1) {
        c.Image_start0_0.pictureIndex = 3;
    } else {
        c.Image_start0.pictureIndex = 3;
    }
}

// --- Closing ---

bool TFlashSrcUiForm::ConfirmJapaneseClose() {
    return services_.dialogs.ShowMessage(JapaneseToolCaption(options_.ProjectIndex), kJapaneseCloseQuestion,
                                         platform::DialogButtons::YesNo,
                                         platform::DialogIcon::Question) == platform::DialogAnswer::Yes;
}

bool TFlashSrcUiForm::FormCloseQuery() {
    if (!AnySlotOccupied()) return true;
    if (IsJapaneseProduct(options_.ProjectIndex)) return ConfirmJapaneseClose();
    return services_.dialogs.ShowMessage("警告", "アップデート中は終了することはできません。",
                                         platform::DialogButtons::OkCancel,
                                         platform::DialogIcon::Warning) == platform::DialogAnswer::Ok;
}

void TFlashSrcUiForm::RequestClose() {
    if (!FormCloseQuery()) return;
    closeRequested_ = true;
    // The workers read this window: they end before it goes.
    FlashDestroy();
    if (onCloseRequested) onCloseRequested();
}

void TFlashSrcUiForm::FinishButtonClick() {
    if (AnySlotOccupied()) {
        const bool close =
            IsJapaneseProduct(options_.ProjectIndex)
                ? ConfirmJapaneseClose()
                : services_.dialogs.ShowMessage("Close", "There are tasks still downloading, do you want to terminate?",
                                                platform::DialogButtons::OkCancel,
                                                platform::DialogIcon::Question) == platform::DialogAnswer::Ok;
        if (close) RequestClose();
        return;
    }
    if (readiness_ != nullptr) readiness_->Stop();
    services_.clock.Sleep(200);
    RequestClose();
}

void TFlashSrcUiForm::CloseButtonClick() {
    if (AnySlotOccupied()) {
        if (IsJapaneseProduct(options_.ProjectIndex) && ConfirmJapaneseClose()) RequestClose();
        return;
    }
    if (readiness_ != nullptr) readiness_->Stop();
    services_.clock.Sleep(200);
    RequestClose();
}

void TFlashSrcUiForm::EndApplication() {
    applicationEnding_ = true;
    closeRequested_ = true;
    FlashDestroy();
    if (onCloseRequested) onCloseRequested();
}

// --- Device changes (any thread) ---

void TFlashSrcUiForm::OnDeviceChange(const platform::DeviceChangeEvent& event) {
    changeFlags_.changeSeen.store(1);
    if (event.change == platform::DeviceChange::Arrival) changeFlags_.arrivalSeen.store(1);
    const bool watchesRemoval = IsJapaneseProduct(options_.ProjectIndex) || options_.bCheckProjectCode;
    if (watchesRemoval && event.change == platform::DeviceChange::Removal && event.isPort) {
        queue_.Post([this] {
            if (!AnySlotOccupied() && readiness_ != nullptr) readiness_->Start();
        });
    }
}

// --- The port selectors, read by the worker too ---

void TFlashSrcUiForm::FillSelectors() {
    const link::PortMap ports = services_.discovery.Ports();
    std::lock_guard lock(selectorMutex_);
    selectors_.PortCBox.SetItems(ports.diag);
    selectors_.AppPortCBox.SetItems(ports.app);
    selectors_.SerialPortCBox.SetItems(ports.at);
}

PortSelectors TFlashSrcUiForm::Selectors() const {
    std::lock_guard lock(selectorMutex_);
    return selectors_;
}

void TFlashSrcUiForm::SelectPorts(int diagPort, int atPort) {
    std::lock_guard lock(selectorMutex_);
    auto select = [](Selector& selector, int number) {
        for (size_t i = 0; i < selector.items.size(); ++i) {
            if (SelectorPortNumber(selector.items[i]) == number) selector.itemIndex = static_cast<int>(i);
        }
    };
    select(selectors_.PortCBox, diagPort);
    select(selectors_.SerialPortCBox, atPort);
}

std::string TFlashSrcUiForm::DiagPortSelector() {
    std::lock_guard lock(selectorMutex_);
    return selectors_.PortCBox.Text();
}

std::string TFlashSrcUiForm::AtPortSelector() {
    std::lock_guard lock(selectorMutex_);
    return selectors_.SerialPortCBox.Text();
}

bool TFlashSrcUiForm::ScanPorts() {
    const bool found = services_.discovery.ScanPorts();
    FillSelectors();
    return found;
}

bool TFlashSrcUiForm::CheckDiagPort(int portNumber) { return services_.discovery.CheckDiagPort(portNumber); }

void TFlashSrcUiForm::ShowVersion(const std::string& text) {
    queue_.Post([this, text] { controls_.Label_version.text = text; });
}

bool TFlashSrcUiForm::D1Sent() { return services_.discovery.D1Sent(); }

// --- State ---

bool TFlashSrcUiForm::SlotOccupied(int slot) const {
    return slot >= 0 && slot < kSlotCount && slots_[static_cast<size_t>(slot)] != nullptr;
}

const engine::TCommsThread* TFlashSrcUiForm::Worker(int slot) const {
    return SlotOccupied(slot) ? slots_[static_cast<size_t>(slot)].get() : nullptr;
}

const std::filesystem::path& TFlashSrcUiForm::EndedBackupFolder(int slot) const {
    static const std::filesystem::path none;
    return slot >= 0 && slot < kSlotCount ? endedBackupFolders_[static_cast<size_t>(slot)] : none;
}

bool TFlashSrcUiForm::AnySlotOccupied() const {
    for (const auto& worker : slots_) {
        if (worker) return true;
    }
    return false;
}

bool TFlashSrcUiForm::DiagPortBusy(int port) const {
    return port >= 1 && port <= kHighestPortNumber && diagBusy_[static_cast<size_t>(port)];
}

bool TFlashSrcUiForm::AtPortBusy(int port) const {
    return port >= 1 && port <= kHighestPortNumber && atBusy_[static_cast<size_t>(port)];
}

bool TFlashSrcUiForm::AlternateStartImages() const {
    const int p = options_.ProjectIndex;
    return p == package::kProjectRA66_51 || p == package::kProjectZP200 || IsJapaneseProduct(p) ||
           p == package::kProjectZP200_EA || HasVariant() || options_.Language == 1;
}

bool TFlashSrcUiForm::HasVariant() const {
    return options_.ProjectIndex == package::kProjectRE78_51 &&
           options_.VersionVariant != package::VersionVariantKind::None;
}

Control& TFlashSrcUiForm::Gauge() {
    // The compact layout has a small gauge of its own.
    return options_.ProjectIndex == package::kProjectZQ65_Custom ? controls_.CGauge1 : controls_.ProgressBar;
}

uint64_t TFlashSrcUiForm::TotalImageSize() const {
    uint64_t total = 0;
    for (const PackageImage& image : package_.images) total += image.size;
    return total;
}

}  // namespace firmora::app
