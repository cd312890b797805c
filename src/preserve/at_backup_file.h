#pragma once
// at.bak: the saved AT parameters as a private-profile INI file. [BACKUP]
// records which parameters were read, [Data] holds their values; only
// [Data] is ever read back.

#include <filesystem>

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

// The values the restore writes: `params` with each flagged maker value
// replaced by its [Data] value from the file (empty when missing), and the
// values the device takes as quoted text enclosed in double quotes. The
// mode and the contexts stay as held.
AtParameters LoadAtBackup(platform::Files& files, const AtParameters& params, int projectIndex,
                          const std::filesystem::path& backupFile);

}  // namespace firmora::preserve
