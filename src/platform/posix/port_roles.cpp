#include "platform/posix/port_roles.h"

#include <array>

#include "platform/data_lines.h"
#include "platform/program_data.h"
#include "program_data/ports.h"

namespace firmora::platform {
namespace {

constexpr size_t kNameTextLimit = 64;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::optional<unsigned> HexValue(std::string_view text) {
    unsigned value = 0;
    for (const char c : text) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else if (c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else {
            return std::nullopt;
        }
        value = value * 16 + digit;
    }
    return value;
}

// The next blank-separated field at `pos`; empty at the end of the line.
std::string_view NextField(std::string_view line, size_t& pos) {
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    const size_t start = pos;
    while (pos < line.size() && !IsBlank(line[pos])) ++pos;
    return line.substr(start, pos - start);
}

// A field of exactly `digits` hex digits; an empty `problem` when it is one.
unsigned HexField(std::string_view field, size_t digits, const char* what, std::string& problem) {
    const auto value = field.size() == digits ? HexValue(field) : std::nullopt;
    if (!value) {
        problem = std::string(what) + " \"" + std::string(field.substr(0, 16)) + "\" is not " +
                  std::to_string(digits) + " hex digits";
        return 0;
    }
    return *value;
}

PortRoleEntry ParseEntry(std::string_view line, std::string& problem) {
    size_t pos = 0;
    PortRoleEntry entry;
    entry.vendorId = static_cast<uint16_t>(HexField(NextField(line, pos), 4, "vendor id", problem));
    if (!problem.empty()) return {};
    entry.productId = static_cast<uint16_t>(HexField(NextField(line, pos), 4, "product id", problem));
    if (!problem.empty()) return {};
    entry.interfaceNumber = static_cast<uint8_t>(HexField(NextField(line, pos), 2, "interface number", problem));
    if (!problem.empty()) return {};
    const std::string_view rest = line.substr(pos);
    for (const char c : rest) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 && c != '\t') {
            problem = "the role holds a control character";
            return {};
        }
        if (c == '(' || c == ')') {
            problem = "the role holds a parenthesis, which would hide the port name";
            return {};
        }
    }
    const auto role = NameText(rest);
    if (!role) {
        problem = rest.find_first_not_of(" \t") == std::string_view::npos
                      ? "the role is missing"
                      : "the role must be printable ASCII of at most 64 characters";
        return {};
    }
    entry.role = *role;
    return entry;
}

}  // namespace

const char* ToString(RoleSource source) {
    switch (source) {
        case RoleSource::ModemManagerTag: return "ModemManager tag";
        case RoleSource::InterfaceString: return "USB interface string";
        case RoleSource::Table: return "port table";
        case RoleSource::None: return "none";
    }
    return "none";
}

std::optional<std::string> RoleFromModemManagerTags(const PropertyLookup& property) {
    // A port may carry several tags; the most specific wins.
    static constexpr std::array<std::pair<const char*, const char*>, 5> kTags = {{
        {"ID_MM_PORT_TYPE_QCDM", kDiagRole},
        {"ID_MM_PORT_TYPE_GPS", kApplicationRole},
        {"ID_MM_PORT_TYPE_AT_PRIMARY", kAtRole},
        {"ID_MM_PORT_TYPE_AT_SECONDARY", kSecondaryAtRole},
        {"ID_MM_PORT_TYPE_AT_PPP", kModemRole},
    }};
    for (const auto& [tag, role] : kTags) {
        const auto value = property(tag);
        if (value && *value == "1") return std::string(role);
    }
    return std::nullopt;
}

std::optional<std::string> NameText(std::string_view text) {
    std::string out;
    bool blank = false;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '(' || c == ')' || u >= 0x7F) return std::nullopt;
        if (u <= 0x20) {
            blank = !out.empty();
            continue;
        }
        if (blank) out += ' ';
        blank = false;
        out += c;
    }
    if (out.empty() || out.size() > kNameTextLimit) return std::nullopt;
    return out;
}

std::string ProductText(std::string_view product) {
    const auto text = NameText(product);
    if (!text) return kUnknownProduct;
    for (const char* mark : {"Diag", "DIAG", "Ter", "QD"}) {
        if (text->find(mark) != std::string::npos) return kUnknownProduct;
    }
    return *text;
}

std::optional<PortRoleTable> ParsePortRoleTable(std::string_view text, const std::string& fileName,
                                                std::string& error) {
    PortRoleTable table;
    const bool read = ForEachDataLine(text, [&](size_t lineNumber, std::string_view line) {
        std::string problem;
        PortRoleEntry entry = ParseEntry(line, problem);
        if (problem.empty() &&
            FindPortRole(table, entry.vendorId, entry.productId, entry.interfaceNumber) != nullptr) {
            problem = "a second role for the same interface";
        }
        if (!problem.empty()) {
            error = fileName + ":" + std::to_string(lineNumber) + ": " + problem;
            return false;
        }
        table.push_back(std::move(entry));
        return true;
    });
    if (!read) return std::nullopt;
    return table;
}

std::optional<PortRoleTable> LoadPortRoleTable(Files& files, const std::filesystem::path& file,
                                               std::string& error) {
    // A program without the folder beside it, such as a product executable
    // on its own, uses the table it was built with.
    if (files.KindOf(file.parent_path()) == FileKind::Missing) {
        if (const BuiltinFile* copy = FindBuiltinFile(program_data::kPortsFiles, file.filename().string())) {
            return ParsePortRoleTable(copy->text, "the built-in " + file.filename().string(), error);
        }
    }
    const std::optional<std::string> content = ReadFileUpTo(files, file, kPortRoleFileMaxBytes, error);
    if (!content) return std::nullopt;
    return ParsePortRoleTable(*content, file.string(), error);
}

const PortRoleEntry* FindPortRole(const PortRoleTable& table, uint16_t vendorId, uint16_t productId,
                                  uint8_t interfaceNumber) {
    for (const PortRoleEntry& entry : table) {
        if (entry.vendorId == vendorId && entry.productId == productId && entry.interfaceNumber == interfaceNumber) {
            return &entry;
        }
    }
    return nullptr;
}

}  // namespace firmora::platform
