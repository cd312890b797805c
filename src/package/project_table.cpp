#include "package/project_table.h"

#include <array>

namespace firmora::package {
namespace {

// Position = index. Index 48 is the customer variant of index 38.
constexpr std::array<std::string_view, kProjectCount> kProductCodes = {
    "XA10_01",      //  0
    "XA12_01",      //  1
    "RA66_51",      //  2
    "RE78_51",      //  3
    "XB20_11",      //  4
    "ZP730",        //  5 phone type
    "ZP200",        //  6
    "ZP800",        //  7 phone type
    "XB22_11",      //  8
    "XC30_21",      //  9
    "XC31_21",      // 10
    "ZP700",        // 11 phone type
    "DE78_11",      // 12
    "XD40_11",      // 13
    "XD41_15",      // 14
    "XE50_21",      // 15
    "XE51_21",      // 16
    "ZP310",        // 17
    "ZP320",        // 18
    "ZP200_Italy",  // 19
    "XF60_31",      // 20
    "XF61_31",      // 21
    "XG62_11",      // 22
    "XG63_15",      // 23
    "ZP330",        // 24
    "ZO71_11",      // 25
    "ZI71_15",      // 26
    "DO78_21",      // 27
    "DI79_21",      // 28
    "XH70_31",      // 29
    "XH71_31",      // 30
    "XJ72_11",      // 31
    "XJ73_15",      // 32
    "ZP340",        // 33
    "XK80_21",      // 34
    "XK81_21",      // 35
    "XL82_31",      // 36
    "XL83_31",      // 37
    "XM88_51",      // 38
    "XM89_51",      // 39
    "ZP350",        // 40
    "ZQ65_Custom",  // 41
    "ZP200_EA",     // 42
    "XN90_11",      // 43
    "XN91_15",      // 44
    "XP92_21",      // 45
    "XP93_21",      // 46
    "ZP360",        // 47
    "XM88_Custom",  // 48
};

constexpr std::string_view kChipsetCode = "MDM9x15";

}  // namespace

int ProjectIndexOf(std::string_view code) {
    for (size_t i = 0; i < kProductCodes.size(); ++i) {
        if (kProductCodes[i] == code) return static_cast<int>(i);
    }
    if (code == kChipsetCode) return kProjectMDM9x15;
    return -1;
}

std::string_view ProjectCodeAt(int index) {
    if (index >= 0 && index < kProjectCount) return kProductCodes[static_cast<size_t>(index)];
    if (index == kProjectMDM9x15) return kChipsetCode;
    return {};
}

bool IsPhoneTypeProject(int index) {
    return index == kProjectZP730 || index == kProjectZP800 || index == kProjectZP700;
}

bool IsJapaneseProduct(int projectIndex) {
    return projectIndex == kProjectDO78_21 || projectIndex == kProjectDI79_21;
}

std::string JapaneseToolCaption(int projectIndex) {
    return projectIndex == kProjectDI79_21 ? "KQ004TR Software Update Tool" : "Koriant Software Update Tool";
}

}  // namespace firmora::package
