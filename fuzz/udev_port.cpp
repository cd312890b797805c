// What port discovery makes of the texts udev gives about a modem: numbers
// of sysfs attributes (vendor, product, interface), the USB location in a
// sysname, ModemManager's port tags, the interface and product strings that
// become the port's friendly name, the table of known modems' port roles,
// and the COM name the scan takes back out of the friendly name.
//
// Properties: a number is the whole trimmed text in its base; a location
// names a bus and one to seven ports in range and, written out again, reads
// back the same; a tag gives one of the tag roles; a name text is printable,
// without parentheses or doubled blanks, at most 64 characters; whatever
// the product string, "<product> <role> (COMn)" gives back COMn, and holds a
// role mark ("Diag", "Ter", "QD") only where the role itself does; a table
// that loads finds each of its entries and has roles fit for a name, and one
// that does not names its file and a line of it.

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "link/port_discovery.h"
#include "platform/posix/port_roles.h"
#include "platform/posix/udev_text.h"

namespace {

using namespace firmora::platform;

std::optional<uint64_t> ReferenceNumber(std::string_view text, int base) {
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) return std::nullopt;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (value > UINT32_MAX) return std::nullopt;
    }
    return value;
}

void CheckNumbers(const std::string& text) {
    const std::string_view trimmed = TrimmedUdevText(text.c_str());
    for (int base : {10, 16}) {
        const auto number = UdevNumber(text.c_str(), base);
        const auto reference = ReferenceNumber(trimmed, base);
        FUZZ_CHECK(number.has_value() == reference.has_value());
        if (number) FUZZ_CHECK(*number == *reference);
    }

    const auto location = UsbLocationOfSysname(text.c_str());
    if (!location) return;
    FUZZ_CHECK(!location->ports.empty() && location->ports.size() <= 7);
    FUZZ_CHECK(std::none_of(location->ports.begin(), location->ports.end(), [](uint8_t p) { return p == 0; }));
    FUZZ_CHECK(trimmed.find_first_not_of("0123456789-. \n") == std::string_view::npos);
    std::string written = std::to_string(location->bus) + "-";
    for (size_t i = 0; i < location->ports.size(); ++i) {
        written += (i ? "." : "") + std::to_string(location->ports[i]);
    }
    FUZZ_CHECK(UsbLocationOfSysname(written.c_str()) == location);
}

bool FitName(std::string_view text) {
    return !text.empty() && text.size() <= 64 && text.front() != ' ' && text.back() != ' ' &&
           text.find("  ") == std::string_view::npos && text.find_first_of("()") == std::string_view::npos &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

bool HasMark(std::string_view text) {
    for (const char* mark : {"Diag", "DIAG", "Ter", "QD"}) {
        if (text.find(mark) != std::string_view::npos) return true;
    }
    return false;
}

void CheckNames(const std::string& text) {
    const auto name = NameText(text);
    if (name) FUZZ_CHECK(FitName(*name));
    const std::string product = ProductText(text);
    FUZZ_CHECK(FitName(product) && !HasMark(product));

    for (const char* role : {kDiagRole, kApplicationRole, kAtRole, kSecondaryAtRole, kModemRole, kUnknownRole}) {
        const std::string friendly = product + " " + role + " (COM" + std::to_string(1 + text.size() % 255) + ")";
        FUZZ_CHECK(firmora::link::PortNameOfFriendlyName(friendly) == "COM" + std::to_string(1 + text.size() % 255));
        FUZZ_CHECK(HasMark(friendly) == HasMark(role));
    }
    // The scan's own reading of any name: "COM" and a number from 1, and what the name ends with.
    const std::string com = firmora::link::PortNameOfFriendlyName(text);
    if (!com.empty()) {
        FUZZ_CHECK(com.rfind("COM", 0) == 0 && com.size() > 3 && text.size() >= com.size() + 1);
        FUZZ_CHECK(text.substr(text.size() - com.size() - 1) == com + ")");
    }
}

void CheckTags(const std::string& text) {
    // Lines "NAME=VALUE" as the device's udev properties.
    std::map<std::string, std::string> properties;
    for (size_t at = 0; at < text.size();) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const std::string line = text.substr(at, end - at);
        const size_t equals = line.find('=');
        if (equals != std::string::npos) properties.emplace(line.substr(0, equals), line.substr(equals + 1));
        at = end + 1;
    }
    const auto role = RoleFromModemManagerTags([&](const char* name) -> std::optional<std::string> {
        const auto found = properties.find(name);
        if (found == properties.end()) return std::nullopt;
        return found->second;
    });
    if (!role) return;
    const std::string roles[] = {kDiagRole, kApplicationRole, kAtRole, kSecondaryAtRole, kModemRole};
    FUZZ_CHECK(std::find(std::begin(roles), std::end(roles), *role) != std::end(roles));
}

void CheckTable(const std::string& text) {
    std::string error;
    const auto table = ParsePortRoleTable(text, "fuzz.table", error);
    if (!table) {
        FUZZ_CHECK(error.rfind("fuzz.table:", 0) == 0);
        const size_t line = std::stoul(error.substr(11));
        FUZZ_CHECK(line >= 1 && line <= 1 + static_cast<size_t>(std::count(text.begin(), text.end(), '\n')));
        return;
    }
    for (const PortRoleEntry& entry : *table) {
        FUZZ_CHECK(FindPortRole(*table, entry.vendorId, entry.productId, entry.interfaceNumber) == &entry);
        FUZZ_CHECK(NameText(entry.role) == entry.role);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    // udev's texts are C strings: they end at a zero byte.
    const std::string cText = text.substr(0, text.find('\0'));
    CheckNumbers(cText);
    CheckNames(text);
    CheckTags(text);
    CheckTable(text);
    return 0;
}
