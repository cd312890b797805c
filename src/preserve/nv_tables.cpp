#include "preserve/nv_tables.h"

#include <charconv>
#include <limits>
#include <string_view>

#include "platform/data_lines.h"
#include "platform/files.h"
#include "platform/program_data.h"
#include "program_data/nv.h"

namespace firmora::preserve {
namespace {

namespace fs = std::filesystem;

// The product lists travel in DIAG NV requests, whose item number field is
// two bytes: a larger number would silently address another item.
constexpr int32_t kLargestDiagItemNumber = 0xFFFF;
constexpr int32_t kLargestItemNumber = std::numeric_limits<int32_t>::max();
// How much of a bad field an error line quotes.
constexpr size_t kQuotedFieldLimit = 40;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsNameCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// A field as an error line may show it: control and non-ASCII bytes become
// '?', and a long field is cut, so a damaged file cannot garble the log.
std::string Quoted(std::string_view field) {
    std::string out = "\"";
    for (size_t i = 0; i < field.size() && i < kQuotedFieldLimit; ++i) {
        const auto c = static_cast<unsigned char>(field[i]);
        out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    if (field.size() > kQuotedFieldLimit) out += "...";
    return out + "\"";
}

std::string Hex(unsigned char c) {
    constexpr const char* kDigits = "0123456789ABCDEF";
    return std::string("0x") + kDigits[c >> 4] + kDigits[c & 0xF];
}

// Splits a line into its blank-separated fields.
std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t pos = 0;
    while (pos < line.size()) {
        while (pos < line.size() && IsBlank(line[pos])) ++pos;
        if (pos == line.size()) break;
        size_t end = pos;
        while (end < line.size() && !IsBlank(line[end])) ++end;
        fields.push_back(line.substr(pos, end - pos));
        pos = end;
    }
    return fields;
}

// The item number of an entry; an empty `problem` when it is sound.
int32_t ParseNumber(std::string_view text, int32_t largest, std::string& problem) {
    const bool negative = text.front() == '-';
    const std::string_view digits = negative ? text.substr(1) : text;
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
        problem = "item number " + Quoted(text) + " is not a decimal number";
        return -1;
    }
    if (negative) {
        problem = "item number " + Quoted(text) + " is negative";
        return -1;
    }
    int32_t value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec == std::errc::result_out_of_range || end != digits.data() + digits.size()) {
        problem = "item number " + Quoted(text) + " does not fit a signed 32-bit integer";
        return -1;
    }
    if (value > largest) {
        problem = "item number " + std::to_string(value) + " is above " + std::to_string(largest) +
                  ", the largest a DIAG request can carry";
        return -1;
    }
    return value;
}

// Checks the name of an entry; an empty result when it is sound.
std::string NameProblem(std::string_view name) {
    for (size_t i = 0; i < name.size(); ++i) {
        if (!IsNameCharacter(name[i])) {
            return "item name " + Quoted(name) + " holds the character " +
                   Hex(static_cast<unsigned char>(name[i])) + "; names are letters, digits and '_'";
        }
    }
    return {};
}

// One entry line (blanks around it already removed); an empty `problem`
// when it is sound.
NvEntry ParseEntry(std::string_view line, int32_t largest, std::string& problem) {
    for (const char c : line) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t') || u >= 0x7F) {
            problem = "the line holds the character " + Hex(u);
            return {};
        }
    }
    const std::vector<std::string_view> fields = Fields(line);
    if (fields.size() == 1) {
        problem = "the item name is missing after " + Quoted(fields[0]);
        return {};
    }
    if (fields.size() > 2) {
        problem = "extra text " + Quoted(fields[2]) + " after the item name";
        return {};
    }
    NvEntry entry;
    entry.number = ParseNumber(fields[0], largest, problem);
    if (!problem.empty()) return {};
    problem = NameProblem(fields[1]);
    if (!problem.empty()) return {};
    entry.name = std::string(fields[1]);
    return entry;
}

// The entries of a list's text; `where` names it in a message.
std::optional<NvTable> ParseTable(std::string_view content, const std::string& where, size_t expectedEntries,
                                  int32_t largest, std::string& error) {
    NvTable table;
    table.reserve(expectedEntries);
    const bool read = platform::ForEachDataLine(content, [&](size_t lineNumber, std::string_view line) {
        const std::string at = where + ":" + std::to_string(lineNumber) + ": ";
        if (table.size() == expectedEntries) {
            error = at + "more than " + std::to_string(expectedEntries) + " entries";
            return false;
        }
        std::string problem;
        NvEntry entry = ParseEntry(TrimBlanks(line), largest, problem);
        if (!problem.empty()) {
            error = at + problem;
            return false;
        }
        table.push_back(std::move(entry));
        return true;
    });
    if (!read) return std::nullopt;
    if (table.size() != expectedEntries) {
        error = where + ": " + std::to_string(table.size()) + " entries, expected " +
                std::to_string(expectedEntries);
        return std::nullopt;
    }
    return table;
}

std::optional<NvTable> LoadTable(platform::Files& files, const fs::path& file, size_t expectedEntries,
                                 int32_t largest, std::string& error) {
    const std::optional<std::string> content = platform::ReadFileUpTo(files, file, kNvTableFileMaxBytes, error);
    if (!content) return std::nullopt;
    return ParseTable(*content, file.string(), expectedEntries, largest, error);
}

}  // namespace

const NvTable& LibraryNvTable() {
    static const NvTable table = {
        {540, "NV_WCDMA_TX_LIM_VS_FREQ_I"},
        {571, "NV_RF_CAL_DATE_I"},
        {1864, "NV_WCDMA_800_TX_LIM_VS_FREQ_I"},
        {2892, "NV_WCDMA_1800_TX_LIM_VS_FREQ_I"},
        {3691, "NV_WCDMA_900_TX_LIM_VS_FREQ_I"},
        {4212, "NV_XO_TRIM_VALUES_I"},
        {4953, "NV_XO_FIELD_CALIBRATION_I"},
        {4954, "NV_XO_FACTORY_CALIBRATION_I"},
        {5459, "NV_WCDMA_2100_EXP_HDET_VS_AGC_V2_I"},
        {5461, "NV_WCDMA_800_EXP_HDET_VS_AGC_V2_I"},
        {5463, "NV_WCDMA_1800_EXP_HDET_VS_AGC_V2_I"},
        {5464, "NV_WCDMA_900_EXP_HDET_VS_AGC_V2_I"},
        {6735, "NV_LTE_B1_EXP_HDET_VS_AGC_I"},
        {6736, "NV_LTE_B1_TX_LIMIT_VS_FREQ_I"},
        {20309, "NV_LTE_B3_EXP_HDET_VS_AGC_I"},
        {20310, "NV_LTE_B3_TX_LIMIT_VS_FREQ_I"},
        {20790, "NV_LTE_B5_RX_CAL_CHAN_I"},
        {20794, "NV_LTE_B5_RX_GAIN_I"},
        {20795, "NV_LTE_B5_RX_GAIN_VS_FREQ_I"},
        {20825, "NV_LTE_B5_EXP_HDET_VS_AGC_I"},
        {20826, "NV_LTE_B5_TX_LIMIT_VS_FREQ_I"},
        {20837, "NV_LTE_B5_C1_RX_GAIN_I"},
        {20838, "NV_LTE_B5_C1_RX_GAIN_VS_FREQ_I"},
        {20840, "NV_LTE_B5_C1_RX_CAL_CHAN_I"},
        {20883, "NV_LTE_B8_EXP_HDET_VS_AGC_I"},
        {20884, "NV_LTE_B8_TX_LIMIT_VS_FREQ_I"},
        {20364, "NV_LTE_B18_EXP_HDET_VS_AGC_I"},
        {20365, "NV_LTE_B18_TX_LIMIT_VS_FREQ_I"},
        {22982, "RFNV_MSM_SELF_CAL_I"},
        {23112, "RFNV_LTE_B19_EXP_HDET_VS_AGC_I"},
        {23113, "RFNV_LTE_B19_TX_LIMIT_VS_FREQ_I"},
        {23172, "RFNV_LTE_B21_EXP_HDET_VS_AGC_I"},
        {23173, "RFNV_LTE_B21_TX_LIMIT_VS_FREQ_I"},
        {24964, "RFNV_GSM_C0_GSM850_RX_CAL_DATA"},
        {24965, "RFNV_GSM_C0_GSM900_RX_CAL_DATA"},
        {24966, "RFNV_GSM_C0_GSM1800_RX_CAL_DATA"},
        {24967, "RFNV_GSM_C0_GSM1900_RX_CAL_DATA"},
        {24972, "RFNV_GSM_C0_GSM850_TX_CAL_DATA"},
        {24973, "RFNV_GSM_C0_GSM900_TX_CAL_DATA"},
        {24974, "RFNV_GSM_C0_GSM1800_TX_CAL_DATA"},
        {24975, "RFNV_GSM_C0_GSM1900_TX_CAL_DATA"},
        {24226, "RFNV_LTE_B1_TX_MULTI_LIN_V3_DATA_I"},
        {24228, "RFNV_LTE_B3_TX_MULTI_LIN_V3_DATA_I"},
        {24230, "RFNV_LTE_B5_TX_MULTI_LIN_V3_DATA_I"},
        {24233, "RFNV_LTE_B8_TX_MULTI_LIN_V3_DATA_I"},
        {24241, "RFNV_LTE_B18_TX_MULTI_LIN_V3_DATA_I"},
        {24242, "RFNV_LTE_B19_TX_MULTI_LIN_V3_DATA_I"},
        {24244, "RFNV_LTE_B21_TX_MULTI_LIN_V3_DATA_I"},
        {24252, "RFNV_WCDMA_2100_TX_MULTI_LIN_V3_DATA_I"},
        {24255, "RFNV_WCDMA_800_TX_MULTI_LIN_V3_DATA_I"},
        {24256, "RFNV_WCDMA_900_TX_MULTI_LIN_V3_DATA_I"},
        {24257, "RFNV_WCDMA_1800_TX_MULTI_LIN_V3_DATA_I"},
        {27779, "RFNV_LTE_B1_RX_CAL_DATA_V2_I"},
        {27781, "RFNV_LTE_B3_RX_CAL_DATA_V2_I"},
        {27786, "RFNV_LTE_B8_RX_CAL_DATA_V2_I"},
        {27794, "RFNV_LTE_B18_RX_CAL_DATA_V2_I"},
        {27795, "RFNV_LTE_B19_RX_CAL_DATA_V2_I"},
        {27797, "RFNV_LTE_B21_RX_CAL_DATA_V2_I"},
        {28329, "RFNV_WCDMA_2100_RX_CAL_DATA_V2_I"},
        {28331, "RFNV_WCDMA_1800_RX_CAL_DATA_V2_I"},
        {28333, "RFNV_WCDMA_800_RX_CAL_DATA_V2_I"},
        {28334, "RFNV_WCDMA_900_RX_CAL_DATA_V2_I"},
    };
    return table;
}

// Band class 0 and band class 1 calibration. The first chain's band class 1
// receive calibration channel is listed under 1749, the number of the band
// class 0 VGA gain offset, so that item is read and written twice. Its
// neighbours suggest 1649; the product list has 1749, and so does this one
// until the device's own item list says otherwise.
const NvTable& CdmaNvTable() {
    static const NvTable table = {
        {6503, "NV_MVT_APP_UIT87_I"},
        {6504, "NV_MVT_APP_UIT89_I"},
        {1738, "NV_C0_BC0_RX_CAL_CHAN_I"},
        {1739, "NV_C0_BC0_LNA_1_OFFSET_VS_FREQ_I"},
        {1740, "NV_C0_BC0_LNA_2_OFFSET_VS_FREQ_I"},
        {1741, "NV_C0_BC0_LNA_3_OFFSET_VS_FREQ_I"},
        {1742, "NV_C0_BC0_LNA_4_OFFSET_VS_FREQ_I"},
        {1743, "NV_C0_BC0_LNA_1_OFFSET_I"},
        {1744, "NV_C0_BC0_LNA_2_OFFSET_I"},
        {1745, "NV_C0_BC0_LNA_3_OFFSET_I"},
        {1746, "NV_C0_BC0_LNA_4_OFFSET_I"},
        {1749, "NV_C0_BC0_VGA_GAIN_OFFSET_I"},
        {1750, "NV_C0_BC0_VGA_GAIN_OFFSET_VS_FREQ_I"},
        {4795, "NV_BC0_TX_PDM_0_I"},
        {4796, "NV_BC0_TX_PDM_1_I"},
        {4831, "NV_BC0_TX_LIN_0_I"},
        {4832, "NV_BC0_TX_LIN_1_I"},
        {4997, "NV_BC0_TX_PWR_COMP0_I"},
        {4998, "NV_BC0_TX_PWR_COMP1_I"},
        {1724, "NV_BC0_TX_LIM_VS_FREQ_I"},
        {1731, "NV_BC0_HDET_OFF_I"},
        {1732, "NV_BC0_HDET_SPN_I"},
        {1733, "NV_BC0_EXP_HDET_VS_AGC_I"},
        {1737, "NV_C0_BC0_TX_CAL_CHAN_I"},
        {5722, "NV_BC0_EXP_HDET_VS_AGC_V2_I"},
        {5738, "NV_BC0_HDET_OFF_V2_I"},
        {5754, "NV_BC0_HDET_SPN_V2_I"},
        {1749, "NV_C0_BC1_RX_CAL_CHAN_I"},
        {1650, "NV_C0_BC1_LNA_1_OFFSET_VS_FREQ_I"},
        {1651, "NV_C0_BC1_LNA_2_OFFSET_VS_FREQ_I"},
        {1652, "NV_C0_BC1_LNA_3_OFFSET_VS_FREQ_I"},
        {1653, "NV_C0_BC1_LNA_4_OFFSET_VS_FREQ_I"},
        {1654, "NV_C0_BC1_LNA_1_OFFSET_I"},
        {1655, "NV_C0_BC1_LNA_2_OFFSET_I"},
        {1666, "NV_C0_BC1_LNA_3_OFFSET_I"},
        {1667, "NV_C0_BC1_LNA_4_OFFSET_I"},
        {1670, "NV_C0_BC1_VGA_GAIN_OFFSET_I"},
        {1671, "NV_C0_BC1_VGA_GAIN_OFFSET_VS_FREQ_I"},
        {4799, "NV_BC1_TX_PDM_0_I"},
        {4800, "NV_BC1_TX_PDM_1_I"},
        {4835, "NV_BC1_TX_LIN_0_I"},
        {4836, "NV_BC1_TX_LIN_1_I"},
        {5002, "NV_BC1_TX_PWR_COMP0_I"},
        {5001, "NV_BC1_TX_PWR_COMP1_I"},
        {1635, "NV_BC1_TX_LIM_VS_FREQ_I"},
        {1642, "NV_BC1_HDET_OFF_I"},
        {1643, "NV_BC1_HDET_SPN_I"},
        {1644, "NV_BC1_EXP_HDET_VS_AGC_I"},
        {1648, "NV_C0_BC1_TX_CAL_CHAN_I"},
        {5723, "NV_BC1_EXP_HDET_VS_AGC_V2_I"},
        {5739, "NV_BC1_HDET_OFF_V2_I"},
        {5755, "NV_BC1_HDET_SPN_V2_I"},
    };
    return table;
}

const NvTable& CdmaIdentityNvTable() {
    static const NvTable table = {
        {1943, "NV_MEID_I"},
        {0, "NV_ESN_I"},
        {176, "NV_IMSI_MCC_I"},
        {177, "NV_IMSI_11_12_I"},
        {33, "NV_MIN2_I"},
        {32, "NV_MIN1_I"},
        {178, "NV_DIR_NUMBER_I"},
        {5, "NV_SLOT_CYCLE_INDEX_I"},
        {579, "NV_HDR_AN_AUTH_NAI_I"},
        {1194, "NV_HDR_AN_AUTH_USER_ID_LONG_I"},
        {580, "NV_HDR_AN_AUTH_PASSWORD_I"},
        {1192, "NV_HDR_AN_AUTH_PASSWORD_LONG_I"},
    };
    return table;
}

std::optional<NvTable> LoadNvTableFile(platform::Files& files, const fs::path& file, size_t expectedEntries,
                                       std::string& error) {
    return LoadTable(files, file, expectedEntries, kLargestItemNumber, error);
}

std::optional<ProductNvTables> LoadProductNvTables(platform::Files& files, const fs::path& folder,
                                                   std::string& error) {
    ProductNvTables tables;
    const struct {
        const char* file;
        size_t entries;
        NvTable& table;
    } lists[] = {
        {kDefaultNvTableFile, kDefaultNvTableSize, tables.defaults},
        {kLteNvTableFile, kLteNvTableSize, tables.lte},
        {kVendorNvTableFile, kVendorNvTableSize, tables.vendor},
    };
    // A program without the folder beside it, such as a product executable
    // on its own, uses the lists it was built with.
    const bool builtin = files.KindOf(folder) == platform::FileKind::Missing;
    for (const auto& list : lists) {
        const platform::BuiltinFile* copy = platform::FindBuiltinFile(program_data::kNvFiles, list.file);
        std::optional<NvTable> loaded =
            builtin && copy != nullptr
                ? ParseTable(copy->text, std::string("the built-in ") + list.file, list.entries,
                             kLargestDiagItemNumber, error)
                : LoadTable(files, folder / list.file, list.entries, kLargestDiagItemNumber, error);
        if (!loaded) return std::nullopt;
        list.table = std::move(*loaded);
    }
    return tables;
}

}  // namespace firmora::preserve
