#pragma once
// at.bak: the saved AT parameters as a private-profile INI file. [BACKUP]
// records which parameters were read, [Data] holds their values; only
// [Data] is ever read back.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/reporter.h"
#include "platform/files.h"
#include "preserve/at_parameters.h"

namespace firmora::preserve {

// Writes `params` into the backup file (created, or updated in place so that
// keys this backup does not write keep their old lines) with one atomic
// replace. Does nothing and returns false while the run is not healthy. A
// file the system refuses fails the run with "Unable to write to <path>";
// the previous file, if any, stays as it was.
bool WriteAtBackup(platform::Files& files, const AtParameters& params, int projectIndex,
                   const std::filesystem::path& backupFile, core::Reporter& reporter);

// The values the restore writes, as the backup file gives them back.
struct AtBackupValues {
    // The held parameters with each flagged maker value replaced by its
    // [Data] value, and the values the device takes as quoted text enclosed
    // in double quotes. The mode and the contexts stay as held.
    AtParameters params;
    // The [Data] keys of flagged parameters the file does not hold. Their
    // saved values are lost: nothing may be written in their place.
    std::vector<std::string> missing;

    bool IsMissing(std::string_view key) const;
};

// Reads the backup file for a restore of `params`. nullopt when the file
// cannot be read: a file that is not there is no file of empty values.
std::optional<AtBackupValues> LoadAtBackup(platform::Files& files, const AtParameters& params, int projectIndex,
                                           const std::filesystem::path& backupFile);

// Checks that the backup file holds what `params`, another record of the
// same backup, says was saved: every [Data] key WriteAtBackup writes for
// them, with the value a reader gets back from it. False with `difference`
// saying which key is missing or differs, or that the file cannot be read.
bool AtBackupMatches(platform::Files& files, const AtParameters& params, int projectIndex, const std::filesystem::path& backupFile,
                     std::string& difference);

}  // namespace firmora::preserve
