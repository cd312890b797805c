#include "platform/posix/posix_console.h"

#include <unistd.h>

namespace firmora::platform {

bool PosixConsole::OutputIsTerminal() const { return ::isatty(STDOUT_FILENO) == 1; }

}  // namespace firmora::platform
