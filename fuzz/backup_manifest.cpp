// manifest.json and the whole check of a backup folder before a restore.
//
// Properties: a manifest that parses names no path outside its folder; it
// writes back to the same manifest; and a folder that passes the whole check
// (manifest, every file's size and digest, nv.bak, at.bak) names only
// regular files that really lie inside it.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "backup_folder.h"
#include "engine/backup_manifest.h"
#include "engine/device_backup.h"
#include "fuzz_check.h"

namespace fs = std::filesystem;
using namespace firmora;

namespace {

fs::path g_folder;
preserve::ProductNvTables g_tables;

std::vector<std::string> NamedPaths(const engine::BackupManifest& manifest) {
    std::vector<std::string> paths;
    for (const auto& copy : manifest.rfNv) paths.push_back(copy.file);
    for (const auto& copy : manifest.userData) paths.push_back(copy.file);
    for (const auto& file : manifest.files) paths.push_back(file.file);
    return paths;
}

bool LexicallyInside(const fs::path& folder, const std::string& path) {
    if (path.empty() || fs::path(path).is_absolute()) return false;
    const fs::path joined = (folder / path).lexically_normal();
    const fs::path relative = joined.lexically_relative(folder);
    return !relative.empty() && *relative.begin() != ".." && relative != ".";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_folder = fs::temp_directory_path() / ("firmora-fuzz-backup-" + std::to_string(getpid()));
    fs::remove_all(g_folder);
    fs::create_directories(g_folder);
    g_folder = fs::canonical(g_folder);
    std::string error;
    platform::StdFiles files;
    if (!fuzz::MakeBackupFolder(g_folder, error)) {
        std::fprintf(stderr, "cannot make the backup folder: %s\n", error.c_str());
        std::abort();
    }
    const auto tables = preserve::LoadProductNvTables(files, FIRMORA_NV_TABLES, error);
    if (!tables) {
        std::fprintf(stderr, "cannot load the NV tables: %s\n", error.c_str());
        std::abort();
    }
    g_tables = *tables;
    std::atexit([] { fs::remove_all(g_folder); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const std::optional<engine::BackupManifest> parsed = engine::ManifestFromJson(text, error);
    if (!parsed) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    for (const std::string& path : NamedPaths(*parsed)) FUZZ_CHECK(LexicallyInside(g_folder, path));
    // Whatever parsed is UTF-8 text, so it always writes back.
    const std::optional<std::string> written = engine::ManifestToJson(*parsed);
    FUZZ_CHECK(written.has_value());
    const std::string& json = *written;
    const std::optional<engine::BackupManifest> again = engine::ManifestFromJson(json, error);
    FUZZ_CHECK(again.has_value());
    FUZZ_CHECK(engine::ManifestToJson(*again) == json);

    platform::StdFiles files;
    FUZZ_CHECK(files.ReplaceAtomically(g_folder / engine::kManifestFileName, text));
    const std::optional<engine::BackupManifest> loaded =
        engine::LoadCompleteBackup(files, fuzz::BackupOptions(), g_tables, g_folder, error);
    if (!loaded) return 0;
    FUZZ_CHECK(engine::ManifestToJson(*loaded) == json);
    for (const std::string& path : NamedPaths(*loaded)) {
        const fs::path real = fs::canonical(g_folder / path);
        FUZZ_CHECK(LexicallyInside(g_folder, real.lexically_relative(g_folder).string()));
        FUZZ_CHECK(fs::is_regular_file(fs::symlink_status(real)));
    }
    return 0;
}
