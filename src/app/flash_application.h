#pragma once
// The application shell: brings the main window to life and puts it away
// again. Construction makes the working folders, writes and parses the
// package's Config.ini, unpacks the package and checks its images, restores
// the last port choices, refuses to run beside another instance or a
// companion program, runs the product's guide wizard, and starts the
// readiness loop and the boot push. Destruction stops every worker and waits
// for it, keeps the port choices and removes the working folders.
//
// Everything here runs on the window's thread. A front end (the Qt window,
// the command line, a test) creates the application, calls Create, renders
// the form's controls, forwards its events to the form's handlers, drains
// the form's queue on its own thread, and destroys the application when the
// form asks to close or the program ends.

#include <filesystem>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/flash_form.h"
#include "core/line_log.h"
#include "package/device_matching.h"
#include "package/download_options.h"
#include "platform/resource_bundle.h"

namespace firmora::app {

// Held while an instance works in TempFiles; every program that uses the
// folder (the window's start-up, the command line's runs) takes this one lock.
inline constexpr const char* kWorkingFolderLock = "firmora-TempFiles";

// The seams the application runs over; all outlive it.
struct ApplicationServices {
    platform::Clock& clock;
    platform::SerialPorts& serialPorts;
    platform::DeviceEnumerator& devices;
    platform::UsbBulk& usbBulk;
    platform::Processes& processes;  // also the single-instance and companion locks
    platform::Dialogs& dialogs;      // message boxes and the guide wizards
    platform::SettingsStore& settings;
    platform::Files& files;
    platform::Paths& paths;
    platform::ResourceBundle& bundle;  // the package the program carries
    const preserve::ProductNvTables& nvTables;
    core::LineLog& trace;  // trace lines of the port scans and the readiness loop
};

struct ApplicationSettings {
    // Where the device backup folders go. Empty: "Backup/<today's date>" in
    // the temporary folder.
    std::filesystem::path backupRoot;
};

class FlashApplication {
public:
    FlashApplication(ApplicationServices services, ApplicationSettings settings = {});
    // Destroy().
    ~FlashApplication();
    FlashApplication(const FlashApplication&) = delete;
    FlashApplication& operator=(const FlashApplication&) = delete;

    // Window construction, in order. False when the program ends during
    // start-up: the box that says why has been shown through Dialogs, and
    // EndMessage() repeats its text. The form exists afterwards unless the
    // start ended before it was made: no temporary or working folder,
    // another instance holding the working folder, or a package that could
    // not be unpacked. Only the first call does anything.
    bool Create();
    // Window destruction: stops the readiness loop and the boot push, stops
    // every worker and waits for it, keeps the port choices and the image
    // folder, removes the working folders. Safe to call more than once.
    void Destroy();

    bool HasForm() const { return form_ != nullptr; }
    TFlashSrcUiForm& form() { return *form_; }
    const TFlashSrcUiForm& form() const { return *form_; }

    // The program is to end: start-up refused it, a failed device check at
    // Start, a confirmed close, or the start timer found no device.
    bool Ending() const;
    // The text of the box that ended it (empty for a confirmed close).
    const std::string& EndMessage() const { return endMessage_; }

    // The 20-second start timer fired (its control is Timer1; the front end
    // fires it while Timer1 is enabled).
    void Timer1Timer();

    // The latest readiness decision the window has shown (the window's
    // thread), and a front end's hook called after each.
    const std::optional<package::ReadinessDecision>& LastReadiness() const { return lastReadiness_; }
    std::function<void(const package::ReadinessDecision&)> onReadiness;

    const package::DownloadOptions& Options() const { return options_; }
    const std::filesystem::path& WorkingFolder() const { return workingFolder_; }
    const std::filesystem::path& SecondWorkingFolder() const { return secondWorkingFolder_; }
    const std::filesystem::path& BackupFolder() const { return backupFolder_; }

private:
    struct Parts;  // the readiness loop, the boot push, the locks: owned here

    bool MakeFolders();
    // One of our folders, made; `fresh`: emptied of an earlier start's files first.
    bool MakeFolder(const std::filesystem::path& folder, bool fresh);
    bool WriteConfiguration();
    bool FlashCreate();
    void RestoreSettings();
    bool StartSecondVariant();
    bool CompanionsFree();
    bool ProjectStart();
    void ApplyJapaneseTexts();
    DeviceChecks MakeDeviceChecks();
    RunPackage MakeRunPackage(const std::filesystem::path& folder, const package::DownloadOptions& options);
    std::vector<PackageImage> VerifyImages(const package::DownloadOptions& options,
                                           const std::filesystem::path& folder, bool reupdate);
    // The board-type check found the second variant fits the device.
    void SwitchToSecondVariant();
    // Takes each lock in turn and keeps it: true when one had a holder already.
    bool TakeLocks(std::initializer_list<const char*> names);
    // Ends the program with a box (caption and text), or silently when the text is empty.
    bool End(const std::string& caption, const std::string& text);
    void RemoveWorkingFolder(const std::filesystem::path& folder);

    ApplicationServices services_;
    ApplicationSettings settings_;
    package::DownloadOptions options_;
    package::DownloadOptions secondOptions_;  // Packet = 2
    std::filesystem::path tempFolder_;
    std::filesystem::path workingFolder_;
    std::filesystem::path secondWorkingFolder_;
    std::filesystem::path backupFolder_;
    std::unique_ptr<platform::NamedLock> folderLock_;  // the working folders are ours while held
    std::unique_ptr<Parts> parts_;
    std::unique_ptr<TFlashSrcUiForm> form_;
    std::optional<package::ReadinessDecision> lastReadiness_;
    std::string endMessage_;
    bool ending_ = false;
    bool created_ = false;
    bool destroyed_ = false;
};

}  // namespace firmora::app
