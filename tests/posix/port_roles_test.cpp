// The port role sources and the shipped port table's loader; the COM number
// arbiter over a settings store.

#include <filesystem>
#include <map>
#include <tuple>

#include <gtest/gtest.h>

#include "platform/posix/com_number_arbiter.h"
#include "platform/posix/port_roles.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_serial_ports.h"

namespace firmora::platform {
namespace {

TEST(PortRoles, ModemManagerTagsGiveRolesTheScanClassifies) {
    const auto roleOf = [](std::map<std::string, std::string> properties) {
        return RoleFromModemManagerTags([&](const char* name) -> std::optional<std::string> {
            const auto it = properties.find(name);
            if (it == properties.end()) return std::nullopt;
            return it->second;
        });
    };
    const std::string diag = *roleOf({{"ID_MM_PORT_TYPE_QCDM", "1"}});
    const std::string app = *roleOf({{"ID_MM_PORT_TYPE_GPS", "1"}});
    EXPECT_NE(diag.find("Diag"), std::string::npos);
    EXPECT_NE(app.find("Ter"), std::string::npos);
    // AT ports must fall to the AT probe: no mark of another role.
    for (const char* tag : {"ID_MM_PORT_TYPE_AT_PRIMARY", "ID_MM_PORT_TYPE_AT_SECONDARY", "ID_MM_PORT_TYPE_AT_PPP"}) {
        const std::string role = *roleOf({{tag, "1"}});
        for (const char* mark : {"Diag", "DIAG", "Ter", "QD", "(", ")"}) {
            EXPECT_EQ(role.find(mark), std::string::npos) << tag << ": " << role;
        }
    }
    // A Diag port that also speaks AT is a Diag port; a tag set to 0 is no tag.
    EXPECT_EQ(roleOf({{"ID_MM_PORT_TYPE_AT_SECONDARY", "1"}, {"ID_MM_PORT_TYPE_QCDM", "1"}}), diag);
    EXPECT_EQ(roleOf({{"ID_MM_PORT_TYPE_QCDM", "0"}}), std::nullopt);
    EXPECT_EQ(roleOf({}), std::nullopt);
}

TEST(PortRoles, DeviceTextsAreCleanedBeforeTheyNameAPort) {
    EXPECT_EQ(NameText("  LTE   Modem\t"), "LTE Modem");
    EXPECT_EQ(NameText("Port (COM9)"), std::nullopt);  // would hide the real port name
    EXPECT_EQ(NameText("Caf\xC3\xA9"), std::nullopt);
    EXPECT_EQ(NameText(std::string(65, 'x')), std::nullopt);
    EXPECT_EQ(NameText(" "), std::nullopt);
    EXPECT_EQ(ProductText("LTE Modem"), "LTE Modem");
    for (const char* product : {"Terminal Adapter", "DIAG Box", "Diag", "QD Device", "", "Bad (x)"}) {
        EXPECT_EQ(ProductText(product), kUnknownProduct) << product;
    }
}

TEST(PortRoles, TableLinesAreCheckedAndFaultsNamed) {
    std::string error;
    const auto table = ParsePortRoleTable("# comment\n\n1c9e F101 00  Diagnostics  Port \r\n1C9E f101 0a AT Port\n",
                                          "t.table", error);
    ASSERT_TRUE(table) << error;
    ASSERT_EQ(table->size(), 2u);
    EXPECT_EQ((*table)[0].role, "Diagnostics Port");
    ASSERT_NE(FindPortRole(*table, 0x1C9E, 0xF101, 0x0A), nullptr);
    EXPECT_EQ(FindPortRole(*table, 0x1C9E, 0xF101, 0x0A)->role, "AT Port");
    EXPECT_EQ(FindPortRole(*table, 0x1C9E, 0xF101, 0x01), nullptr);

    const std::vector<std::pair<std::string, std::string>> broken = {
        {"1C9E F101 00\n", "t.table:1: the role is missing"},
        {"\n1C9 F101 00 AT\n", "t.table:2: vendor id \"1C9\" is not 4 hex digits"},
        {"1C9E F10G 00 AT\n", "t.table:1: product id \"F10G\" is not 4 hex digits"},
        {"1C9E F101 100 AT\n", "t.table:1: interface number \"100\" is not 2 hex digits"},
        {"1C9E F101 00 AT (x)\n", "t.table:1: the role holds a parenthesis, which would hide the port name"},
        {"1C9E F101 00 AT\x01\n", "t.table:1: the role holds a control character"},
        {"1C9E F101 00 AT\n1c9e f101 00 Modem\n", "t.table:2: a second role for the same interface"},
    };
    for (const auto& [text, expected] : broken) {
        error.clear();
        EXPECT_EQ(ParsePortRoleTable(text, "t.table", error), std::nullopt) << text;
        EXPECT_EQ(error, expected);
    }
}

TEST(PortRoles, ShippedTableLoads) {
    PosixFiles files;
    std::string error;
    const auto table =
        LoadPortRoleTable(files, PortRoleTablePath(std::filesystem::path(FIRMORA_PORT_TABLE_DIR).parent_path()), error);
    ASSERT_TRUE(table) << error;
    EXPECT_FALSE(table->empty());
    EXPECT_FALSE(LoadPortRoleTable(files, std::filesystem::path(FIRMORA_PORT_TABLE_DIR) / "missing.table", error));

    // A program with no ports folder beside it has the shipped table built in.
    const auto builtin = LoadPortRoleTable(files, PortRoleTablePath("/nonexistent/firmora"), error);
    ASSERT_TRUE(builtin) << error;
    ASSERT_EQ(builtin->size(), table->size());
    for (size_t i = 0; i < table->size(); ++i) {
        EXPECT_EQ((*builtin)[i].role, (*table)[i].role);
        EXPECT_EQ((*builtin)[i].productId, (*table)[i].productId);
    }
}

// Values by (key, name), as the INI file keeps them (names without case).
class MemoryStore final : public SettingsStore {
public:
    std::optional<std::string> ReadString(SettingsScope, const std::string& key, const std::string& name) override {
        const auto it = values_.find({key, Lower(name)});
        if (it == values_.end()) return std::nullopt;
        return it->second;
    }
    bool WriteString(SettingsScope, const std::string& key, const std::string& name,
                     const std::string& value) override {
        if (readOnly) return false;
        values_[{key, Lower(name)}] = value;
        return true;
    }
    std::optional<uint32_t> ReadInteger(SettingsScope scope, const std::string& key,
                                        const std::string& name) override {
        const auto text = ReadString(scope, key, name);
        if (!text) return std::nullopt;
        return static_cast<uint32_t>(std::stoul(*text));
    }
    bool WriteInteger(SettingsScope scope, const std::string& key, const std::string& name, uint32_t value) override {
        return WriteString(scope, key, name, std::to_string(value));
    }
    bool Remove(SettingsScope, const std::string& key, const std::string& name) override {
        return values_.erase({key, Lower(name)}) > 0;
    }
    bool readOnly = false;

private:
    static std::string Lower(std::string s) {
        for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return s;
    }
    std::map<std::pair<std::string, std::string>, std::string> values_;
};

TEST(ComNumberArbiter, GivesEachPortItsOwnNumberFromThreeAndKeepsIt) {
    MemoryStore store;
    // The user's own mapping of COM4 is left alone.
    store.WriteString(SettingsScope::User, kComPortsKey, "COM4", "/dev/ttyS4");
    {
        ComNumberArbiter arbiter(store);
        EXPECT_EQ(arbiter.NumberFor("usb:1-1:VID_1C9E&PID_F101&MI_00"), 3);
        EXPECT_EQ(arbiter.NumberFor("usb:1-1:VID_1C9E&PID_F101&MI_01"), 5);
        EXPECT_EQ(arbiter.NumberFor("usb:1-1:VID_1C9E&PID_F101&MI_00"), 3);
    }
    ComNumberArbiter later(store);
    EXPECT_EQ(later.NumberFor("usb:1-1:VID_1C9E&PID_F101&MI_01"), 5);
    EXPECT_EQ(later.NumberFor("usb:1-2:VID_1C9E&PID_F101&MI_00"), 6);
}

TEST(ComNumberArbiter, HalfWrittenOrStolenEntriesDoNotCount) {
    MemoryStore store;
    ComNumberArbiter arbiter(store);
    // A crash after the number was claimed but before the port pointed at it.
    store.WriteString(SettingsScope::User, kComNumbersKey, "COM3", "usb:9-9:VID_0000&PID_0000");
    // A port pointing at a number another port holds.
    store.WriteInteger(SettingsScope::User, kComNumbersKey, "usb:1-1:VID_1C9E&PID_F101&MI_02", 3);
    EXPECT_EQ(arbiter.NumberFor("usb:1-1:VID_1C9E&PID_F101&MI_00"), 3);
    EXPECT_EQ(arbiter.NumberFor("usb:1-1:VID_1C9E&PID_F101&MI_02"), 4);
    EXPECT_EQ(arbiter.NumberFor("usb:1-1:VID_1C9E&PID_F101&MI_00"), 3);
    // A number 1 or 2 in the store is not taken over.
    store.WriteInteger(SettingsScope::User, kComNumbersKey, "usb:1-3:VID_1C9E&PID_F101", 1);
    store.WriteString(SettingsScope::User, kComNumbersKey, "COM1", "usb:1-3:VID_1C9E&PID_F101");
    EXPECT_EQ(arbiter.NumberFor("usb:1-3:VID_1C9E&PID_F101"), 5);
}

TEST(ComNumberArbiter, NumbersHoldWhenTheStoreRefusesAndRunOutCleanly) {
    MemoryStore store;
    store.readOnly = true;
    ComNumberArbiter arbiter(store);
    EXPECT_EQ(arbiter.NumberFor("a"), 3);
    EXPECT_EQ(arbiter.NumberFor("b"), 4);
    EXPECT_EQ(arbiter.NumberFor("a"), 3);
    store.readOnly = false;
    for (int n = 5; n <= kLastComNumber; ++n) ASSERT_EQ(arbiter.NumberFor("p" + std::to_string(n)), n);
    EXPECT_EQ(arbiter.NumberFor("one too many"), std::nullopt);
}

}  // namespace
}  // namespace firmora::platform
