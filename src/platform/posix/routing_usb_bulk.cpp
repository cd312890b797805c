#include "platform/posix/routing_usb_bulk.h"

namespace firmora::platform {

RoutingUsbBulk::RoutingUsbBulk() = default;
RoutingUsbBulk::~RoutingUsbBulk() = default;

bool RoutingUsbBulk::IsTcpPath(const std::string& devicePath) { return devicePath.rfind("tcp:", 0) == 0; }

std::unique_ptr<BulkTransport> RoutingUsbBulk::Open(const std::string& devicePath) {
    if (IsTcpPath(devicePath)) return tcp_.Open(devicePath);
    return Usb().Open(devicePath);
}

std::vector<std::string> RoutingUsbBulk::FastbootInterfacePaths() { return Usb().FastbootInterfacePaths(); }

LibusbUsbBulk& RoutingUsbBulk::Usb() {
    std::call_once(usbStarted_, [this] { usb_ = std::make_unique<LibusbUsbBulk>(); });
    return *usb_;
}

}  // namespace firmora::platform
