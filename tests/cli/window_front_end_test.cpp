// The command line as the window's front end, over the application and the
// demo package on the virtual modem: it waits for Ready (on the virtual clock
// when the modem never gets there), presses Start or Re-update, turns Ctrl-C
// into Stop, and with --all runs every device at once.

#include "cli/window_front_end.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/startup_texts.h"
#include "app/window_settings.h"
#include "cli/command.h"
#include "cli/device_fleet.h"
#include "cli/run_platform.h"
#include "cli/simulated_target.h"
#include "memory_bundle.h"
#include "platform/posix/posix_paths.h"
#include "platform/posix/system_clock.h"
#include "platform/std_files.h"
#include "preserve/nv_tables.h"
#include "product_pack.h"
#include "recording_log.h"
#include "sim/device_side.h"
#include "sim/sim_platform.h"
#include "temp_root_paths.h"
#include "test_folder.h"

namespace firmora::cli {
namespace {

namespace fs = std::filesystem;

// The demo package the build makes beside the programs, as firmora carries it.
void FillWithDemoPackage(testing::MemoryBundle& bundle) {
    std::vector<platform::BundleFile> files;
    std::vector<std::string> problems;
    const fs::path folder = platform::PosixPaths().ProgramFolder() / "demo-package";
    ASSERT_TRUE(pack::CollectPackage(folder, files, problems)) << folder << ": " << problems.size() << " problems";
    for (const platform::BundleFile& file : files) {
        std::ifstream in(file.source, std::ios::binary);
        bundle.Add(file.type, file.name, std::string(std::istreambuf_iterator<char>(in), {}));
    }
}

class FrontEnd : public ::testing::Test {
protected:
    // The application over the virtual modem of `scenario`.
    void Open(const sim::Scenario& scenario) {
        FillWithDemoPackage(bundle);
        simulation = sim::SimPlatform::FromScenario(scenario);
        std::string problem;
        tables = preserve::LoadProductNvTables(files, platform::PosixPaths().ProgramFolder() / preserve::kNvTableFolder,
                                               problem);
        ASSERT_TRUE(tables) << problem;
        progress = std::make_unique<ConsoleProgress>(out, ConsoleProgress::Options{.showTrace = false}, realClock);
    }
    void Open(const std::string& scenario = "default") { Open(ScenarioNamed(scenario)); }

    FrontEndResult Run(FrontEndSettings settings, platform::DeviceEnumerator* devices = nullptr) {
        app::FlashApplication application(
            app::ApplicationServices{simulation->clock(), simulation->serialPorts(),
                                     devices != nullptr ? *devices : simulation->devices(), simulation->usbBulk(),
                                     simulation->processes(), boxes, simulation->settings(), files, paths, bundle,
                                     *tables, trace},
            app::ApplicationSettings{.backupRoot = backups.path()});
        WindowFrontEnd frontEnd(application, simulation->clock(), realClock, *progress, out);
        settings.boxes = &boxes;
        return frontEnd.Run(settings, stopRequested);
    }

    // firmora run --all: one worker per modem, each over its own view of the machine.
    FrontEndResult RunAll() {
        ChangeFanOut machine(simulation->devices());
        const auto keyOf = [](const platform::ComPortInterface& port) {
            return InstanceOfInterfacePath(port.devicePath);
        };
        DeviceFleet fleet({machine, simulation->serialPorts(), simulation->clock(), dialogs, paths, keyOf, nullptr},
                          *progress, stopRequested);
        FrontEndSettings settings;
        settings.fleet = &fleet;
        return Run(settings, &machine);
    }

    // The demo package with one line of its Config.ini changed.
    void CarryConfigWith(const std::string& line, const std::string& replacement) {
        std::ifstream in(platform::PosixPaths().ProgramFolder() / "demo-package" / "Config.ini", std::ios::binary);
        std::string config(std::istreambuf_iterator<char>(in), {});
        const size_t at = config.find(line);
        ASSERT_NE(at, std::string::npos) << line;
        config.replace(at, line.size(), replacement);
        bundle.Add("INI", "ConfigFile", config);
    }

    bool Printed(const std::string& text) const { return out.str().find(text) != std::string::npos; }

    testing::MemoryBundle bundle;
    std::unique_ptr<sim::SimPlatform> simulation;
    platform::StdFiles files;
    testing::TempRootPaths paths;
    testing::TestFolder backups{"backups"};
    std::optional<preserve::ProductNvTables> tables;
    platform::ScriptedDialogs dialogs;
    RememberedBoxes boxes{dialogs};
    testing::RecordingLog trace;
    platform::SystemClock realClock;
    std::ostringstream out;
    std::unique_ptr<ConsoleProgress> progress;
    std::atomic<bool> stopRequested{false};
};

TEST_F(FrontEnd, WaitsForReadyPressesStartAndEndsInPass) {
    Open();
    const FrontEndResult result = Run({});
    EXPECT_EQ(result.exitCode, kExitOk) << result.failure << "\n" << out.str();
    EXPECT_TRUE(result.passed);
    EXPECT_TRUE(Printed("Ready"));
    EXPECT_TRUE(Printed("Start succssfully"));
    EXPECT_TRUE(Printed("Backup succssfully"));
    EXPECT_TRUE(Printed("PASS"));
    EXPECT_EQ(app::ReadDownloadStatus(simulation->settings()), "PASS");
}

// Re-update after a run that got as far as the backup: Re-update is what
// is pressed (its own trace lines, no Start version line), and it runs to PASS.
TEST_F(FrontEnd, ReupdateResumesAfterTheBackup) {
    Open();
    ASSERT_TRUE(app::WriteDownloadStatus(simulation->settings(), "Backup succssfully"));
    FrontEndSettings settings;
    settings.reupdate = true;
    std::vector<std::string> lines;
    settings.onLine = [&lines](const std::string& text, int) { lines.push_back(text); };
    const FrontEndResult result = Run(settings);
    EXPECT_EQ(result.exitCode, kExitOk) << result.failure << "\n" << out.str();
    const auto has = [&lines](const std::string& text) {
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    };
    EXPECT_TRUE(has("com null-25"));
    EXPECT_FALSE(has("com null-26"));
    EXPECT_FALSE(has("1.3.5.0"));
    EXPECT_FALSE(has("Status was wrong"));
    EXPECT_TRUE(has("PASS"));
}

// With nothing to resume Re-update says so and still runs: its own error
// line before the run is no failure of the run.
TEST_F(FrontEnd, ReupdateWithNothingToResumeRunsTheWholeUpdate) {
    Open();
    FrontEndSettings settings;
    settings.reupdate = true;
    const FrontEndResult result = Run(settings);
    EXPECT_TRUE(Printed("Status was wrong"));
    EXPECT_TRUE(Printed("Backup succssfully"));
    EXPECT_EQ(result.exitCode, kExitOk) << result.failure << "\n" << out.str();
}

// A modem that never shows its ports (it sits in its boot loader) is never
// Ready: the command ends once the limit has passed on the run's clock.
TEST_F(FrontEnd, ModemNotReadyWithinTheLimitEndsTheCommand) {
    Open(BootloaderScenario("default"));
    FrontEndSettings settings;
    settings.readyLimitMs = 90'000;
    const uint64_t started = simulation->clock().TickCount();
    const FrontEndResult result = Run(settings);
    EXPECT_EQ(result.exitCode, kExitFailure);
    EXPECT_NE(result.failure.find("the modem was not Ready within 90 s"), std::string::npos) << result.failure;
    EXPECT_NE(result.failure.find("Not Ready"), std::string::npos) << result.failure;
    EXPECT_GE(simulation->clock().TickCount() - started, 90'000U);
    EXPECT_FALSE(Printed("Start succssfully"));
}

// A modem the package does not fit: the readiness loop refuses it and
// ends, and so does the command, with the reason and before any run.
TEST_F(FrontEnd, ARefusedModemEndsTheCommandWithTheReason) {
    Open();
    CarryConfigWith("Version = v2.0.2", "Version = XB20_11.LTE.VQA0012.v2.0.2\r\nbCheckProjectCode = 1");
    const FrontEndResult result = Run({});
    EXPECT_EQ(result.exitCode, kExitFailure);
    EXPECT_EQ(result.failure, "the modem is Not Ready: Could not update other irrelevant model device!");
    EXPECT_TRUE(Printed("Not Ready: Could not update other irrelevant model device!"));
    EXPECT_FALSE(Printed("Start succssfully"));
}

// The operator variant's start timer fires while the command waits: no
// device within its 20 s ends the program with the variant's message, long
// before the command's own limit.
TEST_F(FrontEnd, TheStartTimerFiresWhileWaitingForReady) {
    Open(BootloaderScenario("default"));
    CarryConfigWith("Project = MDM9x15", "Project = ZP200_EA");
    bundle.Add("EXE", "DrivletFile", "the driver installer");  // this product's package carries it
    FrontEndSettings settings;
    settings.readyLimitMs = 600'000;
    const uint64_t started = simulation->clock().TickCount();
    const FrontEndResult result = Run(settings);
    EXPECT_EQ(result.exitCode, kExitFailure);
    EXPECT_EQ(result.failure, app::DeviceMissingMessage({}));
    const uint64_t waited = simulation->clock().TickCount() - started;
    EXPECT_GE(waited, kStartTimerMs) << result.failure;
    EXPECT_LT(waited, settings.readyLimitMs);
}

// Ctrl-C during the run is Stop: the run winds down, the device's saved data stay.
TEST_F(FrontEnd, CtrlCDuringTheRunStopsItAndKeepsTheSavedData) {
    Open();
    FrontEndSettings settings;
    settings.onLine = [this](const std::string& text, int) {
        if (text == "Backup succssfully") stopRequested = true;
    };
    const FrontEndResult result = Run(settings);
    EXPECT_EQ(result.exitCode, kExitStopped) << result.failure << "\n" << out.str();
    EXPECT_TRUE(result.stopped);
    EXPECT_FALSE(Printed("PASS"));
    ASSERT_FALSE(result.backupFolder.empty());
    // Where the worker was when Stop reached it varies; what it saved stays.
    EXPECT_TRUE(fs::exists(result.backupFolder)) << result.backupFolder;
    EXPECT_FALSE(fs::is_empty(result.backupFolder)) << result.backupFolder;
}

TEST_F(FrontEnd, CtrlCBeforeReadyEndsWithoutARun) {
    Open(BootloaderScenario("default"));
    stopRequested = true;
    const FrontEndResult result = Run({});
    EXPECT_EQ(result.exitCode, kExitStopped);
    EXPECT_EQ(result.failure, "the update was stopped before it began");
}

// Start refuses two modems; the command says why and what would do it.
TEST_F(FrontEnd, TwoModemsWithoutAllAreRefusedWithTheReason) {
    Open("two-devices");
    const FrontEndResult result = Run({});
    EXPECT_EQ(result.exitCode, kExitFailure);
    EXPECT_EQ(result.failure, "the update did not begin: Two or more devices were found (--all updates them all)");
    std::lock_guard lock(simulation->lock());
    for (size_t modem = 0; modem < 2; ++modem) {
        for (const std::string& line : simulation->Modem(modem).CommandLog()) {
            EXPECT_EQ(line.rfind("FASTBOOT:", 0), std::string::npos) << line;
        }
    }
}

// --all with two modems: each is updated through its own ports, backup
// folder and run log, and the boot loader of each gets its own images.
TEST_F(FrontEnd, AllUpdatesEveryModemAtOnce) {
    Open("two-devices");
    const FrontEndResult result = RunAll();
    EXPECT_EQ(result.exitCode, kExitOk) << result.failure << "\n" << out.str();
    ASSERT_EQ(result.devices.size(), 2U);
    EXPECT_EQ(result.devices[0].name, "device 1 (COM5, COM7)");
    EXPECT_EQ(result.devices[1].name, "device 2 (COM9, COM11)");
    for (const DeviceOutcome& device : result.devices) {
        EXPECT_TRUE(device.passed) << device.name << ": " << device.failure;
        EXPECT_FALSE(device.backupFolder.empty()) << device.name;
    }
    // Each worker saved (and restored) its own modem's data.
    EXPECT_NE(result.devices[0].backupFolder.filename().string().find("SN[FM9X15A0012345]"), std::string::npos);
    EXPECT_NE(result.devices[1].backupFolder.filename().string().find("SN[FM9X15A0054321]"), std::string::npos);
    // Passed runs leave no run log behind, neither a device's nor the window's.
    for (const auto& entry : fs::recursive_directory_iterator(paths.SystemRoot())) {
        EXPECT_NE(entry.path().extension(), ".log") << entry.path();
    }
    EXPECT_TRUE(Printed("[device 1] PASS"));
    EXPECT_TRUE(Printed("[device 2] PASS"));
    std::lock_guard lock(simulation->lock());
    for (size_t modem = 0; modem < 2; ++modem) {
        size_t flashes = 0;
        for (const std::string& line : simulation->Modem(modem).CommandLog()) {
            if (line.rfind("FASTBOOT: flash:", 0) == 0) ++flashes;
        }
        EXPECT_GT(flashes, 0U) << "modem " << modem << " got no image";
    }
}

// --all checks every modem against the package, not only the one the
// readiness check looked at: a modem of another model is left alone while
// the one that fits is updated. A package whose Start checks the modem
// itself is not run with --all at all.
TEST_F(FrontEnd, AllLeavesAModemThePackageDoesNotFitAlone) {
    sim::Scenario scenario = ScenarioNamed("two-devices");
    nlohmann::json json = scenario.json;
    json["devices"][0]["identity"]["softwareVersion"] = "XB20_11.LTE.VQA0012.v2.0.2";
    Open(sim::Scenario::FromJson(std::move(json), "two-models"));
    CarryConfigWith("Version = v2.0.2", "Version = MDM9x15.LTE.VQA0012.v2.0.2\r\nbCheckProjectCode = 1");
    const FrontEndResult result = RunAll();
    EXPECT_EQ(result.exitCode, kExitFailure) << out.str();
    ASSERT_EQ(result.devices.size(), 2U) << result.failure << "\n" << out.str();
    EXPECT_FALSE(result.devices[0].launched);
    EXPECT_EQ(result.devices[0].failure,
              "the package does not fit it: Could not update other irrelevant model device!");
    EXPECT_TRUE(result.devices[1].passed) << result.devices[1].failure;
    std::lock_guard lock(simulation->lock());
    for (const std::string& line : simulation->Modem(0).CommandLog()) {
        EXPECT_EQ(line.rfind("FASTBOOT:", 0), std::string::npos) << line;
        EXPECT_EQ(line.find("sys_reboot"), std::string::npos) << line;
    }
}

TEST_F(FrontEnd, AllRefusesAPackageWhoseStartChecksTheModem) {
    Open("two-devices");
    CarryConfigWith("Project = MDM9x15", "Project = ZO71_11");
    const FrontEndResult result = RunAll();
    EXPECT_EQ(result.exitCode, kExitFailure);
    EXPECT_NE(result.failure.find("update its modems one at a time"), std::string::npos) << result.failure;
    std::lock_guard lock(simulation->lock());
    for (size_t modem = 0; modem < 2; ++modem) {
        for (const std::string& line : simulation->Modem(modem).CommandLog()) {
            EXPECT_EQ(line.rfind("FASTBOOT:", 0), std::string::npos) << line;
        }
    }
}

}  // namespace
}  // namespace firmora::cli
