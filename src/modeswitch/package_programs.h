#pragma once
// The package's helper programs, started from the working folder without
// arguments: the mode switch (Swivlet.exe), which makes a device that shows
// only its CD-ROM show its modem ports, and the reset program
// (Rebootle.exe), which resets the modem and leaves its result code in
// [Project] ExecuteRebootle of the Config.ini beside it.

#include <filesystem>

#include "core/reporter.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/processes.h"

namespace firmora::modeswitch {

inline constexpr const char* kSwivletProgram = "Swivlet.exe";
inline constexpr const char* kRebootleProgram = "Rebootle.exe";
inline constexpr const char* kDrivletProgram = "Drivlet.exe";

// Starts the mode switch and returns at once; a failed start is silent (the
// callers notice the ports that stay missing).
void RunSwivlet(platform::Processes& processes, const std::filesystem::path& workingFolder);

// Runs the reset program up to three times (3 s before, 7 s after each
// start) until it leaves "100" in [Project] ExecuteRebootle of
// workingFolder/Config.ini; any other code is the run's failure with its
// text. An attempt whose program could not be started counts as "0", so a
// "100" an earlier run left in the file is never taken for this run's. An
// empty `workingFolder` (no temporary folder) fails with "Could not get temp
// dir path".
bool RunRebootle(platform::Processes& processes, platform::Clock& clock, platform::Files& files,
                 core::Reporter& reporter, const std::filesystem::path& workingFolder);

}  // namespace firmora::modeswitch
