// The helper programs' device lookups against a fake device tree (umockdev):
// run under umockdev-wrapper, which redirects libudev and /sys to the
// testbed; anywhere else the program exits 77 (skipped).

#include <gtest/gtest.h>
#include <umockdev.h>

#include <string>
#include <vector>

#include "package-programs/device_lookup.h"

namespace firmora::programs {
namespace {

using Nodes = std::vector<std::string>;

class DeviceLookupTest : public ::testing::Test {
protected:
    void SetUp() override { bed_ = umockdev_testbed_new(); }
    void TearDown() override { g_object_unref(bed_); }

    // A USB device with one interface; returns the interface's sysfs path.
    std::string UsbInterface(const std::string& name, const char* vendor) {
        gchar* device = umockdev_testbed_add_device(bed_, "usb", name.c_str(), nullptr, "idVendor", vendor,
                                                    "idProduct", "f101", nullptr, "DEVTYPE", "usb_device", nullptr);
        gchar* interface = umockdev_testbed_add_device(bed_, "usb", (name + ":1.0").c_str(), device,
                                                       "bInterfaceNumber", "00", nullptr, "DEVTYPE",
                                                       "usb_interface", nullptr);
        std::string path = interface;
        g_free(device);
        g_free(interface);
        return path;
    }
    void Tty(const std::string& parent, const std::string& name, const char* tag = nullptr) {
        const std::string node = "/dev/" + name;
        gchar* tty = tag ? umockdev_testbed_add_device(bed_, "tty", name.c_str(), parent.c_str(), nullptr,
                                                       "DEVNAME", node.c_str(), tag, "1", nullptr)
                         : umockdev_testbed_add_device(bed_, "tty", name.c_str(), parent.c_str(), nullptr,
                                                       "DEVNAME", node.c_str(), nullptr);
        g_free(tty);
    }
    // A SCSI device of `type` (5: CD-ROM, 0: disk) with its generic and block nodes.
    void Scsi(const std::string& parent, const std::string& target, const char* type, const std::string& sg,
              const std::string& block) {
        gchar* device = umockdev_testbed_add_device(bed_, "scsi", target.c_str(), parent.c_str(), "type", type,
                                                    nullptr, "DEVTYPE", "scsi_device", nullptr);
        gchar* generic = umockdev_testbed_add_device(bed_, "scsi_generic", sg.c_str(), device, nullptr, "DEVNAME",
                                                     ("/dev/" + sg).c_str(), nullptr);
        gchar* disk = umockdev_testbed_add_device(bed_, "block", block.c_str(), device, nullptr, "DEVNAME",
                                                  ("/dev/" + block).c_str(), "DEVTYPE", "disk", nullptr);
        g_free(device);
        g_free(generic);
        g_free(disk);
    }

    UMockdevTestbed* bed_ = nullptr;
};

TEST_F(DeviceLookupTest, AtCandidatesAreAKnownModemsPortsTaggedOnesFirstDiagLeftOut) {
    const std::string modem = UsbInterface("1-2", "1c9e");
    Tty(modem, "ttyUSB0", "ID_MM_PORT_TYPE_QCDM");
    Tty(modem, "ttyUSB1");
    Tty(modem, "ttyUSB2", "ID_MM_PORT_TYPE_AT_PRIMARY");
    Tty(modem, "ttyUSB3", "ID_MM_PORT_TYPE_GPS");
    const std::string other = UsbInterface("1-3", "0403");  // a serial adapter
    Tty(other, "ttyUSB4");
    const std::string upper = UsbInterface("1-4", "05C6");
    Tty(upper, "ttyACM0");

    EXPECT_EQ(ModemAtPortCandidates(), (Nodes{"/dev/ttyUSB2", "/dev/ttyUSB1", "/dev/ttyACM0"}));
}

TEST_F(DeviceLookupTest, CdromNodesAreAKnownModemsCdromOnlyGenericNodesFirst) {
    Scsi(UsbInterface("1-2", "11f6"), "6:0:0:0", "5", "sg2", "sr0");
    Scsi(UsbInterface("1-3", "11f6"), "7:0:0:0", "0", "sg3", "sdb");    // the modem's memory card: a disk
    Scsi(UsbInterface("1-4", "0781"), "8:0:0:0", "5", "sg4", "sr1");    // somebody else's CD-ROM

    EXPECT_EQ(ModemCdromNodes(), (Nodes{"/dev/sg2", "/dev/sr0"}));
}

TEST_F(DeviceLookupTest, NoModemNoNodes) {
    Tty(UsbInterface("1-3", "0403"), "ttyUSB0");
    EXPECT_EQ(ModemAtPortCandidates(), Nodes{});
    EXPECT_EQ(ModemCdromNodes(), Nodes{});
}

}  // namespace
}  // namespace firmora::programs

int main(int argc, char** argv) {
    // Only a testbed tells whether the preload library redirects us.
    UMockdevTestbed* probe = umockdev_testbed_new();
    const bool mocked = umockdev_in_mock_environment();
    g_object_unref(probe);
    if (!mocked) return 77;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
