#pragma once
// The texts udev gives about a device (sysfs attributes, sysnames), read
// apart from libudev: numbers in them and the USB location a sysname names.

#include <optional>
#include <string_view>

#include "platform/posix/libusb_device_path.h"

namespace firmora::platform {

// The text without the blanks and line ends around it; empty for none.
std::string_view TrimmedUdevText(const char* text);

// The whole trimmed text as a number in `base` (16 for idVendor, idProduct
// and bInterfaceNumber); nullopt for an empty text, any other character or
// a number beyond unsigned.
std::optional<unsigned> UdevNumber(const char* text, int base);

// "1-1.4" → bus 1, ports {1, 4} (a bus up to 255, one to seven ports from 1
// to 255); nullopt for a root hub ("usb1") or anything else.
std::optional<UsbDevicePath> UsbLocationOfSysname(const char* sysname);

}  // namespace firmora::platform
