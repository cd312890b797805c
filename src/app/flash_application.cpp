#include "app/flash_application.h"

#include <cstdio>
#include <system_error>
#include <utility>

#include "app/readiness_bridge.h"
#include "app/run_validation.h"
#include "app/startup_texts.h"
#include "app/window_settings.h"
#include "modeswitch/boot_push.h"
#include "modeswitch/d1_switch.h"
#include "package/config_parser.h"
#include "package/image_verification.h"
#include "package/package_unpack.h"
#include "package/project_table.h"

namespace firmora::app {

namespace fs = std::filesystem;

namespace {

constexpr const char* kWorkingFolderName = "TempFiles";
constexpr const char* kSecondFolderName = "TempFiles2";
constexpr const char* kBackupFolderName = "Backup";
constexpr const char* kConfigFileName = "Config.ini";
constexpr const char* kWelcome = "Welcome to Firmora_QCOMM!!";
constexpr uint32_t kPauseAfterFoldersMs = 100;
// Where the Japanese products' Start and Finish pictures stand in the window.
constexpr int kJapanesePictureTop = 212;

// The companion programs' locks; the installer's is only tested once they are free.
constexpr const char* kCompanionLock = "Mutex_KX_0_Modem";
constexpr const char* kConnectionManagerLock = "Marvane3G_BriskModem_ShowModem";
constexpr const char* kModemUtilityLock = "VARUZIRoded_Ivedo";
constexpr const char* kInstallerLock = "inno setup marvane sw";

// Today's date as the backup folder names it: "yyyy/MM/dd" with every "/"
// made "_" ("2026_12_09"). A fixed, locale-free order keeps the folders of
// one day together and sorted whatever the user's regional settings are.
std::string BackupDate(const platform::LocalDateTime& now) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d_%02d_%02d", now.year, now.month, now.day);
    return text;
}

// The names of the selected download items, ", " between them and "." at the end.
std::string SelectionSummary(const package::DownloadOptions& o) {
    const std::pair<bool, const char*> items[] = {
        {o.bBackup, "Backup"},          {o.bBootloader, "Bootloader"},   {o.bAMSSFile, "AMSS"},
        {o.bAppsImageAndBootloader || o.bAppsBootloader, "Apps"},        {o.bPhoneImage, "Phone image"},
        {o.bCfgdata, "Configuration data"}, {o.bEFS, "EFS"},             {o.bRawAppsEFS, "Raw apps EFS"},
        {o.bPartOfEFS, "Part of EFS"},  {o.bFastbootConfiguration, "Fastboot images"},
        {o.bPCSuite, "PC suite"},       {o.bRestore, "Restore"}};
    std::string summary;
    for (const auto& [selected, name] : items) {
        if (!selected) continue;
        if (!summary.empty()) summary += ", ";
        summary += name;
    }
    return summary + ".";
}

bool HasVariant(const package::DownloadOptions& o) {
    return o.ProjectIndex == package::kProjectRE78_51 && o.VersionVariant != package::VersionVariantKind::None;
}

// The operator variants: the companion check, their Japanese window and the start timer.
bool OperatorVariant(const package::DownloadOptions& o) {
    return o.ProjectIndex == package::kProjectZP200_EA || HasVariant(o);
}

// The image list a run writes, from a whole pass of the image checks: every
// image the checks sized (empty when a check failed, so Start refuses).
std::vector<PackageImage> ImagesOf(const package::ImageVerification& checked,
                                   const package::DownloadOptions& options) {
    std::vector<PackageImage> images;
    if (!checked.message.empty()) return images;
    for (size_t slot = 0; slot < package::kImageSlotCount; ++slot) {
        if (checked.sizes[slot] != 0) images.push_back({checked.paths[slot], checked.sizes[slot]});
    }
    for (size_t i = 0; i < checked.planSizes.size() && i < options.FastbootFileNameList.size(); ++i) {
        if (checked.planSizes[i] != 0) images.push_back({options.FastbootFileNameList[i], checked.planSizes[i]});
    }
    for (size_t i = 0; i < checked.partOfEfsSizes.size() && i < checked.partOfEfsPaths.size(); ++i) {
        images.push_back({checked.partOfEfsPaths[i], checked.partOfEfsSizes[i]});
    }
    return images;
}

}  // namespace

struct FlashApplication::Parts {
    Parts(const ApplicationServices& s, const package::DownloadOptions& options)
        : interrogation(s.serialPorts, s.clock, s.trace, options.Name),
          d1Switch(s.serialPorts, s.clock),
          discovery(s.devices, s.clock, s.dialogs, s.trace, interrogation, d1Switch, options.bEnprg9x15),
          readiness(package::ReadinessServices{discovery, interrogation, s.processes, s.clock, s.files, s.trace},
                    interrogation),
          bootPush(s.devices, s.clock, s.files, s.settings, s.trace) {}

    package::DeviceInterrogation interrogation;
    modeswitch::SerialD1Switch d1Switch;
    link::PortDiscovery discovery;
    ReadinessBridge readiness;
    modeswitch::BootPush bootPush;
    // Held for the life of the application, so that every later instance
    // (and the companion programs) find them taken.
    std::vector<std::unique_ptr<platform::NamedLock>> locks;
};

FlashApplication::FlashApplication(ApplicationServices services, ApplicationSettings settings)
    : services_(services), settings_(std::move(settings)) {}

FlashApplication::~FlashApplication() { Destroy(); }

bool FlashApplication::Ending() const { return ending_ || (form_ != nullptr && form_->ApplicationEnding()); }

bool FlashApplication::End(const std::string& caption, const std::string& text) {
    ending_ = true;
    endMessage_ = text;
    if (!text.empty()) {
        services_.dialogs.ShowMessage(caption, text, platform::DialogButtons::Ok, platform::DialogIcon::Warning);
    }
    return false;
}

// --- Construction ---

bool FlashApplication::Create() {
    if (created_) return !Ending();
    created_ = true;
    if (!MakeFolders() || !WriteConfiguration() || !FlashCreate()) return false;
    if (options_.Packet == 2 && !StartSecondVariant()) return false;
    if (OperatorVariant(options_) && !CompanionsFree()) return false;
    if (!ProjectStart()) return false;

    const int project = options_.ProjectIndex;
    if (!Ending() && project != package::kProjectZQ65_Custom) {
        package::ReadinessSettings readiness;
        readiness.options = options_;
        if (options_.Packet == 2) readiness.second = package::SecondVariantOf(options_, secondOptions_);
        readiness.workingFolder = workingFolder_;
        readiness.imageFolder = workingFolder_;
        parts_->readiness.UseSettings(std::move(readiness));
        parts_->readiness.Start();
    }
    // Only the operator variants give the device 20 s to appear.
    form_->controls().Timer1.enabled = OperatorVariant(options_);
    ApplyJapaneseTexts();
    if (options_.bSwitchFastbootMode) parts_->bootPush.Start(workingFolder_);
    return !Ending();
}

bool FlashApplication::MakeFolders() {
    tempFolder_ = services_.paths.TempFolder();
    if (tempFolder_.empty()) return End(package::kWarningCaption, "Could not get dir path");
    // A second instance must neither overwrite the files the first one is
    // writing to a device nor remove them when it ends: it is refused
    // before it touches the folder.
    bool held = false;
    folderLock_ = services_.processes.CreateNamedLock(kWorkingFolderLock, held);
    if (held) {
        folderLock_.reset();
        return End(package::kWarningCaption, kAlreadyRunning);
    }
    workingFolder_ = tempFolder_ / kWorkingFolderName;
    backupFolder_ = settings_.backupRoot.empty() ? tempFolder_ / kBackupFolderName / BackupDate(services_.clock.Now())
                                                 : settings_.backupRoot;
    if (!MakeFolder(workingFolder_, true) || !MakeFolder(backupFolder_, false)) return false;
    services_.clock.Sleep(kPauseAfterFoldersMs);
    return true;
}

bool FlashApplication::MakeFolder(const fs::path& folder, bool fresh) {
    std::error_code ec;
    // A link in the folder's place is removed, never followed.
    if (services_.files.KindOf(folder) == platform::FileKind::Link) fs::remove(folder, ec);
    // What a start that ended abruptly left in a working folder goes: the
    // image scan must find this package's files only. The lock says no
    // other instance works in it.
    if (fresh) RemoveWorkingFolder(folder);
    fs::create_directories(folder, ec);
    if (services_.files.KindOf(folder) != platform::FileKind::Folder) {
        return End(package::kWarningCaption, "Could not create folder!" + folder.string());
    }
    return true;
}

bool FlashApplication::WriteConfiguration() {
    // Every start writes the package's own configuration over any older copy.
    // A package that cannot give it must not run on a copy left by another.
    package::PackageFile config;
    config.type = "INI";
    config.name = "ConfigFile";
    config.file = kConfigFileName;
    const std::string error =
        package::UnpackResource(services_.bundle, services_.files, config, workingFolder_ / kConfigFileName);
    if (error.empty()) return true;
    return End(package::kUnpackCaption, error);
}

bool FlashApplication::FlashCreate() {
    package::ParseConfig(services_.files, workingFolder_ / kConfigFileName, options_, services_.dialogs);
    const int project = options_.ProjectIndex;

    const package::UnpackResult unpacked =
        package::UnpackPackage(services_.bundle, services_.files, services_.clock, options_, workingFolder_);
    if (!unpacked.ok()) return End(package::kUnpackCaption, unpacked.error);

    parts_ = std::make_unique<Parts>(services_, options_);
    form_ = std::make_unique<TFlashSrcUiForm>(
        FormServices{services_.clock, services_.serialPorts, services_.devices, services_.usbBulk,
                     services_.processes, services_.dialogs, services_.settings, services_.files, services_.paths,
                     services_.nvTables, parts_->discovery},
        options_, MakeRunPackage(workingFolder_, options_), MakeDeviceChecks(), &parts_->readiness);
    parts_->readiness.Attach(*form_, [this](const package::ReadinessDecision& decision) {
        lastReadiness_ = decision;
        if (onReadiness) onReadiness(decision);
    });

    WindowControls& c = form_->controls();
    c.Frame.caption = options_.Caption;
    c.Label_title.text = options_.Caption;
    if (project == package::kProjectZQ65_Custom) {
        c.Frame.stayOnTop = true;
        c.Frame.dialogBorder = true;
        c.Frame.width = 480;
        c.Frame.height = 185;
        c.Frame.caption = "运营商升级程序";
        // The compact product runs at once: its panel and small gauge show.
        c.GroupBox1.visible = true;
        c.CGauge1.visible = true;
    }
    // The window's own gauge waits for the wizard's updating page.
    c.StopButton.enabled = false;
    c.ImageFolderEdit.text = workingFolder_.string();

    form_->ScanPorts();
    RestoreSettings();

    c.StartButton.enabled = false;
    c.StopButton.enabled = false;
    c.StatusBar.text = kWelcome;
    c.lblSettings.text = SelectionSummary(options_);
    if (IsJapaneseProduct(project)) {
        c.Label_status.text = "準備中";
        c.Label_status.font = JapaneseFont();
    } else {
        c.Label_status.text = "Not Ready";
    }
    return true;
}

void FlashApplication::RestoreSettings() {
    platform::SettingsStore& store = services_.settings;
    const std::string key(kWindowSettingsKey);
    constexpr platform::SettingsScope scope = platform::SettingsScope::User;
    if (!store.ReadString(scope, key, "DownloadStatus")) store.WriteString(scope, key, "DownloadStatus", "");
    form_->controls().Reupdate1.visible = !NothingToResume(ReadDownloadStatus(store));
    store.WriteString(scope, key, "", "temp");
    const PortChoices choices = ReadPortChoices(store);
    form_->SelectPorts(choices.diag, choices.at);
}

bool FlashApplication::StartSecondVariant() {
    secondWorkingFolder_ = tempFolder_ / kSecondFolderName;
    if (!MakeFolder(secondWorkingFolder_, true)) return false;
    const package::UnpackResult unpacked =
        package::UnpackSecondVariant(services_.bundle, services_.files, options_, secondWorkingFolder_);
    if (!unpacked.ok()) return End(package::kUnpackCaption, unpacked.error);
    package::ParseConfig(services_.files, secondWorkingFolder_ / kConfigFileName, secondOptions_,
                         services_.dialogs);
    const std::string mismatch = package::CheckPackagePair(options_, secondOptions_);
    if (mismatch.empty()) return true;
    package::ClearDownloadItems(options_);
    return End(package::kPackagePairCaption, mismatch);
}

bool FlashApplication::TakeLocks(std::initializer_list<const char*> names) {
    bool taken = false;
    for (const char* name : names) {
        bool existed = false;
        std::unique_ptr<platform::NamedLock> lock = services_.processes.CreateNamedLock(name, existed);
        if (lock) parts_->locks.push_back(std::move(lock));
        taken = taken || existed;
    }
    return taken;
}

bool FlashApplication::CompanionsFree() {
    if (!TakeLocks({kCompanionLock, kConnectionManagerLock, kModemUtilityLock})) return true;
    return End(VariantTitle(options_), CompanionRunningMessage(options_));
}

bool FlashApplication::ProjectStart() {
    WindowControls& c = form_->controls();
    const int project = options_.ProjectIndex;
    auto guide = [&](platform::GuideWizard wizard) {
        platform::GuideRequest request = GuideFor(options_, wizard);
        // TFormGuide3's Start: a device is present when the port scan finds one.
        request.devicePresent = [this] { return form_->ScanPorts(); };
        return services_.dialogs.ShowGuide(request);
    };
    auto showNormalTitle = [&] {
        c.Frame.applicationTitle = options_.Caption;
        c.Label_title.visible = true;
        c.Label_about.visible = true;
        c.Label_warning.visible = true;
    };

    if (project == package::kProjectRA66_51 || project == package::kProjectZP200) {
        c.Label_title.visible = false;
        c.Label_warning.visible = false;
        c.Frame.applicationTitle = VariantTitle(options_);
        return guide(platform::GuideWizard::TFormGuide) || End("", "");
    }
    if (project == package::kProjectZP200_Italy) {
        if (!guide(platform::GuideWizard::TFormGuide1)) return End("", "");
        showNormalTitle();
        return true;
    }
    if (OperatorVariant(options_)) {
        c.Label_title.visible = false;
        c.Frame.applicationTitle = VariantTitle(options_);
        c.Label_title_japannese.text = VariantTitle(options_);
        c.Label_title_japannese.visible = true;
        c.Label_warning_start_japanese.visible = true;
        return guide(platform::GuideWizard::TFormGuide2) || End("", "");
    }
    if (project == package::kProjectZQ65_Custom) {
        if (!guide(platform::GuideWizard::TFormGuide3)) return End("", "");
        form_->StartClick();
        return true;
    }
    if (project == package::kProjectDI79_21 && !guide(platform::GuideWizard::TFormGuide2)) return End("", "");
    // One instance at a time, and never beside the maker's own programs.
    bool taken = TakeLocks({kCompanionLock, kConnectionManagerLock, kModemUtilityLock});
    if (!taken) taken = TakeLocks({kInstallerLock});
    if (taken) {
        return IsJapaneseProduct(project) ? End(JapaneseToolCaption(project), kJapaneseAlreadyRunning)
                                          : End(package::kWarningCaption, kAlreadyRunning);
    }
    showNormalTitle();
    return true;
}

void FlashApplication::ApplyJapaneseTexts() {
    const int project = options_.ProjectIndex;
    const bool japaneseProduct = IsJapaneseProduct(project);
    if (!japaneseProduct && options_.Language != 1) return;
    WindowControls& c = form_->controls();
    // The window's own texts are in a Japanese face already; these are the
    // other window styles' texts.
    for (Control* control : {&c.Label_status, &c.Label_title_japannese, &c.Label_warning_start_japanese}) {
        control->font = JapaneseFont();
    }
    if (!c.StartButton.enabled) c.Label_status.text = "準備中";
    c.Label_title.font = JapaneseFont();
    c.Image_warning.visible = false;
    if (japaneseProduct) {
        c.Label_title.text = project == package::kProjectDI79_21 ? "KQ004TR Software Update Tool (Ver3.0.1)"
                                                                 : JapaneseToolCaption(project);
        c.Label_warning.visible = false;
        c.Label_warning_7921.visible = true;
        // Their Start and Finish pictures come up into the window.
        for (Control* picture : {&c.Image_start0, &c.Image_start0_0, &c.Image_finish0}) {
            picture->position.top = kJapanesePictureTop;
        }
        return;
    }
    c.Label_title.text = options_.Name + " ソフトウェアアップデートツール Ver" + kWindowVersionLine;
    c.Label_warning.text = "ファームウェア更新中に取り外さないでください。";
    c.Label_warning.font = c.Label_warning_7921.font;
    c.Label_warning.wordWrap = true;
    c.Label_warning.visible = true;
    c.Image_start0_0.pictureIndex = 3;
}

// --- What the run controller takes from here ---

std::vector<PackageImage> FlashApplication::VerifyImages(const package::DownloadOptions& options,
                                                         const fs::path& folder, bool reupdate) {
    const package::ImageCheckServices services{services_.files, services_.dialogs, &services_.trace};
    const package::ImageVerification checked =
        package::CheckImages(services, options, folder.string(), {reupdate, backupFolder_});
    return ImagesOf(checked, options);
}

RunPackage FlashApplication::MakeRunPackage(const fs::path& folder, const package::DownloadOptions& options) {
    RunPackage package;
    package.packageFolder = folder;
    package.workingFolder = folder;
    package.backupFolder = backupFolder_;
    package.images = VerifyImages(options, folder, false);
    // Re-update changed the form's selections: the images are checked on those.
    package.verifyImages = [this, folder] { return VerifyImages(form_->options(), folder, true); };
    return package;
}

void FlashApplication::SwitchToSecondVariant() {
    package::DownloadOptions second;
    package::ParseConfig(services_.files, secondWorkingFolder_ / kConfigFileName, second, services_.dialogs);
    RunPackage package = MakeRunPackage(secondWorkingFolder_, second);
    form_->controls().lblSettings.text = SelectionSummary(second);
    form_->UsePackage(std::move(second), std::move(package));
}

DeviceChecks FlashApplication::MakeDeviceChecks() {
    DeviceChecks checks;
    checks.softwareVersion = [this] {
        return package::CheckVersion(parts_->interrogation.Readings().DeviceRevision, form_->options().Version);
    };
    checks.dualPackage = [this] {
        // Always judged on the package's own first variant, so that one
        // session can update devices of either board one after another.
        const package::BoardTypeResult result =
            package::CheckBoardType(options_, secondOptions_.Name, parts_->interrogation.Readings().BoardType);
        if (!result.pass) {
            services_.dialogs.ShowMessage(package::kWarningCaption, result.message, platform::DialogButtons::Ok,
                                          platform::DialogIcon::Warning);
            return false;
        }
        if (result.switchToSecond) {
            SwitchToSecondVariant();
        } else if (form_->package().packageFolder != workingFolder_) {
            form_->UsePackage(options_, MakeRunPackage(workingFolder_, options_));
        }
        return true;
    };
    // The Japanese products ask before every update; the answer comes through
    // the Dialogs seam (the window draws its own picture box for it).
    checks.revisionFamilyMismatch = [this] {
        return package::CheckRevisionFamily(parts_->interrogation.Readings().DeviceRevision, form_->options().Version);
    };
    checks.confirmStart = [this] {
        return services_.dialogs.ConfirmStart(options_.ProjectIndex, JapaneseToolCaption(options_.ProjectIndex),
                                              kJapaneseStartQuestion);
    };
    return checks;
}

// --- The start timer ---

void FlashApplication::Timer1Timer() {
    if (!HasForm()) return;
    WindowControls& c = form_->controls();
    if (!c.Timer1.enabled) return;
    c.Timer1.enabled = false;
    if (c.StartButton.enabled) return;
    parts_->readiness.Stop();
    End(VariantTitle(options_), DeviceMissingMessage(options_));
}

// --- Destruction ---

void FlashApplication::Destroy() {
    if (destroyed_) return;
    destroyed_ = true;
    if (parts_) {
        parts_->readiness.Stop();
        parts_->bootPush.Stop();
    }
    // Every worker is stopped and waited for before the folders it reads go;
    // then the port choices and the image folder are kept.
    if (form_) form_->FlashDestroy();
    RemoveWorkingFolder(workingFolder_);
    if (options_.Packet == 2) RemoveWorkingFolder(secondWorkingFolder_);
}

void FlashApplication::RemoveWorkingFolder(const fs::path& folder) {
    // Only the working folders of the temporary folder, and never a path as
    // short as a drive's root. The backups lie beside them and stay.
    if (folder.string().size() <= 3 || tempFolder_.empty()) return;
    if (folder != tempFolder_ / kWorkingFolderName && folder != tempFolder_ / kSecondFolderName) return;
    if (services_.files.KindOf(folder) != platform::FileKind::Folder) return;
    std::error_code ec;
    // A read-only folder inside would keep its files: give every folder
    // (never a link's target) back its owner's rights first.
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ec);
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code entry;
        if (it->is_directory(entry) && !it->is_symlink(entry)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, entry);
        }
    }
    fs::remove_all(folder, ec);
}

}  // namespace firmora::app
