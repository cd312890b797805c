#include "platform/posix/libusb_device_path.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <tuple>

namespace firmora::platform {
namespace {

constexpr uint8_t kFastbootClass = 0xFF;
constexpr uint8_t kFastbootSubClass = 0x42;
constexpr uint8_t kFastbootProtocol = 0x03;
constexpr size_t kMaxPorts = 7;  // the USB tier limit below a root hub

constexpr char kPrefix[] = "usb:";

// Reads a decimal number of at most `max` at `pos`; no sign, no leading zero.
std::optional<unsigned> Decimal(const std::string& text, size_t& pos, unsigned max) {
    const size_t start = pos;
    if (pos >= text.size() || text[pos] < '0' || text[pos] > '9') return std::nullopt;
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data() + pos, text.data() + text.size(), value);
    pos = static_cast<size_t>(end - text.data());
    if (ec != std::errc() || value > max || (text[start] == '0' && pos - start > 1)) return std::nullopt;
    return value;
}

std::optional<unsigned> HexDigit(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
    return std::nullopt;
}

// Reads `tag` (either case) followed by exactly `digits` hex digits.
std::optional<unsigned> TaggedHex(const std::string& text, size_t& pos, const char* tag, size_t digits) {
    for (const char* t = tag; *t != '\0'; ++t, ++pos) {
        if (pos >= text.size() || std::toupper(static_cast<unsigned char>(text[pos])) != *t) return std::nullopt;
    }
    unsigned value = 0;
    for (size_t i = 0; i < digits; ++i, ++pos) {
        const auto digit = pos < text.size() ? HexDigit(text[pos]) : std::nullopt;
        if (!digit) return std::nullopt;
        value = value * 16 + *digit;
    }
    return value;
}

bool IsBulk(const libusb_endpoint_descriptor& endpoint) {
    return (endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) == LIBUSB_TRANSFER_TYPE_BULK;
}

}  // namespace

bool PathOrderLess(const UsbDevicePath& a, const UsbDevicePath& b) {
    // A path without an interface number sorts before any with one.
    return std::tie(a.bus, a.ports, a.interfaceNumber, a.vendorId, a.productId) <
           std::tie(b.bus, b.ports, b.interfaceNumber, b.vendorId, b.productId);
}

std::string FormatDevicePath(const UsbDevicePath& path) {
    std::string text = kPrefix + std::to_string(path.bus) + "-";
    for (size_t i = 0; i < path.ports.size(); ++i) {
        if (i > 0) text += '.';
        text += std::to_string(path.ports[i]);
    }
    char ids[40];
    std::snprintf(ids, sizeof ids, ":VID_%04X&PID_%04X", path.vendorId, path.productId);
    text += ids;
    if (path.interfaceNumber) {
        std::snprintf(ids, sizeof ids, "&MI_%02X", *path.interfaceNumber);
        text += ids;
    }
    return text;
}

std::optional<UsbDevicePath> ParseDevicePath(const std::string& text) {
    if (text.rfind(kPrefix, 0) != 0) return std::nullopt;
    size_t pos = sizeof kPrefix - 1;
    UsbDevicePath path;
    const auto bus = Decimal(text, pos, 255);
    if (!bus || pos >= text.size() || text[pos] != '-') return std::nullopt;
    path.bus = static_cast<uint8_t>(*bus);
    do {
        ++pos;  // past '-' or '.'
        const auto port = Decimal(text, pos, 255);
        if (!port || *port == 0 || path.ports.size() == kMaxPorts) return std::nullopt;
        path.ports.push_back(static_cast<uint8_t>(*port));
    } while (pos < text.size() && text[pos] == '.');
    if (pos >= text.size() || text[pos] != ':') return std::nullopt;
    ++pos;
    const auto vendor = TaggedHex(text, pos, "VID_", 4);
    if (!vendor) return std::nullopt;
    const auto product = TaggedHex(text, pos, "&PID_", 4);
    if (!product) return std::nullopt;
    path.vendorId = static_cast<uint16_t>(*vendor);
    path.productId = static_cast<uint16_t>(*product);
    if (pos < text.size()) {
        const auto number = TaggedHex(text, pos, "&MI_", 2);
        if (!number) return std::nullopt;
        path.interfaceNumber = static_cast<uint8_t>(*number);
    }
    if (pos != text.size()) return std::nullopt;
    return path;
}

bool HasFastbootClass(const libusb_interface_descriptor& setting) {
    return setting.bInterfaceClass == kFastbootClass && setting.bInterfaceSubClass == kFastbootSubClass &&
           setting.bInterfaceProtocol == kFastbootProtocol;
}

std::optional<FastbootInterfaceMatch> MatchFastbootSetting(const libusb_interface_descriptor& setting) {
    if (!HasFastbootClass(setting) || setting.endpoint == nullptr) return std::nullopt;
    FastbootInterfaceMatch match;
    match.setting = &setting;
    for (uint8_t i = 0; i < setting.bNumEndpoints; ++i) {
        const libusb_endpoint_descriptor& endpoint = setting.endpoint[i];
        if (!IsBulk(endpoint)) continue;
        const bool in = (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN;
        const libusb_endpoint_descriptor*& slot = in ? match.bulkIn : match.bulkOut;
        if (slot == nullptr) slot = &endpoint;
    }
    if (match.bulkIn == nullptr || match.bulkOut == nullptr) return std::nullopt;
    return match;
}

std::vector<FastbootInterfaceMatch> FastbootInterfaces(const libusb_config_descriptor& config) {
    std::vector<FastbootInterfaceMatch> found;
    if (config.interface == nullptr) return found;
    for (uint8_t i = 0; i < config.bNumInterfaces; ++i) {
        const libusb_interface& interface = config.interface[i];
        if (interface.altsetting == nullptr) continue;
        for (int s = 0; s < interface.num_altsetting; ++s) {
            if (auto match = MatchFastbootSetting(interface.altsetting[s])) {
                found.push_back(*match);
                break;
            }
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) {
        return a.setting->bInterfaceNumber < b.setting->bInterfaceNumber;
    });
    return found;
}

std::optional<FastbootInterfaceMatch> FindFastbootInterface(const libusb_config_descriptor& config,
                                                            const UsbDevicePath& path) {
    // A path keeps its meaning only while the device stays as composite (or
    // not) as it was when the path was made.
    if (IsComposite(config) != path.interfaceNumber.has_value()) return std::nullopt;
    for (const FastbootInterfaceMatch& match : FastbootInterfaces(config)) {
        if (!path.interfaceNumber || match.setting->bInterfaceNumber == *path.interfaceNumber) return match;
    }
    return std::nullopt;
}

bool IsComposite(const libusb_config_descriptor& config) { return config.bNumInterfaces > 1; }

UsbInterfaceDescriptor ToInterfaceDescriptor(const libusb_interface_descriptor& setting) {
    UsbInterfaceDescriptor d;
    d.length = setting.bLength;
    d.descriptorType = setting.bDescriptorType;
    d.interfaceNumber = setting.bInterfaceNumber;
    d.alternateSetting = setting.bAlternateSetting;
    d.numEndpoints = setting.bNumEndpoints;
    d.interfaceClass = setting.bInterfaceClass;
    d.interfaceSubClass = setting.bInterfaceSubClass;
    d.interfaceProtocol = setting.bInterfaceProtocol;
    d.interfaceString = setting.iInterface;
    return d;
}

UsbEndpointInformation ToEndpointInformation(const libusb_endpoint_descriptor& endpoint, uint8_t settingIndex,
                                             uint32_t maxTransferSize) {
    UsbEndpointInformation info;
    // Bits 11 and 12 count extra transactions per microframe on periodic
    // endpoints; the packet size is in the low eleven bits.
    info.maxPacketSize = endpoint.wMaxPacketSize & 0x7FFu;
    info.maxTransferSize = maxTransferSize;
    info.endpointType = endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK;
    info.endpointAddress = endpoint.bEndpointAddress;
    info.pollingInterval = endpoint.bInterval;
    info.settingIndex = settingIndex;
    return info;
}

}  // namespace firmora::platform
