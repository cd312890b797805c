#pragma once
// USB bulk seam: an Android-class bulk interface opened by its device path,
// with its default bulk-in and bulk-out endpoints and synchronous transfers.
// Implementations: libusb (real devices), the fastboot TCP transport, the
// virtual modem.

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

class UsbEndpoint {
public:
    virtual ~UsbEndpoint() = default;
    // False on failure or time-out (LastError set); `transferred` tells how much moved.
    virtual bool WriteSync(const uint8_t* data, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) = 0;
    virtual bool ReadSync(uint8_t* buffer, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) = 0;
    virtual bool Close() = 0;
};

class UsbInterface {
public:
    virtual ~UsbInterface() = default;
    virtual bool GetInterfaceName(std::string& name) = 0;
    virtual bool GetInterfaceDescriptor(UsbInterfaceDescriptor& descriptor) = 0;
    virtual bool GetDefaultBulkReadEndpointInformation(UsbEndpointInformation& info) = 0;
    virtual bool GetDefaultBulkWriteEndpointInformation(UsbEndpointInformation& info) = 0;
    // Null on failure (LastError set).
    virtual std::unique_ptr<UsbEndpoint> OpenDefaultBulkReadEndpoint() = 0;
    virtual std::unique_ptr<UsbEndpoint> OpenDefaultBulkWriteEndpoint() = 0;
    virtual bool Close() = 0;
};

class UsbBulk {
public:
    virtual ~UsbBulk() = default;
    // Opens the interface a device path names; null on failure (LastError set).
    virtual std::unique_ptr<UsbInterface> CreateInterfaceByName(const std::string& devicePath) = 0;
};

}  // namespace firmora::platform
