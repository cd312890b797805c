#include "modeswitch/package_programs.h"

#include "platform/private_profile.h"

namespace firmora::modeswitch {
namespace {

constexpr uint32_t kLeadPauseMs = 3000;
constexpr uint32_t kRunPauseMs = 7000;
constexpr int kAttempts = 3;
constexpr const char* kDone = "100";
// What the result reads as when the program could not even be started.
constexpr const char* kNotExecuted = "0";

std::string FailureText(const std::string& code) {
    if (code == "-1") return "Could not find modem port.";
    if (code == "0") return "Could not Execute reset Modem.";
    if (code == "-2") return "Fail to execute reset modem.";
    return "Unknown error[ExecuteRebootle].";
}

}  // namespace

void RunSwivlet(platform::Processes& processes, const std::filesystem::path& workingFolder) {
    processes.StartHidden(workingFolder / kSwivletProgram);
}

bool RunRebootle(platform::Processes& processes, platform::Clock& clock, platform::Files& files,
                 core::Reporter& reporter, const std::filesystem::path& workingFolder) {
    if (workingFolder.empty()) {
        reporter.ReportError("Could not get temp dir path");
        return false;
    }
    const std::filesystem::path config = workingFolder / "Config.ini";
    clock.Sleep(kLeadPauseMs);
    std::string code;
    for (int attempt = 0; attempt < kAttempts && code != kDone; ++attempt) {
        const bool started = processes.StartHidden(workingFolder / kRebootleProgram);
        clock.Sleep(kRunPauseMs);
        // A program that never ran has left no result of this run: the file
        // may still hold the "100" of an earlier one.
        code = started ? platform::IniDocument::Load(files, config).GetString("Project", "ExecuteRebootle", "0")
                       : kNotExecuted;
    }
    if (code == kDone) return true;
    reporter.ReportError(FailureText(code));
    return false;
}

}  // namespace firmora::modeswitch
