#pragma once
// Device files kept across a download: the user data copied from the
// device's embedded file system into the device backup folder and written
// back afterwards, and the part-of-EFS plan (files and folders removed,
// folders created, package files added) applied before the download.
//
// Everything a device or a package names is untrusted: device paths are
// mapped below the backup folder's "EFS" subfolder one name at a time, so no
// name can lead outside it, and every read chunk must carry exactly the
// bytes asked for before it is kept.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/reporter.h"
#include "link/diag_commands.h"
#include "link/hdlc_framer.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace firmora::preserve {

// The device operations of this file need the diagnostic channel open.
struct EfsSession {
    link::DiagCommands& diag;
    link::HdlcFramer& framer;
    platform::Clock& clock;
    core::Reporter& reporter;
    // Reads the local copies the restore sends (never through a link, and bounded).
    platform::Files& files;
};

inline constexpr size_t kMaxUserDataFiles = 1000;
inline constexpr size_t kMaxAddedEfsFiles = 50;
inline constexpr uint32_t kEfsReadChunk = 512;
inline constexpr uint32_t kEfsWriteBlock = 1488;
// A device that keeps listing folders (one inside itself, say) is cut off
// after this many folders in all or this many levels down.
inline constexpr size_t kMaxEnumeratedFolders = 4096;
inline constexpr size_t kMaxFolderDepth = 32;

// The user data of one run: made by the backup, used by the restore.
struct EfsUserData {
    // Device files to keep; files the device reports absent are dropped.
    std::vector<std::string> files;
    // Device folders found below the configured folders, depth first.
    std::vector<std::string> dirList;
    // The local copy of each entry of `files`, same order.
    std::vector<std::filesystem::path> localFiles;
    // The device size of each entry of `files`.
    std::vector<uint32_t> sizes;
    // Listings cut short by the tool's bounds: the copy lacks what they did not list.
    std::vector<std::string> warnings;
};

// A package file to add to the device.
struct EfsAddedFile {
    std::string devicePath;
    std::filesystem::path localPath;
    uint32_t size = 0;
};

struct EfsPlan {
    std::vector<std::string> removeFiles;
    std::vector<std::string> removeDirs;
    std::vector<std::string> createDirs;
    std::vector<EfsAddedFile> addFiles;  // at most kMaxAddedEfsFiles are handled
};

// One name as the local file system may hold it. Names that would climb
// ("..") or that a local file system reads as separators or patterns get
// their offending characters replaced, so the result always stays one
// folder level below its parent.
std::string SafeName(std::string_view name);

// The local file a device path is kept in: `backupFolder`/EFS followed by
// the path's names. Empty names and "." are dropped; "..", backslashes,
// colons and the characters *?"<>| never reach the file system as such (a
// changed name is reported as a trace line when `reporter` is given).
std::filesystem::path MapDevicePath(const std::filesystem::path& backupFolder, std::string_view devicePath,
                                    core::Reporter* reporter = nullptr);

// The package file for an added device path: `packageFolder` and the text
// after the path's last "/", made safe the same way.
std::filesystem::path AddedFileLocalPath(const std::filesystem::path& packageFolder, std::string_view devicePath);

// Enumerates the configured folders, drops absent files, creates the local
// folders and fills `data.localFiles`. False when a local folder could not
// be created (the run ends at once then).
bool PrepareUserDataFolders(EfsSession& session, const std::filesystem::path& backupFolder,
                            const std::vector<std::string>& userDataDirs, EfsUserData& data);
// Copies every user-data file from the device; stops at the first failure.
void BackupUserData(EfsSession& session, EfsUserData& data);
// Re-creates the folders and writes the user-data files back.
void RestoreUserData(EfsSession& session, const EfsUserData& data);
// Removes, creates and adds on the device, in that order.
void ApplyPartOfEfsPlan(EfsSession& session, const EfsPlan& plan);

// Reads the open device file of `size` bytes into `localPath`: 0 done,
// 1 failed (no partial local file is left behind).
int EfsDownloadFile(EfsSession& session, const std::filesystem::path& localPath, uint32_t size);
// Writes `localPath`, which must be a regular file of exactly `size` bytes,
// into the open device file: 0 done, 1 failed (nothing sent when the copy is
// refused or has another size).
int EfsUploadFile(EfsSession& session, const std::filesystem::path& localPath, uint32_t size);
// Adds every folder below `path` to `dirList`, depth first: 0 listed,
// 1 the folder could not be opened, -1 the run is not healthy. A listing
// cut short by the bounds (255 entries a folder, kMaxEnumeratedFolders,
// kMaxFolderDepth) is reported as a warning line and added to `warnings`.
int EfsEnumDirs(EfsSession& session, std::string path, std::vector<std::string>& dirList,
                std::vector<std::string>* warnings = nullptr);
// Makes a device folder; a folder that exists already counts as made.
link::EfsResult EfsEnsureDir(EfsSession& session, const std::string& path);

// Creates a local folder with its parents, exactly as named (device names
// in it must come from MapDevicePath); "Could not create folder!" and false
// when one cannot be made.
bool CreateFolderPath(core::Reporter& reporter, const std::filesystem::path& path);
// Deletes a local folder with everything in it; true when it is gone.
bool DeleteFolder(const std::filesystem::path& path);

}  // namespace firmora::preserve
