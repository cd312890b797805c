#pragma once
// Interrupts on POSIX: SIGINT and SIGTERM. The signal handler only writes a
// byte into a pipe (the one thing it may safely do); a watcher thread reads
// it and calls the handler. A second signal exits at once with 128 + the
// signal number, as a shell reports a process killed by it.

#include "platform/interrupts.h"

namespace firmora::platform {

class PosixInterrupts final : public Interrupts {
public:
    std::unique_ptr<InterruptWatch> Watch(std::function<void()> onStop) override;
};

}  // namespace firmora::platform
