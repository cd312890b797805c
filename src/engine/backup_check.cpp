#include "engine/backup_check.h"

#include <set>
#include <string_view>

#include "engine/device_backup.h"
#include "link/diag_efs.h"
#include "link/diag_library.h"
#include "platform/private_profile.h"
#include "preserve/diag_nv.h"
#include "preserve/efs_preservation.h"
#include "preserve/library_nv.h"
#include "preserve/nv_backup_file.h"

namespace firmora::engine {

namespace {

namespace fs = std::filesystem;

// A manifest naming more warnings than this was not written by a backup.
constexpr size_t kMaxWarnings = 10000;

struct ExpectedFile {
    std::string file;
    uint64_t maxBytes;
};

// The files a backup with this manifest holds, each with the largest size its kind may have.
std::vector<ExpectedFile> ExpectedFiles(const BackupManifest& m) {
    std::vector<ExpectedFile> expected = {
        {kAtBackupFileName, platform::kIniFileMaxBytes},
        {preserve::kNvBackupFileName, m.nvItems.size() * preserve::kNvRecordBytes},
    };
    for (const RfNvCopy& copy : m.rfNv) expected.push_back({copy.file, link::DiagLibraryConnection::kMaxEfsFileBytes});
    for (const UserDataCopy& copy : m.userData) expected.push_back({copy.file, copy.size});
    return expected;
}

std::string RelativeText(const fs::path& path) { return path.generic_string(); }

bool Refuse(std::string& error, std::string text) {
    error = std::move(text);
    return false;
}

bool Contains(const preserve::NvTable& table, int32_t number) {
    for (const preserve::NvEntry& entry : table) {
        if (entry.number == number) return true;
    }
    return false;
}

// The items this configuration's mechanism saves into nv.bak.
preserve::NvTable ItemsTheConfigurationSaves(NvMechanism mechanism, const package::DownloadOptions& options,
                                             const preserve::ProductNvTables& tables) {
    if (mechanism == NvMechanism::DiagVendor) return tables.vendor;
    if (mechanism == NvMechanism::Diag) {
        preserve::DiagNvState state;
        preserve::PrepareNvTable(options, tables, state);
        return state.NvItemTable;
    }
    preserve::NvTable items;
    for (const preserve::NvEntry& entry : preserve::LibraryNvTable()) {
        if (entry.number < preserve::kFirstRfNvItem) items.push_back(entry);
    }
    return items;
}

std::string WithoutLeadingSlash(std::string_view path) {
    while (!path.empty() && path.front() == '/') path.remove_prefix(1);
    return std::string(path);
}

// A folder the backup lists: a configured folder, one of its parents, or a folder below it.
bool FolderFromConfiguration(const std::string& folder, const std::vector<std::string>& configured) {
    const std::string f = WithoutLeadingSlash(folder);
    for (const std::string& dir : configured) {
        const std::string d = WithoutLeadingSlash(dir);
        if (f == d || (d.starts_with(f) && d[f.size()] == '/') || (f.starts_with(d) && f[d.size()] == '/')) {
            return true;
        }
    }
    return false;
}

bool CheckNv(const BackupManifest& m, const package::DownloadOptions& options,
             const preserve::ProductNvTables& tables, std::string& error) {
    const NvMechanism selected = ChooseNvMechanism(options);
    if (m.nvMechanism != selected) {
        return Refuse(error, std::string("the NV items were saved the ") + ToString(m.nvMechanism) +
                                 " way, but this configuration saves and restores them the " + ToString(selected) +
                                 " way");
    }
    if (m.nvRestore != RestoresNvItems(options)) {
        return Refuse(error, "nv.restore does not match what this configuration does with the NV items");
    }
    const preserve::NvTable saved = ItemsTheConfigurationSaves(selected, options, tables);
    if (m.nvItems.size() > saved.size()) {
        return Refuse(error, "nv.items names " + std::to_string(m.nvItems.size()) +
                                 " items; this configuration saves " + std::to_string(saved.size()) + " at most");
    }
    for (const preserve::NvEntry& item : m.nvItems) {
        if (!Contains(saved, item.number)) {
            return Refuse(error, "nv.items names item " + std::to_string(item.number) +
                                     ", which this configuration does not save");
        }
    }
    std::set<int32_t> numbers;
    for (const RfNvCopy& copy : m.rfNv) {
        if (selected != NvMechanism::Library) {
            return Refuse(error, "nv.rfnv lists RF NV copies, which only the library way saves");
        }
        if (!Contains(preserve::LibraryNvTable(), copy.number)) {
            return Refuse(error, "nv.rfnv names item " + std::to_string(copy.number) + ", which is no RF NV item");
        }
        if (!numbers.insert(copy.number).second) {
            return Refuse(error, "nv.rfnv names item " + std::to_string(copy.number) + " more than once");
        }
        const std::string own = RelativeText(preserve::RfNvLocalPath("EFS", copy.number));
        if (copy.file != own) {
            return Refuse(error, "nv.rfnv item " + std::to_string(copy.number) + " is kept in " + own + ", not in " +
                                     copy.file);
        }
    }
    return true;
}

bool CheckUserData(const BackupManifest& m, const package::DownloadOptions& options, std::string& error) {
    if (!m.userDataSaved && (!m.userData.empty() || !m.userDataFolders.empty())) {
        return Refuse(error, "userData lists files or folders although it says none were saved");
    }
    const auto tooLong = [&](const std::string& devicePath) {
        return !link::EfsPathFits(devicePath) &&
               !Refuse(error, "userData names a device path of " + std::to_string(devicePath.size()) +
                                  " characters or with a zero byte; a DIAG EFS request carries at most " +
                                  std::to_string(link::kEfsMaxPathBytes));
    };
    const size_t folderLimit = options.UserDataDirList.size() * preserve::kMaxEnumeratedFolders;
    if (m.userDataFolders.size() > folderLimit) {
        return Refuse(error, "userData.folders names " + std::to_string(m.userDataFolders.size()) +
                                 " folders; this configuration lists " + std::to_string(folderLimit) + " at most");
    }
    for (const std::string& folder : m.userDataFolders) {
        if (tooLong(folder)) return false;
        if (!FolderFromConfiguration(folder, options.UserDataDirList)) {
            return Refuse(error, "userData.folders names " + folder + ", which is not below a configured folder");
        }
    }
    std::set<std::string> devicePaths;
    for (const UserDataCopy& copy : m.userData) {
        if (tooLong(copy.devicePath)) return false;
        bool configured = false;
        for (const std::string& file : options.UserDataFilesList) configured = configured || file == copy.devicePath;
        if (!configured) return Refuse(error, "userData.files names " + copy.devicePath + ", which is not configured");
        if (!devicePaths.insert(copy.devicePath).second) {
            return Refuse(error, "userData.files names " + copy.devicePath + " more than once");
        }
        const std::string own = RelativeText(preserve::MapDevicePath("", copy.devicePath));
        if (copy.file != own) {
            return Refuse(error, "userData.files keeps " + copy.devicePath + " in " + own + ", not in " + copy.file);
        }
    }
    return true;
}

// `relative` leads through real folders to a regular file: a link, device or
// FIFO anywhere on the way could make the restore read from outside the folder.
bool ReachableInside(platform::Files& files, const fs::path& folder, const std::string& relative, std::string& error) {
    fs::path current = folder;
    const fs::path path(relative);
    for (auto part = path.begin(); part != path.end(); ++part) {
        current /= *part;
        const bool last = std::next(part) == path.end();
        const platform::FileKind kind = files.KindOf(current);
        const platform::FileKind wanted = last ? platform::FileKind::Regular : platform::FileKind::Folder;
        if (kind == wanted) continue;
        const std::string where = RelativeText(current.lexically_relative(folder));
        switch (kind) {
            case platform::FileKind::Missing: return Refuse(error, relative + " is missing");
            case platform::FileKind::Link: return Refuse(error, where + " is a symbolic link");
            case platform::FileKind::Folder: return Refuse(error, where + " is a folder");
            default: return Refuse(error, where + " is not a regular " + (last ? "file" : "folder"));
        }
    }
    return true;
}

}  // namespace

bool CheckManifestEntries(const BackupManifest& m, const package::DownloadOptions& options,
                          const preserve::ProductNvTables& tables, std::string& error) {
    if (m.warnings.size() > kMaxWarnings) return Refuse(error, "the manifest names too many warnings");
    return CheckNv(m, options, tables, error) && CheckUserData(m, options, error);
}

bool RecordBackupFiles(platform::Files& files, const fs::path& folder, BackupManifest& manifest, std::string& error) {
    manifest.files.clear();
    for (const ExpectedFile& expected : ExpectedFiles(manifest)) {
        const std::optional<std::string> content =
            platform::ReadFileUpTo(files, folder / expected.file, expected.maxBytes, error);
        if (!content) return false;
        manifest.files.push_back({expected.file, content->size(), ContentDigest(*content)});
    }
    return true;
}

bool VerifyBackupFiles(platform::Files& files, const fs::path& folder, const BackupManifest& manifest,
                       std::string& error) {
    std::set<std::string> listed;
    for (const BackupFile& file : manifest.files) {
        if (!listed.insert(file.file).second) return Refuse(error, "files names " + file.file + " more than once");
    }
    const std::vector<ExpectedFile> expected = ExpectedFiles(manifest);
    if (expected.size() != manifest.files.size()) {
        return Refuse(error, "files lists " + std::to_string(manifest.files.size()) + " files, the backup holds " +
                                 std::to_string(expected.size()));
    }
    for (const ExpectedFile& want : expected) {
        const BackupFile* record = nullptr;
        for (const BackupFile& file : manifest.files) {
            if (file.file == want.file) record = &file;
        }
        if (record == nullptr) return Refuse(error, want.file + " is not listed with its size and digest");
        if (record->size > want.maxBytes) {
            return Refuse(error, want.file + " is recorded with " + std::to_string(record->size) +
                                     " bytes, more than such a file can hold (" + std::to_string(want.maxBytes) + ")");
        }
        if (!ReachableInside(files, folder, want.file, error)) return false;
        std::string readError;
        const std::optional<std::string> content =
            platform::ReadFileUpTo(files, folder / want.file, record->size, readError);
        if (!content) {
            // A larger file reads as too large for its recorded size: say what differs.
            return Refuse(error, want.file + " is not the file the backup wrote: " + readError);
        }
        if (content->size() != record->size) {
            return Refuse(error, want.file + " is not the file the backup wrote: it holds " +
                                     std::to_string(content->size()) + " bytes, not the " +
                                     std::to_string(record->size) + " recorded");
        }
        if (ContentDigest(*content) != record->xxh3) {
            return Refuse(error, want.file + " is not the file the backup wrote: its content differs");
        }
    }
    return true;
}

}  // namespace firmora::engine
