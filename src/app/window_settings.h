#pragma once
// The values the window keeps in the settings store between program runs:
// the outcome of the last run (DownloadStatus, written at every milestone),
// the last port choices, and what Re-update skips after each milestone.

#include <optional>
#include <string>
#include <string_view>

#include "package/download_options.h"
#include "platform/settings_store.h"

namespace firmora::app {

inline constexpr std::string_view kWindowSettingsKey = "Software\\Orb2009\\Firmora_QCOMM";

// The report lines whose exact text is kept as DownloadStatus.
bool IsMilestone(const std::string& text);

// DownloadStatus: empty when missing or unreadable.
std::string ReadDownloadStatus(platform::SettingsStore& store);
// False when the store could not take it (the write is then skipped).
bool WriteDownloadStatus(platform::SettingsStore& store, const std::string& status);

// Whether a status leaves nothing for Re-update to resume: empty, "Start
// succssfully" or "PASS".
bool NothingToResume(const std::string& status);

// Re-update: clears the selections the last run finished, by its last
// milestone; the backup stays selected when the run restores the device's
// data. False (and nothing cleared) when the status leaves nothing to resume.
bool ClearFinishedSteps(const std::string& status, package::DownloadOptions& options);

// The port number of a selector's text ("COM123" is 123), or nullopt.
std::optional<int> SelectorPortNumber(const std::string& selectorText);

// The last port choices: "COMM Port" (Diag) and "SerialCOMM Port" (AT), each
// the whole port number, or 1 when the selector was empty.
struct PortChoices {
    int diag = 1;
    int at = 1;
};
// Writes 1 for a missing value first, then reads both.
PortChoices ReadPortChoices(platform::SettingsStore& store);
void WritePortChoices(platform::SettingsStore& store, const std::string& diagSelector, const std::string& atSelector);

}  // namespace firmora::app
