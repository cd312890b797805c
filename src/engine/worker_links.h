#pragma once
// What every part of one update run works with: the seams, the run's
// settings (port numbers updated in place), its reporter, and the worker's
// two serial channels with the command layers on top of them. The worker is
// their only user while the run lasts.

#include <cstdint>

#include "engine/comms_thread.h"
#include "link/at_channel.h"
#include "link/diag_commands.h"
#include "link/hdlc_framer.h"
#include "link/serial_channel.h"

namespace firmora::engine {

struct WorkerLinks {
    WorkerLinks(WorkerServices& services, const WorkerSettings& settings, core::Reporter& reporter)
        : diag(link::ChannelRole::Diagnostic, services.serialPorts, services.clock, reporter, settings.options),
          framer(diag, services.clock, reporter),
          diagCommands(framer, diag, services.clock, reporter, services.window.ChangeFlags()),
          at(link::ChannelRole::At, services.serialPorts, services.clock, reporter, settings.options),
          atCommands(at, services.clock, reporter, settings.options.bFastSpeedDownload) {}

    link::SerialChannel diag;
    link::HdlcFramer framer;
    link::DiagCommands diagCommands;
    link::SerialChannel at;
    link::AtChannel atCommands;
};

struct RunContext {
    WorkerServices& services;
    WorkerSettings& settings;
    core::Reporter& reporter;
    WorkerLinks& links;

    bool Healthy() const { return reporter.RunStatus() == core::kRunHealthy; }
    bool Stopped() const { return reporter.RunStatus() == core::kRunStopped; }
    void Report(const std::string& text, int kind = core::kReportInfo) { reporter.ReportStatus(text, kind); }
    // Pauses `ms`, in short slices so that a Stop ends the pause at once:
    // false when the run was stopped before or during it.
    bool PauseUnlessStopped(uint32_t ms);
};

}  // namespace firmora::engine
