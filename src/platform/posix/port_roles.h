#pragma once
// What a modem's serial port is for, as the text of its friendly name
// "<product> <role> (COMn)". The port scan sorts ports by words in that
// name: "Diag" makes a Diag port, "Ter" an application port, and every
// other port is a candidate for the AT probe. The role comes, in this order,
// from ModemManager's udev port tags, from the USB interface string, or from
// the shipped table of known modems' interfaces (ports/modem-ports.table
// beside the program).
//
// Role texts end up inside a friendly name the scan takes apart by its
// parentheses, so no role or product text here holds one.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace firmora::platform {

// The roles given to ModemManager's port tags. Only the Diag role holds
// "Diag" and only the application role holds "Ter"; the AT roles hold
// neither (nor "QD", the emergency download port's mark).
inline constexpr const char* kDiagRole = "Diagnostics Port";
inline constexpr const char* kApplicationRole = "NMEA Terminal Port";
inline constexpr const char* kAtRole = "AT Port";
inline constexpr const char* kSecondaryAtRole = "Secondary AT Port";
inline constexpr const char* kModemRole = "Modem Port";
// A port nothing tells about: the AT probe decides.
inline constexpr const char* kUnknownRole = "Serial Port";
// The product part of a name when the device names none fit to show.
inline constexpr const char* kUnknownProduct = "USB Modem";

// Where a port's role came from (shown by `firmora ports`).
enum class RoleSource { ModemManagerTag, InterfaceString, Table, None };
const char* ToString(RoleSource source);

// The role of ModemManager's port tags (ID_MM_PORT_TYPE_QCDM, _GPS,
// _AT_PRIMARY, _AT_SECONDARY, _AT_PPP); nullopt without any. `property`
// answers a udev property's value, nullopt when the device has none.
using PropertyLookup = std::function<std::optional<std::string>(const char* name)>;
std::optional<std::string> RoleFromModemManagerTags(const PropertyLookup& property);

// Text fit to stand in a friendly name: printable ASCII, blanks collapsed,
// at most 64 characters; parentheses make it unfit. Nullopt when nothing
// usable is left.
std::optional<std::string> NameText(std::string_view text);

// The product part of a friendly name. A product text that holds one of the
// scan's role marks ("Diag", "DIAG", "Ter", "QD") would give every port of
// the device that role, so such a text (or none) gives kUnknownProduct.
std::string ProductText(std::string_view product);

struct PortRoleEntry {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint8_t interfaceNumber = 0;
    std::string role;
};
using PortRoleTable = std::vector<PortRoleEntry>;

inline constexpr const char* kPortRoleFolder = "ports";
inline constexpr const char* kPortRoleFile = "modem-ports.table";
inline constexpr uint64_t kPortRoleFileMaxBytes = 256 * 1024;

// One entry a line: vendor id and product id (four hex digits each), the
// interface number (two hex digits), then the role text up to the end of
// the line. Blank lines and lines starting with '#' are ignored. A line that
// is anything else, a role that NameText refuses, or a second entry for the
// same interface fails with `error` naming `fileName`, the line and the fault.
std::optional<PortRoleTable> ParsePortRoleTable(std::string_view text, const std::string& fileName,
                                                std::string& error);
// The table in `file`; when its folder is missing, the copy of the shipped
// table of that name the program was built with.
std::optional<PortRoleTable> LoadPortRoleTable(Files& files, const std::filesystem::path& file,
                                               std::string& error);

// The shipped table beside the program: <programFolder>/ports/modem-ports.table.
inline std::filesystem::path PortRoleTablePath(const std::filesystem::path& programFolder) {
    return programFolder / kPortRoleFolder / kPortRoleFile;
}

const PortRoleEntry* FindPortRole(const PortRoleTable& table, uint16_t vendorId, uint16_t productId,
                                  uint8_t interfaceNumber);

}  // namespace firmora::platform
