#pragma once
// A whole update run on SimPlatform: the embedded default Config.ini with
// images made in the test, the virtual modem of a shipped scenario (patched
// per test), the real port discovery behind the worker's window, and the
// worker itself. Everything runs on the VirtualClock.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "download/plan_input.h"
#include "engine/comms_thread.h"
#include "engine/port_rediscovery.h"
#include "package/config_parser.h"
#include "package/default_config.h"
#include "platform/dialogs.h"
#include "platform/std_files.h"
#include "preserve/at_parameters.h"
#include "preserve/library_nv.h"
#include "preserve/nv_tables.h"
#include "recording_run_view.h"
#include "sim/at_device.h"
#include "sim/diag_device.h"
#include "sim/partition_store.h"
#include "sim/sim_platform.h"
#include "sim_worker_window.h"
#include "test_folder.h"

namespace firmora::engine {

namespace fs = std::filesystem;

// The images of the embedded default configuration, in plan order, with sizes.
inline const std::vector<std::pair<std::string, size_t>>& DefaultImages() {
    static const std::vector<std::pair<std::string, size_t>> images = {
        {"sbl1.mbn", 3000},    {"tz.mbn", 2000},          {"rpm.mbn", 1500},   {"appsboot.mbn", 2500},
        {"mdm9607sysfs.ubi", 9000}, {"NONHLOS.ubi", 7000}, {"boot9607.img", 4000}, {"efs.mbn", 1200},
        {"cdrom.ubi", 5000}};
    return images;
}

// What the update is there to keep, as the device holds it now.
struct KeptData {
    sim::AtDeviceState at;
    std::map<int32_t, std::vector<uint8_t>> nv;  // below 20000: data; from 20000: the RF NV file
    bool operator==(const KeptData&) const = default;
};

// The AT values that differ between two device states, for failure messages.
inline std::string AtDifferences(const sim::AtDeviceState& a, const sim::AtDeviceState& b) {
    std::string out;
    auto field = [&](const char* name, const std::string& x, const std::string& y) {
        if (x != y) out += std::string(name) + ": \"" + x + "\" vs \"" + y + "\"\n";
    };
    field("sn", a.sn, b.sn);
    field("imei", a.imei, b.imei);
    field("imei1", a.imei1, b.imei1);
    field("esn", a.esn, b.esn);
    field("meid", a.meid, b.meid);
    field("bluetoothAddress", a.bluetoothAddress, b.bluetoothAddress);
    field("salesCount", a.salesCount, b.salesCount);
    field("salesInfo", a.salesInfo, b.salesInfo);
    field("wifiCal", a.wifiCal, b.wifiCal);
    field("testInformation", a.testInformation, b.testInformation);
    field("uit87", a.uit87, b.uit87);
    field("uit89", a.uit89, b.uit89);
    field("mode", a.mode, b.mode);
    field("cllen", a.cllen, b.cllen);
    field("mvreq", a.mvreq, b.mvreq);
    field("gmi", a.gmi, b.gmi);
    field("networkLock", a.networkLock.value_or("(unset)"), b.networkLock.value_or("(unset)"));
    field("cfun", std::to_string(a.cfun), std::to_string(b.cfun));
    for (int k = 1; k <= 16; ++k) {
        const auto x = a.contexts.find(k);
        const auto y = b.contexts.find(k);
        field(("context " + std::to_string(k)).c_str(), x == a.contexts.end() ? "(none)" : x->second,
              y == b.contexts.end() ? "(none)" : y->second);
    }
    return out;
}

class WorkerFixture : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(workingFolder);
        fs::create_directories(backupRoot);
        std::ofstream(workingFolder / "Config.ini", std::ios::binary) << package::DefaultConfigText();
        for (const auto& [name, size] : DefaultImages()) {
            std::string bytes(size, '\0');
            for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + name.size() * 7) & 0xFF);
            std::ofstream(workingFolder / name, std::ios::binary) << bytes;
        }
        for (const char* library : {"QMSL_MSVC10R.dll", "AdbWinApi.dll", "AdbWinUsbApi.dll"}) {
            std::ofstream(workingFolder / library, std::ios::binary) << "library";
        }
        platform::ScriptedDialogs parseDialogs;
        package::ParseConfigText(package::DefaultConfigText(), options, parseDialogs);
    }

    // The virtual modem of a shipped scenario with `overrides` merged over it.
    void Plug(const nlohmann::json& overrides = nlohmann::json::object(), const std::string& base = "default") {
        nlohmann::json scenario = sim::Scenario::Builtin(FIRMORA_SCENARIO_DIR, base).json;
        scenario.merge_patch(overrides);
        simulation = sim::SimPlatform::FromScenario(sim::Scenario::FromJson(scenario, "worker"));
        window = std::make_unique<testing::SimWorkerWindow>(*simulation);
    }
    sim::VirtualModem& Modem() { return simulation->Modem(0); }

    // The worker as Start makes it: the ports of a fresh scan, the package's folders.
    std::unique_ptr<TCommsThread> MakeWorker() {
        window->ScanPorts();
        WorkerSettings settings;
        settings.options = options;
        settings.slot = 0;
        settings.diagPort = PortNumberOfSelector(window->DiagPortSelector());
        settings.atPort = PortNumberOfSelector(window->AtPortSelector());
        settings.packageFolder = workingFolder;
        settings.workingFolder = workingFolder;
        settings.backupRoot = backupRoot;
        const download::PlanInputResult plan = download::BuildPlanInput(options, workingFolder);
        settings.totalImageSize = plan.ok() ? plan.input.TotalBytes() : 0;
        WorkerServices services{simulation->clock(), simulation->serialPorts(), simulation->devices(),
                                simulation->usbBulk(), simulation->processes(), dialogs,
                                simulation->settings(), files, tables, *window, view};
        return std::make_unique<TCommsThread>(services, std::move(settings));
    }

    // One whole run on the test's thread.
    void RunOnce() {
        filesBefore = FilesBelow(root.path());
        worker = MakeWorker();
        commandsBeforeRun = CommandLog().size();
        worker->Execute();
    }

    KeptData Snapshot() {
        std::lock_guard lock(simulation->lock());
        KeptData data{Modem().at(), {}};
        const sim::DiagDeviceState& diag = Modem().diag();
        for (const preserve::NvEntry& entry : preserve::LibraryNvTable()) {
            if (entry.number >= preserve::kFirstRfNvItem) {
                const auto file = diag.efs().FileContent(sim::RfNvFilePath(static_cast<uint32_t>(entry.number)));
                data.nv[entry.number] = file.value_or(std::vector<uint8_t>{});
            } else {
                const sim::NvStore::ReadResult read = diag.nv().Read(static_cast<uint16_t>(entry.number));
                data.nv[entry.number] = std::vector<uint8_t>(read.data.begin(), read.data.end());
            }
        }
        return data;
    }

    // The device holds what it held before the run, as far as this package
    // keeps it: the radio state is the end set's, and a product without
    // carrier values does not keep them.
    void ExpectKept(const KeptData& before) {
        KeptData after = Snapshot();
        after.at.cfun = before.at.cfun;
        if (!preserve::HasCarrierValues(options.ProjectIndex)) {
            after.at.cllen = before.at.cllen;
            after.at.mvreq = before.at.mvreq;
            if (!preserve::HasGmiOnly(options.ProjectIndex)) after.at.gmi = before.at.gmi;
        }
        EXPECT_TRUE(after.at == before.at) << AtDifferences(after.at, before.at);
        EXPECT_TRUE(after.nv == before.nv);
    }

    std::vector<std::string> CommandLog() {
        std::lock_guard lock(simulation->lock());
        return Modem().CommandLog();
    }
    // What the device received during the run (not the scan that chose its ports).
    std::vector<std::string> RunCommands() {
        const std::vector<std::string> log = CommandLog();
        return std::vector<std::string>(log.begin() + static_cast<std::ptrdiff_t>(std::min(commandsBeforeRun, log.size())),
                                        log.end());
    }

    static std::set<fs::path> FilesBelow(const fs::path& folder) {
        std::set<fs::path> found;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            found.insert(it->path());
        }
        return found;
    }
    // Everything the run left that was not there before and is not below the backup root.
    std::vector<fs::path> WrittenOutsideBackups() {
        std::vector<fs::path> outside;
        for (const fs::path& path : FilesBelow(root.path())) {
            if (filesBefore.count(path) != 0) continue;
            const auto relative = path.lexically_relative(backupRoot);
            if (relative.empty() || *relative.begin() == "..") outside.push_back(path);
        }
        return outside;
    }
    // Device backup folders (SN[...]...) below the backup root.
    std::vector<fs::path> BackupFolders() {
        std::vector<fs::path> folders;
        for (const auto& entry : fs::directory_iterator(backupRoot)) folders.push_back(entry.path());
        return folders;
    }

    testing::TestFolder root{"worker"};
    fs::path workingFolder = root.path() / "TempFiles";
    fs::path backupRoot = root.path() / "backups";
    package::DownloadOptions options;
    platform::StdFiles files;
    platform::ScriptedDialogs dialogs;
    // The default package keeps its NV items through the library; these are never walked.
    preserve::ProductNvTables tables{{{571, "NV_A"}}, {{4212, "NV_B"}}, {{1864, "NV_C"}}};
    testing::RecordingRunView view;
    std::unique_ptr<sim::SimPlatform> simulation;
    std::unique_ptr<testing::SimWorkerWindow> window;
    std::unique_ptr<TCommsThread> worker;
    std::set<fs::path> filesBefore;
    size_t commandsBeforeRun = 0;
};

// True when `expected` occurs in `texts` in this order (other lines between).
inline ::testing::AssertionResult InOrder(const std::vector<std::string>& texts,
                                          const std::vector<std::string>& expected) {
    size_t at = 0;
    for (const std::string& want : expected) {
        while (at < texts.size() && texts[at].find(want) == std::string::npos) ++at;
        if (at == texts.size()) return ::testing::AssertionFailure() << "missing, or out of order: \"" << want << "\"";
        ++at;
    }
    return ::testing::AssertionSuccess();
}

}  // namespace firmora::engine
