#pragma once
// USB bulk seam: a small message transport to a fastboot interface, opened by
// its device path. Each implementation (libusb for real devices, the fastboot
// TCP transport, the virtual modem) provides only this; the handle-style
// binding the worker calls (interface, bulk-read and bulk-write endpoints) is
// built once above it (download::AdbApi).

#include <cstdint>
#include <memory>
#include <string>

namespace firmora::platform {

struct UsbInterfaceDescriptor {
    uint8_t length = 9;
    uint8_t descriptorType = 4;
    uint8_t interfaceNumber = 0;
    uint8_t alternateSetting = 0;
    uint8_t numEndpoints = 2;
    uint8_t interfaceClass = 0xFF;
    uint8_t interfaceSubClass = 0x42;
    uint8_t interfaceProtocol = 0x03;
    uint8_t interfaceString = 0;
};

struct UsbEndpointInformation {
    uint32_t maxPacketSize = 512;
    uint32_t maxTransferSize = 0;
    uint8_t endpointType = 2;  // bulk
    uint8_t endpointAddress = 0;
    uint8_t pollingInterval = 0;
    uint8_t settingIndex = 0;
};

// What an open interface shows of itself.
struct BulkInterfaceInfo {
    std::string name;
    UsbInterfaceDescriptor descriptor;
    UsbEndpointInformation in;
    UsbEndpointInformation out;
};

// One open connection. Calls fail with false and LastError (errno values):
// ETIMEDOUT when the time-out (milliseconds, 0: no limit) ran out, EBADF
// after Close, and the transport's own code once the device has gone.
// Used by one thread at a time.
class BulkTransport {
public:
    virtual ~BulkTransport() = default;
    // The interface's name, descriptor and default endpoints; fails once the
    // device has gone.
    virtual bool Describe(BulkInterfaceInfo& info) = 0;
    // One message to the device; `transferred` tells how much moved, also on
    // failure. A zero-length write is one empty message.
    virtual bool Write(const uint8_t* data, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) = 0;
    // The device's next message, whole (a USB transfer, a TCP frame). A
    // message longer than `length` fails with EOVERFLOW and is not handed out
    // in pieces: the rest of one reply must never pass for the next.
    virtual bool Read(uint8_t* buffer, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) = 0;
    // Closing a connection to a device that has gone still succeeds; a second
    // Close fails with EBADF.
    virtual bool Close() = 0;
};

class UsbBulk {
public:
    virtual ~UsbBulk() = default;
    // Opens the interface a device path names; null on failure (LastError set).
    virtual std::unique_ptr<BulkTransport> Open(const std::string& devicePath) = 0;
};

}  // namespace firmora::platform
