#pragma once
// The UsbBulk seam over libusb: fastboot interfaces of real USB devices,
// named by the device paths of libusb_device_path.h.
//
// Opening an interface detaches a kernel driver bound to it (reattached on
// close) and claims it. Transfers are synchronous libusb bulk transfers with
// the caller's time-out in milliseconds (0: no limit); one read is one
// transfer, so one device message. A time-out fails with ETIMEDOUT and
// reports how much moved; a device that has gone fails every later call with
// ENODEV; a closed connection fails with EBADF. LastError holds errno values
// throughout.
//
// One connection is used by one thread at a time; different connections are
// independent.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/usb_bulk.h"

struct libusb_context;

namespace firmora::platform {

class LibusbUsbBulk final : public UsbBulk {
public:
    // Bytes one libusb transfer carries at most: longer writes go out as
    // several transfers (a multiple of every bulk packet size, so the device
    // sees one unbroken stream), and reads stop there. It keeps each
    // transfer inside the kernel's per-process USB buffer limit.
    static constexpr uint32_t kMaxTransferBytes = 1u << 20;

    // Starts a libusb context. Failure (no USB access in this environment)
    // leaves an object whose calls fail: see available().
    LibusbUsbBulk();
    ~LibusbUsbBulk() override;
    LibusbUsbBulk(const LibusbUsbBulk&) = delete;
    LibusbUsbBulk& operator=(const LibusbUsbBulk&) = delete;

    bool available() const { return context_ != nullptr; }

    // Device paths of the fastboot interfaces present now, ordered by bus
    // location and interface number; empty when libusb is not available.
    std::vector<std::string> FastbootInterfacePaths();

    // Null with LastError on failure: EINVAL for a malformed path, ENOENT when
    // no present device has that fastboot interface, EACCES when the device
    // node may not be opened, EBUSY when another program holds the interface,
    // the libusb start-up error when libusb is not available.
    std::unique_ptr<BulkTransport> Open(const std::string& devicePath) override;

private:
    std::shared_ptr<libusb_context> context_;
    uint32_t startError_ = 0;
};

}  // namespace firmora::platform
