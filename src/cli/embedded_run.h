#pragma once
// firmora run without --config: the package this program carries, run
// through the application and its main window, with the command line as the
// window's front end.

#include <filesystem>
#include <ostream>

#include "cli/run_platform.h"
#include "preserve/nv_tables.h"

namespace firmora::cli {

// How long the modem may stay Not Ready when --wait is not given.
inline constexpr double kDefaultReadyWaitSeconds = 60;

// The whole command once its arguments, the NV item lists and the backup
// root are known; the exit status.
int RunEmbeddedPackage(const RunOptions& options, const std::filesystem::path& backupRoot,
                       const preserve::ProductNvTables& tables, std::ostream& out, std::ostream& err);

}  // namespace firmora::cli
