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

// Entries "AT%SLEEP=ms" pause instead of being sent; a Stop or a failure
// ends the set (and a long pause) early.
// `d1Sent`: discovery already switched the device to its D1 personality.
void RunStartAtSet(const std::vector<std::string>& startAtList, link::AtChannel& at, platform::Clock& clock,
                   core::Reporter& reporter, bool d1Sent);

// `diag` carries "AT%RESET" (offline, then reset); it may be closed, in
// which case those attempts simply fail.
void RunEndAtSet(const std::vector<std::string>& endAtList, link::AtChannel& at, link::DiagCommands& diag,
                 platform::Clock& clock, core::Reporter& reporter);

// Whether the options call for the disk-mode command before the download:
// the PC-suite image; the modem image alone (no EFS images) for projects 20
// and 29; RE78_51 with a version variant while the run is healthy.
bool DiskModeCommandWanted(const package::DownloadOptions& options, int32_t runStatus);

// The project's disk-mode command before the download, when the options
// call for one and the project has one; "Fail to set from modem start" on a
// failed send.
void SendDiskModeCommand(const package::DownloadOptions& options, link::AtChannel& at, core::Reporter& reporter);

// The command SendDiskModeCommand sends for a project index, or empty.
std::string DiskModeCommandFor(int projectIndex);

}  // namespace firmora::modeswitch
