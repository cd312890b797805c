// The command line's window for the worker: the device-change flags follow
// the enumerator's notifications for as long as the window lives, and the
// version label becomes a line of the run.

#include "cli/run_window.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/line_log.h"
#include "link/port_discovery.h"
#include "notifying_devices.h"
#include "platform/dialogs.h"
#include "platform/virtual_clock.h"

namespace firmora::cli {
namespace {

struct Lines final : engine::RunView {
    void StatusCallback(int, const std::string& text, int kind) override { lines.push_back({text, kind}); }
    void ErrorCallback(int, const std::string& text) override { lines.push_back({text, core::kReportError}); }
    void SetGaugeMax(int, int) override {}
    void SetGaugePosition(int, int) override {}
    std::vector<std::pair<std::string, int>> lines;
};

struct NoProbe final : link::AtPortProbe, link::DiscoverySwitch, core::LineLog {
    bool ProbeAtPort(const std::string&) override { return false; }
    bool SendD1Switch(const std::string&) override { return false; }
    void Log(const std::string&) override {}
};

struct WindowTest : ::testing::Test {
    NotifyingDevices devices;
    platform::VirtualClock clock;
    platform::ScriptedDialogs dialogs;
    NoProbe probe;
    link::PortDiscovery discovery{devices, clock, dialogs, probe, probe, probe, false};
    Lines view;
};

TEST_F(WindowTest, AnyChangeSetsTheChangeFlagAndOnlyAnArrivalTheArrivalFlag) {
    RunWindow window(discovery, devices, view);
    core::DeviceChangeFlags& flags = window.ChangeFlags();
    EXPECT_EQ(flags.changeSeen.load(), 0);
    EXPECT_EQ(flags.arrivalSeen.load(), 0);

    devices.Raise(platform::DeviceChange::Removal, true, "COM5");
    EXPECT_EQ(flags.changeSeen.load(), 1);
    EXPECT_EQ(flags.arrivalSeen.load(), 0);

    // The worker clears them; a USB interface arriving counts as well as a port.
    flags.changeSeen = 0;
    devices.Raise(platform::DeviceChange::Arrival, false, "usb:1-1.4:VID_1D6B&PID_F10B");
    EXPECT_EQ(flags.changeSeen.load(), 1);
    EXPECT_EQ(flags.arrivalSeen.load(), 1);
}

TEST_F(WindowTest, NotificationsStopReachingAWindowThatIsGone) {
    {
        RunWindow window(discovery, devices, view);
        EXPECT_TRUE(devices.HasHandler());
    }
    EXPECT_FALSE(devices.HasHandler());
    devices.Raise(platform::DeviceChange::Arrival, true, "COM5");  // must not touch the destroyed window
}

TEST_F(WindowTest, TheVersionLabelIsAnInformationLineAndTheSelectorsComeFromTheScan) {
    RunWindow window(discovery, devices, view);
    window.ShowVersion("Version:MDM9X15-VQA0012-V2.0.2");
    ASSERT_EQ(view.lines.size(), 1u);
    EXPECT_EQ(view.lines[0].first, "Version:MDM9X15-VQA0012-V2.0.2");
    EXPECT_EQ(view.lines[0].second, core::kReportInfo);

    // Nothing is plugged in: the scan finds no Diag port and both selectors stay empty.
    EXPECT_FALSE(window.ScanPorts());
    EXPECT_EQ(window.DiagPortSelector(), "");
    EXPECT_EQ(window.AtPortSelector(), "");
    EXPECT_FALSE(window.D1Sent());
}

}  // namespace
}  // namespace firmora::cli
