// LinkKeeper fed arrivals and removals by hand: the links follow the ports,
// are swapped in place, and never touch what is not a link.

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "firmora-sim/link_keeper.h"
#include "test_folder.h"

namespace firmora::simtool {
namespace {

namespace fs = std::filesystem;
using sim::PortRole;

class LinkKeeperTest : public ::testing::Test {
protected:
    // Where DIR/<name> leads, or "" when it is not a link.
    std::string Target(const std::string& name) const {
        std::error_code error;
        const fs::path target = fs::read_symlink(dir_ / name, error);
        return error ? "" : target.string();
    }
    bool Present(const std::string& name) const {
        std::error_code error;
        return fs::exists(fs::symlink_status(dir_ / name, error));
    }

    testing::TestFolder folder_{"link-keeper"};
    fs::path dir_ = folder_.path() / "made" / "links";
};

TEST_F(LinkKeeperTest, LinksFollowThePortsAcrossRemovalAndArrival) {
    {
        LinkKeeper keeper(dir_);
        ASSERT_TRUE(fs::is_directory(dir_));
        EXPECT_TRUE(keeper.Arrived(PortRole::Diag, "/dev/pts/7"));
        EXPECT_TRUE(keeper.Arrived(PortRole::App, "/dev/pts/8"));
        EXPECT_TRUE(keeper.Arrived(PortRole::At, "/dev/pts/9"));
        EXPECT_EQ(Target("diag"), "/dev/pts/7");
        EXPECT_EQ(Target("app"), "/dev/pts/8");
        EXPECT_EQ(Target("at"), "/dev/pts/9");

        keeper.Left(PortRole::Diag);
        keeper.Left(PortRole::At);
        EXPECT_FALSE(Present("diag"));
        EXPECT_FALSE(Present("at"));
        EXPECT_EQ(Target("app"), "/dev/pts/8");

        EXPECT_TRUE(keeper.Arrived(PortRole::At, "/dev/pts/12"));
        EXPECT_EQ(Target("at"), "/dev/pts/12");
        // An arrival over a present link swaps it in place.
        EXPECT_TRUE(keeper.Arrived(PortRole::App, "/dev/pts/13"));
        EXPECT_EQ(Target("app"), "/dev/pts/13");
        // No temporary link is left behind.
        size_t entries = 0;
        for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir_)) ++entries;
        EXPECT_EQ(entries, 2u);
    }
    // Its links go with the keeper; the folder stays.
    EXPECT_FALSE(Present("app"));
    EXPECT_FALSE(Present("at"));
    EXPECT_TRUE(fs::is_directory(dir_));
}

TEST_F(LinkKeeperTest, RefusesANameTakenByAFileOrFolderAndLeavesItAlone) {
    fs::create_directories(dir_);
    fs::create_symlink("/dev/pts/99", dir_ / "diag");  // left by an earlier run
    std::ofstream(dir_ / "at") << "mine";
    try {
        LinkKeeper keeper(dir_);
        FAIL() << "a regular file at DIR/at was accepted";
    } catch (const LinkDirError& e) {
        EXPECT_NE(std::string(e.what()).find((dir_ / "at").string()), std::string::npos) << e.what();
    }
    // A refusal changes nothing, the stale link included.
    EXPECT_EQ(Target("diag"), "/dev/pts/99");
    std::ifstream in(dir_ / "at");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "mine");

    fs::remove(dir_ / "at");
    fs::create_directory(dir_ / "app");
    EXPECT_THROW(LinkKeeper{dir_}, LinkDirError);
    EXPECT_TRUE(fs::is_directory(dir_ / "app"));

    // A link folder that is a file cannot be used either.
    std::ofstream(folder_.path() / "file") << "x";
    EXPECT_THROW(LinkKeeper{folder_.path() / "file"}, LinkDirError);
}

TEST_F(LinkKeeperTest, DropsStaleLinksAndNeverReplacesAFilePutThereLater) {
    fs::create_directories(dir_);
    fs::create_symlink("/dev/pts/99", dir_ / "diag");
    LinkKeeper keeper(dir_);
    // A link of a run that did not end cleanly leads to a node that is gone.
    EXPECT_FALSE(Present("diag"));

    ASSERT_TRUE(keeper.Arrived(PortRole::At, "/dev/pts/9"));
    fs::remove(dir_ / "at");
    std::ofstream(dir_ / "at") << "mine";
    EXPECT_FALSE(keeper.Arrived(PortRole::At, "/dev/pts/10"));
    keeper.Left(PortRole::At);
    std::ifstream in(dir_ / "at");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "mine");
}

}  // namespace
}  // namespace firmora::simtool
