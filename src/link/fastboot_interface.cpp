#include "link/fastboot_interface.h"

#include <cerrno>
#include <vector>

#include "platform/last_error.h"

namespace firmora::link {

namespace {

int Fail(uint32_t code) {
    platform::SetLastError(code);
    return static_cast<int>(code);
}

}  // namespace

int FindFastbootInterface(platform::DeviceEnumerator& devices, int memberIndex, std::string& path) {
    const std::vector<std::string> paths = devices.FastbootInterfacePaths();
    if (memberIndex < 0 || static_cast<size_t>(memberIndex) >= paths.size()) return Fail(ENODEV);
    const std::string& found = paths[static_cast<size_t>(memberIndex)];
    if (found.size() >= kFastbootPathLimit) return Fail(ERANGE);
    path = found;
    const bool firstOfComposite =
        found.find("MI_0") != std::string::npos || found.find("mi_0") != std::string::npos;
    return firstOfComposite ? kFastbootInterfaceFirstOfComposite : kFastbootInterfaceFound;
}

}  // namespace firmora::link
