// firmora-rebootle: started without arguments, finds the modem's AT port
// (through udev: the ttys of a known modem, the ones ModemManager tagged as AT
// ports first, each probed with "AT"), resets the modem with "AT+MVTRESET"
// and writes the result into [Project] ExecuteRebootle of the Config.ini
// beside it: "100" reset, "-1" no modem port, "0" the port could not be
// opened or written, "-2" the modem refused the reset or did not answer.
//
// One runs at a time: the tool starts the program again when it has not
// answered within 7 s, and a second one must not write over the first one's
// result, so it ends at once, writing nothing.
//
// Exit codes: 0 reset, 2 no modem port, 3 could not execute, 4 failed,
// 5 the result could not be written (no Config.ini beside the program),
// 6 another reset program is running.

#include <iostream>

#include "package-programs/device_lookup.h"
#include "package-programs/modem_reset.h"
#include "package-programs/program_config.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_paths.h"
#include "platform/posix/posix_processes.h"
#include "platform/posix/posix_serial_ports.h"
#include "platform/posix/system_clock.h"

int main() {
    namespace programs = firmora::programs;
    using programs::ResetResult;
    firmora::platform::PosixPaths paths;
    firmora::platform::PosixFiles files;
    firmora::platform::PosixSerialPorts ports;
    firmora::platform::SystemClock clock;

    firmora::platform::PosixProcesses processes(paths.TempFolder());
    bool another = false;
    const std::unique_ptr<firmora::platform::NamedLock> single =
        processes.CreateNamedLock("firmora-rebootle", another);
    if (another) {
        std::cerr << "firmora-rebootle: another reset program is running\n";
        return 6;
    }

    std::vector<std::string> log;
    const ResetResult result = programs::ResetModem(ports, clock, programs::ModemAtPortCandidates(), log);
    for (const std::string& line : log) std::cerr << "firmora-rebootle: " << line << "\n";

    const std::filesystem::path config = programs::ConfigBeside(paths.ProgramFolder());
    const char* code = programs::ResetResultCode(result);
    if (!programs::WriteResult(files, config, "Project", "ExecuteRebootle", code)) {
        std::cerr << "firmora-rebootle: result " << code << " could not be written into " << config << "\n";
        return 5;
    }
    std::cerr << "firmora-rebootle: ExecuteRebootle=" << code << "\n";
    switch (result) {
        case ResetResult::Done: return 0;
        case ResetResult::NoModemPort: return 2;
        case ResetResult::CouldNotExecute: return 3;
        case ResetResult::Failed: return 4;
    }
    return 4;
}
