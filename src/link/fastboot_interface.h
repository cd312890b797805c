#pragma once
// The fastboot interface lookup: the device path of the boot loader's
// Android-class bulk interface, by its member index among the present ones.

#include <string>

#include "platform/device_enumerator.h"

namespace firmora::link {

// The result of a lookup that found an interface this tool can use.
inline constexpr int kFastbootInterfaceFound = 0;
// The interface found is the first interface of a composite device
// ("MI_0" / "mi_0" in its path).
inline constexpr int kFastbootInterfaceFirstOfComposite = 255;
// Device paths of this length or longer do not fit the tool's path buffer.
inline constexpr size_t kFastbootPathLimit = 256;

// Stores the path of member `memberIndex` in `path` and returns 0, or 255
// when that path marks the first interface of a composite device. A missing
// member, or a path of 256 characters or more, is a failure: LastError is
// set and its code returned (never 0), and `path` is left alone.
int FindFastbootInterface(platform::DeviceEnumerator& devices, int memberIndex, std::string& path);

}  // namespace firmora::link
