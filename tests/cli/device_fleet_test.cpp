// firmora run --all: each worker's view of the machine, on two virtual modems
// plugged in at once. Each sees only its own device's ports, and a boot loader
// only while it holds the turn and only when it can be sure the boot loader is
// its own device's.

#include "cli/device_fleet.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "cli/run_platform.h"
#include "cli/simulated_target.h"
#include "link/port_discovery.h"
#include "sim/device_side.h"
#include "sim/sim_platform.h"

namespace firmora::cli {
namespace {

using namespace std::chrono_literals;

constexpr const char* kReboot = "at+syscmd=sys_reboot bootloader\r\n\r\n";

TEST(DeviceKeys, TheInstanceOfAnInterfacePathNamesTheDevice) {
    EXPECT_EQ(InstanceOfInterfacePath(
                  "\\\\?\\usb#vid_1d6b&pid_f101&mi_00#6&2f0a5c1&0&0#{86e0d1e0-8089-11d0-9ce4-08003e301f73}"),
              "6&2f0a5c1&0");
    EXPECT_EQ(InstanceOfInterfacePath("\\\\?\\usb#vid_1d6b&pid_f101&mi_02#6&2f0a5c1&0&2#{x}"), "6&2f0a5c1&0");
    EXPECT_EQ(InstanceOfInterfacePath("/dev/ttyUSB2"), "");
    EXPECT_EQ(InstanceOfInterfacePath("\\\\?\\usb#vid_1d6b#nodevice#{x}"), "");
}

TEST(DeviceKeys, OnlyTheBootLoaderCommandTakesTheTurn) {
    const auto sends = [](const std::string& text) {
        return SendsIntoBootloader(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    };
    EXPECT_TRUE(sends(kReboot));
    EXPECT_TRUE(sends("AT+SYSCMD=SYS_REBOOT BOOTLOADER\r"));
    EXPECT_FALSE(sends("at+syscmd=sys_reboot\r\n"));
    EXPECT_FALSE(sends("ATI\r\n"));
}

class TwoDevices : public ::testing::Test {
protected:
    void SetUp() override {
        std::string problem;
        simulation = Simulate("two-devices", false, problem);
        ASSERT_NE(simulation, nullptr) << problem;
        machine = std::make_unique<ChangeFanOut>(simulation->devices());
        const auto interfaces = simulation->devices().ComPortInterfaces();
        ASSERT_TRUE(interfaces);
        for (const platform::ComPortInterface& port : *interfaces) {
            const std::string key = InstanceOfInterfacePath(port.devicePath);
            if (keys.empty() || keys.back() != key) keys.push_back(key);
        }
        ASSERT_EQ(keys.size(), 2U);
        for (int slot = 0; slot < 2; ++slot) {
            scopes.push_back(std::make_unique<DeviceScope>(
                *machine, [](const platform::ComPortInterface& p) { return InstanceOfInterfacePath(p.devicePath); },
                keys[static_cast<size_t>(slot)], slot, turn, claims, stopRequested));
            ports.push_back(std::make_unique<ScopedSerialPorts>(simulation->serialPorts(), *scopes.back()));
        }
    }

    // The reboot into the boot loader through a device's own serial ports.
    bool SendReboot(int slot, const std::string& atPort) {
        std::unique_ptr<platform::SerialPort> port = ports[static_cast<size_t>(slot)]->Open(atPort);
        if (!port) return false;
        size_t written = 0;
        return port->Write(reinterpret_cast<const uint8_t*>(kReboot), std::strlen(kReboot), written);
    }

    std::vector<std::string> Names(int slot) {
        std::vector<std::string> names;
        const auto interfaces = scopes[static_cast<size_t>(slot)]->ComPortInterfaces();
        for (const platform::ComPortInterface& port : interfaces.value_or(std::vector<platform::ComPortInterface>{})) {
            names.push_back(link::PortNameOfFriendlyName(port.friendlyName));
        }
        return names;
    }

    std::unique_ptr<sim::SimPlatform> simulation;
    std::unique_ptr<ChangeFanOut> machine;
    std::vector<std::string> keys;
    BootloaderTurn turn;
    PortClaims claims;
    std::atomic<bool> stopRequested{false};
    std::vector<std::unique_ptr<DeviceScope>> scopes;
    std::vector<std::unique_ptr<ScopedSerialPorts>> ports;
};

TEST_F(TwoDevices, EachScopeSeesOnlyItsOwnDevicesPorts) {
    EXPECT_EQ(Names(0), (std::vector<std::string>{"COM5", "COM6", "COM7"}));
    EXPECT_EQ(Names(1), (std::vector<std::string>{"COM9", "COM10", "COM11"}));
    EXPECT_EQ(scopes[1]->SerialPortNames(), (std::vector<std::string>{"COM9", "COM10", "COM11"}));
    // A port's change reaches the window of the device that showed it only.
    int seen0 = 0;
    int seen1 = 0;
    scopes[0]->SetChangeHandler([&](const platform::DeviceChangeEvent&) { ++seen0; });
    scopes[1]->SetChangeHandler([&](const platform::DeviceChangeEvent&) { ++seen1; });
    {
        std::lock_guard lock(simulation->lock());
        simulation->Modem(1).Request(sim::ModemRequest::Reset);
    }
    simulation->clock().Sleep(60'000);
    EXPECT_EQ(seen0, 0);
    EXPECT_GT(seen1, 0);
    EXPECT_EQ(Names(1), (std::vector<std::string>{"COM9", "COM10", "COM11"}));
}

TEST_F(TwoDevices, OnlyTheTurnsHolderSeesItsBootLoaderAndTheOtherWaitsToSendItsOwn) {
    EXPECT_TRUE(scopes[0]->FastbootInterfacePaths().empty());
    ASSERT_TRUE(SendReboot(0, "COM7"));
    EXPECT_TRUE(turn.HeldBy(0));
    simulation->clock().Sleep(30'000);
    const std::vector<std::string> boot = scopes[0]->FastbootInterfacePaths();
    ASSERT_EQ(boot.size(), 1U);
    EXPECT_EQ(boot, simulation->devices().FastbootInterfacePaths());
    EXPECT_TRUE(scopes[1]->FastbootInterfacePaths().empty());

    // The second device is not sent into its boot loader while the first is there.
    std::future<bool> second = std::async(std::launch::async, [this] { return SendReboot(1, "COM11"); });
    EXPECT_EQ(second.wait_for(100ms), std::future_status::timeout);
    EXPECT_EQ(simulation->devices().FastbootInterfacePaths().size(), 1U);

    // The first leaves its boot loader: the turn passes on.
    {
        std::lock_guard lock(simulation->lock());
        simulation->Modem(0).Request(sim::ModemRequest::Reset);
    }
    simulation->clock().Sleep(1'000);
    EXPECT_TRUE(scopes[0]->FastbootInterfacePaths().empty());
    EXPECT_TRUE(second.get());
    EXPECT_TRUE(turn.HeldBy(1));
    simulation->clock().Sleep(30'000);
    const std::vector<std::string> secondBoot = scopes[1]->FastbootInterfacePaths();
    ASSERT_EQ(secondBoot.size(), 1U);
    EXPECT_NE(secondBoot, boot);
    EXPECT_TRUE(scopes[0]->FastbootInterfacePaths().empty());
}

TEST_F(TwoDevices, ABootLoaderThatWasThereOrTwoNewOnesAreNeverTheHolders) {
    // The second device is in its boot loader before the first takes the turn.
    {
        std::lock_guard lock(simulation->lock());
        simulation->Modem(1).Request(sim::ModemRequest::RebootToBootloader);
    }
    simulation->clock().Sleep(30'000);
    ASSERT_EQ(simulation->devices().FastbootInterfacePaths().size(), 1U);
    ASSERT_TRUE(SendReboot(0, "COM7"));
    EXPECT_TRUE(scopes[0]->FastbootInterfacePaths().empty()) << "the one there before is not the holder's";
    simulation->clock().Sleep(30'000);
    ASSERT_EQ(scopes[0]->FastbootInterfacePaths().size(), 1U);

    // A device that arrived there on its own while the first was sent: two
    // new ones, and the holder cannot tell which is its own.
    turn.Release(0);
    {
        std::lock_guard lock(simulation->lock());
        simulation->Modem(0).Request(sim::ModemRequest::Reset);
        simulation->Modem(1).Request(sim::ModemRequest::Reset);
    }
    simulation->clock().Sleep(60'000);
    ASSERT_TRUE(SendReboot(0, "COM7"));
    {
        std::lock_guard lock(simulation->lock());
        simulation->Modem(1).Request(sim::ModemRequest::RebootToBootloader);
    }
    simulation->clock().Sleep(30'000);
    ASSERT_EQ(simulation->devices().FastbootInterfacePaths().size(), 2U);
    EXPECT_TRUE(scopes[0]->FastbootInterfacePaths().empty());
    EXPECT_TRUE(scopes[1]->FastbootInterfacePaths().empty());
}

TEST_F(TwoDevices, CtrlCEndsTheWaitForTheTurnWithoutSendingTheDeviceAway) {
    ASSERT_TRUE(SendReboot(0, "COM7"));
    std::future<bool> second = std::async(std::launch::async, [this] { return SendReboot(1, "COM11"); });
    stopRequested = true;
    EXPECT_FALSE(second.get());
    simulation->clock().Sleep(30'000);
    EXPECT_EQ(simulation->devices().FastbootInterfacePaths().size(), 1U) << "only the first went";
    EXPECT_EQ(Names(1).size(), 3U);
}

}  // namespace
}  // namespace firmora::cli
