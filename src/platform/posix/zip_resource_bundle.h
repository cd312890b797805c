#pragma once
// The package as a ZIP archive at the end of a file: a product executable
// with the archive appended, or an archive alone. The archive is an ordinary
// one whose offsets count from its own first byte, so any ZIP tool made it;
// where it begins is worked out from its end records. Stored entries (those
// firmora-pack writes) are read straight from the file at their offset,
// compressed ones through libzip; either way a read fails, as its last byte
// is read, when the entry's CRC-32 is not the one the archive records.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/resource_bundle.h"

namespace firmora::platform {

// Where the archive at the end of `file` begins; nullopt when the file ends
// in none (`error` then says so, or why the file could not be read).
std::optional<uint64_t> FindAppendedArchive(const std::filesystem::path& file, std::string& error);

// The archive at the end of `file`; nullptr with `error` when there is none
// or it is damaged.
std::unique_ptr<ResourceBundle> OpenZipBundle(const std::filesystem::path& file, std::string& error);

// The package the running program carries.
std::unique_ptr<ResourceBundle> OpenProgramBundle(std::string& error);

// The running program's own file.
std::filesystem::path RunningProgramFile();

struct BundleFile {
    std::string type;
    std::string name;
    std::filesystem::path source;  // a regular file, read when the archive is written
};

// Writes `program`'s bytes (without any package it already carries) and
// then an archive of `files` to `output`, replacing it only once the whole
// product is written. Entries are stored, not compressed: images are mostly
// compressed already, and stored entries unpack at the speed of a copy.
bool WriteProductWithBundle(const std::filesystem::path& program, const std::vector<BundleFile>& files,
                            const std::filesystem::path& output, std::string& error);

}  // namespace firmora::platform
