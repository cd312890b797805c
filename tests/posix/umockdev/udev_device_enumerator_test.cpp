// The libudev enumerator against a mocked sysfs: a modem of four serial
// interfaces (ModemManager tags, an interface string), a second modem known
// only from the port table, a motherboard serial port, a fastboot device and
// the USB boot device; then unplug and replug through udev events.

#include <umockdev.h>

#include <strings.h>

#include <optional>
#include <set>

#include <gtest/gtest.h>

#include "platform/posix/explicit_device_enumerator.h"
#include "platform/posix/ini_settings_store.h"
#include "platform/posix/posix_serial_ports.h"
#include "change_events.h"
#include "platform/posix/udev_device_enumerator.h"
#include "test_folder.h"

namespace firmora::platform {
namespace {


using testing::ChangeEvents;

class UdevEnumeratorTest : public ::testing::Test {
protected:
    UdevEnumeratorTest() : settings_(folder_.path() / "settings.ini"), serialPorts_(&settings_) {
        testbed_ = umockdev_testbed_new();
    }
    ~UdevEnumeratorTest() override { g_object_unref(testbed_); }

    std::string AddUsbDevice(const char* name, const char* vendor, const char* product, const char* interfaces,
                             const char* productText) {
        return Take(umockdev_testbed_add_device(testbed_, "usb", name, nullptr, "idVendor", vendor, "idProduct",
                                                product, "bcdDevice", "0100", "bNumInterfaces", interfaces,
                                                "product", productText, nullptr, "DEVTYPE", "usb_device", nullptr));
    }
    std::string AddInterface(const std::string& device, const char* name, const char* number,
                             const char* text = nullptr, const char* cls = "ff", const char* subclass = "ff",
                             const char* protocol = "ff") {
        if (text != nullptr) {
            return Take(umockdev_testbed_add_device(testbed_, "usb", name, device.c_str(), "bInterfaceNumber", number,
                                                    "bInterfaceClass", cls, "bInterfaceSubClass", subclass,
                                                    "bInterfaceProtocol", protocol, "interface", text, nullptr,
                                                    "DEVTYPE", "usb_interface", nullptr));
        }
        return Take(umockdev_testbed_add_device(testbed_, "usb", name, device.c_str(), "bInterfaceNumber", number,
                                                "bInterfaceClass", cls, "bInterfaceSubClass", subclass,
                                                "bInterfaceProtocol", protocol, nullptr, "DEVTYPE", "usb_interface",
                                                nullptr));
    }
    // A tty below `parent`; `tag` is a ModemManager port tag or null.
    std::string AddTty(const std::string& parent, const std::string& name, const char* tag = nullptr) {
        const std::string node = "/dev/" + name;
        const char* above = parent.empty() ? nullptr : parent.c_str();
        if (tag != nullptr) {
            return Take(umockdev_testbed_add_device(testbed_, "tty", name.c_str(), above, nullptr,
                                                    "DEVNAME", node.c_str(), tag, "1", nullptr));
        }
        return Take(umockdev_testbed_add_device(testbed_, "tty", name.c_str(), above, nullptr, "DEVNAME",
                                                node.c_str(), nullptr));
    }

    // The first modem: four serial interfaces on 1-1.4.
    struct Modem {
        std::string device;
        std::vector<std::string> interfaces;
        std::vector<std::string> ttys;
        // With a monitor listening: its reports of the device, then of each
        // port, as they were added.
        std::vector<std::optional<DeviceChangeEvent>> reports;
    };
    // umockdev announces each device it adds with an "add" uevent. Given
    // `log`, the monitor's report of the device and of each port is awaited
    // before the next is added: umockdev's preload library resolves paths
    // through static buffers without a lock, so the test must not touch the
    // mocked tree while the monitor thread reads it. Interfaces go unreported.
    Modem AddFirstModem(const std::vector<std::string>& ttyNames, ChangeEvents* log = nullptr) {
        Modem m;
        const auto reported = [&] {
            if (log != nullptr) m.reports.push_back(log->Next());
        };
        m.device = AddUsbDevice("1-1.4", "1c9e", "f101", " 4", "LTE Modem");
        reported();
        m.interfaces.push_back(AddInterface(m.device, "1-1.4:1.0", "00"));
        m.interfaces.push_back(AddInterface(m.device, "1-1.4:1.1", "01"));
        m.interfaces.push_back(AddInterface(m.device, "1-1.4:1.2", "02"));
        m.interfaces.push_back(AddInterface(m.device, "1-1.4:1.3", "03", "Vendor Control Port"));
        const char* tags[] = {"ID_MM_PORT_TYPE_QCDM", "ID_MM_PORT_TYPE_GPS", "ID_MM_PORT_TYPE_AT_PRIMARY", nullptr};
        for (size_t i = 0; i < 4; ++i) {
            m.ttys.push_back(AddTty(m.interfaces[i], ttyNames[i], tags[i]));
            reported();
        }
        return m;
    }
    // The second modem, on 1-1.2 (so it comes first in the lists): the port
    // table names its roles; its product string holds "Ter".
    Modem AddSecondModem() {
        Modem m;
        m.device = AddUsbDevice("1-1.2", "1d6b", "f101", " 3", "Terra Modem");
        for (int i = 0; i < 3; ++i) {
            const std::string name = "1-1.2:1." + std::to_string(i);
            const std::string number = "0" + std::to_string(i);
            m.interfaces.push_back(AddInterface(m.device, name.c_str(), number.c_str()));
            m.ttys.push_back(AddTty(m.interfaces.back(), "ttyACM" + std::to_string(i)));
        }
        return m;
    }
    // Takes the modem out of the tree, announcing each removal first (the
    // test bed announces no removal itself); for use with no monitor running.
    void Unplug(const Modem& m) {
        for (const std::string& tty : m.ttys) Remove(tty);
        for (const std::string& interface : m.interfaces) Remove(interface);
        Remove(m.device);
    }
    void Remove(const std::string& syspath) {
        umockdev_testbed_uevent(testbed_, syspath.c_str(), "remove");
        umockdev_testbed_remove_device(testbed_, syspath.c_str());
    }
    // Announces the removal of `syspath` and returns the monitor's report.
    std::optional<DeviceChangeEvent> AnnounceRemoval(ChangeEvents& log, const std::string& syspath) {
        umockdev_testbed_uevent(testbed_, syspath.c_str(), "remove");
        return log.Next();
    }

    static PortRoleTable Roles() {
        return {{0x1D6B, 0xF101, 0x00, "Diagnostics Port"},
                {0x1D6B, 0xF101, 0x01, "Terminal Port"},
                {0x1D6B, 0xF101, 0x02, "AT Port"}};
    }

    static std::string Take(gchar* text) {
        std::string s = text != nullptr ? text : "";
        g_free(text);
        return s;
    }

    testing::TestFolder folder_{"udev"};
    IniSettingsStore settings_;
    PosixSerialPorts serialPorts_;
    UMockdevTestbed* testbed_ = nullptr;
};

TEST_F(UdevEnumeratorTest, NamesModemPortsByRoleWithHardwareIdsInBusOrder) {
    AddFirstModem({"ttyUSB0", "ttyUSB1", "ttyUSB2", "ttyUSB3"});
    AddSecondModem();
    AddTty("", "ttyS0");  // the motherboard's port: no USB interface
    UdevDeviceEnumerator devices(serialPorts_, settings_, Roles());

    const auto interfaces = devices.ComPortInterfaces();
    ASSERT_TRUE(interfaces);
    ASSERT_EQ(interfaces->size(), 7u);
    // The list follows the bus: the second modem sits at the lower hub port.
    std::vector<std::string> friendly;
    for (const auto& i : *interfaces) friendly.push_back(i.friendlyName);
    const std::vector<std::string> acm = {friendly[0], friendly[1], friendly[2]};
    EXPECT_EQ(acm[0].substr(0, acm[0].find(" (")), "USB Modem Diagnostics Port");
    EXPECT_EQ(acm[1].substr(0, acm[1].find(" (")), "USB Modem Terminal Port");
    EXPECT_EQ(acm[2].substr(0, acm[2].find(" (")), "USB Modem AT Port");
    EXPECT_EQ(friendly[3].substr(0, friendly[3].find(" (")), "LTE Modem Diagnostics Port");
    EXPECT_EQ(friendly[4].substr(0, friendly[4].find(" (")), "LTE Modem NMEA Terminal Port");
    EXPECT_EQ(friendly[5].substr(0, friendly[5].find(" (")), "LTE Modem AT Port");
    EXPECT_EQ(friendly[6].substr(0, friendly[6].find(" (")), "LTE Modem Vendor Control Port");

    // Hardware ids in the form the switch identifiers are compared with.
    EXPECT_EQ(strcasecmp((*interfaces)[3].hardwareId.c_str(), "USB\\Vid_1C9E&Pid_f101&Rev_0100&MI_00"), 0)
        << (*interfaces)[3].hardwareId;
    EXPECT_EQ((*interfaces)[6].hardwareId, "USB\\Vid_1C9E&Pid_F101&Rev_0100&MI_03");
    EXPECT_EQ((*interfaces)[3].devicePath, "/dev/ttyUSB0");

    // Each friendly name ends in its own COM number, never COM1 or COM2, and
    // the port list names the same ports in the same order.
    const std::vector<std::string> names = devices.SerialPortNames();
    ASSERT_EQ(names.size(), 7u);
    std::set<std::string> distinct(names.begin(), names.end());
    EXPECT_EQ(distinct.size(), 7u);
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_TRUE(friendly[i].ends_with(" (" + names[i] + ")")) << friendly[i];
        EXPECT_NE(names[i], "COM1");
        EXPECT_NE(names[i], "COM2");
        // Opening the COM name reaches the port's node.
        EXPECT_EQ(serialPorts_.DevicePathFor(names[i]), (*interfaces)[i].devicePath);
    }
    EXPECT_EQ(devices.DeviceUidOf(names[4]), "/sys/devices/1-1.4");
    EXPECT_EQ(devices.DeviceUidOf("COM99"), std::nullopt);

    const auto ports = devices.Ports();
    ASSERT_TRUE(ports);
    EXPECT_EQ((*ports)[3].roleSource, RoleSource::ModemManagerTag);
    EXPECT_EQ((*ports)[6].roleSource, RoleSource::InterfaceString);
    EXPECT_EQ((*ports)[0].roleSource, RoleSource::Table);
}

TEST_F(UdevEnumeratorTest, ComNumbersStayWithThePhysicalPortAcrossEnumerators) {
    Modem first = AddFirstModem({"ttyUSB0", "ttyUSB1", "ttyUSB2", "ttyUSB3"});
    std::vector<std::string> firstNames;
    {
        UdevDeviceEnumerator devices(serialPorts_, settings_, Roles());
        firstNames = devices.SerialPortNames();
    }
    ASSERT_EQ(firstNames, (std::vector<std::string>{"COM3", "COM4", "COM5", "COM6"}));

    // Another modem in the first one's absence gets numbers of its own.
    Unplug(first);
    AddSecondModem();
    {
        PosixSerialPorts serialPorts(&settings_);
        UdevDeviceEnumerator devices(serialPorts, settings_, Roles());
        EXPECT_EQ(devices.SerialPortNames(), (std::vector<std::string>{"COM7", "COM8", "COM9"}));
        EXPECT_EQ(serialPorts.DevicePathFor("COM3"), std::nullopt);
    }

    // The first modem back, its ports under other node names, in a third
    // enumerator with the same store: the same numbers, the new nodes.
    AddFirstModem({"ttyUSB4", "ttyUSB5", "ttyUSB6", "ttyUSB7"});
    PosixSerialPorts serialPorts(&settings_);
    UdevDeviceEnumerator devices(serialPorts, settings_, Roles());
    EXPECT_EQ(devices.SerialPortNames(),
              (std::vector<std::string>{"COM7", "COM8", "COM9", "COM3", "COM4", "COM5", "COM6"}));
    EXPECT_EQ(serialPorts.DevicePathFor("COM3"), "/dev/ttyUSB4");
    EXPECT_EQ(serialPorts.DevicePathFor("COM6"), "/dev/ttyUSB7");
}

TEST_F(UdevEnumeratorTest, MonitorReportsUnplugAndReplugWithTheSameComNames) {
    Modem modem = AddFirstModem({"ttyUSB0", "ttyUSB1", "ttyUSB2", "ttyUSB3"});
    ChangeEvents log;  // outlives the monitor that feeds it
    UdevDeviceEnumerator devices(serialPorts_, settings_, Roles());
    ASSERT_TRUE(devices.monitoring());
    devices.SetChangeHandler(log.Handler());
    ASSERT_EQ(serialPorts_.DevicePathFor("COM3"), "/dev/ttyUSB0");
    const std::vector<std::string> coms = {"COM3", "COM4", "COM5", "COM6"};

    // The unplug, in the kernel's order: ports, interfaces (which the
    // monitor does not report), then the device; the tree goes afterwards.
    for (size_t i = 0; i < modem.ttys.size(); ++i) {
        const auto event = AnnounceRemoval(log, modem.ttys[i]);
        ASSERT_TRUE(ChangeEvents::IsPort(event, DeviceChange::Removal, coms[i]))
            << ChangeEvents::Describe(event) << ", expected the removal of " << coms[i];
    }
    for (const std::string& interface : modem.interfaces) {
        umockdev_testbed_uevent(testbed_, interface.c_str(), "remove");
    }
    const auto gone = AnnounceRemoval(log, modem.device);
    ASSERT_TRUE(gone && gone->change == DeviceChange::Removal && !gone->isPort) << ChangeEvents::Describe(gone);
    EXPECT_EQ(gone->name, "/sys/devices/1-1.4");
    // A port that has gone no longer opens, not even its old node.
    EXPECT_EQ(serialPorts_.DevicePathFor("COM3"), std::nullopt);
    for (const std::string& tty : modem.ttys) umockdev_testbed_remove_device(testbed_, tty.c_str());
    for (const std::string& interface : modem.interfaces) {
        umockdev_testbed_remove_device(testbed_, interface.c_str());
    }
    umockdev_testbed_remove_device(testbed_, modem.device.c_str());
    EXPECT_TRUE(devices.SerialPortNames().empty());

    // Plugged back, its ports under other node names: the same numbers.
    modem = AddFirstModem({"ttyUSB4", "ttyUSB5", "ttyUSB6", "ttyUSB7"}, &log);
    ASSERT_EQ(modem.reports.size(), 5u);
    const auto& back = modem.reports[0];
    ASSERT_TRUE(back && back->change == DeviceChange::Arrival && !back->isPort) << ChangeEvents::Describe(back);
    EXPECT_EQ(back->name, "/sys/devices/1-1.4");
    for (size_t i = 0; i < coms.size(); ++i) {
        const auto& event = modem.reports[i + 1];
        EXPECT_TRUE(ChangeEvents::IsPort(event, DeviceChange::Arrival, coms[i]))
            << ChangeEvents::Describe(event) << ", expected the arrival of " << coms[i];
    }
    // The arrival mapped the new node before it was announced.
    EXPECT_EQ(serialPorts_.DevicePathFor("COM3"), "/dev/ttyUSB4");
}

TEST_F(UdevEnumeratorTest, FindsFastbootInterfacesAndTheUsbBootDevice) {
    AddFirstModem({"ttyUSB0", "ttyUSB1", "ttyUSB2", "ttyUSB3"});
    // A single-interface fastboot device and a composite one with fastboot on
    // interface 1; a vendor interface of another protocol is no fastboot.
    const std::string single = AddUsbDevice("2-3", "18d1", "d00d", " 1", "Android");
    AddInterface(single, "2-3:1.0", "00", nullptr, "ff", "42", "03");
    const std::string composite = AddUsbDevice("1-5", "1c9e", "f200", " 2", "LTE Modem");
    AddInterface(composite, "1-5:1.0", "00", nullptr, "ff", "42", "01");
    AddInterface(composite, "1-5:1.1", "01", nullptr, "ff", "42", "03");
    const std::string boot = AddUsbDevice("1-6", "0451", "d00e", " 1", "Boot");
    AddInterface(boot, "1-6:1.0", "00");

    UdevDeviceEnumerator devices(serialPorts_, settings_, Roles());
    EXPECT_EQ(devices.FastbootInterfacePaths(),
              (std::vector<std::string>{"usb:1-5:VID_1C9E&PID_F200&MI_01", "usb:2-3:VID_18D1&PID_D00D"}));
    EXPECT_EQ(devices.UsbBootDevicePaths(), (std::vector<std::string>{"usb:1-6:VID_0451&PID_D00E"}));
    // Only the device's pipe opens through this seam.
    errno = 0;
    EXPECT_EQ(devices.OpenDevicePath("usb:1-6:VID_0451&PID_D00E\\PIPE02"), nullptr);
}

TEST_F(UdevEnumeratorTest, NamedPortsKnowTheirUsbDeviceForModemManager) {
    // A tty with a real (mocked) device node, as a port named on the
    // command line would be.
    const std::string device = AddUsbDevice("1-1.4", "1c9e", "f101", " 4", "LTE Modem");
    const std::string interface = AddInterface(device, "1-1.4:1.2", "02");
    const std::string description = "P: " + interface.substr(4) + "/ttyUSB2\nN: ttyUSB2\nE: DEVNAME=/dev/ttyUSB2\n"
                                    "E: SUBSYSTEM=tty\nE: MAJOR=188\nE: MINOR=2\nA: dev=188:2\n";
    GError* error = nullptr;
    ASSERT_TRUE(umockdev_testbed_add_from_string(testbed_, description.c_str(), &error))
        << (error != nullptr ? error->message : "");

    EXPECT_EQ(UsbDeviceUidOfNode("/dev/ttyUSB2"), "/sys/devices/1-1.4");
    EXPECT_EQ(UsbDeviceUidOfNode("/dev/ttyUSB9"), std::nullopt);
    ExplicitDeviceEnumerator named(serialPorts_, {"", "/dev/ttyUSB2", "", ""});
    EXPECT_EQ(named.DeviceUidOf("COM5"), "/sys/devices/1-1.4");
    EXPECT_EQ(named.DeviceUidOf("COM3"), std::nullopt);
    // The udev enumerator gives the same port the same device.
    UdevDeviceEnumerator devices(serialPorts_, settings_, Roles());
    const auto names = devices.SerialPortNames();
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(devices.DeviceUidOf(names[0]), "/sys/devices/1-1.4");
}

}  // namespace
}  // namespace firmora::platform
