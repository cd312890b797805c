// firmora-drivlet: started without arguments, installs the tool's udev rules
// (the logged-in user may then open the modem's ports, fastboot and USB boot
// interfaces without root) into /etc/udev/rules.d when it runs as root, has
// udev read them and replay the devices present, and writes into
// [Uninstall] UninstallUDisk of an existing Config.ini beside it: "1" when the
// rules are in place (installed now or before), "0" when they are not (it
// did not run as root, or the file could not be written).
//
// Exit codes: 0 in place, 2 not in place.

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <iostream>
#include <string>
#include <vector>

#include "package-programs/program_config.h"
#include "package-programs/rules_install.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_paths.h"
#include "udev_rules.h"

extern char** environ;

namespace {

// Runs udevadm with `args` and waits for it; a system without it has no udev to tell.
void RunUdevadm(std::vector<std::string> args) {
    args.insert(args.begin(), "udevadm");
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, "udevadm", nullptr, nullptr, argv.data(), environ) != 0) {
        std::cerr << "firmora-drivlet: udevadm cannot be run; replug the modem\n";
        return;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

void ReloadUdev() {
    RunUdevadm({"control", "--reload-rules"});
    RunUdevadm({"trigger", "--action=change", "--subsystem-match=tty", "--subsystem-match=usb",
                "--subsystem-match=scsi_generic"});
}

}  // namespace

int main() {
    namespace programs = firmora::programs;
    firmora::platform::PosixPaths paths;
    firmora::platform::PosixFiles files;
    const programs::RulesInstall install =
        programs::InstallRules(files, programs::kSystemRulesFolder, kUdevRules, ::geteuid() == 0, ReloadUdev);
    std::cerr << "firmora-drivlet: " << install.message << "\n";
    programs::WriteResult(files, programs::ConfigBeside(paths.ProgramFolder()), "Uninstall", "UninstallUDisk",
                          install.inPlace ? "1" : "0");
    return install.inPlace ? 0 : 2;
}
