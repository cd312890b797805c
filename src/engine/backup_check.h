#pragma once
// What a restore checks of a backup folder before it touches a device, and
// how a backup records its files. The folder and its manifest are untrusted:
// they may have been damaged or edited since the backup, or put together by
// someone else.

#include <filesystem>
#include <string>

#include "engine/backup_manifest.h"
#include "package/download_options.h"
#include "platform/files.h"
#include "preserve/nv_tables.h"

namespace firmora::engine {

// Each entry of the manifest is of its kind, under its own name and folder,
// named once, and no more of them than this configuration can produce; the
// NV mechanism is the one the configuration selects; every device path fits
// one DIAG EFS request. False with `error` set otherwise.
bool CheckManifestEntries(const BackupManifest& manifest, const package::DownloadOptions& options,
                          const preserve::ProductNvTables& tables, std::string& error);

// Reads back every file the manifest names and records its size and digest
// in `manifest.files`. False with `error` set when one cannot be read.
bool RecordBackupFiles(platform::Files& files, const std::filesystem::path& folder, BackupManifest& manifest,
                       std::string& error);

// Every file the manifest names is listed once in `manifest.files`, is a
// regular file reached through real folders inside `folder` (no symbolic
// link, device or FIFO anywhere on its way), is no larger than its kind
// allows and has the recorded size and digest. False with `error` set
// otherwise.
bool VerifyBackupFiles(platform::Files& files, const std::filesystem::path& folder, const BackupManifest& manifest,
                       std::string& error);

}  // namespace firmora::engine
