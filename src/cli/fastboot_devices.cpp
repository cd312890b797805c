#include "cli/fastboot_devices.h"

#include <cerrno>

#include "platform/last_error.h"

namespace firmora::cli {

std::unique_ptr<platform::DeviceFile> FastbootDevices::OpenDevicePath(const std::string& /*path*/) {
    platform::SetLastError(ENOENT);
    return nullptr;
}

}  // namespace firmora::cli
