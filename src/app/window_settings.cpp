#include "app/window_settings.h"

#include <array>

#include "platform/serial_ports.h"

namespace firmora::app {
namespace {

constexpr platform::SettingsScope kScope = platform::SettingsScope::User;
const std::string kKey(kWindowSettingsKey);
constexpr const char* kDownloadStatus = "DownloadStatus";
constexpr const char* kDiagPortValue = "COMM Port";
constexpr const char* kAtPortValue = "SerialCOMM Port";

constexpr std::array<std::string_view, 8> kMilestones = {
    "Start succssfully",    "Backup succssfully",  "Bootloader succssfully", "AMSSFile succssfully",
    "AppsImageAndBootloader succssfully", "PCSuite succssfully", "EFSFile succssfully", "PASS"};

int ReadPortChoice(platform::SettingsStore& store, const char* name) {
    std::optional<uint32_t> value = store.ReadInteger(kScope, kKey, name);
    if (!value) {
        store.WriteInteger(kScope, kKey, name, 1);
        value = 1;
    }
    return static_cast<int>(*value);
}

}  // namespace

bool IsMilestone(const std::string& text) {
    for (std::string_view milestone : kMilestones) {
        if (text == milestone) return true;
    }
    return false;
}

std::string ReadDownloadStatus(platform::SettingsStore& store) {
    return store.ReadString(kScope, kKey, kDownloadStatus).value_or("");
}

bool WriteDownloadStatus(platform::SettingsStore& store, const std::string& status) {
    return store.WriteString(kScope, kKey, kDownloadStatus, status);
}

bool NothingToResume(const std::string& status) {
    return status.empty() || status == "Start succssfully" || status == "PASS";
}

bool ClearFinishedSteps(const std::string& status, package::DownloadOptions& o) {
    // Each milestone comes after the ones above it, so a later one clears
    // everything an earlier one does.
    static constexpr std::array<std::string_view, 6> kOrder = {
        "Backup succssfully",  "Bootloader succssfully", "AMSSFile succssfully", "AppsImageAndBootloader succssfully",
        "PCSuite succssfully", "EFSFile succssfully"};
    size_t reached = kOrder.size();
    for (size_t i = 0; i < kOrder.size(); ++i) {
        if (status == kOrder[i]) reached = i;
    }
    if (NothingToResume(status) || reached == kOrder.size()) return false;
    // The worker restores only from a backup it made in the same run: a run
    // that restores keeps its backup step, or the device would be written
    // and then left without its data. An earlier backup of the device is
    // kept beside the new one.
    if (!o.bRestore && !o.bBackupUserData) o.bBackup = false;
    if (reached >= 1) o.bBootloader = false;
    if (reached >= 2) o.bAMSSFile = false;
    if (reached >= 3) {
        o.bAppsBootloader = false;
        o.bAppsImageAndBootloader = false;
    }
    if (reached >= 4) o.bPCSuite = false;
    if (reached >= 5) {
        o.bEFS = false;
        o.bRawAppsEFS = false;
    }
    return true;
}

std::optional<int> SelectorPortNumber(const std::string& selectorText) { return platform::ParseComName(selectorText); }

PortChoices ReadPortChoices(platform::SettingsStore& store) {
    return PortChoices{ReadPortChoice(store, kDiagPortValue), ReadPortChoice(store, kAtPortValue)};
}

void WritePortChoices(platform::SettingsStore& store, const std::string& diagSelector, const std::string& atSelector) {
    // The whole number: a three-digit port must come back as itself.
    store.WriteInteger(kScope, kKey, kDiagPortValue, static_cast<uint32_t>(SelectorPortNumber(diagSelector).value_or(1)));
    store.WriteInteger(kScope, kKey, kAtPortValue, static_cast<uint32_t>(SelectorPortNumber(atSelector).value_or(1)));
}

}  // namespace firmora::app
