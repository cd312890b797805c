#pragma once
// Which USB interfaces speak fastboot, and the device paths that name them.
// Pure code over libusb's descriptor structures, so that it can be exercised
// with hand-made descriptors and no device.
//
// A fastboot interface has class 0xFF, subclass 0x42, protocol 0x03 and a
// bulk IN and a bulk OUT endpoint. Its device path reads
//
//     usb:<bus>-<port>[.<port>...]:VID_xxxx&PID_xxxx[&MI_nn]
//
// e.g. "usb:1-1.4:VID_18D1&PID_D00D&MI_01": the bus location tells two
// identical devices apart, the identifiers are upper-case hex, and "MI_nn"
// (the interface number, two hex digits) is present exactly when the device
// is composite (more than one interface in its active configuration), as on
// Windows. Code that looks for "MI_0" in a path therefore finds it for the
// low-numbered interfaces of composite devices and never for a
// single-interface device.

#include <libusb-1.0/libusb.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/usb_bulk.h"

namespace firmora::platform {

// What a device path says.
struct UsbDevicePath {
    uint8_t bus = 0;
    std::vector<uint8_t> ports;            // port numbers from the root hub down, 1 to 7 of them
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::optional<uint8_t> interfaceNumber;  // composite devices only

    bool operator==(const UsbDevicePath&) const = default;
};

// Paths in a stable order: by bus location, then by interface number.
bool PathOrderLess(const UsbDevicePath& a, const UsbDevicePath& b);

std::string FormatDevicePath(const UsbDevicePath& path);
// Nullopt for anything FormatDevicePath would not produce (letters of either
// case are accepted in the hex digits).
std::optional<UsbDevicePath> ParseDevicePath(const std::string& text);

// A fastboot interface found in a configuration.
struct FastbootInterfaceMatch {
    const libusb_interface_descriptor* setting = nullptr;  // the matching alternate setting
    const libusb_endpoint_descriptor* bulkIn = nullptr;
    const libusb_endpoint_descriptor* bulkOut = nullptr;
};

bool HasFastbootClass(const libusb_interface_descriptor& setting);
// The setting's first bulk IN and first bulk OUT endpoint when it has the
// fastboot class and both endpoints; nullopt otherwise.
std::optional<FastbootInterfaceMatch> MatchFastbootSetting(const libusb_interface_descriptor& setting);
// Every fastboot interface of a configuration, in interface order, each with
// the first of its alternate settings that matches.
std::vector<FastbootInterfaceMatch> FastbootInterfaces(const libusb_config_descriptor& config);
// The fastboot interface a path names in this configuration: the one with the
// path's interface number, or, for a path without one, the only interface of
// a single-interface configuration. Nullopt when there is none.
std::optional<FastbootInterfaceMatch> FindFastbootInterface(const libusb_config_descriptor& config,
                                                            const UsbDevicePath& path);
bool IsComposite(const libusb_config_descriptor& config);

// The seam's view of the descriptors.
UsbInterfaceDescriptor ToInterfaceDescriptor(const libusb_interface_descriptor& setting);
// `maxTransferSize` is what one transfer of ours may carry.
UsbEndpointInformation ToEndpointInformation(const libusb_endpoint_descriptor& endpoint, uint8_t settingIndex,
                                             uint32_t maxTransferSize);

}  // namespace firmora::platform
