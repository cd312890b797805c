#include "engine/update_workflow.h"

#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include "download/adb_api.h"
#include "download/fastboot_client.h"
#include "download/fastboot_plan.h"
#include "download/plan_input.h"
#include "engine/device_backup.h"
#include "engine/port_rediscovery.h"
#include "engine/worker_links.h"
#include "link/fastboot_interface.h"
#include "link/qlib_api.h"
#include "modeswitch/command_sets.h"
#include "modeswitch/package_programs.h"
#include "package/device_interrogation.h"
#include "package/project_table.h"
#include "preserve/at_backup_file.h"
#include "preserve/at_parameters.h"
#include "preserve/diag_nv.h"
#include "preserve/efs_preservation.h"
#include "preserve/library_nv.h"
#include "preserve/nv_backup_file.h"

namespace firmora::engine {

namespace {

namespace fs = std::filesystem;

constexpr const char* kEfsFolder = "EFS";
constexpr const char* kCfunOffline = "AT+CFUN=5\r\n\r\n";
constexpr const char* kCfunOnline = "AT+CFUN=1\r\n\r\n";
constexpr const char* kRebootToBootloader = "at+syscmd=sys_reboot bootloader\r\n\r\n";
constexpr const char* kVersionQuery = "AT+CGMR\r\n\r\n";
// The bulk library's second file, which the package leaves in its working folder.
constexpr const char* kUsbLibraryCompanion = "AdbWinUsbApi.dll";

constexpr int kIdentityAttempts = 5;
constexpr uint32_t kIdentityPauseMs = 1000;
constexpr uint32_t kFolderSettleMs = 10;
constexpr uint32_t kLibraryConnectWaitMs = 2000;
constexpr int kBootloaderWaitSeconds = 120;
constexpr uint32_t kBootloaderSettleMs = 5000;
constexpr int kLeaveWaitSeconds = 15;
constexpr int kReturnWaitSeconds = 60;
constexpr int kPortScans = 50;
constexpr uint32_t kSwivletSettleMs = 5000;
constexpr uint32_t kSwivletRetryMs = 2000;
constexpr uint32_t kShortReopenPauseMs = 3000;
constexpr uint32_t kLongReopenPauseMs = 10000;
constexpr int kCfunAttempts = 60;
constexpr uint32_t kCfunRetryMs = 500;
// Before a reset command after the download: how long the device may take
// to come back from the boot loader's restart, and the opens tried then.
constexpr int kDiagReturnWaitSeconds = 60;
constexpr int kDiagOpenAttempts = 10;
constexpr uint32_t kDiagOpenPauseMs = 1000;

bool OneOf(int value, std::initializer_list<int> set) {
    for (int v : set) {
        if (v == value) return true;
    }
    return false;
}

bool InRange(int value, int low, int high) { return value >= low && value <= high; }

// Products whose NV items are kept over DIAG by the tool itself (CDMA and EVDO).
bool IsDiagNvProject(int index) { return OneOf(index, {35, 36, 37, 38, 39, 41, 48}); }

// Products that power off (rather than reset) after the download.
bool PowersOffAfterDownload(int index) { return OneOf(index, {0, 1, 2, 4, 6, 8, 9, 10, 14, 19, 20, 42}); }

// Products whose Diag port comes back quickly after a reset.
bool ReopensDiagQuickly(int index) {
    return OneOf(index, {3, 6, 12, 13, 48}) || InRange(index, 16, 34) || InRange(index, 36, 42);
}

class Workflow {
public:
    Workflow(WorkerServices& services, WorkerSettings& settings, RunReporter& reporter, fs::path& backupFolder)
        : services_(services),
          settings_(settings),
          options_(settings.options),
          reporter_(reporter),
          links_(services, settings, reporter),
          run_{services, settings, reporter, links_},
          atSession_{links_.at, links_.atCommands, services.clock, reporter, settings.options, services.files},
          backupFolder_(backupFolder) {}

    bool Run();

private:
    // Whether the run ends at once (the closing steps skipped).
    enum class Flow { Continue, EndNow };

    bool Healthy() const { return run_.Healthy(); }
    void Report(const std::string& text) { run_.Report(text); }
    void Fail(const std::string& text) { reporter_.ReportError(text); }
    int Project() const { return options_.ProjectIndex; }

    bool ModemOnly() const {
        return options_.bAMSSFile && !options_.bEFS && !options_.bRawAppsEFS && !options_.bPCSuite;
    }
    bool HasVariant() const { return options_.VersionVariant != package::VersionVariantKind::None; }
    bool VariantCase() const { return Project() == package::kProjectRE78_51 && HasVariant() && ModemOnly(); }
    bool ModemOnlySwitchProject() const { return ModemOnly() && (Project() == 20 || Project() == 29); }
    bool OpensAtChannel() const;
    bool RunsResetAndRestore() const;
    bool SendsResetCommand() const { return options_.bPhoneType || PowersOffAfterDownload(Project()); }
    // The steps before the download that talk DIAG on the worker's own channel.
    bool NeedsDiagBeforeDownload() const;

    // The diagnostic channel outside the re-open loops: open without a
    // report (the channel's own open line speaks of a reset).
    bool OpenDiagQuietly();
    bool EnsureDiagOpen();
    void CloseDiag(const char* warning) {
        if (links_.diag.IsOpen()) links_.diag.CloseChannel(warning);
    }
    void CloseAt(const char* warning) {
        if (links_.at.IsOpen()) links_.at.CloseChannel(warning);
    }

    preserve::NvSession NvSession() {
        return {links_.framer, services_.clock, reporter_, options_, services_.nvTables, services_.files,
                backupFolder_ / preserve::kNvBackupFileName};
    }
    preserve::EfsSession EfsSession() {
        return {links_.diagCommands, links_.framer, services_.clock, reporter_, services_.files};
    }

    Flow LoadLibrary();
    Flow BuildPlan();
    Flow OpenChannels();
    Flow CheckGpio();
    void CheckPlatform();
    Flow Backup();
    Flow MakeBackupFolder(const preserve::AtParameters& identity);
    void BackupNv();
    void BackupNvWithLibrary();
    Flow BackupUserData();
    void RecordBackup();
    void ApplyPartOfEfs();
    void RebootToBootloader();
    void WaitForBootloader();
    void Download();
    Flow ResetAndRestore();
    bool SendResetCommand();
    void RelearnPorts();
    void RestoreFromDiag();
    Flow RestoreThroughLibraryAndAt();
    void Close();
    void Finish();

    WorkerServices& services_;
    WorkerSettings& settings_;
    const package::DownloadOptions& options_;
    RunReporter& reporter_;
    WorkerLinks links_;
    RunContext run_;
    preserve::AtSession atSession_;
    fs::path& backupFolder_;

    link::QlibApi qlib_;
    download::PlanInput plan_;
    preserve::DiagNvState nvState_;
    preserve::AtParameters identity_;
    preserve::EfsUserData userData_;
    // The library's NV items of this run, from its backup to its restore.
    std::unique_ptr<preserve::NvSlots> nvSlots_;
    bool passed_ = false;
};

bool Workflow::OpensAtChannel() const {
    return options_.bBootloader || options_.bBackup || options_.bRestore || options_.bPCSuite ||
           !options_.StartATList.empty() || !options_.EndATList.empty() || ModemOnlySwitchProject() ||
           (Project() == package::kProjectRE78_51 && HasVariant());
}

bool Workflow::RunsResetAndRestore() const {
    return options_.bFastbootConfiguration || options_.bPCSuite || Project() == package::kProjectXK81_21 ||
           ModemOnlySwitchProject() || VariantCase();
}

bool Workflow::NeedsDiagBeforeDownload() const {
    const bool backup = options_.bBackup || options_.bBackupUserData;
    const bool diagNvBackup = backup && ChooseNvMechanism(options_) != NvMechanism::Library;
    return options_.PlatformName != 255 || diagNvBackup || options_.bBackupUserData || options_.bPartOfEFS;
}

bool Workflow::OpenDiagQuietly() {
    if (!links_.diag.Open(settings_.diagPort)) return false;
    links_.diag.ConfigureDiagChannel();
    return true;
}

bool Workflow::EnsureDiagOpen() {
    if (links_.diag.IsOpen()) return true;
    if (OpenDiagQuietly()) return true;
    Fail("Could not open the Diag port " + link::SerialChannel::DeviceName(settings_.diagPort));
    return false;
}

// The diagnostic library. One that cannot be loaded leaves nothing the run
// can do: the box tells the user, and the run ends as failed so that no
// caller takes the silence for success.
Workflow::Flow Workflow::LoadLibrary() {
    Report((settings_.packageFolder / link::QlibApi::kLibraryFileName).string());
    qlib_ = link::QlibApi::LoadOrWarn(settings_.packageFolder, services_.serialPorts, services_.clock,
                                      services_.files, services_.dialogs);
    if (qlib_.IsBound()) return Flow::Continue;
    Fail(link::QlibApi::kLoadFailedText);
    return Flow::EndNow;
}

// Every image, found and sized before the device is touched.
// The images are checked before the device is touched. A package that lacks
// one, or carries an empty one, ends the run at once: the device is not sent
// into its boot loader when nothing could be written there.
Workflow::Flow Workflow::BuildPlan() {
    download::PlanInputResult built = download::BuildPlanInput(options_, settings_.packageFolder);
    std::string problem = built.ok() ? download::EmptyImageProblem(built.input) : built.error;
    if (!problem.empty()) {
        Fail(problem);
        return Flow::EndNow;
    }
    plan_ = std::move(built.input);
    return Flow::Continue;
}

// The AT channel, and the diagnostic channel for the steps before the download.
Workflow::Flow Workflow::OpenChannels() {
    if (Healthy() && OpensAtChannel()) links_.at.OpenAtChannel(settings_.atPort);
    if (Healthy() && NeedsDiagBeforeDownload()) EnsureDiagOpen();
    return Flow::Continue;
}

// The board check, whatever came before: a package made for one board never
// runs on another.
Workflow::Flow Workflow::CheckGpio() {
    if (options_.strGPIO.empty()) return Flow::Continue;
    std::string reply;
    if (!links_.atCommands.AtQuery("AT+GPIOPRJT?\r\n\r\n", reply)) {
        Fail("Fail to Read GPIO");
    } else if (reply.find(options_.strGPIO) == std::string::npos) {
        Fail("GPIO is Not Macth");
    } else {
        return Flow::Continue;
    }
    links_.at.CloseOnce();
    return Flow::EndNow;
}

// The platform check: the chip code the package was made for.
void Workflow::CheckPlatform() {
    if (!Healthy() || options_.PlatformName == 255) return;
    Report("check platform start.");
    const std::optional<int> code = links_.diagCommands.QueryPlatformCode();
    if (code && *code == options_.PlatformName) {
        Report("check platform OK.");
        return;
    }
    Fail("Could not get platform type.");
    if (code) {
        services_.dialogs.ShowMessage("Warning", "Plantform type is not matched", platform::DialogButtons::Ok,
                                      platform::DialogIcon::Warning);
    }
}

std::string WithoutLongZeroRun(const preserve::AtParameter& parameter, const std::string& clean) {
    return parameter.read && clean.find("0000000000") == std::string::npos ? clean : std::string();
}

// The backup: identity, the folder, at.bak, the radio off, the NV items.
Workflow::Flow Workflow::Backup() {
    if (!Healthy() || !(options_.bBackup || options_.bBackupUserData)) return Flow::Continue;
    // A value the device does not have it refuses ("ERROR") and is not
    // kept; a query it leaves unanswered is a value the download would wipe
    // unsaved, so that read counts as failed.
    bool unanswered = false;
    for (int attempt = 1; attempt <= kIdentityAttempts; ++attempt) {
        const size_t silentBefore = links_.atCommands.UnansweredQueries();
        const bool read = preserve::ReadIdentity(atSession_, identity_);
        unanswered = links_.atCommands.UnansweredQueries() != silentBefore;
        if ((read && !unanswered) || !Healthy()) break;
        if (attempt < kIdentityAttempts && !run_.PauseUnlessStopped(kIdentityPauseMs)) break;
    }
    Report("Backup OK");
    if (!identity_.imei.read) Fail("[Dload] Fail to Read IMEI");
    if (!identity_.sn.read) Fail("[Dload] Fail to Read SN");
    if (!identity_.testInformation.read) Fail("[Dload] Fail to Read Testinf");
    if (unanswered) Fail("[Dload] The device did not answer every query of its data");
    if (!Healthy()) return Flow::Continue;

    if (MakeBackupFolder(identity_) == Flow::EndNow) return Flow::EndNow;
    preserve::WriteAtBackup(services_.files, identity_, Project(), backupFolder_ / kAtBackupFileName, reporter_);
    if (!Healthy()) return Flow::Continue;
    if (!links_.atCommands.AtQuery(kCfunOffline)) {
        Fail("Fail to Send Command!");
        links_.at.CloseOnce();
        return Flow::EndNow;
    }
    BackupNv();
    if (Healthy()) Report("Backup succssfully");
    return Flow::Continue;
}

std::string BackupFolderNameOf(const preserve::AtParameters& identity) {
    const std::string imei = identity.CleanImei();
    const std::string meid = identity.CleanMeid();
    const std::string keptImei = WithoutLongZeroRun(identity.imei, imei);
    const std::string keptMeid = WithoutLongZeroRun(identity.meid, meid);
    return BackupFolderName(identity.CleanSn(), keptImei.empty() ? nullptr : &keptImei,
                            keptMeid.empty() ? nullptr : &keptMeid);
}

// An earlier run for this device that did not pass left its backup under
// the same name, and it may be the only copy of what that run's download
// wiped: it is kept beside, as "<name>-1" (or the next free number).
bool KeepEarlierBackup(const fs::path& folder, fs::path& keptAs) {
    if (IsFreshBackupFolder(folder)) return true;
    constexpr int kMaxKeptBackups = 1000;
    for (int n = 1; n <= kMaxKeptBackups; ++n) {
        fs::path aside = folder;
        aside += "-" + std::to_string(n);
        std::error_code ec;
        if (fs::symlink_status(aside, ec).type() != fs::file_type::not_found) continue;
        fs::rename(folder, aside, ec);
        if (ec) return false;
        keptAs = aside;
        return true;
    }
    return false;
}

Workflow::Flow Workflow::MakeBackupFolder(const preserve::AtParameters& identity) {
    const fs::path folder = settings_.backupRoot / BackupFolderNameOf(identity);
    fs::path keptAs;
    if (!KeepEarlierBackup(folder, keptAs)) {
        Fail("Could not keep the earlier backup " + folder.string());
        return Flow::EndNow;
    }
    if (!keptAs.empty()) Report("The earlier backup of this device is kept as " + keptAs.string());
    if (!preserve::CreateFolderPath(reporter_, folder / kEfsFolder)) return Flow::EndNow;
    backupFolder_ = folder;
    services_.clock.Sleep(kFolderSettleMs);
    return Flow::Continue;
}

// The NV items, by the project's mechanism.
void Workflow::BackupNv() {
    switch (ChooseNvMechanism(options_)) {
        case NvMechanism::DiagVendor: {
            preserve::NvSession session = NvSession();
            preserve::DiagNvBackupVendor(session);
            break;
        }
        case NvMechanism::Diag: {
            preserve::NvSession session = NvSession();
            preserve::DiagNvBackup(session, nvState_);
            break;
        }
        case NvMechanism::Library:
            BackupNvWithLibrary();
            break;
    }
}

void Workflow::BackupNvWithLibrary() {
    const fs::path efsFolder = backupFolder_ / kEfsFolder;
    Report("QUALCOMM- " + efsFolder.string());
    // The library opens the Diag port itself: the two never share it.
    const bool reopen = links_.diag.IsOpen();
    CloseDiag("Warning-7");
    const link::QlibHandle handle = qlib_.ConnectServerWithWait(settings_.diagPort, kLibraryConnectWaitMs);
    if (!qlib_.IsPhoneConnected(handle)) Fail("QUALCOMM-Fail to Connect UE!");
    if (Healthy()) {
        preserve::LibraryNvSession session{qlib_, reporter_};
        preserve::QlibNvBackup(session, handle, efsFolder, nvSlots_);
    }
    if (handle != 0) qlib_.DisconnectServer(handle);
    if (reopen && Healthy()) EnsureDiagOpen();
}

// The user-data files.
Workflow::Flow Workflow::BackupUserData() {
    if (!Healthy() || !options_.bBackupUserData) return Flow::Continue;
    preserve::EfsSession session = EfsSession();
    userData_.files = options_.UserDataFilesList;
    if (!preserve::PrepareUserDataFolders(session, backupFolder_, options_.UserDataDirList, userData_)) {
        return Flow::EndNow;
    }
    preserve::BackupUserData(session, userData_);
    return Flow::Continue;
}

// The folder as a backup of its own before the device is touched further:
// the library keeps its items only in memory, and a run that ends after the
// download wiped the device must leave everything needed to write it back.
void Workflow::RecordBackup() {
    if (!Healthy() || backupFolder_.empty()) return;
    RunBackup saved;
    saved.at = &identity_;
    switch (ChooseNvMechanism(options_)) {
        case NvMechanism::Library: saved.librarySlots = nvSlots_.get(); break;
        case NvMechanism::Diag: saved.diagItems = &nvState_.SavedNvList; break;
        case NvMechanism::DiagVendor: saved.diagItems = &services_.nvTables.vendor; break;
    }
    if (options_.bBackupUserData) saved.userData = &userData_;
    RecordRunBackup(services_.files, services_.clock, reporter_, options_, backupFolder_, saved);
}

// The part-of-EFS plan, the configured NV items and the end set before the download.
void Workflow::ApplyPartOfEfs() {
    if (!Healthy() || !options_.bPartOfEFS) return;
    preserve::EfsPlan plan{options_.RemoveFilesList, options_.RemoveDirList, options_.CreateDirList, {}};
    for (const std::string& devicePath : options_.AddFilesList) {
        const fs::path local = preserve::AddedFileLocalPath(settings_.packageFolder, devicePath);
        std::error_code ec;
        const uintmax_t size = fs::file_size(local, ec);
        plan.addFiles.push_back({devicePath, local, ec ? 0u : static_cast<uint32_t>(size)});
    }
    preserve::EfsSession session = EfsSession();
    preserve::ApplyPartOfEfsPlan(session, plan);
    if (Healthy() && !options_.NVItemList.empty()) {
        preserve::NvSession nv = NvSession();
        preserve::WriteConfiguredNvItems(nv);
    }
    if (Healthy() && !options_.EndATList.empty()) {
        modeswitch::RunEndAtSet(options_.EndATList, links_.atCommands, links_.diagCommands, services_.clock,
                                reporter_);
    }
}

// The reboot into the boot loader, whatever came before: a device whose backup failed still goes to
// its boot loader, where the plan then writes nothing.
void Workflow::RebootToBootloader() {
    links_.atCommands.AtSendReboot(kRebootToBootloader);
    CloseAt("Warning-2");
    // The device leaves the bus; a handle of it would only be a dead one.
    CloseDiag("Warning-1");
}

// The wait for the boot loader's interface.
void Workflow::WaitForBootloader() {
    for (int second = 0; second < kBootloaderWaitSeconds; ++second) {
        std::string path;
        if (link::FindFastbootInterface(services_.devices, 0, path) == link::kFastbootInterfaceFound) {
            Report("Receive device Arrival after Set AT Command");
            break;
        }
        if (!run_.PauseUnlessStopped(1000)) break;
    }
    run_.PauseUnlessStopped(kBootloaderSettleMs);
    core::DeviceChangeFlags& flags = services_.window.ChangeFlags();
    flags.changeSeen.store(0);
    flags.arrivalSeen.store(0);
}

// The download: the plan passes over everything once the run is not healthy.
void Workflow::Download() {
    download::AdbApi adb = download::AdbApi::Load(settings_.workingFolder.parent_path(), services_.usbBulk);
    download::FastbootClient client(adb, reporter_, services_.clock);
    download::FastbootPlan plan(client, services_.devices, reporter_, services_.clock);
    plan.Run(plan_);
}

// The reset or power-off after the download. The diagnostic channel closed with the reboot into the boot
// loader; the command needs it open on the device that came back from the
// plan's restart.
bool Workflow::SendResetCommand() {
    if (!SendsResetCommand()) return true;
    if (links_.diag.IsOpen() && links_.diag.DeviceGone()) links_.diag.CloseOnce();
    if (!links_.diag.IsOpen()) {
        WaitForDeviceArrival(run_, kDiagReturnWaitSeconds, "Receive device Arrival after reboot");
        for (int attempt = 1; attempt <= kDiagOpenAttempts && !OpenDiagQuietly(); ++attempt) {
            if (!run_.PauseUnlessStopped(kDiagOpenPauseMs)) break;
        }
    }
    core::DeviceChangeFlags& flags = services_.window.ChangeFlags();
    flags.changeSeen.store(0);
    flags.arrivalSeen.store(0);
    const link::DiagAck ack =
        options_.bPhoneType ? links_.diagCommands.SendReset() : links_.diagCommands.SendPowerOff();
    return ack == link::DiagAck::Acknowledged;
}

// The port check after the device's return.
void Workflow::RelearnPorts() {
    WorkerWindow& window = services_.window;
    if (window.CheckDiagPort(settings_.diagPort) && !window.AtPortSelector().empty()) {
        Report("Port has not changed.");
        return;
    }
    Report("Port has changed");
    Report("Swivlet Start");
    modeswitch::RunSwivlet(services_.processes, settings_.workingFolder);
    run_.PauseUnlessStopped(kSwivletSettleMs);
    Report("Swivlet End");
    for (int scan = 0; scan < kPortScans && !run_.Stopped(); ++scan) {
        const bool found = FindComPort(run_);
        if (found && VariantCase()) {
            if (!window.AtPortSelector().empty()) return;
            continue;
        }
        if (found && !window.DiagPortSelector().empty() && !window.AtPortSelector().empty()) return;
        modeswitch::RunSwivlet(services_.processes, settings_.workingFolder);
        run_.PauseUnlessStopped(kSwivletRetryMs);
    }
}

// The restores over the diagnostic channel.
void Workflow::RestoreFromDiag() {
    if (Healthy() && options_.bBackupUserData) {
        preserve::EfsSession session = EfsSession();
        preserve::RestoreUserData(session, userData_);
    }
    if (Healthy() && options_.bRestore) {
        preserve::NvSession session = NvSession();
        if (preserve::IsVendorNvVariant(options_)) {
            preserve::DiagNvRestoreVendor(session);
        } else if (IsDiagNvProject(Project())) {
            preserve::DiagNvRestore(session, nvState_);
        }
    }
    if (Healthy() && !options_.NVItemList.empty()) {
        preserve::NvSession session = NvSession();
        preserve::WriteConfiguredNvItems(session);
    }
}

// The library's NV restore and the AT parameters.
Workflow::Flow Workflow::RestoreThroughLibraryAndAt() {
    if (!Healthy() || !options_.bRestore) return Flow::Continue;
    bool offline = false;
    for (int attempt = 1; attempt <= kCfunAttempts && !offline; ++attempt) {
        offline = links_.atCommands.AtQuery(kCfunOffline);
        if (!offline && !run_.PauseUnlessStopped(kCfunRetryMs)) break;
    }
    if (!offline) {
        Fail("Fail to Send Command at+cfun=5!");
        if (links_.diag.IsOpen()) links_.diag.CloseOnce();
        if (links_.at.IsOpen()) links_.at.CloseOnce();
        return Flow::EndNow;
    }
    CloseDiag("Warning-7");
    const link::QlibHandle handle = qlib_.ConnectServerWithWait(settings_.diagPort, kLibraryConnectWaitMs);
    if (!qlib_.IsPhoneConnected(handle)) Fail("QUALCOMM-Fail to Connect UE!");
    if (Healthy()) {
        preserve::LibraryNvSession session{qlib_, reporter_};
        preserve::QlibNvRestore(session, handle, nvSlots_.get());
    }
    if (handle != 0) qlib_.DisconnectServer(handle);
    nvSlots_.reset();
    links_.atCommands.AtQuery(kCfunOnline);
    preserve::RestoreAtParameters(atSession_, identity_, backupFolder_ / kAtBackupFileName);
    return Flow::Continue;
}

// Reset, re-discovery and restore, for the packages that bring the device back.
Workflow::Flow Workflow::ResetAndRestore() {
    if (!Healthy() || !RunsResetAndRestore()) return Flow::Continue;
    if (!SendResetCommand()) {
        Fail("Fail to reset or power off phone");
    } else {
        Report("Reset or power off command......");
        CloseDiag("Warning-1");
        CloseAt("Warning-2");
        WaitForDeviceChange(run_, kLeaveWaitSeconds, "Receive device change after reset");
        WaitForDeviceArrival(run_, kReturnWaitSeconds, "Receive device Arrival after reset");
        RelearnPorts();
        ReportPortState(run_);
        if (!VariantCase()) {
            ReopenDiagLoop(run_, ReopensDiagQuickly(Project()) ? kShortReopenPauseMs : kLongReopenPauseMs);
        }
        RestoreFromDiag();
        ReopenAtLoop(run_);
        if (RestoreThroughLibraryAndAt() == Flow::EndNow) return Flow::EndNow;
    }
    // A second reset for the products that need one.
    // The library's restore closed the diagnostic channel, and a reset
    // request on a closed channel would never reach the device.
    if (Project() == 6 || Project() == 19 || (Project() == 20 && !ModemOnly())) {
        if (!links_.diag.IsOpen()) OpenDiagQuietly();
        ResetAndWait(run_, VariantCase());
    }
    if (Healthy() && !options_.EndATList.empty()) {
        modeswitch::RunEndAtSet(options_.EndATList, links_.atCommands, links_.diagCommands, services_.clock,
                                reporter_);
    }
    return Flow::Continue;
}

// Closing, always.
void Workflow::Close() {
    if (links_.diag.IsOpen()) {
        links_.diag.CloseChannel("Warning-7");
        if (run_.Stopped()) run_.Report("COMM Closed", core::kReportError);
    }
    if (links_.at.IsOpen()) {
        if (Project() == package::kProjectRA66_51 || Project() == package::kProjectZP200) {
            std::string version;
            if (platform::SerialPort* port = links_.at.RawPort();
                port == nullptr || !package::ProbeQuery(*port, services_.clock, kVersionQuery, version)) {
                version.clear();
            }
            services_.window.ShowVersion("Version:" + version);
        }
        links_.at.CloseChannel("Warning-9");
    }
}

// The reset program, then "PASS".
void Workflow::Finish() {
    if (Healthy() && options_.ExecuteRebootle) {
        modeswitch::RunRebootle(services_.processes, services_.clock, services_.files, reporter_,
                                settings_.workingFolder);
    }
    if (!Healthy()) return;
    reporter_.CompleteGauge();
    reporter_.ReportStatus("PASS", core::kReportSuccess);
    passed_ = true;
    if ((options_.bRestore || options_.bBackupUserData) && !backupFolder_.empty()) {
        preserve::DeleteFolder(backupFolder_);
    }
    // Never beside the program: only the copy the package put in the working folder.
    if (!settings_.workingFolder.empty()) {
        std::error_code ec;
        fs::remove(settings_.workingFolder / kUsbLibraryCompanion, ec);
    }
}

bool Workflow::Run() {
    if (LoadLibrary() == Flow::EndNow) return false;
    if (options_.bBackup) preserve::PrepareNvTable(options_, services_.nvTables, nvState_);
    Report("Start succssfully");
    reporter_.BeginRun(settings_.totalImageSize);
    if (Healthy() && BuildPlan() == Flow::EndNow) return false;
    if (OpenChannels() == Flow::EndNow || CheckGpio() == Flow::EndNow) return false;
    CheckPlatform();
    if (Healthy() && !options_.StartATList.empty()) {
        modeswitch::RunStartAtSet(options_.StartATList, links_.atCommands, services_.clock, reporter_,
                                  services_.window.D1Sent());
    }
    if (options_.bPCSuite || ModemOnlySwitchProject() ||
        (Healthy() && Project() == package::kProjectRE78_51 && HasVariant())) {
        modeswitch::SendDiskModeCommand(options_, links_.atCommands, reporter_);
    }
    if (Backup() == Flow::EndNow || BackupUserData() == Flow::EndNow) return false;
    RecordBackup();
    ApplyPartOfEfs();
    RebootToBootloader();
    WaitForBootloader();
    Download();
    if (ResetAndRestore() == Flow::EndNow) return false;
    Close();
    Finish();
    return passed_;
}

}  // namespace

std::string BackupFolderName(const std::string& sn, const std::string* imei, const std::string* meid) {
    std::string name = "SN[" + sn + "]";
    if (imei != nullptr) name += "IMEI[" + *imei + "]";
    if (meid != nullptr) name += "MEID[" + *meid + "]";
    // Device text: never a separator, a climb or a control character.
    return preserve::SafeName(name);
}

bool RunUpdateWorkflow(WorkerServices& services, WorkerSettings& settings, RunReporter& reporter,
                       fs::path& backupFolder) {
    Workflow workflow(services, settings, reporter, backupFolder);
    return workflow.Run();
}

}  // namespace firmora::engine
