#pragma once
// A complete device backup folder made by the tool's own writers (at.bak,
// nv.bak, manifest.json), for the backup folder target and its corpus: the
// target checks fuzzed manifests against these files, and the manifest the
// backup itself wrote starts its corpus.

#include <filesystem>
#include <optional>
#include <string>

#include "core/reporter.h"
#include "engine/device_backup.h"
#include "package/download_options.h"
#include "platform/std_files.h"
#include "platform/virtual_clock.h"
#include "preserve/at_backup_file.h"
#include "preserve/library_nv.h"
#include "preserve/nv_tables.h"

namespace firmora::fuzz {

// A run that stays healthy unless a writer fails it.
class FailureReporter final : public core::Reporter {
public:
    void ReportStatus(const std::string&, int) override {}
    void ReportError(const std::string& text) override {
        if (failure.empty()) failure = text;
    }
    int32_t RunStatus() const override { return failure.empty() ? core::kRunHealthy : core::kRunFailedWithoutCode; }
    void AddWrittenBytes(uint32_t) override {}
    std::string failure;
};

inline package::DownloadOptions BackupOptions() {
    package::DownloadOptions options;
    options.ProjectIndex = 0;
    return options;
}

// Writes the folder (which must exist); the manifest's text, or nullopt with
// `error` set.
inline std::optional<std::string> MakeBackupFolder(const std::filesystem::path& folder, std::string& error) {
    platform::StdFiles files;
    platform::VirtualClock clock;
    FailureReporter reporter;
    const package::DownloadOptions options = BackupOptions();
    preserve::AtParameters at;
    at.sn = {"SN0123456789", true};
    at.imei = {"351234567890123", true};
    preserve::NvSlots slots;
    for (const preserve::NvEntry& entry : preserve::LibraryNvTable()) {
        if (slots.count == 3) break;
        preserve::NvSlot& slot = slots.slots[slots.count++];
        slot.number = static_cast<uint16_t>(entry.number);
        slot.data.fill(static_cast<uint8_t>(entry.number));
    }
    engine::RunBackup saved;
    saved.at = &at;
    saved.librarySlots = &slots;
    if (!preserve::WriteAtBackup(files, at, options.ProjectIndex, folder / engine::kAtBackupFileName, reporter) ||
        !engine::RecordRunBackup(files, clock, reporter, options, folder, saved)) {
        error = reporter.failure;
        return std::nullopt;
    }
    platform::ReadRefusal refusal = platform::ReadRefusal::None;
    std::optional<std::string> manifest =
        files.ReadWhole(folder / engine::kManifestFileName, engine::kManifestMaxBytes, refusal);
    if (!manifest) error = "manifest.json was not written";
    return manifest;
}

}  // namespace firmora::fuzz
