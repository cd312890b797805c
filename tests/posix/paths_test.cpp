#include "platform/posix/posix_paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>

#include "platform/last_error.h"
#include "test_folder.h"

namespace firmora::platform {
namespace {

namespace fs = std::filesystem;

class PosixPathsTest : public ::testing::Test {
protected:
    void SetUp() override { env_["TMPDIR"] = root_.string(); }

    PosixPaths Paths() {
        return PosixPaths([this](const char* name) -> std::optional<std::string> {
            const auto found = env_.find(name);
            if (found == env_.end()) return std::nullopt;
            return found->second;
        });
    }
    fs::path OwnTempName() const { return root_ / ("firmora-" + std::to_string(::geteuid())); }
    static mode_t ModeOf(const fs::path& path) {
        struct stat info {};
        EXPECT_EQ(::lstat(path.c_str(), &info), 0);
        return info.st_mode & 07777;
    }

    testing::TestFolder folder_{"paths-test"};
    const fs::path& root_ = folder_.path();
    std::map<std::string, std::string> env_;
};

TEST_F(PosixPathsTest, TempFolderIsCreatedOwnerOnlyAndTightenedWhenOurs) {
    EXPECT_EQ(Paths().TempFolder(), OwnTempName());
    EXPECT_EQ(ModeOf(OwnTempName()), 0700u);

    ::chmod(OwnTempName().c_str(), 0777);
    EXPECT_EQ(Paths().TempFolder(), OwnTempName());
    EXPECT_EQ(ModeOf(OwnTempName()), 0700u);
}

TEST_F(PosixPathsTest, TempFolderRefusesALinkOrAFileInItsPlace) {
    const fs::path elsewhere = root_ / "elsewhere";
    fs::create_directory(elsewhere);
    ::chmod(elsewhere.c_str(), 0777);
    fs::create_directory_symlink(elsewhere, OwnTempName());
    EXPECT_EQ(Paths().TempFolder(), fs::path());
    EXPECT_EQ(LastError(), static_cast<uint32_t>(ENOTDIR));
    EXPECT_EQ(ModeOf(elsewhere), 0777u);  // the link's target was not touched

    fs::remove(OwnTempName());
    { std::ofstream(OwnTempName()) << "x"; }
    EXPECT_EQ(Paths().TempFolder(), fs::path());
    EXPECT_EQ(LastError(), static_cast<uint32_t>(ENOTDIR));
}

TEST_F(PosixPathsTest, TempFolderRefusesAFolderOwnedBySomebodyElse) {
    if (::geteuid() != 0) GTEST_SKIP() << "creating a foreign-owned folder needs root";
    fs::create_directory(OwnTempName());
    ::chmod(OwnTempName().c_str(), 0777);
    ASSERT_EQ(::chown(OwnTempName().c_str(), 12345, 12345), 0);
    EXPECT_EQ(Paths().TempFolder(), fs::path());
    EXPECT_EQ(LastError(), static_cast<uint32_t>(EACCES));
    EXPECT_EQ(ModeOf(OwnTempName()), 0777u);
}

TEST_F(PosixPathsTest, TempFolderUsesTheRuntimeFolderOnlyWhenItIsPrivate) {
    const fs::path runtime = root_ / "runtime";
    fs::create_directory(runtime);
    ::chmod(runtime.c_str(), 0700);
    env_["XDG_RUNTIME_DIR"] = runtime.string();
    EXPECT_EQ(Paths().TempFolder(), runtime / "firmora");
    EXPECT_EQ(ModeOf(runtime / "firmora"), 0700u);

    ::chmod(runtime.c_str(), 0755);
    EXPECT_EQ(Paths().TempFolder(), OwnTempName());
    env_["XDG_RUNTIME_DIR"] = "relative/runtime";
    EXPECT_EQ(Paths().TempFolder(), OwnTempName());
}

TEST_F(PosixPathsTest, SystemRootFollowsItsVariablesInOrderAndIsCreated) {
    env_["HOME"] = (root_ / "home").string();
    EXPECT_EQ(Paths().SystemRoot(), root_ / "home/.local/state/firmora/root");
    env_["XDG_STATE_HOME"] = (root_ / "state").string();
    EXPECT_EQ(Paths().SystemRoot(), root_ / "state/firmora/root");
    env_["FIRMORA_SYSTEM_ROOT"] = (root_ / "explicit").string();
    EXPECT_EQ(Paths().SystemRoot(), root_ / "explicit");
    for (const char* made : {"home/.local/state/firmora/root", "state/firmora/root", "explicit"}) {
        EXPECT_TRUE(fs::is_directory(root_ / made)) << made;
    }

    { std::ofstream(root_ / "file") << "x"; }
    env_["FIRMORA_SYSTEM_ROOT"] = (root_ / "file/root").string();
    EXPECT_EQ(Paths().SystemRoot(), fs::path());
    EXPECT_EQ(LastError(), static_cast<uint32_t>(ENOTDIR));
}

TEST_F(PosixPathsTest, ProgramFolderHoldsTheRunningProgram) {
    const fs::path folder = Paths().ProgramFolder();
    EXPECT_TRUE(fs::exists(folder / "firmora_posix_tests"));
}

}  // namespace
}  // namespace firmora::platform
