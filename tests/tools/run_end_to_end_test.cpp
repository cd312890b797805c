// firmora run end to end on the real POSIX stack: the built firmora program
// against firmora-sim's modem, its ports named by the links firmora-sim keeps
// in a folder (as udev keeps /dev/serial/by-id) and its boot loader on the
// fastboot TCP transport, both programs at the same time scale. What the
// device holds is read from firmora-sim's report file; what it held before
// the update is what the same scenario gives a fresh virtual modem.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "child_process.h"
#include "sim/diag_device.h"
#include "sim/partition_store.h"
#include "sim/sim_platform.h"
#include "sim/virtual_modem.h"
#include "test_files.h"
#include "test_folder.h"

namespace firmora::simtool {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using json = nlohmann::json;

// Limits on waits: long enough for a loaded machine under sanitizers. The
// tests assert no speed; bench/ measures it.
constexpr auto kGenerous = 30s;
constexpr auto kGenerousRun = 300s;
// Both programs run ten times as fast: the update's mandated pauses and the
// modem's reboots take a tenth of their real time.
constexpr const char* kTimeScale = "10";
constexpr const char* kWipedImei = "000000000000000";

// A TCP port on the loopback that nothing listens on just now.
int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

bool HasLine(const std::string& output, const std::string& line) {
    std::istringstream in(output);
    for (std::string each; std::getline(in, each);) {
        if (each == line) return true;
    }
    return false;
}

class RunEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const fs::path& program : {sim_, firmora_, demoConfig_}) {
            ASSERT_TRUE(fs::exists(program)) << program << " is missing: build the firmora and firmora-sim targets";
        }
        port_ = FreeLoopbackPort();
        ASSERT_NE(port_, 0);
        // The run's working folder and its lock go below this test's folder,
        // so that tests running at the same time never share them.
        fs::create_directories(folder_.path() / "tmp");
        for (const char* name : {"TMPDIR", "XDG_RUNTIME_DIR"}) {
            const char* value = std::getenv(name);
            savedEnvironment_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
        ::setenv("TMPDIR", (folder_.path() / "tmp").c_str(), 1);
        ::unsetenv("XDG_RUNTIME_DIR");
    }
    // The tests after this one in the same program must not find their
    // temporary folder gone with this test's.
    void TearDown() override {
        for (const auto& [name, value] : savedEnvironment_) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
    }

    std::unique_ptr<Child> StartSim() {
        auto sim = std::make_unique<Child>(std::vector<std::string>{
            sim_.string(), "--scenario", scenario_.string(), "--fastboot-port", std::to_string(port_), "--report",
            report_.string(), "--time-scale", kTimeScale, "--link-dir", links_.string()});
        if (!sim->running() || !sim->WaitLine("ready")) {
            ADD_FAILURE() << "firmora-sim did not start\n" << sim->seen();
            return nullptr;
        }
        return sim;
    }

    std::vector<std::string> RunArguments() const {
        return {firmora_.string(),
                "run",
                "--config",
                demoConfig_.string(),
                "--diag",
                (links_ / "diag").string(),
                "--at",
                (links_ / "at").string(),
                "--fastboot",
                "tcp:127.0.0.1:" + std::to_string(port_),
                "--time-scale",
                kTimeScale,
                "--backup-root",
                backups_.string()};
    }

    // The report once `ready` holds for it; the last one read when the limit passes.
    json WaitReport(const std::function<bool(const json&)>& ready, std::chrono::milliseconds limit = kGenerous) {
        const auto until = std::chrono::steady_clock::now() + limit;
        json report;
        for (;;) {
            report = json::parse(testing::ReadTestFile(report_).value_or(""), nullptr, false);
            if (report.is_object() && ready(report)) return report;
            if (std::chrono::steady_clock::now() > until) return report.is_object() ? report : json::object();
            std::this_thread::sleep_for(20ms);
        }
    }

    // The device backup folders the runs left.
    std::vector<fs::path> KeptBackups() const {
        std::vector<fs::path> kept;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(backups_, ec)) kept.push_back(entry.path());
        return kept;
    }

    fs::path sim_ = ProgramBeside("firmora-sim");
    fs::path firmora_ = ProgramBeside("firmora");
    fs::path demoConfig_ = ProgramBeside("demo-package") / "Config.ini";
    fs::path scenario_ = fs::path(FIRMORA_SCENARIO_DIR) / "default.json";
    testing::TestFolder folder_{"run-end-to-end"};
    std::vector<std::pair<std::string, std::optional<std::string>>> savedEnvironment_;
    fs::path report_ = folder_.path() / "report.json";
    fs::path links_ = folder_.path() / "links";
    fs::path backups_ = folder_.path() / "backups";
    int port_ = 0;
};

TEST_F(RunEndToEndTest, AnUpdatePassesAndTheModemKeepsItsDataThroughTheEfsWipe) {
    const std::unique_ptr<Child> sim = StartSim();
    ASSERT_TRUE(sim);
    const json before = WaitReport([](const json& r) { return r.value("personality", "") == "normal"; });
    ASSERT_TRUE(before.contains("identity")) << before.dump(2);
    ASSERT_NE(before.at("identity").at("imei"), kWipedImei);
    ASSERT_FALSE(before.at("contexts").empty());

    Child tool(RunArguments());
    ASSERT_TRUE(tool.running());
    // The package's EFS image wipes the device's own data.
    ASSERT_TRUE(sim->WaitLine(R"(flash efs2 size \d+ xxh3 [0-9a-f]{16})", kGenerousRun)) << sim->seen();
    const json wiped = WaitReport([](const json& r) { return r.at("identity").at("imei") == kWipedImei; });
    EXPECT_EQ(wiped.at("identity").at("imei"), kWipedImei) << wiped.dump(2);

    const std::string output = tool.ReadToEnd(kGenerousRun);
    ASSERT_EQ(tool.WaitExit(kGenerous), 0) << output << "\nfirmora-sim:\n" << sim->seen();
    EXPECT_TRUE(HasLine(output, "PASS")) << output;
    // Every image of the plan went to the device, the CD-ROM image last.
    ASSERT_TRUE(sim->WaitLine(R"(flash cdrom size \d+ xxh3 [0-9a-f]{16})")) << sim->seen();
    for (const char* partition : {"sbl", "tz", "rpm", "aboot", "system", "modem", "boot", "efs2", "cdrom"}) {
        EXPECT_NE(sim->seen().find(std::string("flash ") + partition + " size"), std::string::npos) << partition;
    }

    const json after = WaitReport([&](const json& r) {
        return r.value("personality", "") == "normal" && r.at("identity") == before.at("identity") &&
               r.at("contexts") == before.at("contexts");
    });
    EXPECT_EQ(after.at("identity"), before.at("identity"));
    EXPECT_EQ(after.at("contexts"), before.at("contexts"));
    // Every NV item the run read and wrote back holds what the modem held
    // before: the values a fresh modem of the same scenario gives.
    const auto fresh = sim::SimPlatform::FromScenario(sim::Scenario::Load(scenario_));
    ASSERT_FALSE(after.at("nv").empty()) << after.dump(2);
    for (const json& item : after.at("nv")) {
        const auto original = fresh->Modem(0).diag().nv().Read(item.at("item").get<uint16_t>());
        EXPECT_EQ(item.at("status"), original.status) << item;
        EXPECT_EQ(item.at("digest"), sim::DigestHex(sim::DigestOf(original.data.data(), original.data.size()))) << item;
    }
    // The backup folder served its purpose and is gone.
    EXPECT_TRUE(KeptBackups().empty());

    sim->Signal(SIGTERM);
    EXPECT_EQ(sim->WaitExit(kGenerous), 0);
}

TEST_F(RunEndToEndTest, CtrlCStopsTheUpdateAndKeepsTheBackup) {
    const std::unique_ptr<Child> sim = StartSim();
    ASSERT_TRUE(sim);
    Child tool(RunArguments());
    ASSERT_TRUE(tool.running());
    ASSERT_TRUE(tool.WaitLine(".*Backup succssfully.*", kGenerousRun)) << tool.seen();
    tool.Signal(SIGINT);
    const std::string output = tool.ReadToEnd(kGenerousRun);
    EXPECT_EQ(tool.WaitExit(kGenerous), 130) << output;
    EXPECT_FALSE(HasLine(output, "PASS")) << output;
    EXPECT_NE(output.find("firmora run stopped"), std::string::npos) << output;
    const std::vector<fs::path> kept = KeptBackups();
    ASSERT_EQ(kept.size(), 1u) << output;
    EXPECT_TRUE(fs::exists(kept.front() / "at.bak")) << kept.front();
    EXPECT_NE(output.find("kept in " + kept.front().string()), std::string::npos) << output;
}

}  // namespace
}  // namespace firmora::simtool
