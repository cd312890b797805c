#include "modeswitch/boot_push.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/std_files.h"
#include "recording_log.h"
#include "sim/sim_platform.h"
#include "test_folder.h"

namespace firmora::modeswitch {
namespace {

class BootPushTest : public ::testing::Test {
protected:
    BootPushTest() : sim(sim::SimPlatform::FromScenario(sim::Scenario::Builtin(FIRMORA_SCENARIO_DIR, "usb-boot"))) {}

    void WriteLoader(const std::string& content) { std::ofstream(folder.path() / "xload.bin", std::ios::binary) << content; }
    std::optional<std::string> DriverSetting() {
        return sim->settings().ReadString(platform::SettingsScope::Machine, "SOFTWARE\\rgdriverinfo", "DownloadSupport");
    }
    // Lets the push thread work until `done` holds or it has ended.
    template <typename Done>
    void Until(Done done) {
        while (!done() && push.Running()) std::this_thread::yield();
    }

    testing::TestFolder folder{"bootpush"};
    std::unique_ptr<sim::SimPlatform> sim;
    platform::StdFiles files;
    testing::RecordingLog log;
    BootPush push{sim->devices(), sim->clock(), files, sim->settings(), log};
};

TEST_F(BootPushTest, TheLoaderGoesToAUsbBootDeviceAndTheDeviceMovesOn) {
    const std::string loader(3000, 'L');
    WriteLoader(loader);
    push.Start(folder.path());
    EXPECT_TRUE(push.Running());
    EXPECT_EQ(DriverSetting(), "OK");
    Until([&] { return log.Has("Successfully make download...."); });
    push.Stop();
    EXPECT_FALSE(push.Running());
    {
        std::lock_guard lock(sim->lock());
        const sim::Bytes& received = sim->Modem(0).UsbBootLoader();
        EXPECT_EQ(std::string(received.begin(), received.end()), loader);
    }
    const std::vector<std::string> lines = log.Lines();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), "ThreadFastbootFunc start");
    EXPECT_TRUE(log.Has("size 3000 nBytesWrite 4"));
}

TEST_F(BootPushTest, WithoutALoaderNothingStarts) {
    push.Start(folder.path());
    EXPECT_FALSE(push.Running());
    EXPECT_FALSE(DriverSetting());
    EXPECT_TRUE(log.Lines().empty());
}

TEST_F(BootPushTest, ALoaderTooLargeForTheBootRomIsRefusedWhole) {
    WriteLoader(std::string(65536, 'L'));
    push.Start(folder.path());
    Until([] { return false; });
    EXPECT_FALSE(push.Running());
    EXPECT_TRUE(log.Has("Failed to read file " + (folder.path() / "xload.bin").string() +
                        " , please check whether it's in the exe dir."));
    std::lock_guard lock(sim->lock());
    EXPECT_TRUE(sim->Modem(0).UsbBootLoader().empty());
}

TEST_F(BootPushTest, ARestartStopsTheRunningPushFirst) {
    WriteLoader("L");
    push.Start(folder.path());
    Until([&] { return log.Has("Failed to find device. try again") || log.Has("Successfully make download...."); });
    push.Start(folder.path());
    EXPECT_TRUE(push.Running());
    push.Stop();
    EXPECT_EQ(log.Count("ThreadFastbootFunc start"), 2u);
}

}  // namespace
}  // namespace firmora::modeswitch
