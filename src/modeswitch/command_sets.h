#pragma once
// The AT command sets around a download and the disk-mode command before
// it, run on the worker's AT channel (and, for "AT%RESET", its diagnostic
// channel). Failures are the run's failure, reported through the Reporter.

#include <string>
#include <vector>

#include "core/reporter.h"
#include "link/at_channel.h"
#include "link/diag_commands.h"
#include "package/download_options.h"
#include "platform/clock.h"

namespace firmora::modeswitch {

// `d1Sent`: discovery already switched the device to its D1 personality.
void RunStartAtSet(const std::vector<std::string>& startAtList, link::AtChannel& at, platform::Clock& clock,
                   core::Reporter& reporter, bool d1Sent);

// `diag` carries "AT%RESET" (offline, then reset); it may be closed, in
// which case those attempts simply fail.
void RunEndAtSet(const std::vector<std::string>& endAtList, link::AtChannel& at, link::DiagCommands& diag,
                 platform::Clock& clock, core::Reporter& reporter);

// The project's disk-mode command before the download, when the options
// call for one; "Fail to set from modem start" on a failed send.
void SendDiskModeCommand(const package::DownloadOptions& options, link::AtChannel& at, core::Reporter& reporter);

// The command SendDiskModeCommand sends for a project index, or empty.
std::string DiskModeCommandFor(int projectIndex);

}  // namespace firmora::modeswitch
