#pragma once
// firmora flash-plan --config FILE [--device PATH | --simulate[=SCENARIO]] [--verbose]
// The image download on its own: reads a package's Config.ini, takes the
// images it names from the file's folder (or as absolute paths), and writes
// the selected single images and the [FastbootDownloadFiles] plan to a
// device in its boot loader, then restarts it. The device is the first
// fastboot interface found, the one --device names (a USB path or
// "tcp:HOST:PORT"), or the virtual modem with --simulate.

#include "cli/command.h"

namespace firmora::cli {

// 0 when every image, every entry and the restart succeeded; 1 on a
// configuration error, a missing image, no device, or a failed download;
// 2 on a usage error, an unreadable --config file or an unusable scenario.
int RunFlashPlan(const CommandArgs& args, std::ostream& out, std::ostream& err);

extern const Command kFlashPlanCommand;

}  // namespace firmora::cli
