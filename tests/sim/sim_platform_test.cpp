#include "sim/sim_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fake_serial.h"
#include "link/at_channel.h"
#include "link/diag_commands.h"
#include "link/hdlc_framer.h"
#include "link/serial_channel.h"
#include "package/download_options.h"
#include "platform/last_error.h"
#include "platform/private_profile.h"
#include "platform/std_files.h"
#include "recording_reporter.h"
#include "sim/diag_device.h"
#include "test_folder.h"

namespace firmora::sim {
namespace {

using testing::ToBytes;
using testing::ToText;

constexpr uint32_t kEio = 5;
constexpr uint32_t kEnoent = 2;

class SimPlatformTest : public ::testing::Test {
protected:
    void Use(const std::string& scenario) {
        sim = SimPlatform::FromScenario(Scenario::Builtin(FIRMORA_SCENARIO_DIR, scenario));
        sim->devices().SetChangeHandler([this](const platform::DeviceChangeEvent& e) {
            changes.push_back({sim->clock().TickCount(), e});
        });
    }
    VirtualModem& Modem(size_t i = 0) { return sim->Modem(i); }
    uint64_t Transition(const char* key) { return Modem().scenario().json.at("transitions").at(key); }
    uint64_t Now() { return sim->clock().TickCount(); }
    // Raw write of an AT command, as the tool's reboot send does it.
    void SendAt(const std::string& port, const std::string& text) {
        auto handle = sim->serialPorts().Open(port);
        ASSERT_TRUE(handle);
        size_t written = 0;
        ASSERT_TRUE(handle->Write(reinterpret_cast<const uint8_t*>(text.data()), text.size(), written));
    }
    std::vector<std::string> Names(platform::DeviceChange kind, bool ports) {
        std::vector<std::string> names;
        for (const auto& c : changes) {
            if (c.event.change == kind && c.event.isPort == ports) names.push_back(c.event.name);
        }
        return names;
    }

    struct Change {
        uint64_t at;
        platform::DeviceChangeEvent event;
    };
    std::unique_ptr<SimPlatform> sim;
    std::vector<Change> changes;
    testing::RecordingReporter reporter;
    package::DownloadOptions options;
};

TEST_F(SimPlatformTest, TheToolsOwnAtAndDiagStacksTalkToTheModemOverItsPorts) {
    Use("default");
    link::SerialChannel atPort(link::ChannelRole::At, sim->serialPorts(), sim->clock(), reporter, options);
    ASSERT_TRUE(atPort.OpenAtChannel(7));
    link::AtChannel at(atPort, sim->clock(), reporter, false);
    std::string ati;
    ASSERT_TRUE(at.AtQuery("ATI\r\n\r\n", ati));
    EXPECT_NE(ati.find("Revision: v2.0.2\r\nIMEI: 353456789012348"), std::string::npos) << ati;
    std::string version;
    EXPECT_TRUE(at.AtQuery("AT+MVTSW\r\n\r\n", version));
    EXPECT_NE(version.find("v2.0.2"), std::string::npos);
    EXPECT_TRUE(at.AtQuery("AT+CGMR\r\n\r\n"));

    link::SerialChannel diagPort(link::ChannelRole::Diagnostic, sim->serialPorts(), sim->clock(), reporter, options);
    ASSERT_TRUE(diagPort.OpenDiagChannel(5));
    link::HdlcFramer framer(diagPort, sim->clock(), reporter);
    core::DeviceChangeFlags flags;
    link::DiagCommands diag(framer, diagPort, sim->clock(), reporter, flags);
    EXPECT_EQ(diag.QueryPlatformCode(), Modem().diag().platformCode());

    const auto& log = Modem().CommandLog();
    EXPECT_NE(std::find(log.begin(), log.end(), "AT: AT+CGMR"), log.end());
    EXPECT_NE(std::find(log.begin(), log.end(), "DIAG: 7C"), log.end());
    EXPECT_TRUE(reporter.Errors().empty());
}

TEST_F(SimPlatformTest, PortsAreExclusiveAndFailLikeAHungUpLineOnceTheDeviceLeaves) {
    Use("default");
    auto port = sim->serialPorts().Open("COM7");
    ASSERT_TRUE(port);
    EXPECT_FALSE(sim->serialPorts().Open("\\\\.\\COM7"));
    EXPECT_EQ(platform::LastError(), 16u);
    EXPECT_FALSE(sim->serialPorts().Open("COM12"));
    EXPECT_EQ(platform::LastError(), kEnoent);

    // A read waiting for its first byte ends when the device leaves mid-wait.
    ASSERT_TRUE(port->SetTimeouts({platform::kTimeoutMax, platform::kTimeoutMax, 5000, 0, 0}));
    sim->clock().ScheduleIn(300, [this] { Modem().Request(ModemRequest::Reset); });
    uint8_t buffer[16];
    size_t got = 0;
    const uint64_t started = Now();
    EXPECT_FALSE(port->Read(buffer, sizeof buffer, got));
    EXPECT_EQ(platform::LastError(), kEio);
    EXPECT_EQ(Now() - started, 300u);
    size_t written = 0;
    EXPECT_FALSE(port->Write(buffer, 1, written));
    EXPECT_EQ(platform::LastError(), kEio);
    EXPECT_FALSE(sim->serialPorts().Open("COM7"));
    EXPECT_EQ(platform::LastError(), kEnoent);

    // Back again: the stale handle stays dead and does not keep the port busy.
    sim->clock().Sleep(static_cast<uint32_t>(Transition("resetMs")));
    auto again = sim->serialPorts().Open("COM7");
    ASSERT_TRUE(again);
    EXPECT_FALSE(port->Read(buffer, sizeof buffer, got));
    EXPECT_TRUE(port->Close());
    ASSERT_TRUE(again->SetTimeouts({platform::kTimeoutMax, platform::kTimeoutMax, 1000, 0, 0}));
    ASSERT_TRUE(again->Write(reinterpret_cast<const uint8_t*>("AT\r\n"), 4, written));
    ASSERT_TRUE(again->Read(buffer, sizeof buffer, got));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), got), "\r\nOK\r\n");
}

TEST_F(SimPlatformTest, RebootToTheBootLoaderIsAnnouncedAndItsBulkInterfaceAnswers) {
    Use("default");
    SendAt("COM7", "at+syscmd=sys_reboot bootloader\r\n\r\n");
    sim->clock().Sleep(2000);
    EXPECT_EQ(Names(platform::DeviceChange::Removal, true), (std::vector<std::string>{"COM5", "COM6", "COM7"}));
    EXPECT_TRUE(sim->devices().SerialPortNames().empty());
    EXPECT_TRUE(sim->devices().ComPortInterfaces()->empty());
    const uint64_t left = changes.back().at;

    sim->clock().Sleep(static_cast<uint32_t>(Transition("rebootToBootloaderMs")));
    const std::vector<std::string> paths = sim->devices().FastbootInterfacePaths();
    ASSERT_EQ(paths.size(), 1u);
    EXPECT_EQ(Names(platform::DeviceChange::Arrival, false), paths);
    EXPECT_EQ(changes.back().at - left, Transition("rebootToBootloaderMs"));

    auto usb = sim->usbBulk().Open(paths[0]);
    ASSERT_TRUE(usb);
    uint32_t moved = 0;
    const std::string getvar = "getvar:product";
    ASSERT_TRUE(usb->Write(reinterpret_cast<const uint8_t*>(getvar.data()), 14, moved, 500));
    EXPECT_EQ(moved, 14u);
    uint8_t reply[64];
    ASSERT_TRUE(usb->Read(reply, sizeof reply, moved, 300000));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply), moved), "OKAYMDM9607");

    // No reply waiting: the read times out after its limit, on the virtual clock.
    const uint64_t before = Now();
    EXPECT_FALSE(usb->Read(reply, 16, moved, 512));
    EXPECT_EQ(Now() - before, 512u);

    const std::string reboot = "reboot";
    ASSERT_TRUE(usb->Write(reinterpret_cast<const uint8_t*>(reboot.data()), 6, moved, 60000));
    sim->clock().Sleep(100);
    EXPECT_FALSE(usb->Read(reply, 16, moved, 512));
    EXPECT_EQ(platform::LastError(), kEio);
    EXPECT_FALSE(sim->usbBulk().Open(paths[0]));
    sim->clock().Sleep(static_cast<uint32_t>(Transition("resetMs")));
    EXPECT_EQ(sim->devices().SerialPortNames(), (std::vector<std::string>{"COM5", "COM6", "COM7"}));
}

TEST_F(SimPlatformTest, TheModeSwitchAndResetProgramsActOnTheModems) {
    Use("cdrom-first");
    testing::TestFolder folder("programs");
    for (const char* name : {"Swivlet.exe", "Rebootle.exe"}) std::ofstream(folder.path() / name) << "MZ";
    const auto config = folder.path() / "Config.ini";
    platform::StdFiles files;
    std::ofstream(config) << "[Project]\r\nVersion = v2.0.2\r\nExecuteRebootle=0\r\n";

    EXPECT_FALSE(sim->processes().StartHidden(folder.path() / "Drivlet.exe"));
    EXPECT_EQ(platform::LastError(), kEnoent);

    ASSERT_TRUE(sim->devices().ComPortInterfaces()->empty());
    ASSERT_TRUE(sim->processes().StartHidden(folder.path() / "Swivlet.exe"));
    ASSERT_EQ(sim->processes().List().size(), 1u);
    EXPECT_EQ(sim->processes().List()[0].executableName, "Swivlet.exe");
    sim->clock().Sleep(5000);
    EXPECT_TRUE(sim->processes().List().empty());
    const auto interfaces = sim->devices().ComPortInterfaces();
    ASSERT_EQ(interfaces->size(), 3u);
    EXPECT_EQ((*interfaces)[0].friendlyName, "LTE Modem Diagnostics Port (COM5)");
    EXPECT_EQ((*interfaces)[1].friendlyName, "LTE Modem Terminal Port (COM6)");
    EXPECT_EQ((*interfaces)[0].hardwareId, "USB\\VID_1D6B&PID_F101&REV_0100&MI_00");
    EXPECT_EQ(Names(platform::DeviceChange::Arrival, true), (std::vector<std::string>{"COM5", "COM6", "COM7"}));

    ASSERT_TRUE(sim->processes().StartHidden(folder.path() / "Rebootle.exe"));
    sim->clock().Sleep(7000);
    EXPECT_EQ(platform::ReadProfileString(files, config, "Project", "ExecuteRebootle", "0"), "100");
    EXPECT_EQ(platform::ReadProfileString(files, config, "Project", "Version", ""), "v2.0.2");
    EXPECT_EQ(Names(platform::DeviceChange::Removal, true).size(), 3u);

    // This product comes back from a reset as a CD-ROM: nothing left to reset.
    sim->clock().Sleep(static_cast<uint32_t>(Transition("resetMs")));
    EXPECT_EQ(Modem().personality(), Personality::CdromOnly);
    ASSERT_TRUE(sim->processes().StartHidden(folder.path() / "Rebootle.exe"));
    sim->clock().Sleep(7000);
    EXPECT_EQ(platform::ReadProfileString(files, config, "Project", "ExecuteRebootle", "0"), "-1");
}

TEST_F(SimPlatformTest, TwoDevicesAreEnumeratedSideBySide) {
    Use("two-devices");
    ASSERT_EQ(sim->ModemCount(), 2u);
    EXPECT_EQ(sim->devices().SerialPortNames(),
              (std::vector<std::string>{"COM5", "COM6", "COM7", "COM9", "COM10", "COM11"}));
    const auto interfaces = sim->devices().ComPortInterfaces();
    ASSERT_EQ(interfaces->size(), 6u);
    EXPECT_EQ((*interfaces)[3].friendlyName, "LTE Modem Diagnostics Port (COM9)");
    EXPECT_NE((*interfaces)[0].devicePath, (*interfaces)[3].devicePath);

    // Each port reaches its own device.
    SendAt("\\\\.\\COM11", "at+syscmd=sys_reboot bootloader\r\n\r\n");
    sim->clock().Sleep(60000);
    EXPECT_EQ(Modem(0).personality(), Personality::Normal);
    EXPECT_EQ(Modem(1).personality(), Personality::Bootloader);
    EXPECT_EQ(sim->devices().SerialPortNames(), (std::vector<std::string>{"COM5", "COM6", "COM7"}));
    EXPECT_EQ(sim->devices().FastbootInterfacePaths(),
              (std::vector<std::string>{Modem(1).scenario().json.at("usb").at("fastbootInterfacePath")}));
}

TEST_F(SimPlatformTest, TheUsbBootPipeTakesTheFirstStageLoader) {
    Use("usb-boot");
    const std::vector<std::string> paths = sim->devices().UsbBootDevicePaths();
    ASSERT_EQ(paths.size(), 1u);
    std::string upper = paths[0];
    std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
    EXPECT_NE(upper.find("VID_0451&PID_D00E"), std::string::npos);
    EXPECT_FALSE(sim->devices().OpenDevicePath(paths[0] + "\\PIPE02"));

    auto pipe = sim->devices().OpenDevicePath(paths[0] + "\\PIPE01");
    ASSERT_TRUE(pipe);
    const testing::Bytes size = {4, 0, 0, 0};
    const testing::Bytes loader = ToBytes("XLDR");
    size_t written = 0;
    ASSERT_TRUE(pipe->Write(size.data(), size.size(), written));
    ASSERT_TRUE(pipe->Write(loader.data(), loader.size(), written));
    EXPECT_EQ(Modem().UsbBootLoader(), loader);
    EXPECT_FALSE(pipe->Write(size.data(), size.size(), written));
    EXPECT_EQ(platform::LastError(), kEio);
    sim->clock().Sleep(static_cast<uint32_t>(Transition("usbBootMs")));
    EXPECT_EQ(sim->devices().FastbootInterfacePaths().size(), 1u);
    EXPECT_TRUE(sim->devices().UsbBootDevicePaths().empty());
}

}  // namespace
}  // namespace firmora::sim
