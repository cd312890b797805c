// firmora-sim in real time: its scheduler and pseudo-terminal bridge on their
// own, then the built program as a child process, driven through the tool's
// own serial stack and the Android fastboot client. Time bounds are generous;
// every child is killed when a bound passes, so that a hang cannot block CI.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>
#include <xxhash.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "child_process.h"
#include "core/reporter.h"
#include "firmora-sim/pty_bridge.h"
#include "firmora-sim/realtime_scheduler.h"
#include "link/at_channel.h"
#include "link/diag_commands.h"
#include "link/hdlc_framer.h"
#include "link/serial_channel.h"
#include "package/download_options.h"
#include "platform/posix/posix_serial_ports.h"
#include "platform/posix/system_clock.h"
#include "recording_reporter.h"
#include "test_folder.h"

namespace firmora::simtool {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// How long a test waits for an event before it gives up: long enough for a
// loaded machine under sanitizers. Tests assert no speed; benchmarks measure it.
constexpr auto kGenerous = 30s;

// ---------------------------------------------------------------- scheduler

// Names of callbacks in the order they ran, with a wait for a count.
struct RunLog {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> names;

    void Add(const std::string& name) {
        std::lock_guard<std::mutex> lock(mutex);
        names.push_back(name);
        changed.notify_all();
    }
    bool WaitFor(size_t count, std::chrono::milliseconds limit = kGenerous) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, limit, [&] { return names.size() >= count; });
    }
};

TEST(RealtimeScheduler, RunsCallbacksInDueOrderUnderTheModemLock) {
    std::mutex modemLock;
    RealtimeScheduler scheduler(modemLock);
    RunLog log;
    SteadyClock::time_point released;
    SteadyClock::time_point firstRan;
    {
        // Scheduled from "inside the modem", as the device does it.
        std::lock_guard<std::mutex> lock(modemLock);
        scheduler.Start();
        scheduler.After(60, [&] { log.Add("b"); });
        scheduler.After(0, [&] {
            firstRan = SteadyClock::now();
            log.Add("a");
            scheduler.After(0, [&] { log.Add("a2"); });
        });
        scheduler.After(60, [&] { log.Add("c"); });
        std::this_thread::sleep_for(100ms);
        released = SteadyClock::now();
    }
    ASSERT_TRUE(log.WaitFor(4));
    // a2 fell due only when it was scheduled, after b and c.
    EXPECT_EQ(log.names, (std::vector<std::string>{"a", "b", "c", "a2"}));
    // Nothing ran while the modem lock was held elsewhere.
    EXPECT_GE(firstRan, released);
}

TEST(RealtimeScheduler, TimeScaleShortensDelaysAndStopIsPrompt) {
    std::mutex modemLock;
    // A minute of modem time is 60 ms of real time; the bounds only tell a
    // scaled delay from an unscaled one, and a prompt Stop from one that
    // waits for a callback due in days.
    RealtimeScheduler scheduler(modemLock, 1000.0);
    scheduler.Start();
    RunLog log;
    const auto start = SteadyClock::now();
    scheduler.After(60'000, [&] { log.Add("due"); });
    scheduler.After(600'000'000, [&] { log.Add("never"); });
    ASSERT_TRUE(log.WaitFor(1));
    const auto took = SteadyClock::now() - start;
    EXPECT_GE(took, 55ms);
    EXPECT_LT(took, kGenerous);
    EXPECT_GE(scheduler.NowMs(), 60'000u);

    const auto stopping = SteadyClock::now();
    scheduler.Stop();
    EXPECT_LT(SteadyClock::now() - stopping, kGenerous);
    scheduler.After(0, [&] { log.Add("after stop"); });
    EXPECT_EQ(scheduler.Pending(), 0u);
    EXPECT_EQ(log.names, std::vector<std::string>{"due"});
}

// ------------------------------------------------------------------- bridge

class PtyBridgeTest : public ::testing::Test {
protected:
    PtyBridgeTest()
        : bridge_([this](const uint8_t* data, size_t length) {
              std::lock_guard<std::mutex> lock(mutex_);
              fromHost_.append(reinterpret_cast<const char*>(data), length);
              changed_.notify_all();
          }) {}

    int OpenHost() {
        const int fd = ::open(bridge_.devicePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        EXPECT_GE(fd, 0) << bridge_.devicePath();
        return fd;
    }
    void Send(const std::string& text) {
        bridge_.Send(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }
    bool WaitFromHost(const std::string& text) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, kGenerous, [&] { return fromHost_ == text; });
    }
    bool WaitConnected(bool connected) {
        const auto until = SteadyClock::now() + kGenerous;
        while (bridge_.HostConnected() != connected) {
            if (SteadyClock::now() > until) return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }
    // What the host reads, waiting for it to arrive.
    static std::string HostRead(int fd, int waitMs = 30'000) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, waitMs) != 1) return "";
        char buffer[256];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "";
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::string fromHost_;
    PtyBridge bridge_;
};

TEST_F(PtyBridgeTest, HostMayCloseAndReopenWithoutStaleBytes) {
    int host = OpenHost();
    ASSERT_GE(host, 0);
    ASSERT_EQ(::write(host, "AT\r", 3), 3);
    EXPECT_TRUE(WaitFromHost("AT\r"));
    ASSERT_TRUE(WaitConnected(true));
    Send("\r\nOK\r\n");
    EXPECT_EQ(HostRead(host), "\r\nOK\r\n");

    ::close(host);
    ASSERT_TRUE(WaitConnected(false));
    Send("sent while nobody listened");
    std::this_thread::sleep_for(100ms);

    host = OpenHost();
    ASSERT_GE(host, 0);
    ASSERT_TRUE(WaitConnected(true));
    Send("fresh");
    EXPECT_EQ(HostRead(host), "fresh");
    ASSERT_EQ(::write(host, "2", 1), 1);
    EXPECT_TRUE(WaitFromHost("AT\r2"));
    ::close(host);
}

TEST_F(PtyBridgeTest, IdlesWithoutSpinningAndHangsUpTheHost) {
    // Nobody has the slave open: the master reports a hang-up on every poll.
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    std::this_thread::sleep_for(500ms);
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    const auto cpuUs = [](const rusage& r) {
        return (r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1'000'000LL + r.ru_utime.tv_usec + r.ru_stime.tv_usec;
    };
    // A poll loop that spun would take about the whole half second.
    EXPECT_LT(cpuUs(after) - cpuUs(before), 250'000);

    const int host = OpenHost();
    ASSERT_GE(host, 0);
    ASSERT_TRUE(WaitConnected(true));
    bridge_.Hangup();
    pollfd p{host, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 30'000), 1);
    EXPECT_TRUE(p.revents & POLLHUP);
    char byte;
    EXPECT_LE(::read(host, &byte, 1), 0);
    ::close(host);
}

// ------------------------------------------------------------- firmora-sim

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class FirmoraSimTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::exists(program_)) << program_ << " is missing: build the firmora-sim target";
    }

    fs::path scenario_ = fs::path(FIRMORA_SCENARIO_DIR) / "default.json";
    fs::path program_ = ProgramBeside("firmora-sim");
    testing::TestFolder folder_{"firmora-sim"};
};

TEST_F(FirmoraSimTest, RefusesABadScenario) {
    const fs::path bad = folder_.path() / "bad.json";
    std::ofstream(bad) << "{\"identity\": ";
    for (const fs::path& file : {bad, folder_.path() / "missing.json"}) {
        Child sim({program_.string(), "--scenario", file.string(), "--fastboot-port", "0"});
        ASSERT_TRUE(sim.running());
        // A message that names the file, and nothing served.
        const std::string output = sim.ReadToEnd(kGenerous);
        EXPECT_NE(output.find(file.filename().string()), std::string::npos) << output;
        EXPECT_EQ(output.find("port "), std::string::npos) << output;
        EXPECT_EQ(sim.WaitExit(kGenerous), 2) << file;
    }
}

// One update cycle from outside: AT and DIAG on the pseudo-terminals, the
// reboot into the boot loader, the Android client over TCP, the return.
TEST_F(FirmoraSimTest, ServesTheToolAndTheAndroidClient) {
    const fs::path report = folder_.path() / "report.json";
    // Ten times as fast: the reboots take well under a second.
    Child sim({program_.string(), "--scenario", scenario_.string(), "--fastboot-port", "0", "--report",
               report.string(), "--time-scale", "10"});
    ASSERT_TRUE(sim.running());
    const auto diagLine = sim.WaitLine(R"(port diag COM(\d+) (/dev/\S+))");
    const auto atLine = sim.WaitLine(R"(port at COM(\d+) (/dev/\S+))");
    ASSERT_TRUE(diagLine && atLine) << sim.seen();
    ASSERT_TRUE(sim.WaitLine("ready")) << sim.seen();

    platform::SystemClock clock;
    testing::RecordingReporter reporter;
    package::DownloadOptions options;
    platform::PosixSerialPorts ports;
    const int diagCom = std::stoi((*diagLine)[1]);
    const int atCom = std::stoi((*atLine)[1]);
    ports.MapComPort(diagCom, (*diagLine)[2]);
    ports.MapComPort(atCom, (*atLine)[2]);

    {
        link::SerialChannel diag(link::ChannelRole::Diagnostic, ports, clock, reporter, options);
        ASSERT_TRUE(diag.OpenDiagChannel(diagCom));
        link::HdlcFramer framer(diag, clock, reporter);
        core::DeviceChangeFlags flags;
        link::DiagCommands commands(framer, diag, clock, reporter, flags);
        EXPECT_TRUE(commands.QueryPlatformCode().has_value());
        EXPECT_TRUE(diag.CloseChannel("Warning-diag"));

        link::SerialChannel at(link::ChannelRole::At, ports, clock, reporter, options);
        ASSERT_TRUE(at.OpenAtChannel(atCom));
        link::AtChannel channel(at, clock, reporter, false);
        std::string revision;
        EXPECT_TRUE(channel.AtQuery("AT+CGMR\r\n\r\n", revision));
        EXPECT_FALSE(revision.empty());
        EXPECT_TRUE(channel.AtSendReboot("at+syscmd=sys_reboot bootloader\r\n\r\n"));
        EXPECT_TRUE(at.CloseChannel("Warning-at"));
    }
    ASSERT_TRUE(sim.WaitLine("removal normal")) << sim.seen();
    ASSERT_TRUE(sim.WaitLine("arrival bootloader")) << sim.seen();
    const auto fastbootLine = sim.WaitLine(R"(fastboot (tcp:127\.0\.0\.1:\d+))");
    ASSERT_TRUE(fastbootLine) << sim.seen();

    if (::access("/usr/bin/fastboot", X_OK) != 0) GTEST_SKIP() << "/usr/bin/fastboot is not installed";
    const std::string target = (*fastbootLine)[1];
    std::vector<uint8_t> image(300'000);
    std::mt19937 random(7);
    for (auto& byte : image) byte = static_cast<uint8_t>(random());
    const fs::path imageFile = folder_.path() / "boot.img";
    std::ofstream(imageFile, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
    char digest[17];
    std::snprintf(digest, sizeof digest, "%016llx",
                  static_cast<unsigned long long>(XXH3_64bits(image.data(), image.size())));

    auto run = RunFastboot({"-s", target, "getvar", "product"});
    EXPECT_EQ(run.first, 0) << run.second;
    EXPECT_NE(run.second.find("product:"), std::string::npos) << run.second;
    run = RunFastboot({"-s", target, "flash", "boot", imageFile.string()});
    EXPECT_EQ(run.first, 0) << run.second;
    const auto flashLine = sim.WaitLine(R"(flash boot size (\d+) xxh3 ([0-9a-f]{16}))");
    ASSERT_TRUE(flashLine) << sim.seen();
    EXPECT_EQ((*flashLine)[1], std::to_string(image.size()));
    EXPECT_EQ((*flashLine)[2], digest);
    run = RunFastboot({"-s", target, "erase", "modem"});
    EXPECT_EQ(run.first, 0) << run.second;
    EXPECT_TRUE(sim.WaitLine(R"(erase modem size 0 xxh3 [0-9a-f]{16})")) << sim.seen();
    run = RunFastboot({"-s", target, "reboot"});
    EXPECT_EQ(run.first, 0) << run.second;

    // Back in the normal personality on fresh pseudo-terminals.
    ASSERT_TRUE(sim.WaitLine("arrival normal")) << sim.seen();
    const auto newAt = sim.WaitLine(R"(port at COM(\d+) (/dev/\S+))");
    ASSERT_TRUE(newAt) << sim.seen();
    {
        const int com = std::stoi((*newAt)[1]);
        ports.MapComPort(com, (*newAt)[2]);
        link::SerialChannel at(link::ChannelRole::At, ports, clock, reporter, options);
        ASSERT_TRUE(at.OpenAtChannel(com));
        link::AtChannel channel(at, clock, reporter, false);
        EXPECT_TRUE(channel.AtQuery("ATI\r\n\r\n"));
    }

    const auto json = nlohmann::json::parse(ReadText(report), nullptr, false);
    ASSERT_TRUE(json.is_object()) << ReadText(report);
    bool sawBoot = false;
    for (const auto& partition : json["partitions"]) {
        if (partition["name"] != "boot") continue;
        sawBoot = true;
        EXPECT_EQ(partition["digest"], digest);
        EXPECT_EQ(partition["flashes"], 1);
    }
    EXPECT_TRUE(sawBoot) << json.dump();
    EXPECT_TRUE(json["identity"].contains("imei")) << json.dump();

    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.WaitExit(kGenerous), 0);
}

// The links of --link-dir lead to ports that answer, follow them through a
// reset, and go when the program ends; a file in their way is refused.
TEST_F(FirmoraSimTest, KeepsLinksToThePortsPresent) {
    const fs::path links = folder_.path() / "by-role";
    std::ofstream(folder_.path() / "taken") << "x";
    {
        // A name that is not a link stops the program before anything is served.
        fs::create_directories(links);
        std::ofstream(links / "app") << "mine";
        Child refused({program_.string(), "--scenario", scenario_.string(), "--fastboot-port", "0", "--link-dir",
                       links.string()});
        ASSERT_TRUE(refused.running());
        const std::string output = refused.ReadToEnd(kGenerous);
        EXPECT_NE(output.find((links / "app").string() + " exists and is not a symbolic link"), std::string::npos)
            << output;
        EXPECT_EQ(output.find("port "), std::string::npos) << output;
        EXPECT_EQ(refused.WaitExit(kGenerous), 2);
        EXPECT_TRUE(fs::is_regular_file(links / "app"));
        fs::remove_all(links);
    }

    Child sim({program_.string(), "--scenario", scenario_.string(), "--fastboot-port", "0", "--time-scale", "10",
               "--link-dir", links.string()});
    ASSERT_TRUE(sim.running());
    // Each link is in place before its port's line.
    const auto readPorts = [&] {
        std::map<std::string, std::string> nodes;
        for (const char* role : {"diag", "app", "at"}) {
            const auto line = sim.WaitLine(std::string("port ") + role + R"( COM\d+ (/dev/\S+))");
            if (!line) break;
            nodes[role] = (*line)[1];
        }
        return nodes;
    };
    const auto targets = [&] {
        std::map<std::string, std::string> now;
        for (const char* role : {"diag", "app", "at"}) {
            std::error_code error;
            const fs::path target = fs::read_symlink(links / role, error);
            if (!error) now[role] = target.string();
        }
        return now;
    };
    const auto first = readPorts();
    ASSERT_EQ(first.size(), 3u) << sim.seen();
    EXPECT_EQ(targets(), first);
    // A link that still led elsewhere after the reset was not made anew (the
    // new nodes may be the numbers the removal freed).
    fs::remove(links / "diag");
    fs::create_symlink("/dev/null", links / "diag");

    platform::SystemClock clock;
    testing::RecordingReporter reporter;
    package::DownloadOptions options;
    platform::PosixSerialPorts ports;
    // The tool opens the port through the link, as through /dev/serial/by-id.
    ports.MapComPort(9, (links / "at").string());
    {
        link::SerialChannel at(link::ChannelRole::At, ports, clock, reporter, options);
        ASSERT_TRUE(at.OpenAtChannel(9));
        link::AtChannel channel(at, clock, reporter, false);
        EXPECT_TRUE(channel.AtQuery("ATI\r\n\r\n"));
        EXPECT_TRUE(channel.AtSendReboot("AT+MVTRESET\r\n\r\n"));
        EXPECT_TRUE(at.CloseChannel("Warning-at"));
    }
    ASSERT_TRUE(sim.WaitLine("removal normal")) << sim.seen();
    ASSERT_TRUE(sim.WaitLine("arrival normal")) << sim.seen();
    const auto second = readPorts();
    ASSERT_EQ(second.size(), 3u) << sim.seen();
    EXPECT_EQ(targets(), second);
    {
        link::SerialChannel at(link::ChannelRole::At, ports, clock, reporter, options);
        ASSERT_TRUE(at.OpenAtChannel(9));
        link::AtChannel channel(at, clock, reporter, false);
        EXPECT_TRUE(channel.AtQuery("ATI\r\n\r\n"));
        EXPECT_TRUE(at.CloseChannel("Warning-at"));
    }

    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.WaitExit(kGenerous), 0);
    EXPECT_TRUE(targets().empty());
    EXPECT_TRUE(fs::is_empty(links));
}

}  // namespace
}  // namespace firmora::simtool
