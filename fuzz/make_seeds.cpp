// Writes the seeds the build makes from the tool's own code into the corpus
// folder named on the command line: the manifest of a backup folder that the
// whole folder check accepts and its nv.bak, and the configuration the tool
// carries.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "backup_folder.h"
#include "package/default_config.h"

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds <corpus folder>\n");
        return 2;
    }
    const fs::path corpus = argv[1];
    const fs::path scratch = corpus / "scratch-backup";
    fs::remove_all(scratch);
    fs::create_directories(scratch);
    std::string error;
    const auto manifest = firmora::fuzz::MakeBackupFolder(scratch, error);
    // The seed is worth little unless the whole folder check accepts it.
    bool accepted = false;
    if (manifest) {
        firmora::platform::StdFiles files;
        const auto tables = firmora::preserve::LoadProductNvTables(files, FIRMORA_NV_TABLES, error);
        accepted = tables && firmora::engine::LoadCompleteBackup(files, firmora::fuzz::BackupOptions(), *tables,
                                                                 scratch, error);
    }
    if (accepted) {
        fs::create_directories(corpus / "nv_backup");
        fs::copy_file(scratch / "nv.bak", corpus / "nv_backup" / "backup-nv.bak", fs::copy_options::overwrite_existing);
    }
    fs::remove_all(scratch);
    if (!accepted) {
        std::fprintf(stderr, "fuzz_make_seeds: %s\n", error.c_str());
        return 1;
    }
    fs::create_directories(corpus / "backup_manifest");
    std::ofstream(corpus / "backup_manifest" / "backup-manifest.json", std::ios::binary) << *manifest;
    fs::create_directories(corpus / "config");
    std::ofstream(corpus / "config" / "default-config.ini", std::ios::binary) << firmora::package::DefaultConfigText();
    return 0;
}
