#pragma once
// The update workflow: the fixed sequence of steps one worker walks for one
// device (library, AT channel, checks, start set, backup, reboot into the
// boot loader, the fastboot plan, the device's return, restores, end set,
// closing, "PASS"). Which steps run is decided by the run's options and
// project; the order never changes. A failure is reported once and every
// later guarded step is skipped; only the closing steps still run.

#include <filesystem>

#include "engine/comms_thread.h"

namespace firmora::engine {

// Walks the sequence once. `backupFolder` receives the device backup folder
// as soon as it is made; true when "PASS" was reported.
bool RunUpdateWorkflow(WorkerServices& services, WorkerSettings& settings, RunReporter& reporter,
                       std::filesystem::path& backupFolder);

// The device backup folder's name for an identity: "SN[...]", then
// "IMEI[...]" and "MEID[...]" for values that were read and hold no run of
// ten zeros, made safe as one local folder name.
std::string BackupFolderName(const std::string& sn, const std::string* imei, const std::string* meid);

}  // namespace firmora::engine
