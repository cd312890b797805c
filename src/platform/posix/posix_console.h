#pragma once
// The Console of a POSIX process: its standard output's file descriptor.

#include "platform/console.h"

namespace firmora::platform {

class PosixConsole final : public Console {
public:
    bool OutputIsTerminal() const override;
};

}  // namespace firmora::platform
