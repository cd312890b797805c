// update_run: the wall time of one whole update under the virtual clock.
//
// The embedded default Config.ini with generated images is run against the
// virtual modem of sim/scenarios/default.json on SimPlatform, the way the
// engine's tests run it: port scan, worker, backup, boot loader, twelve plan
// entries, restart, re-found ports, restores, "PASS". Every pause and
// time-out passes on the VirtualClock, so what is left is the tool's own
// work and the simulator's. Each round starts from a fresh modem; the run
// must pass.
//
// usage: update_run [--rounds N] [--image-kib K]

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "download/plan_input.h"
#include "engine/comms_thread.h"
#include "engine/port_rediscovery.h"
#include "package/config_parser.h"
#include "package/default_config.h"
#include "platform/dialogs.h"
#include "platform/std_files.h"
#include "preserve/nv_tables.h"
#include "sim/sim_platform.h"
#include "sim_worker_window.h"

namespace fs = std::filesystem;
using namespace firmora;

namespace {

const char* const kImages[] = {"sbl1.mbn",    "tz.mbn",       "rpm.mbn", "appsboot.mbn", "mdm9607sysfs.ubi",
                               "NONHLOS.ubi", "boot9607.img", "efs.mbn", "cdrom.ubi"};

class NullView final : public engine::RunView {
public:
    void StatusCallback(int, const std::string& text, int kind) override {
        if (kind == core::kReportSuccess && text == "PASS") passed = true;
    }
    void ErrorCallback(int, const std::string& text) override { failure = text; }
    void SetGaugeMax(int, int) override {}
    void SetGaugePosition(int, int) override {}
    bool passed = false;
    std::string failure;
};

struct Round {
    double wallSeconds = 0;
    double virtualSeconds = 0;
};

Round RunOnce(const fs::path& workingFolder, const fs::path& backupRoot, const package::DownloadOptions& options) {
    auto simulation = sim::SimPlatform::FromScenario(sim::Scenario::Builtin(FIRMORA_SCENARIO_DIR, "default"));
    testing::SimWorkerWindow window(*simulation);
    platform::StdFiles files;
    platform::ScriptedDialogs dialogs;
    const preserve::ProductNvTables tables;
    NullView view;

    const auto start = std::chrono::steady_clock::now();
    const uint64_t virtualStart = simulation->clock().TickCount();
    window.ScanPorts();
    engine::WorkerSettings settings;
    settings.options = options;
    settings.diagPort = engine::PortNumberOfSelector(window.DiagPortSelector());
    settings.atPort = engine::PortNumberOfSelector(window.AtPortSelector());
    settings.packageFolder = workingFolder;
    settings.workingFolder = workingFolder;
    settings.backupRoot = backupRoot;
    settings.totalImageSize = download::BuildPlanInput(options, workingFolder).input.TotalBytes();
    engine::WorkerServices services{simulation->clock(), simulation->serialPorts(), simulation->devices(),
                                    simulation->usbBulk(), simulation->processes(), dialogs,
                                    simulation->settings(), files, tables, window, view};
    engine::TCommsThread worker(services, std::move(settings));
    worker.Execute();
    const auto end = std::chrono::steady_clock::now();
    if (!view.passed) {
        std::cerr << "update_run: the run did not pass: " << view.failure << '\n';
        std::exit(1);
    }
    return {std::chrono::duration<double>(end - start).count(),
            static_cast<double>(simulation->clock().TickCount() - virtualStart) / 1000.0};
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 10;
    size_t imageKib = 64;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--image-kib" && i + 1 < argc) {
            imageKib = static_cast<size_t>(std::max(1, std::atoi(argv[++i])));
        } else {
            std::cerr << "usage: update_run [--rounds N] [--image-kib K]\n";
            return 2;
        }
    }

    const fs::path root = fs::temp_directory_path() / ("firmora-update-run-" + std::to_string(::getpid()));
    const fs::path workingFolder = root / "TempFiles";
    fs::create_directories(workingFolder);
    std::ofstream(workingFolder / "Config.ini", std::ios::binary) << package::DefaultConfigText();
    std::string image(imageKib * 1024, '\0');
    for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>((i * 131 + i / 4096) & 0xFF);
    for (const char* name : kImages) std::ofstream(workingFolder / name, std::ios::binary) << image;
    for (const char* library : {"QMSL_MSVC10R.dll", "AdbWinApi.dll"}) {
        std::ofstream(workingFolder / library, std::ios::binary) << "library";
    }
    package::DownloadOptions options;
    platform::ScriptedDialogs parseDialogs;
    package::ParseConfigText(package::DefaultConfigText(), options, parseDialogs);

    std::vector<Round> results;
    for (int round = 0; round < rounds; ++round) {
        results.push_back(RunOnce(workingFolder, root / ("backups-" + std::to_string(round)), options));
    }
    fs::remove_all(root);

    std::vector<double> walls;
    for (const Round& r : results) walls.push_back(r.wallSeconds);
    std::sort(walls.begin(), walls.end());
    std::printf("default update, %d rounds, 9 images of %zu KiB\n", rounds, imageKib);
    std::printf("virtual time of one run: %.1f s\n", results.front().virtualSeconds);
    std::printf("wall time: best %.3f s, median %.3f s, worst %.3f s\n", walls.front(), walls[walls.size() / 2],
                walls.back());
    return 0;
}
