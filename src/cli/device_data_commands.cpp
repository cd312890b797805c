#include "cli/device_data_commands.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>

#include "cli/arguments.h"
#include "cli/config_file.h"
#include "cli/console_progress.h"
#include "cli/modem_ports.h"
#include "cli/simulated_target.h"
#include "cli/stop_on_interrupt.h"
#include "core/reporter.h"
#include "engine/device_backup.h"
#include "engine/run_reporter.h"
#include "package/download_options.h"
#include "package/options_json.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_paths.h"
#include "platform/posix/posix_serial_ports.h"
#include "platform/posix/system_clock.h"
#include "preserve/nv_tables.h"
#include "sim/sim_platform.h"

namespace firmora::cli {
namespace {

namespace fs = std::filesystem;

// COM numbers given to device nodes named on the command line.
constexpr int kDiagNodeNumber = 250;
constexpr int kAtNodeNumber = 251;

enum class Direction { Backup, Restore };

struct Options {
    Direction direction = Direction::Backup;
    std::optional<fs::path> folder;
    std::optional<fs::path> config;
    std::optional<std::string> diag;
    std::optional<std::string> at;
    std::optional<std::string> scenario;  // set with --simulate
    bool verbose = false;
    bool help = false;
};

const char* Name(Direction d) { return d == Direction::Backup ? "backup" : "restore"; }
const char* FolderOption(Direction d) { return d == Direction::Backup ? "--output" : "--input"; }

std::string Usage(Direction d) {
    const std::string head = d == Direction::Backup
                                 ? "usage: firmora backup --output DIR"
                                 : "usage: firmora restore --input DIR";
    const std::string folder = d == Direction::Backup
                                   ? "  --output DIR           the folder to save into (new or empty)\n"
                                   : "  --input DIR            a folder that firmora backup made\n";
    return head + " [--config FILE] [--diag PORT --at PORT | --simulate[=SCENARIO]] [--verbose]\n" + folder +
           "  --config FILE          the package's Config.ini, which decides what is saved\n"
           "                         (default: the embedded Config.ini)\n"
           "  --diag PORT, --at PORT the modem's ports: COM names or device nodes such as\n"
           "                         /dev/ttyUSB0 (default: found by their names)\n"
           "  --simulate[=SCENARIO]  use the built-in virtual modem instead; SCENARIO is a\n"
           "                         shipped scenario's name or a scenario file (default: default)\n"
           "  --verbose              print trace lines too\n";
}

int UsageError(Direction d, std::ostream& err, const std::string& problem) {
    err << "firmora " << Name(d) << ": " << problem << '\n' << Usage(d);
    return kExitUsage;
}

std::string ParseArgs(const CommandArgs& args, Options& o) {
    const std::string folderOption = FolderOption(o.direction);
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--verbose" || arg == "-v") {
            o.verbose = true;
        } else if (IsOption(arg, folderOption)) {
            if (!TakeValue(args, i, folderOption, value)) return "option " + folderOption + " needs a folder";
            o.folder = value;
        } else if (IsOption(arg, "--config")) {
            if (!TakeValue(args, i, "--config", value)) return "option --config needs a file";
            o.config = value;
        } else if (IsOption(arg, "--diag")) {
            if (!TakeValue(args, i, "--diag", value)) return "option --diag needs a port";
            o.diag = value;
        } else if (IsOption(arg, "--at")) {
            if (!TakeValue(args, i, "--at", value)) return "option --at needs a port";
            o.at = value;
        } else if (std::string problem; TakeSimulate(arg, o.scenario, problem)) {
            if (!problem.empty()) return problem;
        } else if (arg.starts_with("-")) {
            return "unknown option: " + arg;
        } else {
            return "unexpected argument: " + arg;
        }
    }
    if (o.help) return {};
    if (!o.folder) return "option " + folderOption + " is required";
    if (o.diag.has_value() != o.at.has_value()) return "--diag and --at go together";
    if (o.diag && o.scenario) return "--diag/--at and --simulate exclude each other";
    return {};
}

// Where the device is reached: the system's ports or the virtual modem's.
struct Device {
    std::unique_ptr<sim::SimPlatform> simulation;
    std::unique_ptr<platform::PosixSerialPorts> posixPorts;
    std::unique_ptr<platform::SystemClock> systemClock;
    platform::SerialPorts* ports = nullptr;
    platform::Clock* clock = nullptr;
    int diag = 0;
    int at = 0;
    std::string description;
};

// A port argument: "COMn", or a device node given a COM number of its own.
// A node may be named by a relative path or through a link (Linux names
// modem ports by their /dev/serial/by-id/... links); it is opened by its
// absolute path, as the working folder plays no part once the run starts.
std::optional<int> PortNumber(const std::string& text, int nodeNumber, platform::PosixSerialPorts& ports) {
    if (const std::optional<int> com = platform::ParseComName(text)) return com;
    std::error_code ec;
    if (text.empty() || !fs::exists(text, ec)) return std::nullopt;
    const fs::path node = fs::absolute(text, ec);
    if (ec) return std::nullopt;
    ports.MapComPort(nodeNumber, node.string());
    return nodeNumber;
}

std::unique_ptr<Device> OpenDevice(const Options& o, std::string& problem, int& exitCode) {
    auto device = std::make_unique<Device>();
    if (o.scenario) {
        device->simulation = Simulate(*o.scenario, false, problem);
        if (!device->simulation) {
            exitCode = kExitUsage;
            return nullptr;
        }
        device->ports = &device->simulation->serialPorts();
        device->clock = &device->simulation->clock();
        const std::optional<ModemPorts> found = DiscoverModemPorts(device->simulation->devices(), problem);
        if (!found) {
            problem = "the virtual modem shows no modem ports: " + problem;
            exitCode = kExitFailure;
            return nullptr;
        }
        device->diag = found->diag;
        device->at = found->at;
        device->description = "the virtual modem (scenario " + device->simulation->Modem(0).scenario().name + ")";
        return device;
    }

    device->posixPorts = std::make_unique<platform::PosixSerialPorts>();
    device->systemClock = std::make_unique<platform::SystemClock>();
    device->ports = device->posixPorts.get();
    device->clock = device->systemClock.get();
    if (!o.diag) {
        // Port discovery needs the system's device list, which this build
        // reads only for the virtual modem so far.
        problem = "name the modem's ports with --diag PORT --at PORT (a COM name or a device node)";
        exitCode = kExitUsage;
        return nullptr;
    }
    const std::optional<int> diag = PortNumber(*o.diag, kDiagNodeNumber, *device->posixPorts);
    const std::optional<int> at = PortNumber(*o.at, kAtNodeNumber, *device->posixPorts);
    if (!diag || !at) {
        problem = "a port is a COM name such as COM5 or a device node such as /dev/ttyUSB0, not: " +
                  (!diag ? *o.diag : *o.at);
        exitCode = kExitUsage;
        return nullptr;
    }
    device->diag = *diag;
    device->at = *at;
    device->description = "the modem on " + *o.diag + " (Diag) and " + *o.at + " (AT)";
    return device;
}

int Run(Direction direction, const CommandArgs& args, std::ostream& out, std::ostream& err) {
    Options o;
    o.direction = direction;
    const std::string name = Name(direction);
    if (const std::string problem = ParseArgs(args, o); !problem.empty()) return UsageError(direction, err, problem);
    if (o.help) {
        out << Usage(direction);
        return kExitOk;
    }

    // The configuration decides what is saved and how.
    int configExit = kExitFailure;
    const std::optional<package::DownloadOptions> options = ConfigForRun(name, o.config, err, configExit);
    if (!options) return configExit;
    platform::PosixFiles files;

    // The NV item lists ship beside the program.
    platform::PosixPaths paths;
    std::string tableProblem;
    const std::optional<preserve::ProductNvTables> tables =
        preserve::LoadProductNvTables(files, paths.ProgramFolder() / preserve::kNvTableFolder, tableProblem);
    if (!tables) {
        err << "firmora " << name << ": the NV item lists cannot be used: " << tableProblem << '\n';
        return kExitFailure;
    }

    // Both check their folder before any device is touched: a backup never
    // mixes its files with others, a restore only reads a complete backup.
    if (direction == Direction::Backup) {
        if (!engine::IsFreshBackupFolder(*o.folder)) {
            err << "firmora backup: " << package::EscapeVisible(o.folder->string())
                << " is not empty; a backup goes into a new or empty folder\n";
            return kExitFailure;
        }
    } else {
        std::string problem;
        if (!engine::LoadCompleteBackup(files, *options, *tables, *o.folder, problem)) {
            err << "firmora restore: " << problem << '\n';
            return kExitFailure;
        }
    }

    std::string deviceProblem;
    int deviceExit = kExitFailure;
    const std::unique_ptr<Device> device = OpenDevice(o, deviceProblem, deviceExit);
    if (!device) {
        err << "firmora " << name << ": " << deviceProblem << '\n';
        return deviceExit;
    }

    ConsoleProgress view(out, {.terminal = false, .showTrace = o.verbose}, *device->clock);
    engine::RunReporter reporter(view, 0);
    reporter.BeginRun(0);
    engine::DeviceDataTarget target{*device->ports, *device->clock, files, reporter, *options, *tables, device->diag,
                                    device->at};
    out << (direction == Direction::Backup ? "Saving the data of " : "Writing back the data of ")
        << package::EscapeVisible(device->description) << (direction == Direction::Backup ? " into " : " from ")
        << package::EscapeVisible(o.folder->string()) << '\n';
    bool passed = false;
    {
        const StopOnInterrupt stopOnInterrupt(reporter);
        passed = direction == Direction::Backup ? engine::BackupDevice(target, *o.folder)
                                                : engine::RestoreDevice(target, *o.folder);
    }
    view.Finish();
    if (!passed) {
        if (WasStopped(reporter)) {
            err << "firmora " << name << " stopped: the run was stopped before it was complete\n";
        } else {
            err << "firmora " << name << " failed: " << FailureText(reporter) << '\n';
        }
        if (direction == Direction::Backup) {
            err << "The folder " << package::EscapeVisible(o.folder->string())
                << " holds what was saved so far but is not a complete backup.\n";
        }
        return WasStopped(reporter) ? kExitStopped : kExitFailure;
    }
    reporter.ReportStatus("PASS", core::kReportSuccess);
    return kExitOk;
}

int RunBackup(const CommandArgs& args, std::ostream& out, std::ostream& err) {
    return Run(Direction::Backup, args, out, err);
}

int RunRestore(const CommandArgs& args, std::ostream& out, std::ostream& err) {
    return Run(Direction::Restore, args, out, err);
}

}  // namespace

const Command kBackupCommand = {
    "backup", "--output DIR [--config FILE] [--diag PORT --at PORT | --simulate[=SCENARIO]]",
    "save a modem's AT parameters, NV items and user files into a folder", &RunBackup};

const Command kRestoreCommand = {
    "restore", "--input DIR [--config FILE] [--diag PORT --at PORT | --simulate[=SCENARIO]]",
    "write a backup folder's AT parameters, NV items and user files back into a modem", &RunRestore};

}  // namespace firmora::cli
