#pragma once
// While a command's run goes on, Ctrl-C (or a request to terminate) is the
// run's Stop: the run winds down through its closing steps (channels closed,
// no manifest for what is incomplete). A second Ctrl-C ends the process at
// once.

#include <functional>
#include <memory>
#include <utility>

#include "engine/run_reporter.h"
#include "platform/interrupts.h"
#include "platform/posix/posix_interrupts.h"

namespace firmora::cli {

class StopOnInterrupt {
public:
    // `stop` runs on the interrupt watcher's thread.
    explicit StopOnInterrupt(std::function<void()> stop) : watch_(interrupts_.Watch(std::move(stop))) {}
    explicit StopOnInterrupt(engine::RunReporter& reporter) : StopOnInterrupt([&reporter] { reporter.Stop(); }) {}

private:
    platform::PosixInterrupts interrupts_;
    std::unique_ptr<platform::InterruptWatch> watch_;
};

// True when the run ended because it was stopped.
inline bool WasStopped(const engine::RunReporter& reporter) { return reporter.RunStatus() == core::kRunStopped; }

}  // namespace firmora::cli
