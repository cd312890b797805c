#include "cli/embedded_run.h"

#include <atomic>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "app/flash_application.h"
#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/console_progress.h"
#include "cli/device_fleet.h"
#include "cli/embedded_target.h"
#include "cli/stop_on_interrupt.h"
#include "cli/window_front_end.h"
#include "core/reporter.h"
#include "package/options_json.h"
#include "platform/posix/console_dialogs.h"
#include "platform/posix/posix_console.h"
#include "platform/posix/system_clock.h"

namespace firmora::cli {
namespace {

namespace fs = std::filesystem;

// The trace lines of the port scans and the readiness loop (printed with --verbose).
class ProgressTrace final : public core::LineLog {
public:
    explicit ProgressTrace(ConsoleProgress& progress) : progress_(progress) {}
    void Log(const std::string& text) override { progress_.StatusCallback(0, text, core::kReportTrace); }

private:
    ConsoleProgress& progress_;
};

// One line per device at the end of --all, and where a failed one's data are.
void PrintOutcome(const DeviceOutcome& device, std::ostream& out) {
    out << package::EscapeVisible(device.name) << ": "
        << (device.passed ? std::string("PASS") : "FAILED: " + package::EscapeVisible(device.failure)) << '\n';
    if (device.passed) return;
    std::error_code ec;
    if (!device.backupFolder.empty() && fs::exists(device.backupFolder, ec)) {
        out << "  its saved data are kept in " << package::EscapeVisible(device.backupFolder.string()) << '\n';
    }
    if (!device.runLog.empty()) out << "  its run log is " << package::EscapeVisible(device.runLog.string()) << '\n';
}

}  // namespace

int RunEmbeddedPackage(const RunOptions& options, const fs::path& backupRoot,
                       const preserve::ProductNvTables& tables, std::ostream& out, std::ostream& err) {
    std::string problem;
    int platformExit = kExitFailure;
    const std::unique_ptr<EmbeddedTarget> embedded = EmbeddedTarget::Open(options, problem, platformExit);
    if (!embedded) {
        err << "firmora run: " << problem
            << (platformExit == kExitFailure && problem.starts_with("this program carries no package")
                    ? ": name a package's Config.ini with --config"
                    : "")
            << '\n';
        return platformExit;
    }
    RunPlatform* const target = &embedded->target();
    platform::Paths& paths = embedded->paths();
    platform::ConsoleDialogs consoleBoxes(err);
    RememberedBoxes dialogs(consoleBoxes);
    const platform::PosixConsole console;
    // The bar is paced in real time, also when the device runs on virtual time.
    const platform::SystemClock realClock;
    ConsoleProgress progress(
        out, {.terminal = &out == &std::cout && console.OutputIsTerminal(), .showTrace = options.verbose}, realClock);
    ProgressTrace trace(progress);

    // Ctrl-C is Stop: the window's thread presses Stop at its next turn.
    std::atomic<bool> stopRequested{false};
    // With --all each device's window hears its own device's changes beside
    // the main window, and each worker sees only its own device.
    std::optional<ChangeFanOut> fanOut;
    std::optional<DeviceFleet> fleet;
    if (options.all) {
        fanOut.emplace(target->devices());
        fleet.emplace(DeviceFleet::Services{*fanOut, target->serialPorts(), target->clock(), dialogs, paths,
                                            [target](const platform::ComPortInterface& port) {
                                                return target->DeviceKeyOf(port);
                                            },
                                            [target](const std::string& diag, std::string& why) {
                                                return target->KeepModemManagerAway(diag, why);
                                            }},
                      progress, stopRequested);
    }
    platform::DeviceEnumerator& devices = fanOut ? static_cast<platform::DeviceEnumerator&>(*fanOut) : target->devices();
    app::FlashApplication application(embedded->Services(dialogs, tables, trace, &devices),
                                      app::ApplicationSettings{.backupRoot = backupRoot});
    WindowFrontEnd frontEnd(application, target->clock(), realClock, progress, out);

    FrontEndSettings settings;
    settings.readyLimitMs =
        static_cast<uint64_t>(options.waitSeconds.value_or(kDefaultReadyWaitSeconds) * 1000.0);
    settings.reupdate = options.reupdate;
    settings.fleet = fleet ? &*fleet : nullptr;
    settings.boxes = &dialogs;
    // ModemManager must leave the modem alone from the first command of the
    // run on; the readiness loop's probes came before it and are harmless.
    settings.beforeRun = [target](const std::string& diagSelector, std::string& why) {
        return target->KeepModemManagerAway(diagSelector, why);
    };

    out << "Updating " << (options.all ? "every modem: " : "") << package::EscapeVisible(target->Description())
        << " with the package this program carries" << (options.reupdate ? " (Re-update)" : "") << '\n';
    const StopOnInterrupt stopOnInterrupt([&stopRequested] { stopRequested = true; });
    const uint64_t started = target->clock().TickCount();
    const FrontEndResult result = frontEnd.Run(settings, stopRequested);
    out << "Run time: " << FormatSeconds(target->clock().TickCount() - started) << " s\n";

    for (const DeviceOutcome& device : result.devices) PrintOutcome(device, out);
    if (result.passed) return kExitOk;
    if (result.stopped) {
        err << "firmora run stopped: " << package::EscapeVisible(result.failure) << '\n';
    } else {
        err << "firmora run failed: " << package::EscapeVisible(result.failure) << '\n';
    }
    std::error_code ec;
    if (!result.backupFolder.empty() && fs::exists(result.backupFolder, ec)) {
        err << "The modem's saved data are kept in " << package::EscapeVisible(result.backupFolder.string()) << '\n';
    }
    return result.exitCode;
}

}  // namespace firmora::cli
