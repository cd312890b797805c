#include "platform/resource_bundle.h"

#include <algorithm>
#include <cctype>

namespace firmora::platform {

std::string BundleEntryPath(std::string_view type, std::string_view name) {
    std::string path(type);
    std::transform(path.begin(), path.end(), path.begin(), [](unsigned char c) { return std::toupper(c); });
    path += '/';
    path += name;
    return path;
}

}  // namespace firmora::platform
