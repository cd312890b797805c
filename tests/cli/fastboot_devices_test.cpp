// Ports named on the command line without --fastboot: the run still finds
// the boot loader, on USB, and still hears of the named ports' changes.

#include "cli/fastboot_devices.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "notifying_devices.h"

namespace firmora::cli {
namespace {

TEST(WithFastbootFrom, TakesTheBootLoaderFromItsSourceAndEverythingElseFromThePorts) {
    NotifyingDevices named;
    named.ports = {{"/dev/serial/by-id/modem-if00", "Named Diagnostics Port (COM3)", "", ""}};
    std::vector<std::string> usb;
    WithFastbootFrom devices(named, [&usb] { return usb; });

    // The modem is not in its boot loader yet, then it is: each look asks afresh.
    EXPECT_TRUE(devices.FastbootInterfacePaths().empty());
    usb = {"usb:1-1.4:VID_18D1&PID_D00D"};
    EXPECT_EQ(devices.FastbootInterfacePaths(), usb);

    const auto ports = devices.ComPortInterfaces();
    ASSERT_TRUE(ports.has_value());
    ASSERT_EQ(ports->size(), 1u);
    EXPECT_EQ(ports->front().friendlyName, "Named Diagnostics Port (COM3)");
    EXPECT_EQ(devices.SerialPortNames(), std::vector<std::string>{"/dev/serial/by-id/modem-if00"});

    int changes = 0;
    devices.SetChangeHandler([&changes](const platform::DeviceChangeEvent&) { ++changes; });
    named.Raise(platform::DeviceChange::Removal, true, "COM3");
    EXPECT_EQ(changes, 1);
}

}  // namespace
}  // namespace firmora::cli
