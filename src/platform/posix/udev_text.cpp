#include "platform/posix/udev_text.h"

#include <charconv>
#include <string>

namespace firmora::platform {

std::string_view TrimmedUdevText(const char* text) {
    std::string_view view = text == nullptr ? std::string_view() : std::string_view(text);
    while (!view.empty() && (view.front() == ' ' || view.front() == '\n')) view.remove_prefix(1);
    while (!view.empty() && (view.back() == ' ' || view.back() == '\n')) view.remove_suffix(1);
    return view;
}

std::optional<unsigned> UdevNumber(const char* text, int base) {
    const std::string_view view = TrimmedUdevText(text);
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(view.data(), view.data() + view.size(), value, base);
    if (view.empty() || ec != std::errc() || end != view.data() + view.size()) return std::nullopt;
    return value;
}

std::optional<UsbDevicePath> UsbLocationOfSysname(const char* sysname) {
    const std::string_view name = TrimmedUdevText(sysname);
    const size_t dash = name.find('-');
    if (dash == std::string_view::npos) return std::nullopt;
    UsbDevicePath path;
    const auto bus = UdevNumber(std::string(name.substr(0, dash)).c_str(), 10);
    if (!bus || *bus > 255) return std::nullopt;
    path.bus = static_cast<uint8_t>(*bus);
    size_t pos = dash + 1;
    while (pos <= name.size()) {
        size_t end = name.find('.', pos);
        if (end == std::string_view::npos) end = name.size();
        const auto port = UdevNumber(std::string(name.substr(pos, end - pos)).c_str(), 10);
        if (!port || *port == 0 || *port > 255 || path.ports.size() == 7) return std::nullopt;
        path.ports.push_back(static_cast<uint8_t>(*port));
        pos = end + 1;
    }
    return path;
}

}  // namespace firmora::platform
