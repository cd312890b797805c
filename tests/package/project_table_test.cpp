#include "package/project_table.h"

#include <set>
#include <string>

#include <gtest/gtest.h>

namespace firmora::package {
namespace {

TEST(ProjectTable, NamedCodesSitAtTheirIndices) {
    const std::pair<const char*, int> named[] = {
        {"RA66_51", 2},  {"RE78_51", 3},      {"ZP730", 5},        {"ZP200", 6},
        {"ZP800", 7},    {"ZP700", 11},       {"DE78_11", 12},     {"ZP200_Italy", 19},
        {"ZO71_11", 25}, {"ZI71_15", 26},     {"DO78_21", 27},     {"DI79_21", 28},
        {"ZQ65_Custom", 41}, {"ZP200_EA", 42}, {"MDM9x15", 1013},
    };
    for (const auto& [code, index] : named) {
        EXPECT_EQ(ProjectIndexOf(code), index) << code;
        EXPECT_EQ(ProjectCodeAt(index), code) << index;
    }
}

TEST(ProjectTable, FortyNineDistinctProductCodes) {
    std::set<std::string> codes;
    for (int index = 0; index < 49; ++index) {
        const std::string code(ProjectCodeAt(index));
        ASSERT_FALSE(code.empty()) << index;
        EXPECT_TRUE(codes.insert(code).second) << "duplicate " << code;
        EXPECT_EQ(ProjectIndexOf(code), index) << code;
    }
    EXPECT_EQ(ProjectCodeAt(49), "");
    EXPECT_EQ(ProjectCodeAt(-1), "");
}

TEST(ProjectTable, LookupIsExactAndCaseSensitive) {
    EXPECT_EQ(ProjectIndexOf("mdm9x15"), -1);
    EXPECT_EQ(ProjectIndexOf("ZP200 "), -1);
    EXPECT_EQ(ProjectIndexOf("ZP20"), -1);
    EXPECT_EQ(ProjectIndexOf(""), -1);
}

}  // namespace
}  // namespace firmora::package
