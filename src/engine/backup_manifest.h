#pragma once
// manifest.json: what a device backup folder holds, written last so that a
// folder without it is known to be incomplete. It carries what the backup
// files alone do not: the AT parameters that were read (with the mode and
// the contexts), which NV mechanism saved the items and under which names,
// the RF NV copies, and the user-data files with their device paths.
//
// Every path in it is relative to the folder and checked when read, so a
// manifest cannot make a restore read outside its folder. Every file of the
// backup is listed with its size and XXH3-64 digest, so a copy changed
// after the backup is refused before anything is written to a device.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"
#include "preserve/at_parameters.h"
#include "preserve/efs_preservation.h"
#include "preserve/nv_tables.h"

namespace firmora::engine {

inline constexpr const char* kManifestFileName = "manifest.json";
inline constexpr const char* kAtBackupFileName = "at.bak";
inline constexpr const char* kManifestFormat = "firmora-device-backup";
// Version 2 added the size and digest of every file and the warnings.
inline constexpr int kManifestVersion = 2;
// Far more than the longest list of user-data folders needs.
inline constexpr uint64_t kManifestMaxBytes = 4 * platform::kMebibyte;

// Which way the NV items were saved.
enum class NvMechanism {
    Library,     // the diagnostic library: items in nv.bak, RF NV files as copies
    Diag,        // the tool's own DIAG requests, nv.bak
    DiagVendor,  // the same over the vendor list
};
const char* ToString(NvMechanism mechanism);

struct RfNvCopy {
    int32_t number = 0;
    std::string file;  // relative to the folder
};

struct UserDataCopy {
    std::string devicePath;
    std::string file;  // relative to the folder
    uint32_t size = 0;
};

// One file of the folder as the backup wrote it.
struct BackupFile {
    std::string file;  // relative to the folder
    uint64_t size = 0;
    uint64_t xxh3 = 0;  // XXH3-64 of the content
};
uint64_t ContentDigest(std::string_view content);

struct BackupManifest {
    std::string created;  // local time "YYYY-MM-DD hh:mm:ss"
    int projectIndex = -1;
    std::string projectName;

    bool atSaved = false;
    preserve::AtParameters at;

    bool nvSaved = false;
    NvMechanism nvMechanism = NvMechanism::Library;
    // Whether the update writes this mechanism's items back (some projects
    // only keep them).
    bool nvRestore = true;
    // nv.bak's records in file order, with the names that label them.
    preserve::NvTable nvItems;
    std::vector<RfNvCopy> rfNv;

    bool userDataSaved = false;
    std::vector<UserDataCopy> userData;
    std::vector<std::string> userDataFolders;  // device folders, depth first

    // at.bak, nv.bak, the RF NV and the user-data copies.
    std::vector<BackupFile> files;
    // What the backup could not save in full (a device folder listing cut short).
    std::vector<std::string> warnings;
};

// nullopt when a text in it is not UTF-8: a device value may hold any byte,
// JSON text cannot.
std::optional<std::string> ManifestToJson(const BackupManifest& manifest);
// nullopt with `error` set when the text is not a manifest of this version,
// a member is missing or of the wrong kind, or a path leaves the folder.
std::optional<BackupManifest> ManifestFromJson(const std::string& text, std::string& error);

// A relative path that stays inside its folder: no root, no "..", not empty.
bool IsContainedRelativePath(const std::string& path);

}  // namespace firmora::engine
