#include "cli/flash_plan_command.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>
#include <vector>

#include "cli/arguments.h"
#include "cli/config_file.h"
#include "cli/console_progress.h"
#include "cli/stop_on_interrupt.h"
#include "cli/fastboot_devices.h"
#include "cli/simulated_target.h"
#include "core/reporter.h"
#include "download/adb_api.h"
#include "download/fastboot_client.h"
#include "download/fastboot_plan.h"
#include "download/plan_input.h"
#include "engine/run_reporter.h"
#include "package/download_options.h"
#include "package/options_json.h"
#include "platform/posix/posix_console.h"
#include "platform/posix/routing_usb_bulk.h"
#include "platform/posix/system_clock.h"
#include "sim/sim_platform.h"

namespace firmora::cli {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kUsage =
    "usage: firmora flash-plan --config FILE [--device PATH | --simulate[=SCENARIO]] [--verbose]\n"
    "  --config FILE          the package's Config.ini; images are taken from its folder\n"
    "  --device PATH          the fastboot device: a USB device path or tcp:HOST:PORT\n"
    "                         (default: the first fastboot interface found on USB)\n"
    "  --simulate[=SCENARIO]  write to the built-in virtual modem instead; SCENARIO is a\n"
    "                         shipped scenario's name or a scenario file (default: default)\n"
    "  --verbose              print the protocol's trace lines too\n";

struct Options {
    std::optional<fs::path> config;
    std::optional<std::string> device;
    std::optional<std::string> scenario;  // set with --simulate
    bool verbose = false;
    bool help = false;
};

int UsageError(std::ostream& err, const std::string& problem) {
    err << "firmora flash-plan: " << problem << '\n' << kUsage;
    return kExitUsage;
}

// Empty when the arguments are fine, else the problem.
std::string ParseArgs(const CommandArgs& args, Options& options) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--verbose" || arg == "-v") {
            options.verbose = true;
        } else if (IsOption(arg, "--config")) {
            if (!TakeValue(args, i, "--config", value)) return "option --config needs a file";
            options.config = value;
        } else if (IsOption(arg, "--device")) {
            if (!TakeValue(args, i, "--device", value)) return "option --device needs a device path";
            options.device = value;
        } else if (std::string problem; TakeSimulate(arg, options.scenario, problem)) {
            if (!problem.empty()) return problem;
        } else if (arg.starts_with("-")) {
            return "unknown option: " + arg;
        } else {
            return "unexpected argument: " + arg;
        }
    }
    if (options.help) return {};
    if (!options.config) return "option --config is required";
    if (options.device && options.scenario) return "--device and --simulate exclude each other";
    return {};
}

bool SelectsAnything(const download::PlanInput& input) {
    for (const auto& image : input.singleImages) {
        if (image) return true;
    }
    return input.configuration && !input.entries.empty();
}

// Where the plan writes: the seams of a real device or of the virtual modem.
struct Target {
    std::string description;
    platform::UsbBulk* bulk = nullptr;
    platform::DeviceEnumerator* devices = nullptr;
    platform::Clock* clock = nullptr;
    // Set with --simulate.
    std::unique_ptr<sim::SimPlatform> simulation;
    std::map<std::string, sim::Partition> partitionsBefore;
    // Set for a real device.
    std::unique_ptr<platform::RoutingUsbBulk> routing;
    std::unique_ptr<FastbootDevices> fastbootDevices;
    std::unique_ptr<platform::SystemClock> systemClock;
};

std::map<std::string, sim::Partition> Partitions(sim::SimPlatform& simulation) {
    std::lock_guard lock(simulation.lock());
    return simulation.Modem(0).partitions().partitions();
}

// Nullptr with the problem in `problem` and the exit code in `exitCode`.
std::unique_ptr<Target> ChooseTarget(const Options& options, std::string& problem, int& exitCode) {
    auto target = std::make_unique<Target>();
    if (options.scenario) {
        target->simulation = Simulate(*options.scenario, true, problem);
        if (!target->simulation) {
            exitCode = kExitUsage;
            return nullptr;
        }
        sim::SimPlatform& simulation = *target->simulation;
        target->description = "the virtual modem (scenario " + simulation.Modem(0).scenario().name + ")";
        target->bulk = &simulation.usbBulk();
        target->devices = &simulation.devices();
        target->clock = &simulation.clock();
        target->partitionsBefore = Partitions(simulation);
        return target;
    }

    target->routing = std::make_unique<platform::RoutingUsbBulk>();
    target->systemClock = std::make_unique<platform::SystemClock>();
    target->bulk = target->routing.get();
    target->clock = target->systemClock.get();
    if (options.device) {
        target->description = *options.device;
        target->fastbootDevices = std::make_unique<FastbootDevices>(FastbootDevices::Fixed(*options.device));
    } else {
        const std::vector<std::string> found = target->routing->FastbootInterfacePaths();
        if (found.empty()) {
            problem = "no fastboot device found: put the modem into its boot loader, "
                      "or name the device with --device PATH (tcp:HOST:PORT for a network device)";
            exitCode = kExitFailure;
            return nullptr;
        }
        target->description = found.front();
        // The plan looks the interface up again before every connection.
        platform::RoutingUsbBulk* routing = target->routing.get();
        target->fastbootDevices = std::make_unique<FastbootDevices>([routing] { return routing->FastbootInterfacePaths(); });
    }
    target->devices = target->fastbootDevices.get();
    return target;
}

}  // namespace

const Command kFlashPlanCommand = {
    "flash-plan", "--config FILE [--device PATH | --simulate[=SCENARIO]] [--verbose]",
    "write the fastboot plan and single images a Config.ini selects to a device in its boot loader",
    &RunFlashPlan};

int RunFlashPlan(const CommandArgs& args, std::ostream& out, std::ostream& err) {
    Options options;
    if (const std::string problem = ParseArgs(args, options); !problem.empty()) return UsageError(err, problem);
    if (options.help) {
        out << kUsage;
        return kExitOk;
    }

    // The configuration, read as the tool reads it at start-up.
    int configExit = kExitFailure;
    const std::optional<package::DownloadOptions> downloadOptions =
        ConfigForRun("flash-plan", options.config, err, configExit);
    if (!downloadOptions) return configExit;

    // Every image it names, before any device is touched.
    const fs::path imageFolder = fs::absolute(*options.config).parent_path();
    const download::PlanInputResult built = download::BuildPlanInput(*downloadOptions, imageFolder);
    std::string imageProblem = built.ok() ? download::EmptyImageProblem(built.input) : built.error;
    if (!imageProblem.empty()) {
        err << "firmora flash-plan: " << package::EscapeVisible(imageProblem) << '\n';
        return kExitFailure;
    }
    const download::PlanInput& input = built.input;

    std::string targetProblem;
    int targetExit = kExitFailure;
    const std::unique_ptr<Target> target = ChooseTarget(options, targetProblem, targetExit);
    if (!target) {
        err << "firmora flash-plan: " << targetProblem << '\n';
        return targetExit;
    }

    // The bar is paced in real time, also when the device runs on virtual time.
    const platform::PosixConsole console;
    const platform::SystemClock viewClock;
    ConsoleProgress view(out, {.terminal = &out == &std::cout && console.OutputIsTerminal(), .showTrace = options.verbose},
                         viewClock);
    engine::RunReporter reporter(view, 0);
    out << "Writing " << input.TotalBytes() << " bytes of images to " << package::EscapeVisible(target->description)
        << '\n';
    if (!SelectsAnything(input)) out << "The configuration selects no image: the device is only restarted.\n";

    download::AdbApi adb = download::AdbApi::Bind(*target->bulk);
    download::FastbootClient client(adb, reporter, *target->clock);
    download::FastbootPlan plan(client, *target->devices, reporter, *target->clock);
    reporter.BeginRun(input.TotalBytes());
    {
        const StopOnInterrupt stopOnInterrupt(reporter);
        plan.Run(input);
    }

    const bool passed = reporter.RunStatus() == core::kRunHealthy;
    if (passed) {
        reporter.CompleteGauge();
        view.Finish();
        reporter.ReportStatus("PASS", core::kReportSuccess);
    } else {
        view.Finish();
    }

    if (target->simulation) {
        const std::vector<std::string> changed = ChangedPartitions(target->partitionsBefore, Partitions(*target->simulation));
        out << "Partitions written on the virtual modem:" << (changed.empty() ? " none" : "") << '\n';
        for (const std::string& line : changed) out << "  " << line << '\n';
    }
    if (WasStopped(reporter)) {
        err << "firmora flash-plan: stopped: the download to " << package::EscapeVisible(target->description)
            << " was stopped before it was complete\n";
        return kExitStopped;
    }
    if (!passed) {
        err << "firmora flash-plan: the download to " << package::EscapeVisible(target->description)
            << " failed: " << FailureText(reporter) << '\n';
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace firmora::cli
