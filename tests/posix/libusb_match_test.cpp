// Which interfaces count as fastboot interfaces, and the device paths that
// name them, over hand-made libusb descriptors; then libusb itself on this
// machine, which may have no USB devices or no USB access at all.

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/last_error.h"
#include "platform/posix/libusb_boot_pipe.h"
#include "platform/posix/libusb_device_path.h"
#include "platform/posix/libusb_usb_bulk.h"

namespace firmora::platform {
namespace {

libusb_endpoint_descriptor Endpoint(uint8_t address, uint8_t type, uint16_t maxPacket = 512) {
    libusb_endpoint_descriptor e{};
    e.bLength = LIBUSB_DT_ENDPOINT_SIZE;
    e.bDescriptorType = LIBUSB_DT_ENDPOINT;
    e.bEndpointAddress = address;
    e.bmAttributes = type;
    e.wMaxPacketSize = maxPacket;
    return e;
}

const libusb_endpoint_descriptor kBulkIn = Endpoint(0x81, LIBUSB_TRANSFER_TYPE_BULK);
const libusb_endpoint_descriptor kBulkOut = Endpoint(0x01, LIBUSB_TRANSFER_TYPE_BULK);
const libusb_endpoint_descriptor kInterruptIn = Endpoint(0x83, LIBUSB_TRANSFER_TYPE_INTERRUPT, 8);

// Interfaces and their settings, wired into a configuration the way libusb
// hands one out.
class Config {
public:
    struct Setting {
        uint8_t number;
        uint8_t alternate;
        uint8_t cls, subClass, protocol;
        std::vector<libusb_endpoint_descriptor> endpoints;
    };

    // Each inner list holds one interface's alternate settings.
    explicit Config(std::vector<std::vector<Setting>> interfaces) : settings_(std::move(interfaces)) {
        for (auto& alternates : settings_) {
            auto& descriptors = descriptors_.emplace_back();
            for (Setting& s : alternates) {
                libusb_interface_descriptor d{};
                d.bLength = LIBUSB_DT_INTERFACE_SIZE;
                d.bDescriptorType = LIBUSB_DT_INTERFACE;
                d.bInterfaceNumber = s.number;
                d.bAlternateSetting = s.alternate;
                d.bInterfaceClass = s.cls;
                d.bInterfaceSubClass = s.subClass;
                d.bInterfaceProtocol = s.protocol;
                d.bNumEndpoints = static_cast<uint8_t>(s.endpoints.size());
                d.endpoint = s.endpoints.data();
                descriptors.push_back(d);
            }
        }
        for (auto& descriptors : descriptors_) {
            interfaces_.push_back({descriptors.data(), static_cast<int>(descriptors.size())});
        }
        config_.bNumInterfaces = static_cast<uint8_t>(interfaces_.size());
        config_.interface = interfaces_.data();
    }

    const libusb_config_descriptor& operator*() const { return config_; }

private:
    std::vector<std::vector<Setting>> settings_;
    std::vector<std::vector<libusb_interface_descriptor>> descriptors_;
    std::vector<libusb_interface> interfaces_;
    libusb_config_descriptor config_{};
};

Config::Setting Fastboot(uint8_t number, std::vector<libusb_endpoint_descriptor> endpoints = {kBulkIn, kBulkOut}) {
    return {number, 0, 0xFF, 0x42, 0x03, std::move(endpoints)};
}

TEST(FastbootInterfaceMatch, NeedsTheClassTripleAndABulkEndpointEachWay) {
    const Config config({{Fastboot(0, {kInterruptIn, kBulkOut, kBulkIn})},
                         {{1, 0, 0xFF, 0x42, 0x01, {kBulkIn, kBulkOut}}},  // another protocol of the class
                         {Fastboot(2, {kBulkIn, kInterruptIn})},           // no way out
                         {{3, 0, 0xFF, 0xFF, 0x03, {kBulkIn, kBulkOut}}}});
    const auto found = FastbootInterfaces(*config);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].setting->bInterfaceNumber, 0);
    EXPECT_EQ(found[0].bulkIn->bEndpointAddress, 0x81);   // not the interrupt endpoint
    EXPECT_EQ(found[0].bulkOut->bEndpointAddress, 0x01);
}

TEST(FastbootInterfaceMatch, TakesTheFirstAlternateSettingThatMatches) {
    const Config config({{{0, 0, 0xFF, 0x42, 0x03, {}}, {0, 1, 0xFF, 0x42, 0x03, {kBulkIn, kBulkOut}}}});
    const auto found = FastbootInterfaces(*config);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].setting->bAlternateSetting, 1);
}

TEST(FastbootInterfaceMatch, APathFindsItsInterfaceOnlyWhileTheDeviceKeepsItsShape) {
    const Config composite({{{0, 0, 0xFF, 0xFF, 0xFF, {kBulkIn, kBulkOut}}}, {Fastboot(1)}});
    const Config single({{Fastboot(0)}});
    ASSERT_TRUE(IsComposite(*composite));
    ASSERT_FALSE(IsComposite(*single));

    UsbDevicePath path{1, {4}, 0x18D1, 0xD00D, 1};
    const auto match = FindFastbootInterface(*composite, path);
    ASSERT_TRUE(match);
    EXPECT_EQ(match->setting->bInterfaceNumber, 1);
    path.interfaceNumber = 0;  // the Diag-like interface
    EXPECT_FALSE(FindFastbootInterface(*composite, path));
    EXPECT_FALSE(FindFastbootInterface(*single, path));
    path.interfaceNumber.reset();
    EXPECT_FALSE(FindFastbootInterface(*composite, path));
    EXPECT_TRUE(FindFastbootInterface(*single, path));
}

TEST(UsbBootPipe, IsTheFirstBulkOutEndpointOfTheFirstSettings) {
    const libusb_endpoint_descriptor interruptOut = Endpoint(0x02, LIBUSB_TRANSFER_TYPE_INTERRUPT, 8);
    const Config config({{{0, 0, 0xFF, 0xFF, 0xFF, {kBulkIn, interruptOut}}},
                         {{1, 0, 0xFF, 0xFF, 0xFF, {}}, {1, 1, 0xFF, 0xFF, 0xFF, {Endpoint(0x03, 2)}}},
                         {{2, 0, 0xFF, 0xFF, 0xFF, {kInterruptIn, Endpoint(0x04, 2), Endpoint(0x05, 2)}}}});
    const auto pipe = FindBootPipe(*config);
    ASSERT_TRUE(pipe);
    EXPECT_EQ(pipe->interfaceNumber, 2);
    EXPECT_EQ(pipe->endpointAddress, 0x04);
    EXPECT_FALSE(FindBootPipe(*Config({{{0, 0, 0xFF, 0xFF, 0xFF, {kBulkIn, interruptOut}}}})));

    SetLastError(0);
    EXPECT_EQ(OpenLibusbBootPipe("usb:1-1:VID_0451"), nullptr);
    EXPECT_EQ(LastError(), uint32_t{EINVAL});
    // No hub has seven tiers of port 7 on bus 255 (or libusb cannot start here).
    EXPECT_EQ(OpenLibusbBootPipe("usb:255-7.7.7.7.7.7.7:VID_0451&PID_D00E"), nullptr);
    EXPECT_NE(LastError(), 0u);
}

TEST(UsbDevicePath, FormatsAndParsesBack) {
    const UsbDevicePath composite{1, {1, 4}, 0x18D1, 0xD00D, 1};
    const UsbDevicePath single{3, {12}, 0x05C6, 0x9025, std::nullopt};
    EXPECT_EQ(FormatDevicePath(composite), "usb:1-1.4:VID_18D1&PID_D00D&MI_01");
    EXPECT_EQ(FormatDevicePath(single), "usb:3-12:VID_05C6&PID_9025");
    for (const UsbDevicePath& path : {composite, single, UsbDevicePath{255, {1, 2, 3, 4, 5, 6, 7}, 0, 0xFFFF, 0xAB}}) {
        EXPECT_EQ(ParseDevicePath(FormatDevicePath(path)), path) << FormatDevicePath(path);
    }
    EXPECT_EQ(ParseDevicePath("usb:1-1.4:vid_18d1&pid_d00d&mi_0a"), (UsbDevicePath{1, {1, 4}, 0x18D1, 0xD00D, 0x0A}));

    // "MI_0" marks the low interfaces of composite devices, never a single-interface device.
    EXPECT_NE(FormatDevicePath({1, {2}, 0x1C9E, 0xF101, 0}).find("MI_0"), std::string::npos);
    const std::string plain = FormatDevicePath({10, {10}, 0x10D1, 0x0D10, std::nullopt});
    EXPECT_EQ(plain.find("MI_0"), std::string::npos);
    EXPECT_EQ(plain.find("mi_0"), std::string::npos);
}

TEST(UsbDevicePath, RefusesWhatItWouldNotWrite) {
    for (const char* text : {"", "usb:", "USB:1-1:VID_18D1&PID_D00D", "usb:1:VID_18D1&PID_D00D",
                             "usb:1-:VID_18D1&PID_D00D", "usb:1-0:VID_18D1&PID_D00D", "usb:1-01:VID_18D1&PID_D00D",
                             "usb:256-1:VID_18D1&PID_D00D", "usb:1-1.2.3.4.5.6.7.8:VID_18D1&PID_D00D",
                             "usb:1-1:VID_18D&PID_D00D", "usb:1-1:VID_18D1&PID_D00G", "usb:1-1:VID_18D1",
                             "usb:1-1:VID_18D1&PID_D00D&MI_1", "usb:1-1:VID_18D1&PID_D00D&MI_001",
                             "usb:1-1:VID_18D1&PID_D00D&", "usb:1-1.:VID_18D1&PID_D00D", "tcp:127.0.0.1:5554"}) {
        EXPECT_FALSE(ParseDevicePath(text)) << text;
    }
}

TEST(UsbDevicePath, OrdersByBusLocationThenInterface) {
    std::vector<UsbDevicePath> paths{{1, {10}, 1, 1, 0}, {1, {2}, 9, 9, 3}, {1, {2}, 9, 9, 1}, {1, {2, 1}, 1, 1, {}}};
    std::sort(paths.begin(), paths.end(), PathOrderLess);
    std::vector<std::string> texts;
    for (const auto& p : paths) texts.push_back(FormatDevicePath(p));
    EXPECT_EQ(texts, (std::vector<std::string>{"usb:1-2:VID_0009&PID_0009&MI_01", "usb:1-2:VID_0009&PID_0009&MI_03",
                                               "usb:1-2.1:VID_0001&PID_0001", "usb:1-10:VID_0001&PID_0001&MI_00"}));
}

TEST(LibusbUsbBulk, EnumeratesAndRefusesCleanlyWhateverThisMachineHas) {
    LibusbUsbBulk usb;
    SetLastError(0);
    EXPECT_EQ(usb.Open("usb:1-1:VID_18D1"), nullptr);
    EXPECT_EQ(LastError(), uint32_t{EINVAL});
    if (!usb.available()) {
        EXPECT_TRUE(usb.FastbootInterfacePaths().empty());
        SetLastError(0);
        EXPECT_EQ(usb.Open("usb:1-1:VID_18D1&PID_D00D"), nullptr);
        EXPECT_NE(LastError(), 0u);
        GTEST_SKIP() << "libusb cannot start here (error " << LastError() << ")";
    }
    const std::vector<std::string> paths = usb.FastbootInterfacePaths();
    EXPECT_EQ(usb.FastbootInterfacePaths(), paths);
    for (size_t i = 0; i < paths.size(); ++i) {
        const auto parsed = ParseDevicePath(paths[i]);
        ASSERT_TRUE(parsed) << paths[i];
        if (i > 0) {
            EXPECT_TRUE(PathOrderLess(*ParseDevicePath(paths[i - 1]), *parsed));
        }
    }
    // No hub has seven tiers of port 7 on bus 255.
    EXPECT_EQ(usb.Open("usb:255-7.7.7.7.7.7.7:VID_18D1&PID_D00D"), nullptr);
    EXPECT_EQ(LastError(), uint32_t{ENOENT});
}

}  // namespace
}  // namespace firmora::platform
