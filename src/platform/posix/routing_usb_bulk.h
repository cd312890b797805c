#pragma once
// The UsbBulk the tool uses on POSIX hosts: "tcp:" device paths go to the
// fastboot TCP transport, every other path to libusb. libusb is started only
// when a USB path or the list of USB fastboot interfaces is first asked for,
// so that a machine without USB access still reaches devices over TCP.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/posix/libusb_usb_bulk.h"
#include "platform/posix/tcp_usb_bulk.h"
#include "platform/usb_bulk.h"

namespace firmora::platform {

class RoutingUsbBulk final : public UsbBulk {
public:
    RoutingUsbBulk();
    ~RoutingUsbBulk() override;

    std::unique_ptr<BulkTransport> Open(const std::string& devicePath) override;
    // The USB fastboot interfaces present now (TCP devices are not discovered).
    std::vector<std::string> FastbootInterfacePaths();

    static bool IsTcpPath(const std::string& devicePath);

private:
    LibusbUsbBulk& Usb();

    TcpUsbBulk tcp_;
    std::once_flag usbStarted_;
    std::unique_ptr<LibusbUsbBulk> usb_;
};

}  // namespace firmora::platform
