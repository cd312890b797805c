#pragma once
// firmora package [--list] [--file PRODUCT]
// Lists the package a product executable carries (this program without
// --file): every entry as "TYPE/NAME" with its size.

#include "cli/command.h"

namespace firmora::cli {

// 0 listed, 1 the file carries no package or it cannot be read, 2 usage error.
int RunPackage(const CommandArgs& args, std::ostream& out, std::ostream& err);

extern const Command kPackageCommand;

}  // namespace firmora::cli
