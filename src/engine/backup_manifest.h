#pragma once
// manifest.json: what a device backup folder holds, written last so that a
// folder without it is known to be incomplete. It carries what the backup
// files alone do not: the AT parameters that were read (with the mode and
// the contexts), which NV mechanism saved the items and under which names,
// the RF NV copies, and the user-data files with their device paths.
//
// Every path in it is relative to the folder and checked when read, so a
// manifest cannot make a restore read outside its folder.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "preserve/at_parameters.h"
#include "preserve/efs_preservation.h"
#include "preserve/nv_tables.h"

namespace firmora::engine {

inline constexpr const char* kManifestFileName = "manifest.json";
inline constexpr const char* kManifestFormat = "firmora-device-backup";
inline constexpr int kManifestVersion = 1;

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
};

std::string ManifestToJson(const BackupManifest& manifest);
// nullopt with `error` set when the text is not a manifest of this version,
// a member is missing or of the wrong kind, or a path leaves the folder.
std::optional<BackupManifest> ManifestFromJson(const std::string& text, std::string& error);

// A relative path that stays inside its folder: no root, no "..", not empty.
bool IsContainedRelativePath(const std::string& path);

}  // namespace firmora::engine
