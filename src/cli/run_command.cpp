#include "cli/run_command.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>

#include "cli/arguments.h"
#include "cli/config_file.h"
#include "cli/console_progress.h"
#include "cli/embedded_run.h"
#include "cli/run_platform.h"
#include "cli/run_window.h"
#include "cli/stop_on_interrupt.h"
#include "cli/working_folder.h"
#include "core/reporter.h"
#include "download/plan_input.h"
#include "engine/comms_thread.h"
#include "engine/run_view.h"
#include "link/port_discovery.h"
#include "modeswitch/d1_switch.h"
#include "package/device_interrogation.h"
#include "package/download_options.h"
#include "package/options_json.h"
#include "platform/posix/console_dialogs.h"
#include "platform/posix/posix_console.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_paths.h"
#include "platform/posix/posix_processes.h"
#include "platform/posix/system_clock.h"
#include "platform/serial_ports.h"
#include "preserve/nv_tables.h"

namespace firmora::cli {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kUsage =
    "usage: firmora run [--simulate[=SCENARIO] | --diag PORT --at PORT [--app PORT] [--fastboot PATH]]\n"
    "                   [--config FILE | --reupdate | --all] [--wait SECONDS] [--backup-root DIR]\n"
    "                   [--time-scale X] [--verbose]\n"
    "  Without --config the package this program carries is unpacked and run the way its\n"
    "  window runs it: the modem is waited for until it is Ready (the reason is printed while\n"
    "  it is Not Ready), then Start is pressed.\n"
    "  --config FILE          run the package of this Config.ini instead; its images and\n"
    "                         library files are taken from its folder\n"
    "  --reupdate             Re-update: skip the steps the last run of this package finished\n"
    "  --all                  update every connected modem at once (up to eight), one result\n"
    "                         line each; the status is 0 only when every one passed\n"
    "  --wait SECONDS         how long the modem may stay Not Ready (default: 60)\n"
    "  --diag PORT, --at PORT the modem's Diag and AT ports: device nodes or links such as\n"
    "                         /dev/serial/by-id/... (default: found among the USB serial ports)\n"
    "  --app PORT             the modem's application port, when it has one\n"
    "  --fastboot PATH        where the modem's boot loader appears: a USB path or tcp:HOST:PORT\n"
    "                         (default: found on USB)\n"
    "  --simulate[=SCENARIO]  update the built-in virtual modem instead; SCENARIO is a shipped\n"
    "                         scenario's name or a scenario file (default: default)\n"
    "  --backup-root DIR      where the modem's data are saved during the run (default:\n"
    "                         $XDG_DATA_HOME/firmora/backups, else ~/.local/share/firmora/backups);\n"
    "                         the folder is removed after PASS and kept otherwise\n"
    "  --time-scale X         let every pause and wait pass X times as fast (X > 1 is faster),\n"
    "                         for demonstrations against firmora-sim with the same option\n"
    "  --verbose              print trace lines too\n"
    "Exit status: 0 PASS, 1 the run failed, 2 a usage error, 130 stopped with Ctrl-C.\n";

int UsageError(std::ostream& err, const std::string& problem) {
    err << "firmora run: " << problem << '\n' << kUsage;
    return kExitUsage;
}

// A positive finite number.
std::optional<double> ParsePositive(const std::string& text) {
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value) || value <= 0) {
        return std::nullopt;
    }
    return value;
}


// The view of the run: the console, and the first failure line kept for the
// closing message.
class RunConsole final : public engine::RunView {
public:
    explicit RunConsole(ConsoleProgress& console) : console_(console) {}
    void StatusCallback(int slot, const std::string& text, int kind) override {
        console_.StatusCallback(slot, text, kind);
    }
    void ErrorCallback(int slot, const std::string& text) override {
        {
            std::lock_guard lock(mutex_);
            if (failure_.empty()) failure_ = text;
        }
        console_.ErrorCallback(slot, text);
    }
    void SetGaugeMax(int slot, int maximum) override { console_.SetGaugeMax(slot, maximum); }
    void SetGaugePosition(int slot, int position) override { console_.SetGaugePosition(slot, position); }

    std::string Failure() const {
        std::lock_guard lock(mutex_);
        return failure_;
    }

private:
    ConsoleProgress& console_;
    mutable std::mutex mutex_;
    std::string failure_;
};

int PortNumberOf(const std::string& selector) { return platform::ParseComName(selector).value_or(0); }


// The package of a Config.ini on disk, on one TCommsThread of our own.
int RunWithConfig(const RunOptions& o, std::ostream& out, std::ostream& err) {
    // The package: its configuration, then every image it names, before any
    // device is touched.
    int configExit = kExitFailure;
    const std::optional<package::DownloadOptions> options = ConfigForRun("run", o.config, err, configExit);
    if (!options) return configExit;
    std::error_code ec;
    const fs::path configFile = fs::absolute(*o.config, ec);
    const fs::path packageFolder = configFile.parent_path();
    const download::PlanInputResult images = download::BuildPlanInput(*options, packageFolder);
    if (const std::string imageProblem = images.ok() ? download::EmptyImageProblem(images.input) : images.error;
        !imageProblem.empty()) {
        err << "firmora run: " << package::EscapeVisible(imageProblem) << '\n';
        return kExitFailure;
    }

    platform::PosixFiles files;
    platform::PosixPaths paths;
    std::string problem;
    const std::optional<preserve::ProductNvTables> tables = LoadTables(files, paths, err, "firmora run");
    if (!tables) return kExitFailure;
    const fs::path backupRoot = PrepareBackupRoot(o, err, "firmora run");
    if (backupRoot.empty()) return kExitFailure;

    int platformExit = kExitFailure;
    const std::unique_ptr<RunPlatform> target = RunPlatform::Open(o, problem, platformExit);
    if (!target) {
        err << "firmora run: " << problem << '\n';
        return platformExit;
    }

    // The working folder's lock is this machine's, also for the virtual modem.
    platform::PosixProcesses locks(paths.TempFolder());
    const std::unique_ptr<WorkingFolder> working =
        WorkingFolder::Prepare(locks, paths.TempFolder(), configFile, paths.ProgramFolder(), problem);
    if (!working) {
        err << "firmora run: " << package::EscapeVisible(problem) << '\n';
        return kExitFailure;
    }

    // The bar is paced in real time, also when the device runs on virtual time.
    const platform::PosixConsole console;
    const platform::SystemClock viewClock;
    ConsoleProgress progress(
        out, {.terminal = &out == &std::cout && console.OutputIsTerminal(), .showTrace = o.verbose}, viewClock);
    RunConsole view(progress);
    ViewLineLog log(view);
    platform::ConsoleDialogs dialogs(err);

    package::DeviceInterrogation interrogation(target->serialPorts(), target->clock(), log, options->Name);
    modeswitch::SerialD1Switch d1Switch(target->serialPorts(), target->clock());
    link::PortDiscovery discovery(target->devices(), target->clock(), dialogs, log, interrogation, d1Switch,
                                  options->bEnprg9x15);
    RunWindow window(discovery, target->devices(), view);

    out << "Updating " << package::EscapeVisible(target->Description()) << " with "
        << package::EscapeVisible(configFile.string()) << '\n';
    // Ctrl-C is Stop from here on. The port scan cannot be cut short (a probe
    // holds a port), so a Stop during it ends the command once it is over;
    // during the run the worker winds down through its closing steps.
    std::atomic<bool> stopRequested{false};
    std::atomic<engine::TCommsThread*> running{nullptr};
    const StopOnInterrupt stopOnInterrupt([&stopRequested, &running] {
        stopRequested = true;
        if (engine::TCommsThread* worker = running.load()) worker->Stop();
    });
    // The run's time counts from the port scan, the first step that waits.
    const uint64_t started = target->clock().TickCount();
    const bool found = window.ScanPorts() && !window.AtPortSelector().empty();
    if (stopRequested) {
        progress.Finish();
        err << "firmora run stopped: the update was stopped before it began\n";
        return kExitStopped;
    }
    if (!found) {
        progress.Finish();
        err << "firmora run: " << (window.DiagPortSelector().empty() ? "no Diag port found" : "no AT port found")
            << " for " << package::EscapeVisible(target->Description())
            << ": is the modem plugged in and awake? (--verbose shows the scan)\n";
        return kExitFailure;
    }

    if (!target->KeepModemManagerAway(window.DiagPortSelector(), problem)) {
        progress.Finish();
        err << "firmora run: " << package::EscapeVisible(problem) << '\n';
        return kExitFailure;
    }

    engine::WorkerSettings settings;
    settings.options = *options;
    settings.diagPort = PortNumberOf(window.DiagPortSelector());
    settings.atPort = PortNumberOf(window.AtPortSelector());
    settings.packageFolder = packageFolder;
    settings.workingFolder = working->path();
    settings.backupRoot = backupRoot;
    settings.totalImageSize = images.input.TotalBytes();
    engine::TCommsThread worker({target->clock(), target->serialPorts(), target->devices(), target->usbBulk(),
                                 target->processes(), dialogs, target->settings(), files, *tables, window, view},
                                std::move(settings));
    running = &worker;
    // A Stop that came between the scan and now: the worker keeps a Stop
    // given before its run begins.
    if (stopRequested) worker.Stop();
    worker.Resume();
    worker.WaitFor();
    running = nullptr;
    progress.Finish();
    // On the run's clock: virtual time for the virtual modem, device time
    // under --time-scale.
    out << "Run time: " << FormatSeconds(target->clock().TickCount() - started) << " s\n";

    if (worker.Passed()) return kExitOk;
    const bool stopped = worker.RunStatus() == core::kRunStopped;
    if (stopped) {
        err << "firmora run stopped: the update was stopped before it was complete\n";
    } else {
        const std::string failure = view.Failure();
        err << "firmora run failed: "
            << package::EscapeVisible(failure.empty() ? "the run ended without PASS" : failure) << '\n';
    }
    if (const fs::path& kept = worker.BackupFolder(); !kept.empty() && fs::exists(kept, ec)) {
        err << "The modem's saved data are kept in " << package::EscapeVisible(kept.string()) << '\n';
    }
    return stopped ? kExitStopped : kExitFailure;
}

}  // namespace

std::string ParseRunArguments(const CommandArgs& args, RunOptions& o) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        if (arg == "--help" || arg == "-h") {
            o.help = true;
        } else if (arg == "--verbose" || arg == "-v") {
            o.verbose = true;
        } else if (IsOption(arg, "--config")) {
            if (!TakeValue(args, i, "--config", value)) return "option --config needs a file";
            o.config = value;
        } else if (IsOption(arg, "--backup-root")) {
            if (!TakeValue(args, i, "--backup-root", value)) return "option --backup-root needs a folder";
            o.backupRoot = value;
        } else if (arg == "--reupdate") {
            o.reupdate = true;
        } else if (arg == "--all") {
            o.all = true;
        } else if (IsOption(arg, "--wait")) {
            if (!TakeValue(args, i, "--wait", value)) return "option --wait needs a number of seconds";
            o.waitSeconds = ParsePositive(value);
            if (!o.waitSeconds) return "--wait takes a positive number of seconds, not: " + value;
        } else if (IsOption(arg, "--time-scale")) {
            if (!TakeValue(args, i, "--time-scale", value)) return "option --time-scale needs a number";
            o.timeScale = ParsePositive(value);
            if (!o.timeScale) return "--time-scale takes a positive number, not: " + value;
        } else if (std::string problem; TakeSimulate(arg, o.scenario, problem)) {
            if (!problem.empty()) return problem;
        } else if (const char* port = PortOptionOf(arg)) {
            if (!TakeValue(args, i, port, value)) return "option " + std::string(port) + " needs a port";
            o.ports[port] = value;
        } else if (arg.starts_with("-")) {
            return "unknown option: " + arg;
        } else {
            return "unexpected argument: " + arg;
        }
    }
    if (o.help) return {};
    if (o.config && (o.reupdate || o.all || o.waitSeconds)) {
        return "--reupdate, --all and --wait run the package this program carries: they go without --config";
    }
    if (o.reupdate && o.all) return "--reupdate and --all exclude each other";
    if (o.all && !o.ports.empty()) return "--all finds every modem itself: it goes without the ports";
    const bool diag = o.ports.contains("--diag");
    const bool at = o.ports.contains("--at");
    if (diag != at) return "--diag and --at go together";
    if (!diag && !o.ports.empty()) return "--app and --fastboot go with --diag and --at";
    if (o.scenario && !o.ports.empty()) return "the ports and --simulate exclude each other";
    return {};
}

std::optional<preserve::ProductNvTables> LoadTables(platform::Files& files, platform::Paths& paths,
                                                    std::ostream& err, const char* program) {
    std::string problem;
    std::optional<preserve::ProductNvTables> tables =
        preserve::LoadProductNvTables(files, paths.ProgramFolder() / preserve::kNvTableFolder, problem);
    if (!tables) err << program << ": the NV item lists cannot be used: " << problem << '\n';
    return tables;
}

fs::path PrepareBackupRoot(const RunOptions& o, std::ostream& err, const char* program) {
    std::error_code ec;
    const fs::path backupRoot = o.backupRoot ? fs::absolute(*o.backupRoot, ec) : DefaultBackupRoot();
    if (backupRoot.empty()) {
        err << program << ": no folder for the modem's data is known (no home folder): name one with --backup-root\n";
        return {};
    }
    fs::create_directories(backupRoot, ec);
    if (ec) {
        err << program << ": cannot make the backup folder " << package::EscapeVisible(backupRoot.string()) << ": "
            << ec.message() << '\n';
        return {};
    }
    return backupRoot;
}

const Command kRunCommand = {
    "run",
    "[--simulate[=SCENARIO] | --diag PORT --at PORT [--app PORT] [--fastboot PATH]]\n"
    "      [--config FILE | --reupdate | --all] [--wait SECONDS] [--backup-root DIR] [--time-scale X] [--verbose]",
    "update a modem with the package this program carries (or --config's): save its data, write the\n"
    "      images, restore its data",
    &RunUpdate};

int RunUpdate(const CommandArgs& args, std::ostream& out, std::ostream& err) {
    RunOptions o;
    if (const std::string problem = ParseRunArguments(args, o); !problem.empty()) return UsageError(err, problem);
    if (o.help) {
        out << kUsage;
        return kExitOk;
    }
    // The command's virtual modem runs on virtual time, which takes no real
    // time at all (the desktop window paces it to be watched).
    if (o.scenario && o.timeScale) return UsageError(err, "--time-scale and --simulate exclude each other");
    if (o.config) return RunWithConfig(o, out, err);

    platform::PosixFiles files;
    platform::PosixPaths paths;
    const std::optional<preserve::ProductNvTables> tables = LoadTables(files, paths, err, "firmora run");
    if (!tables) return kExitFailure;
    const fs::path backupRoot = PrepareBackupRoot(o, err, "firmora run");
    if (backupRoot.empty()) return kExitFailure;
    return RunEmbeddedPackage(o, backupRoot, *tables, out, err);
}

}  // namespace firmora::cli
