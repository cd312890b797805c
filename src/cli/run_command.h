#pragma once
// firmora run: one whole update of one modem with a package, from its ports
// to "PASS".

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>

#include "cli/command.h"
#include "cli/run_platform.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "preserve/nv_tables.h"

namespace firmora::cli {

// The options of firmora run (and of the desktop window, which takes the
// same target options): empty when the arguments are fine, else the problem.
std::string ParseRunArguments(const CommandArgs& args, RunOptions& o);
// The NV item lists beside the program; nothing after `program`'s message.
std::optional<preserve::ProductNvTables> LoadTables(platform::Files& files, platform::Paths& paths,
                                                    std::ostream& err, const char* program);
// The root of the device backup folders, made; empty after `program`'s
// message. The modem's data must outlive a failed run, so they never go to
// the temporary folder.
std::filesystem::path PrepareBackupRoot(const RunOptions& o, std::ostream& err, const char* program);

int RunUpdate(const CommandArgs& args, std::ostream& out, std::ostream& err);

extern const Command kRunCommand;

}  // namespace firmora::cli
