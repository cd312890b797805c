#pragma once
// A device's own data saved into a folder, and written back from it, apart
// from any download: what `firmora backup` and `firmora restore` do, and the
// preservation steps an update run takes around its download.
//
// The folder holds at.bak, nv.bak, the RF NV and user-data copies under EFS/,
// and manifest.json, which is written last: a folder without it never counts
// as a backup, and a restore refuses it before touching the device.

#include <filesystem>
#include <optional>
#include <string>

#include "core/reporter.h"
#include "engine/backup_manifest.h"
#include "package/download_options.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/serial_ports.h"
#include "preserve/at_parameters.h"
#include "preserve/efs_preservation.h"
#include "preserve/library_nv.h"
#include "preserve/nv_tables.h"

namespace firmora::engine {

struct DeviceDataTarget {
    platform::SerialPorts& ports;
    platform::Clock& clock;
    platform::Files& files;
    core::Reporter& reporter;
    const package::DownloadOptions& options;
    const preserve::ProductNvTables& tables;
    int diagPort = 0;  // COM numbers
    int atPort = 0;
};

// How a project's NV items are saved, and whether an update writes them back.
NvMechanism ChooseNvMechanism(const package::DownloadOptions& options);
bool RestoresNvItems(const package::DownloadOptions& options);

// True when `folder` does not exist yet or is an empty folder: the only
// places a backup goes, so that it never mixes with other files.
bool IsFreshBackupFolder(const std::filesystem::path& folder);

// Saves the device's AT parameters, NV items and (when the configuration
// names them) user-data files into `folder`, which must not exist yet or be
// empty. True when everything was saved and the manifest written; otherwise
// the run's failure is reported and the folder stays without a manifest.
bool BackupDevice(DeviceDataTarget& target, const std::filesystem::path& folder);

// What an update run saved into its device backup folder, step by step:
// at.bak (for `at`), nv.bak or the library's items, the user-data copies.
// A member left null was not saved.
struct RunBackup {
    const preserve::AtParameters* at = nullptr;
    const preserve::NvSlots* librarySlots = nullptr;  // written into nv.bak here
    const preserve::NvTable* diagItems = nullptr;     // nv.bak's records, written by the DIAG backup
    const preserve::EfsUserData* userData = nullptr;
};

// Completes the folder of an update run as a backup of its own: nv.bak
// from the library's items and the manifest, so that a run that does not
// pass leaves a folder `firmora restore` can write back. False (the run's
// failure reported) when a file cannot be written or read back.
bool RecordRunBackup(platform::Files& files, platform::Clock& clock, core::Reporter& reporter,
                     const package::DownloadOptions& options, const std::filesystem::path& folder,
                     const RunBackup& saved);

// Checks that `folder` holds a complete backup: the manifest and every file
// it names, nv.bak of whole records matching the manifest.
std::optional<BackupManifest> LoadCompleteBackup(platform::Files& files, const package::DownloadOptions& options,
                                                 const preserve::ProductNvTables& tables,
                                                 const std::filesystem::path& folder, std::string& error);

// Writes a complete backup back into the device: user-data files, NV items,
// then the AT parameters. The folder is only read. True when every step
// passed.
bool RestoreDevice(DeviceDataTarget& target, const std::filesystem::path& folder);

}  // namespace firmora::engine
