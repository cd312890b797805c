// The run's working folder: what goes into it, what it never touches, and
// that it is gone when the run is over.

#include "cli/working_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/posix/posix_processes.h"
#include "test_folder.h"

namespace firmora::cli {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string Read(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

struct Layout {
    testing::TestFolder root{"working-folder"};
    fs::path temp = root.path() / "temp";
    fs::path package = root.path() / "package";
    fs::path programs = root.path() / "programs";
    fs::path config = package / "Config.ini";
    platform::PosixProcesses processes{temp};

    Layout() {
        fs::create_directories(temp);
        fs::create_directories(programs);
        Write(config, "[Project]\r\nProject = MDM9x15\r\n");
    }
};

TEST(WorkingFolder, HoldsTheConfigTheLibrariesAndTheHelpersUnderThePackagesNames) {
    Layout layout;
    Write(layout.package / "AdbWinApi.dll", "adb");
    Write(layout.package / "QMSL_MSVC10R.dll", "diag");
    Write(layout.package / "boot.img", "an image stays in the package folder");
    Write(layout.programs / "firmora-rebootle", "#!/bin/sh\n");
    fs::permissions(layout.programs / "firmora-rebootle", fs::perms::owner_all);

    std::string problem;
    const auto folder = WorkingFolder::Prepare(layout.processes, layout.temp, layout.config, layout.programs, problem);
    ASSERT_NE(folder, nullptr) << problem;
    const fs::path& path = folder->path();
    EXPECT_EQ(path, layout.temp / "TempFiles");
    EXPECT_EQ(Read(path / "Config.ini"), "[Project]\r\nProject = MDM9x15\r\n");
    EXPECT_EQ(Read(path / "AdbWinApi.dll"), "adb");
    EXPECT_EQ(Read(path / "QMSL_MSVC10R.dll"), "diag");
    EXPECT_FALSE(fs::exists(path / "AdbWinUsbApi.dll"));
    EXPECT_FALSE(fs::exists(path / "boot.img"));
    // The reset program keeps its name in the package's terms and stays runnable.
    ASSERT_TRUE(fs::exists(path / "Rebootle.exe"));
    EXPECT_NE(fs::status(path / "Rebootle.exe").permissions() & fs::perms::owner_exec, fs::perms::none);
    EXPECT_FALSE(fs::exists(path / "Swivlet.exe"));
    EXPECT_FALSE(fs::exists(path / "Drivlet.exe"));

    // The run writes into its copy only.
    Write(path / "Config.ini", "[Project]\r\nExecuteRebootle = 100\r\n");
    EXPECT_EQ(Read(layout.config), "[Project]\r\nProject = MDM9x15\r\n");
}

TEST(WorkingFolder, StartsFreshAndIsRemovedWhenTheRunIsOver) {
    Layout layout;
    Write(layout.temp / "TempFiles" / "Rebootle.exe", "left by a run that crashed");
    Write(layout.temp / "TempFiles" / "old" / "Config.ini", "stale");
    std::string problem;
    {
        const auto folder =
            WorkingFolder::Prepare(layout.processes, layout.temp, layout.config, layout.programs, problem);
        ASSERT_NE(folder, nullptr) << problem;
        EXPECT_FALSE(fs::exists(folder->path() / "Rebootle.exe"));
        EXPECT_FALSE(fs::exists(folder->path() / "old"));
        Write(folder->path() / "written-by-the-run.txt", "x");
    }
    EXPECT_FALSE(fs::exists(layout.temp / "TempFiles"));
    EXPECT_TRUE(fs::exists(layout.config));
}

TEST(WorkingFolder, OneRunAtATimeHoldsIt) {
    Layout layout;
    std::string problem;
    const auto first = WorkingFolder::Prepare(layout.processes, layout.temp, layout.config, layout.programs, problem);
    ASSERT_NE(first, nullptr) << problem;
    Write(first->path() / "written-by-the-first-run.txt", "x");
    EXPECT_EQ(WorkingFolder::Prepare(layout.processes, layout.temp, layout.config, layout.programs, problem), nullptr);
    EXPECT_NE(problem.find("another firmora run is using the working folder"), std::string::npos) << problem;
    EXPECT_TRUE(fs::exists(first->path() / "written-by-the-first-run.txt"));
}

TEST(WorkingFolder, ALinkInItsPlaceIsRemovedNotFollowed) {
    Layout layout;
    const fs::path elsewhere = layout.root.path() / "elsewhere";
    Write(elsewhere / "precious.txt", "keep me");
    fs::create_directory_symlink(elsewhere, layout.temp / "TempFiles");
    std::string problem;
    {
        const auto folder =
            WorkingFolder::Prepare(layout.processes, layout.temp, layout.config, layout.programs, problem);
        ASSERT_NE(folder, nullptr) << problem;
        EXPECT_FALSE(fs::is_symlink(folder->path()));
        EXPECT_TRUE(fs::is_directory(folder->path()));
    }
    EXPECT_EQ(Read(elsewhere / "precious.txt"), "keep me");
}

TEST(WorkingFolder, RefusesWhatCannotBeMadeAndLeavesNothingBehind) {
    Layout layout;
    std::string problem;
    EXPECT_EQ(WorkingFolder::Prepare(layout.processes, {}, layout.config, layout.programs, problem), nullptr);
    EXPECT_NE(problem.find("temporary folder"), std::string::npos) << problem;

    problem.clear();
    EXPECT_EQ(
        WorkingFolder::Prepare(layout.processes, layout.temp, layout.package / "Missing.ini", layout.programs, problem),
        nullptr);
    EXPECT_NE(problem.find("Missing.ini"), std::string::npos) << problem;
    EXPECT_FALSE(fs::exists(layout.temp / "TempFiles"));

    problem.clear();
    EXPECT_EQ(WorkingFolder::Prepare(layout.processes, layout.root.path() / "no-such-temp", layout.config,
                                     layout.programs, problem),
              nullptr);
    EXPECT_NE(problem.find("cannot make the working folder"), std::string::npos) << problem;
}

}  // namespace
}  // namespace firmora::cli
