#pragma once
// firmora run: one whole update of one modem with a package, from its ports
// to "PASS".

#include <iosfwd>

#include "cli/command.h"

namespace firmora::cli {

int RunUpdate(const CommandArgs& args, std::ostream& out, std::ostream& err);

extern const Command kRunCommand;

}  // namespace firmora::cli
