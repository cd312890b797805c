#pragma once
// firmora config-check [--config FILE] [--json]
// Parses a Config.ini (the embedded default without --config) the way the
// tool does at start-up and prints every option, the configuration messages
// the parse showed and whether it stopped on an error.

#include "cli/command.h"

namespace firmora::cli {

// 0 parsed through, 1 stopped on a configuration error, 2 usage error or a
// --config file that cannot be read.
int RunConfigCheck(const CommandArgs& args, std::ostream& out, std::ostream& err);

extern const Command kConfigCheckCommand;

}  // namespace firmora::cli
