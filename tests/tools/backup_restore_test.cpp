// firmora backup and firmora restore end to end: the built firmora program
// against firmora-sim's modem on pseudo-terminals, with the modem's EFS
// partition erased in between by the Android fastboot client, as an update
// gone wrong would leave it. What the device holds is read from
// firmora-sim's report file.
//
// The tool's AT waits are real time (close to a second per value, several
// seconds per PDP context written), so this test takes about 45 s whatever
// the simulator's time scale.

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "child_process.h"
#include "link/at_channel.h"
#include "link/serial_channel.h"
#include "package/download_options.h"
#include "platform/posix/posix_serial_ports.h"
#include "platform/posix/system_clock.h"
#include "recording_reporter.h"
#include "test_files.h"
#include "test_folder.h"

namespace firmora::simtool {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using json = nlohmann::json;

// Limits on waits for events: long enough for a loaded machine under
// sanitizers (a backup or restore takes close to a minute of real AT waits).
constexpr auto kGenerous = 30s;
constexpr auto kGenerousRun = 300s;

constexpr const char* kWipedImei = "000000000000000";

// The serial ports firmora-sim printed for the modem's normal personality.
struct ModemNodes {
    int atCom = 0;
    std::string diag;
    std::string at;
};

std::optional<ModemNodes> WaitForPorts(Child& sim) {
    const auto diag = sim.WaitLine(R"(port diag COM\d+ (/dev/\S+))");
    const auto at = sim.WaitLine(R"(port at COM(\d+) (/dev/\S+))");
    if (!diag || !at) return std::nullopt;
    return ModemNodes{std::stoi((*at)[1]), (*diag)[1], (*at)[2]};
}

bool HasLine(const std::string& output, const std::string& line) {
    std::istringstream in(output);
    for (std::string each; std::getline(in, each);) {
        if (each == line) return true;
    }
    return false;
}

// "item" -> the rest of each entry of a report list ("nv", "rfnv").
std::map<int, json> ByItem(const json& list) {
    std::map<int, json> items;
    for (const json& entry : list) items[entry.at("item").get<int>()] = entry;
    return items;
}

const json& Partition(const json& report, const std::string& name) {
    static const json none;
    for (const json& partition : report.at("partitions")) {
        if (partition.at("name") == name) return partition;
    }
    return none;
}

class BackupRestoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const fs::path& program : {sim_, firmora_}) {
            ASSERT_TRUE(fs::exists(program)) << program << " is missing: build the firmora and firmora-sim targets";
        }
    }

    // The report once `ready` holds for it (the simulator writes it just
    // after it prints a line); the last one read when the limit passes.
    json WaitReport(const std::function<bool(const json&)>& ready, std::chrono::milliseconds limit = kGenerous) {
        const auto until = std::chrono::steady_clock::now() + limit;
        json report;
        for (;;) {
            const std::optional<std::string> text = testing::ReadTestFile(report_);
            report = json::parse(text.value_or(""), nullptr, false);
            if (report.is_object() && ready(report)) return report;
            if (std::chrono::steady_clock::now() > until) return report.is_object() ? report : json::object();
            std::this_thread::sleep_for(20ms);
        }
    }

    // firmora with `args`: its exit status (-1 when it overran `limit`) and output.
    int RunFirmora(std::vector<std::string> args, std::string& output, std::chrono::milliseconds limit) {
        args.insert(args.begin(), firmora_.string());
        Child tool(std::move(args));
        output = tool.ReadToEnd(limit);
        return tool.WaitExit(kGenerous);
    }

    fs::path sim_ = ProgramBeside("firmora-sim");
    fs::path firmora_ = ProgramBeside("firmora");
    fs::path scenario_ = fs::path(FIRMORA_SCENARIO_DIR) / "default.json";
    testing::TestFolder folder_{"backup-restore"};
    fs::path report_ = folder_.path() / "report.json";
};

TEST_F(BackupRestoreTest, CtrlCStopsABackupWithoutLeavingAManifest) {
    Child sim({sim_.string(), "--scenario", scenario_.string(), "--fastboot-port", "0"});
    ASSERT_TRUE(sim.running());
    std::optional<ModemNodes> nodes = WaitForPorts(sim);
    ASSERT_TRUE(nodes) << sim.seen();
    ASSERT_TRUE(sim.WaitLine("ready")) << sim.seen();

    const fs::path backup = folder_.path() / "stopped";
    Child tool({firmora_.string(), "backup", "--output", backup.string(), "--diag", nodes->diag, "--at", nodes->at});
    // The AT channel is open and the device's values are being read.
    ASSERT_TRUE(tool.WaitLine(R"(Ready 1\.\.\.\.\.\.)", 30s)) << tool.seen();
    tool.Signal(SIGINT);
    const std::string output = tool.ReadToEnd(60s);
    EXPECT_EQ(tool.WaitExit(5s), 130) << output;
    EXPECT_NE(output.find("firmora backup stopped"), std::string::npos) << output;
    EXPECT_FALSE(HasLine(output, "PASS")) << output;
    EXPECT_FALSE(fs::exists(backup / "manifest.json"));
}

TEST_F(BackupRestoreTest, RestoreBringsBackWhatAnEfsWipeTookAway) {
    // Ten times as fast: the modem's reboots take about a second.
    Child sim({sim_.string(), "--scenario", scenario_.string(), "--fastboot-port", "0", "--report", report_.string(),
               "--time-scale", "10"});
    ASSERT_TRUE(sim.running());
    std::optional<ModemNodes> nodes = WaitForPorts(sim);
    ASSERT_TRUE(nodes) << sim.seen();
    ASSERT_TRUE(sim.WaitLine("ready")) << sim.seen();
    const json before = WaitReport([](const json& r) { return r.value("personality", "") == "normal"; });
    ASSERT_TRUE(before.contains("identity")) << before.dump(2);

    // --- backup, naming the ports as Linux users do: the Diag port by a
    // by-id link, the AT port by a path relative to the working folder.
    const fs::path byId = folder_.path() / "serial" / "by-id";
    fs::create_directories(byId);
    fs::create_symlink(nodes->diag, byId / "usb-Modem_0123-if00");
    fs::create_symlink(nodes->at, folder_.path() / "at-port");
    const fs::path relativeAt = (folder_.path() / "at-port").lexically_relative(fs::current_path());
    ASSERT_TRUE(relativeAt.is_relative()) << relativeAt;
    const fs::path backup = folder_.path() / "backup";
    std::string output;
    int status = RunFirmora({"backup", "--output", backup.string(), "--diag", (byId / "usb-Modem_0123-if00").string(),
                             "--at", relativeAt.string()},
                            output, kGenerousRun);
    ASSERT_EQ(status, 0) << output;
    EXPECT_TRUE(HasLine(output, "PASS")) << output;
    const json manifest = json::parse(testing::ReadTestFile(backup / "manifest.json").value_or(""), nullptr, false);
    ASSERT_TRUE(manifest.is_object()) << "no manifest in " << backup;
    std::set<int> saved;
    for (const json& item : manifest.at("nv").at("items")) saved.insert(item.at("number").get<int>());
    ASSERT_FALSE(saved.empty()) << manifest.dump(2);

    // The report lists the NV items the backup asked for once it has seen them all.
    const json original = WaitReport([&](const json& r) {
        const auto listed = ByItem(r.value("nv", json::array()));
        for (const int item : saved) {
            if (!listed.contains(item)) return false;
        }
        return true;
    });
    const auto listed = ByItem(original.value("nv", json::array()));
    for (const int item : saved) ASSERT_TRUE(listed.contains(item)) << "NV item " << item << "\n" << original.dump(2);
    // Reading changed nothing.
    for (const char* key : {"identity", "parameters", "contexts", "rfnv"}) {
        EXPECT_EQ(original.at(key), before.at(key)) << key;
    }
    ASSERT_FALSE(original.at("contexts").empty());
    ASSERT_FALSE(original.at("rfnv").empty());

    // --- the modem into its boot loader
    {
        platform::SystemClock clock;
        testing::RecordingReporter reporter;
        package::DownloadOptions options;
        platform::PosixSerialPorts ports;
        ports.MapComPort(nodes->atCom, nodes->at);
        link::SerialChannel at(link::ChannelRole::At, ports, clock, reporter, options);
        ASSERT_TRUE(at.OpenAtChannel(nodes->atCom));
        link::AtChannel channel(at, clock, reporter, false);
        EXPECT_TRUE(channel.AtSendReboot("at+syscmd=sys_reboot bootloader\r\n\r\n"));
        at.CloseChannel("Warning-at");
    }
    ASSERT_TRUE(sim.WaitLine("arrival bootloader")) << sim.seen();
    const auto fastbootLine = sim.WaitLine(R"(fastboot (tcp:127\.0\.0\.1:\d+))");
    ASSERT_TRUE(fastbootLine) << sim.seen();

    // --- the EFS wiped, and back to normal
    if (::access("/usr/bin/fastboot", X_OK) != 0) GTEST_SKIP() << "/usr/bin/fastboot is not installed";
    const std::string target = (*fastbootLine)[1];
    auto run = RunFastboot({"-s", target, "erase", "efs2"});
    ASSERT_EQ(run.first, 0) << run.second;
    ASSERT_TRUE(sim.WaitLine(R"(erase efs2 size 0 xxh3 [0-9a-f]{16})")) << sim.seen();
    run = RunFastboot({"-s", target, "reboot"});
    ASSERT_EQ(run.first, 0) << run.second;
    ASSERT_TRUE(sim.WaitLine("arrival normal")) << sim.seen();
    nodes = WaitForPorts(sim);
    ASSERT_TRUE(nodes) << sim.seen();

    const json wiped = WaitReport([](const json& r) {
        return r.value("personality", "") == "normal" && Partition(r, "efs2").value("erases", 0) == 1;
    });
    ASSERT_EQ(wiped.value("personality", ""), "normal") << wiped.dump(2);
    EXPECT_EQ(wiped.at("identity").at("imei"), kWipedImei);
    EXPECT_EQ(wiped.at("identity").at("sn"), "");
    EXPECT_TRUE(wiped.at("contexts").empty()) << wiped.at("contexts");
    EXPECT_NE(wiped.at("parameters"), original.at("parameters"));
    {
        const auto was = ByItem(original.at("nv"));
        const auto now = ByItem(wiped.at("nv"));
        for (const int item : saved) EXPECT_NE(now.at(item), was.at(item)) << "NV item " << item;
        const auto filesWere = ByItem(original.at("rfnv"));
        const auto filesNow = ByItem(wiped.at("rfnv"));
        for (const auto& [item, file] : filesWere) {
            EXPECT_TRUE(!filesNow.contains(item) || filesNow.at(item) != file) << "RF NV file " << item;
        }
    }

    // --- damaged folders are refused before the device is touched: no
    // manifest, a manifest that is a FIFO or a link to /dev/zero (which
    // would never end reading), at.bak a link to another device's values
    const std::optional<std::string> untouched = testing::ReadTestFile(report_);
    const std::vector<std::pair<std::function<void(const fs::path&)>, std::string>> damages = {
        {[](const fs::path& d) { fs::remove(d / "manifest.json"); }, "manifest.json is missing"},
        {[](const fs::path& d) {
             fs::remove(d / "manifest.json");
             ASSERT_EQ(::mkfifo((d / "manifest.json").c_str(), 0600), 0);
         },
         "manifest.json is not a regular file"},
        {[](const fs::path& d) {
             fs::remove(d / "manifest.json");
             fs::create_symlink("/dev/zero", d / "manifest.json");
         },
         "manifest.json is a symbolic link"},
        {[](const fs::path& d) {
             fs::copy_file(d / "at.bak", d.parent_path() / "elsewhere.bak");
             fs::remove(d / "at.bak");
             fs::create_symlink(d.parent_path() / "elsewhere.bak", d / "at.bak");
         },
         "at.bak is a symbolic link"},
    };
    for (size_t i = 0; i < damages.size(); ++i) {
        SCOPED_TRACE(damages[i].second);
        const fs::path damaged = folder_.path() / ("damaged" + std::to_string(i));
        fs::copy(backup, damaged, fs::copy_options::recursive);
        damages[i].first(damaged);
        status = RunFirmora({"restore", "--input", damaged.string(), "--diag", nodes->diag, "--at", nodes->at},
                            output, kGenerousRun);
        EXPECT_EQ(status, 1) << output;
        EXPECT_NE(output.find("holds no complete backup"), std::string::npos) << output;
        EXPECT_NE(output.find(damages[i].second), std::string::npos) << output;
        EXPECT_FALSE(HasLine(output, "PASS")) << output;
        EXPECT_EQ(testing::ReadTestFile(report_), untouched);
    }

    // --- restore
    status = RunFirmora({"restore", "--input", backup.string(), "--diag", nodes->diag, "--at", nodes->at},
                        output, 120s);
    ASSERT_EQ(status, 0) << output;
    EXPECT_TRUE(HasLine(output, "PASS")) << output;

    // AT+CLLEN, AT+MVREQ and AT+GMI are saved only for carrier projects; the
    // embedded package's project is none of them, so they stay wiped.
    const auto restoredParameters = [&](const json& r) {
        json kept = r.at("parameters");
        json want = original.at("parameters");
        for (const char* key : {"cllen", "mvreq", "gmi"}) {
            kept.erase(key);
            want.erase(key);
        }
        return kept == want;
    };
    const json restored = WaitReport([&](const json& r) {
        return r.contains("parameters") && restoredParameters(r) && r.at("identity") == original.at("identity") &&
               r.at("contexts") == original.at("contexts") && r.at("nv") == original.at("nv") &&
               r.at("rfnv") == original.at("rfnv");
    });
    ASSERT_TRUE(restored.contains("identity")) << restored.dump(2);
    EXPECT_EQ(restored.at("identity"), original.at("identity"));
    EXPECT_EQ(restored.at("contexts"), original.at("contexts"));
    EXPECT_TRUE(restoredParameters(restored)) << restored.at("parameters") << "\nwas " << original.at("parameters");
    EXPECT_EQ(restored.at("nv"), original.at("nv"));
    EXPECT_EQ(restored.at("rfnv"), original.at("rfnv"));

    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.WaitExit(kGenerous), 0);
}

}  // namespace
}  // namespace firmora::simtool
