#include <gtest/gtest.h>

#include <filesystem>

#include "platform/std_files.h"
#include "test_files.h"
#include "test_folder.h"

namespace firmora::platform {
namespace {

namespace fs = std::filesystem;

TEST(FolderListing, ListsEntriesInNameOrderWithTheirKindsAndSizesRegularFilesOnly) {
    testing::TestFolder folder{"listing"};
    StdFiles files;
    ASSERT_TRUE(testing::WriteTestFile(folder.path() / "b.mbn", "12345"));
    ASSERT_TRUE(testing::WriteTestFile(folder.path() / "B.img", ""));
    fs::create_directory(folder.path() / "a");
    fs::create_symlink(folder.path() / "b.mbn", folder.path() / "c");

    const auto entries = files.ListFolder(folder.path());
    ASSERT_TRUE(entries);
    ASSERT_EQ(entries->size(), 4u);
    const std::pair<const char*, FileKind> expected[] = {
        {"B.img", FileKind::Regular}, {"a", FileKind::Folder}, {"b.mbn", FileKind::Regular}, {"c", FileKind::Link}};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ((*entries)[i].name, expected[i].first);
        EXPECT_EQ((*entries)[i].kind, expected[i].second);
    }
    EXPECT_FALSE(files.ListFolder(folder.path() / "b.mbn"));
    EXPECT_FALSE(files.ListFolder(folder.path() / "missing"));

    EXPECT_EQ(files.SizeOf(folder.path() / "b.mbn"), 5u);
    EXPECT_EQ(files.SizeOf(folder.path() / "B.img"), 0u);
    EXPECT_FALSE(files.SizeOf(folder.path() / "c"));  // a link is not followed
    EXPECT_FALSE(files.SizeOf(folder.path() / "a"));
}

}  // namespace
}  // namespace firmora::platform
