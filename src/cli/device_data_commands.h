#pragma once
// firmora backup --output DIR  and  firmora restore --input DIR
// A modem's own data (AT parameters, NV items, the user files the package
// names) saved into a folder and written back from it, apart from any
// download, so that a user can protect a modem before trying anything else.
// The ports are named with --diag and --at, or the built-in virtual modem
// is used with --simulate.

#include "cli/command.h"

namespace firmora::cli {

// Both: 0 when everything was saved (written back); 1 on a configuration
// error, unusable NV item lists, an incomplete backup folder or a failure on
// the device; 2 on a usage error, an unreadable --config file or an
// unusable scenario.
extern const Command kBackupCommand;
extern const Command kRestoreCommand;

}  // namespace firmora::cli
