#include "link/port_discovery.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/dialogs.h"
#include "platform/last_error.h"
#include "platform/virtual_clock.h"
#include "recording_log.h"

namespace firmora::link {
namespace {

using platform::ComPortInterface;

// A device tree given by the test: the COM-port interfaces, the serial port
// list and the USB boot devices with the paths that open.
class ScriptedDevices final : public platform::DeviceEnumerator {
public:
    std::optional<std::vector<ComPortInterface>> ComPortInterfaces() override {
        ++classQueries;
        if (classQueryFails) return std::nullopt;
        return interfaces;
    }
    std::vector<std::string> SerialPortNames() override { return serialPorts; }
    std::vector<std::string> FastbootInterfacePaths() override { return {}; }
    std::vector<std::string> UsbBootDevicePaths() override { return usbBoot; }
    std::unique_ptr<platform::DeviceFile> OpenDevicePath(const std::string& path) override {
        opened.push_back(path);
        if (!openable.count(path)) {
            platform::SetLastError(EACCES);
            return nullptr;
        }
        return std::make_unique<NullFile>();
    }
    void SetChangeHandler(ChangeHandler) override {}

    void Add(const std::string& friendlyName, const std::string& hardwareId = "USB\\VID_1D6B&PID_F101&MI_00") {
        interfaces.push_back({"\\\\?\\usb#" + std::to_string(interfaces.size()), friendlyName, friendlyName, hardwareId});
    }

    std::vector<ComPortInterface> interfaces;
    bool classQueryFails = false;
    int classQueries = 0;
    std::vector<std::string> serialPorts;
    std::vector<std::string> usbBoot;
    std::set<std::string> openable;
    std::vector<std::string> opened;

private:
    class NullFile final : public platform::DeviceFile {
    public:
        bool Write(const uint8_t*, size_t length, size_t& written) override {
            written = length;
            return true;
        }
        bool Close() override { return true; }
    };
};

class ScriptedProbe final : public AtPortProbe {
public:
    bool ProbeAtPort(const std::string& portName) override {
        probed.push_back(portName);
        return answering.count(portName) > 0;
    }
    std::set<std::string> answering;
    std::vector<std::string> probed;
};

class ScriptedSwitch final : public DiscoverySwitch {
public:
    bool SendD1Switch(const std::string& portName) override {
        sent.push_back(portName);
        return writes;
    }
    bool writes = true;
    std::vector<std::string> sent;
};

class PortDiscoveryTest : public ::testing::Test {
protected:
    PortDiscovery& Discovery(bool enprg9x15 = false) {
        discovery = std::make_unique<PortDiscovery>(devices, clock, dialogs, log, probe, d1Switch, enprg9x15);
        return *discovery;
    }

    platform::VirtualClock clock;
    ScriptedDevices devices;
    platform::ScriptedDialogs dialogs;
    testing::RecordingLog log;
    ScriptedProbe probe;
    ScriptedSwitch d1Switch;
    std::unique_ptr<PortDiscovery> discovery;
};

TEST(PortNameOfFriendlyName, TakesTheComNameInTheClosingParentheses) {
    EXPECT_EQ(PortNameOfFriendlyName("LTE Modem Diagnostics Port (COM12)"), "COM12");
    EXPECT_EQ(PortNameOfFriendlyName("(COM3)"), "COM3");
    // Text after the ")" of the port number: no port.
    EXPECT_EQ(PortNameOfFriendlyName("LTE Modem Diagnostics Port (COM12) #2"), "");
    // The first ")" must end the name.
    EXPECT_EQ(PortNameOfFriendlyName("Modem (USB) Port (COM4)"), "");
    EXPECT_EQ(PortNameOfFriendlyName("Terminal Port"), "");
    EXPECT_EQ(PortNameOfFriendlyName("Terminal Port )COM4("), "");
    // Only a COM name is a port the worker can open.
    EXPECT_EQ(PortNameOfFriendlyName("Printer Port (LPT1)"), "");
    EXPECT_EQ(PortNameOfFriendlyName("Terminal Port (COM)"), "");
    EXPECT_EQ(PortNameOfFriendlyName("Terminal Port (COM0)"), "");
}

TEST_F(PortDiscoveryTest, SortsDiagAndApplicationPortsByTheirFriendlyNames) {
    devices.Add("LTE Modem Diagnostics Interface (COM3)");
    devices.Add("LTE Modem Terminal Port (COM4)");
    devices.Add("LTE Modem DIAG (COM8)");
    devices.Add("LTE Modem NMEA Port (COM9)");
    devices.Add("LTE Modem Diagnostics (COM10) extra");
    std::vector<std::string> diag, app;
    EXPECT_TRUE(Discovery().ScanComInterfaces(diag, app));
    EXPECT_EQ(diag, (std::vector<std::string>{"COM3", "COM8"}));
    EXPECT_EQ(app, (std::vector<std::string>{"COM4"}));
}

TEST_F(PortDiscoveryTest, TheEmergencyDownloadPackageTakesOnlyTheDownloadPortAsDiag) {
    devices.Add("LTE Modem Diagnostics (COM3)");
    devices.Add("Qualified QDLoader 9008 (COM21)");
    std::vector<std::string> diag, app;
    EXPECT_TRUE(Discovery(true).ScanComInterfaces(diag, app));
    EXPECT_EQ(diag, (std::vector<std::string>{"COM21"}));

    devices.interfaces.pop_back();
    diag.clear();
    EXPECT_FALSE(Discovery(true).ScanComInterfaces(diag, app));
    EXPECT_TRUE(diag.empty());
}

TEST_F(PortDiscoveryTest, SkipsInterfacesMissingANameDescriptionOrHardwareId) {
    devices.Add("LTE Modem Diagnostics (COM3)");
    devices.interfaces.back().description.clear();
    devices.Add("LTE Modem Diagnostics (COM5)", "");
    std::vector<std::string> diag, app;
    EXPECT_FALSE(Discovery().ScanComInterfaces(diag, app));
    EXPECT_TRUE(diag.empty());
}

TEST_F(PortDiscoveryTest, AFailedClassQueryShowsItsMessageAndFindsNothing) {
    devices.classQueryFails = true;
    std::vector<std::string> diag, app;
    EXPECT_FALSE(Discovery().ScanComInterfaces(diag, app));
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].text, "SetupDiGetClassDevs failed");
}

TEST_F(PortDiscoveryTest, TheSwitchGoesOnceAProgramRunToTheFirstListedDeviceAndPausesFiveSeconds) {
    devices.Add("Modem CD Port (COM3)", "usb\\vid_1c9e&pid_F101&rev_0100&mi_00");  // case does not matter
    devices.Add("Second Modem Port (COM14)", "USB\\Vid_11F6&Pid_001b&Rev_0100&MI_00");
    PortDiscovery& scan = Discovery();
    std::vector<std::string> diag, app;
    scan.ScanComInterfaces(diag, app);
    EXPECT_EQ(d1Switch.sent, (std::vector<std::string>{"COM3"}));
    EXPECT_TRUE(scan.D1Sent());
    EXPECT_EQ(clock.TickCount(), 5000u);

    scan.ScanPorts();
    scan.CheckDiagPort(3);
    EXPECT_EQ(d1Switch.sent.size(), 1u);
}

TEST_F(PortDiscoveryTest, AnUnwrittenSwitchStillPausesAndIsTriedAgainAtTheNextScan) {
    devices.Add("Modem AT Port (COM3)", "USB\\Vid_1C9E&Pid_f108&Rev_0100&MI_02");
    devices.Add("Modem Port without number", "USB\\Vid_1C9E&Pid_f108&Rev_0100&MI_02");
    d1Switch.writes = false;
    PortDiscovery& scan = Discovery();
    std::vector<std::string> diag, app;
    scan.ScanComInterfaces(diag, app);
    EXPECT_FALSE(scan.D1Sent());
    // The name without a port number got nothing, and no pause.
    EXPECT_EQ(clock.TickCount(), 5000u);
    scan.ScanComInterfaces(diag, app);
    EXPECT_EQ(d1Switch.sent, (std::vector<std::string>{"COM3", "COM3"}));
}

TEST_F(PortDiscoveryTest, TheAtSearchNeverProbesTheMachinesPortsNorKnownDiagOrApplicationPorts) {
    devices.serialPorts = {"COM1", "COM2", "COM3", "COM4", "LPT1", "COM5", "COM7"};
    probe.answering = {"COM5", "COM7", "COM3"};
    std::vector<std::string> at;
    Discovery().FindAtPorts(at, {"com3"}, {"COM4"});
    EXPECT_EQ(probe.probed, (std::vector<std::string>{"COM5", "COM7"}));
    EXPECT_EQ(at, (std::vector<std::string>{"COM5", "COM7"}));
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"enum Port:COM3", "enum Port:COM4", "enum Port:COM5",
                                                      "Find AT Port:COM5", "enum Port:COM7", "Find AT Port:COM7"}));
}

TEST_F(PortDiscoveryTest, TheFullScanFillsTheSelectorsAndLogsItsSteps) {
    devices.Add("LTE Modem Diagnostics Port (COM5)");
    devices.Add("LTE Modem Terminal Port (COM6)");
    devices.Add("LTE Modem AT Port (COM7)");
    devices.serialPorts = {"COM5", "COM6", "COM7"};
    probe.answering = {"COM7"};
    PortDiscovery& scan = Discovery();
    EXPECT_EQ(scan.DiagSelector(), "");
    EXPECT_TRUE(scan.ScanPorts());
    EXPECT_EQ(scan.DiagSelector(), "COM5");
    EXPECT_EQ(scan.AppSelector(), "COM6");
    EXPECT_EQ(scan.AtSelector(), "COM7");
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"CheckForComPorts start", "CheckForComPorts end",
                                                      "Enum AT port start", "enum Port:COM5", "enum Port:COM6",
                                                      "enum Port:COM7", "Find AT Port:COM7", "Enum AT port end"}));
    EXPECT_EQ(devices.classQueries, 1);

    // The next scan rebuilds the lists: a device gone leaves them empty.
    devices.interfaces.clear();
    devices.serialPorts.clear();
    EXPECT_FALSE(scan.ScanPorts());
    EXPECT_EQ(scan.DiagSelector(), "");
    EXPECT_EQ(scan.AtSelector(), "");
}

TEST_F(PortDiscoveryTest, AScanWithoutADiagPortRunsOnceMoreWithoutListingAPortTwice) {
    devices.Add("LTE Modem Terminal Port (COM6)");
    PortDiscovery& scan = Discovery();
    EXPECT_FALSE(scan.ScanPorts());
    EXPECT_EQ(devices.classQueries, 2);
    EXPECT_EQ(scan.Ports().app, (std::vector<std::string>{"COM6"}));
}

TEST_F(PortDiscoveryTest, CheckDiagPortWithTheDeviceAbsentScansFourTimesWithThreePauses) {
    PortDiscovery& scan = Discovery();
    EXPECT_FALSE(scan.CheckDiagPort(5));
    EXPECT_EQ(devices.classQueries, 4);
    EXPECT_EQ(clock.TickCount(), 1500u);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"Port list <= 0"}));
}

TEST_F(PortDiscoveryTest, CheckDiagPortComparesTheFirstDiagPortsNumber) {
    devices.Add("LTE Modem Diagnostics Port (COM15)");
    devices.Add("LTE Modem Diagnostics Port (COM5)");
    PortDiscovery& scan = Discovery();
    EXPECT_TRUE(scan.CheckDiagPort(15));
    EXPECT_FALSE(scan.CheckDiagPort(5));
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"Same DiaComPort COM15", "Different DiaComPort COM5"}));
    EXPECT_EQ(devices.classQueries, 2);
    EXPECT_EQ(clock.TickCount(), 0u);
    // The check leaves the window's lists alone.
    EXPECT_TRUE(scan.Ports().diag.empty());
}

TEST_F(PortDiscoveryTest, TheBootPipeIsOpenedOnTheFirstMatchingDevice) {
    const std::string other = "\\\\?\\usb#vid_1234&pid_5678#1#{00873fdf}";
    const std::string ours = "\\\\?\\usb#vid_0451&pid_d00e#5&2#{00873fdf}";
    devices.usbBoot = {other, ours};
    devices.openable = {ours, ours + "\\PIPE01"};
    EXPECT_NE(OpenUsbBootPipe(devices, log, "PIPE01"), nullptr);
    EXPECT_EQ(devices.opened, (std::vector<std::string>{ours, ours + "\\PIPE01"}));
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"Attempting to open " + other, other + " is not our device",
                                                      "Attempting to open " + ours,
                                                      "completeDeviceName = (" + ours + "\\PIPE01)",
                                                      "Opened successfully."}));
}

TEST_F(PortDiscoveryTest, TheBootPipeLogsEachWayOfNotOpening) {
    EXPECT_EQ(OpenUsbBootPipe(devices, log, "PIPE01"), nullptr);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"Failed to GetUsbDeviceFileName err - 19"}));

    const std::string ours = "\\\\?\\usb#vid_0451&pid_d00e#5#{00873fdf}";
    devices.usbBoot = {ours};
    log.Clear();
    EXPECT_EQ(OpenUsbBootPipe(devices, log, "PIPE01"), nullptr);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"Attempting to open " + ours, "FAILED to open " + ours,
                                                      "Failed to GetUsbDeviceFileName err - 13"}));

    devices.openable = {ours};
    log.Clear();
    EXPECT_EQ(OpenUsbBootPipe(devices, log, "PIPE01"), nullptr);
    EXPECT_EQ(log.Lines().back(), "Failed to open (" + ours + "\\PIPE01) = 13");

    log.Clear();
    EXPECT_EQ(OpenUsbBootPipe(devices, log, std::string(256 - ours.size() - 1, 'P')), nullptr);
    EXPECT_EQ(log.Lines().back(), "Failed to open handle - possibly long filename");

    // Only the first four members are looked at.
    devices.usbBoot = {"a", "b", "c", "d", ours};
    log.Clear();
    EXPECT_EQ(OpenUsbBootPipe(devices, log, "PIPE01"), nullptr);
    EXPECT_EQ(log.Lines().back(), "Failed to GetUsbDeviceFileName err - 19");
}

}  // namespace
}  // namespace firmora::link
