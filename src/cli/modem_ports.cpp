#include "cli/modem_ports.h"

#include <cctype>
#include <charconv>

namespace firmora::cli {

namespace {

std::optional<int> Number(std::string_view digits) {
    int value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec != std::errc() || end != digits.data() + digits.size() || value <= 0 || value > 255) return std::nullopt;
    return value;
}

bool HasWord(const std::string& text, std::string_view word) {
    for (size_t pos = text.find(word); pos != std::string::npos; pos = text.find(word, pos + 1)) {
        const bool startOk = pos == 0 || !std::isalnum(static_cast<unsigned char>(text[pos - 1]));
        const size_t end = pos + word.size();
        const bool endOk = end == text.size() || !std::isalnum(static_cast<unsigned char>(text[end]));
        if (startOk && endOk) return true;
    }
    return false;
}

}  // namespace

std::optional<int> ComNumberOfFriendlyName(const std::string& friendlyName) {
    const size_t open = friendlyName.rfind("(COM");
    if (open == std::string::npos || friendlyName.back() != ')') return std::nullopt;
    return Number(std::string_view(friendlyName).substr(open + 4, friendlyName.size() - open - 5));
}

std::optional<ModemPorts> DiscoverModemPorts(platform::DeviceEnumerator& devices, std::string& problem) {
    const auto interfaces = devices.ComPortInterfaces();
    if (!interfaces) {
        problem = "the system's list of serial ports cannot be read";
        return std::nullopt;
    }
    ModemPorts found;
    for (const platform::ComPortInterface& port : *interfaces) {
        const std::optional<int> number = ComNumberOfFriendlyName(port.friendlyName);
        if (!number) continue;
        const bool diag = port.friendlyName.find("Diag") != std::string::npos ||
                          port.friendlyName.find("DIAG") != std::string::npos;
        if (diag && found.diag == 0) found.diag = *number;
        if (!diag && HasWord(port.friendlyName, "AT") && found.at == 0) found.at = *number;
    }
    if (found.diag == 0 || found.at == 0) {
        problem = found.diag == 0 ? "no Diag port found" : "no AT port found";
        return std::nullopt;
    }
    return found;
}

}  // namespace firmora::cli
