// The full port scan with the real AT probe and discovery switch, against
// virtual modems: what the window and the worker see of one device, two
// devices, a device that shows only its CD-ROM, and one that comes back
// under new numbers.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fstream>
#include <latch>
#include <thread>

#include "link/port_discovery.h"
#include "modeswitch/d1_switch.h"
#include "modeswitch/package_programs.h"
#include "package/device_interrogation.h"
#include "platform/dialogs.h"
#include "recording_log.h"
#include "sim/sim_platform.h"
#include "test_folder.h"

namespace firmora::modeswitch {
namespace {

using Names = std::vector<std::string>;

// The real probe, counting the probes that began while another was running.
// The first probe holds on a while (real time) for a second one to begin,
// so that two scans that are not kept apart meet there every time.
class OverlapCountingProbe final : public link::AtPortProbe {
public:
    explicit OverlapCountingProbe(link::AtPortProbe& probe) : probe_(probe) {}
    bool ProbeAtPort(const std::string& portName) override {
        {
            std::unique_lock lock(mutex_);
            if (++active_ > 1) ++overlaps;
            changed_.notify_all();
            if (first_) {
                first_ = false;
                changed_.wait_for(lock, std::chrono::milliseconds(200), [this] { return active_ > 1; });
            }
        }
        const bool passed = probe_.ProbeAtPort(portName);
        std::lock_guard lock(mutex_);
        --active_;
        return passed;
    }
    int overlaps = 0;

private:
    link::AtPortProbe& probe_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int active_ = 0;
    bool first_ = true;
};

class PortScanTest : public ::testing::Test {
protected:
    void Use(const std::string& name) { Use(sim::Scenario::Builtin(FIRMORA_SCENARIO_DIR, name)); }
    void Use(const sim::Scenario& scenario) {
        sim = sim::SimPlatform::FromScenario(scenario);
        probe = std::make_unique<package::DeviceInterrogation>(sim->serialPorts(), sim->clock(), log, "MDM9x15");
        counting = std::make_unique<OverlapCountingProbe>(*probe);
        d1 = std::make_unique<SerialD1Switch>(sim->serialPorts(), sim->clock());
        scan = std::make_unique<link::PortDiscovery>(sim->devices(), sim->clock(), dialogs, log, *counting, *d1, false);
    }
    Names Commands(size_t modem = 0) {
        std::lock_guard lock(sim->lock());
        return sim->Modem(modem).CommandLog();
    }

    std::unique_ptr<sim::SimPlatform> sim;
    platform::ScriptedDialogs dialogs;
    testing::RecordingLog log;
    std::unique_ptr<package::DeviceInterrogation> probe;
    std::unique_ptr<OverlapCountingProbe> counting;
    std::unique_ptr<SerialD1Switch> d1;
    std::unique_ptr<link::PortDiscovery> scan;
};

TEST_F(PortScanTest, OneDeviceGivesItsThreePortsAndItsReadings) {
    Use("default");
    EXPECT_TRUE(scan->ScanPorts());
    const link::PortMap ports = scan->Ports();
    EXPECT_EQ(ports.diag, Names{"COM5"});
    EXPECT_EQ(ports.app, Names{"COM6"});
    EXPECT_EQ(ports.at, Names{"COM7"});
    EXPECT_EQ(probe->Readings().DeviceRevision, "v2.0.2");
    EXPECT_EQ(probe->Readings().DeviceSoftwareVersion, "MDM9x15.LTE.VQA0012.v2.0.2");
    // Only the AT port was spoken to.
    EXPECT_EQ(Commands(), (Names{"AT: ATI", "AT: AT+MVTSW", "AT: at+mvtinf=0,2"}));
    EXPECT_FALSE(scan->D1Sent());
}

TEST_F(PortScanTest, TwoDevicesAreListedInTheOrderTheyCame) {
    Use("two-devices");
    EXPECT_TRUE(scan->ScanPorts());
    const link::PortMap ports = scan->Ports();
    EXPECT_EQ(ports.diag, (Names{"COM5", "COM9"}));
    EXPECT_EQ(ports.app, (Names{"COM6", "COM10"}));
    EXPECT_EQ(ports.at, (Names{"COM7", "COM11"}));
    EXPECT_EQ(scan->AtSelector(), "COM7");
}

TEST_F(PortScanTest, ACdromOnlyDeviceShowsItsPortsAfterTheModeSwitch) {
    Use("cdrom-first");
    EXPECT_FALSE(scan->ScanPorts());
    EXPECT_TRUE(scan->Ports().at.empty());
    // The readiness check's remedy: the mode-switch program, then a pause.
    testing::TestFolder folder("scan");
    std::ofstream(folder.path() / kSwivletProgram) << "x";
    RunSwivlet(sim->processes(), folder.path());
    sim->clock().Sleep(5000);
    EXPECT_TRUE(scan->ScanPorts());
    EXPECT_EQ(scan->AtSelector(), "COM7");
}

TEST_F(PortScanTest, ADeviceBackUnderNewNumbersFailsTheDiagCheckAndIsFoundAgain) {
    Use("new-com-ports");
    ASSERT_TRUE(scan->ScanPorts());
    {
        std::lock_guard lock(sim->lock());
        sim->Modem(0).Request(sim::ModemRequest::Reset);
    }
    sim->clock().Sleep(20000);
    EXPECT_FALSE(scan->CheckDiagPort(5));
    EXPECT_TRUE(log.Has("Different DiaComPort COM5"));
    EXPECT_TRUE(scan->ScanPorts());
    EXPECT_EQ(scan->DiagSelector(), "COM15");
    EXPECT_EQ(scan->AtSelector(), "COM17");
}

TEST_F(PortScanTest, ADeviceWithASwitchIdentifierGetsTheDiskSwitchOncePerProgramRun) {
    nlohmann::json json = sim::Scenario::Builtin(FIRMORA_SCENARIO_DIR, "default").json;
    json["usb"]["ports"][2]["hardwareId"] = "USB\\Vid_1C9E&Pid_f108&Rev_0100&MI_02";
    Use(sim::Scenario::FromJson(json, "switch-id"));
    scan->ScanPorts();
    EXPECT_TRUE(scan->D1Sent());
    sim->clock().Sleep(10000);  // back with its ports
    scan->ScanPorts();
    const Names commands = Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "AT: AT+DISK=8,\"D1\""), 1);
    EXPECT_EQ(scan->AtSelector(), "COM7");
}

TEST_F(PortScanTest, ScansFromTwoThreadsAtOnceNeverShowAHalfBuiltList) {
    Use("default");
    const link::PortMap complete{{"COM5"}, {"COM6"}, {"COM7"}};
    std::atomic<int> incomplete{0};
    std::atomic<int> scansWithoutAtPort{0};
    std::atomic<bool> finished{false};
    std::latch start(3);
    auto scanner = [&] {
        start.arrive_and_wait();
        for (int i = 0; i < 5; ++i) {
            scan->ScanPorts();
            if (scan->AtSelector() != "COM7") ++scansWithoutAtPort;
        }
    };
    // What the window's selectors would show at any moment.
    auto reader = [&] {
        start.arrive_and_wait();
        while (!finished) {
            const link::PortMap seen = scan->Ports();
            const bool empty = seen.diag.empty() && seen.app.empty() && seen.at.empty();
            if (!empty && (seen.diag != complete.diag || seen.app != complete.app || seen.at != complete.at)) {
                ++incomplete;
            }
            std::this_thread::yield();
        }
    };
    std::thread window(scanner);
    std::thread worker(scanner);
    std::thread view(reader);
    window.join();
    worker.join();
    finished = true;
    view.join();
    EXPECT_EQ(incomplete, 0);
    // One scan at a time: the probes of the two never met on a port.
    EXPECT_EQ(counting->overlaps, 0);
    EXPECT_EQ(scansWithoutAtPort, 0);
    const link::PortMap last = scan->Ports();
    EXPECT_EQ(last.at, complete.at);
}

}  // namespace
}  // namespace firmora::modeswitch
