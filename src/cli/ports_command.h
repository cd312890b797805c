#pragma once
// firmora ports: the full port scan as a run starts it, with what the scan
// learnt about every port.

#include <iosfwd>

#include "cli/command.h"

namespace firmora::cli {

int RunPorts(const CommandArgs& args, std::ostream& out, std::ostream& err);

extern const Command kPortsCommand;

}  // namespace firmora::cli
