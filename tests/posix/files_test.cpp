#include "platform/posix/posix_files.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>

#include "platform/last_error.h"
#include "test_folder.h"

namespace firmora::platform {
namespace {

namespace fs = std::filesystem;

PosixFiles files;

bool ReplaceFileAtomically(const fs::path& path, std::string_view content) {
    return files.ReplaceAtomically(path, content);
}

std::optional<std::string> ReadWholeFile(const fs::path& path) {
    ReadRefusal refusal = ReadRefusal::None;
    return files.ReadWhole(path, UINT32_MAX, refusal);
}

class ReplaceFileTest : public ::testing::Test {
protected:

    static void WriteFile(const fs::path& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    static mode_t ModeOf(const fs::path& path) {
        struct stat info {};
        EXPECT_EQ(::stat(path.c_str(), &info), 0);
        return info.st_mode & 07777;
    }
    std::set<std::string> Names() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(folder_)) {
            names.insert(entry.path().filename().string());
        }
        return names;
    }

    testing::TestFolder test_{"files-test"};
    const fs::path& folder_ = test_.path();
};

TEST_F(ReplaceFileTest, WritesNewFilesAndReplacesOldOnesLeavingNoTemporaries) {
    const fs::path file = folder_ / "at.bak";
    const mode_t previousMask = ::umask(027);
    ASSERT_TRUE(ReplaceFileAtomically(file, "first"));
    ::umask(previousMask);
    EXPECT_EQ(ModeOf(file), 0640u);  // 0644 less the umask
    EXPECT_EQ(ReadWholeFile(file), "first");

    ::chmod(file.c_str(), 0600);
    ASSERT_TRUE(ReplaceFileAtomically(file, std::string("second\0with a zero", 18)));
    EXPECT_EQ(ReadWholeFile(file), std::string("second\0with a zero", 18));
    EXPECT_EQ(ModeOf(file), 0600u);
    ASSERT_TRUE(ReplaceFileAtomically(file, ""));
    EXPECT_EQ(ReadWholeFile(file), "");
    EXPECT_EQ(Names(), std::set<std::string>{"at.bak"});
}

TEST_F(ReplaceFileTest, ReplacingThroughALinkChangesTheFileItNames) {
    const fs::path real = folder_ / "real.ini";
    const fs::path link = folder_ / "settings.ini";
    WriteFile(real, "old");
    fs::create_symlink("real.ini", link);
    ASSERT_TRUE(ReplaceFileAtomically(link, "new"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadWholeFile(real), "new");
}

TEST_F(ReplaceFileTest, FailuresKeepTheOldFileAndReportTheCause) {
    const fs::path folderIsFile = folder_ / "plain";
    WriteFile(folderIsFile, "keep");
    EXPECT_FALSE(ReplaceFileAtomically(folderIsFile / "x.ini", "data"));
    EXPECT_EQ(LastError(), static_cast<uint32_t>(ENOTDIR));

    EXPECT_FALSE(ReplaceFileAtomically(folder_ / "missing" / "x.ini", "data"));
    EXPECT_EQ(LastError(), static_cast<uint32_t>(ENOENT));

    const fs::path folderTarget = folder_ / "sub";
    fs::create_directory(folderTarget);
    EXPECT_FALSE(ReplaceFileAtomically(folderTarget, "data"));
    EXPECT_EQ(LastError(), static_cast<uint32_t>(EISDIR));
    EXPECT_TRUE(fs::is_directory(folderTarget));

    EXPECT_EQ(ReadWholeFile(folderIsFile), "keep");
    EXPECT_EQ(Names(), (std::set<std::string>{"plain", "sub"}));
}

// A write that fails half-way (here: the file-size limit) must leave the old
// file as it was and take its temporary file away.
TEST_F(ReplaceFileTest, AFailedWriteLeavesTheOldFileAndNoTemporary) {
    const fs::path file = folder_ / "nv.bak";
    WriteFile(file, "old content");
    struct rlimit previous {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &previous), 0);
    const auto previousHandler = ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = previous;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool replaced = ReplaceFileAtomically(file, std::string(10000, 'x'));
    const uint32_t error = LastError();
    ::setrlimit(RLIMIT_FSIZE, &previous);
    ::signal(SIGXFSZ, previousHandler);

    EXPECT_FALSE(replaced);
    EXPECT_EQ(error, static_cast<uint32_t>(EFBIG));
    EXPECT_EQ(ReadWholeFile(file), "old content");
    EXPECT_EQ(Names(), std::set<std::string>{"nv.bak"});
}

TEST_F(ReplaceFileTest, AFolderWithoutWritePermissionKeepsTheOldFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "permission bits do not stop root";
    const fs::path file = folder_ / "at.bak";
    WriteFile(file, "old");
    ::chmod(folder_.c_str(), 0500);
    EXPECT_FALSE(ReplaceFileAtomically(file, "new"));
    EXPECT_EQ(LastError(), static_cast<uint32_t>(EACCES));
    ::chmod(folder_.c_str(), 0700);
    EXPECT_EQ(ReadWholeFile(file), "old");
    EXPECT_EQ(Names(), std::set<std::string>{"at.bak"});
}

TEST_F(ReplaceFileTest, ReadWholeFileReadsLargeFilesAndReportsMissingOnes) {
    std::string big(200000, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    ASSERT_TRUE(ReplaceFileAtomically(folder_ / "big", big));
    EXPECT_EQ(ReadWholeFile(folder_ / "big"), big);

    EXPECT_EQ(ReadWholeFile(folder_ / "missing"), std::nullopt);
    EXPECT_EQ(LastError(), static_cast<uint32_t>(ENOENT));
    EXPECT_EQ(ReadWholeFile(folder_), std::nullopt);
    EXPECT_EQ(LastError(), static_cast<uint32_t>(EISDIR));
}

// A read never blocks on, follows or drains what is not a regular file, and
// a file larger than the caller's bound is refused before it is read.
TEST_F(ReplaceFileTest, ReadWholeRefusesLinksSpecialFilesAndFilesAboveTheBound) {
    WriteFile(folder_ / "real", "12345");
    fs::create_symlink(folder_ / "real", folder_ / "link");
    ASSERT_EQ(::mkfifo((folder_ / "fifo").c_str(), 0600), 0);  // no writer: an open would block
    const struct {
        fs::path path;
        uint64_t max;
        ReadRefusal refusal;
    } cases[] = {
        {folder_ / "link", 100, ReadRefusal::Link},
        {"/dev/zero", 100, ReadRefusal::NotRegular},
        {folder_ / "fifo", 100, ReadRefusal::NotRegular},
        {folder_, 100, ReadRefusal::NotRegular},
        {folder_ / "missing", 100, ReadRefusal::Missing},
        {folder_ / "real", 4, ReadRefusal::TooLarge},
    };
    for (const auto& c : cases) {
        ReadRefusal refusal = ReadRefusal::None;
        EXPECT_EQ(files.ReadWhole(c.path, c.max, refusal), std::nullopt) << c.path;
        EXPECT_EQ(refusal, c.refusal) << c.path;
    }
    ReadRefusal refusal = ReadRefusal::Failed;
    EXPECT_EQ(files.ReadWhole(folder_ / "real", 5, refusal), "12345");
    EXPECT_EQ(refusal, ReadRefusal::None);

    // A huge sparse file is refused by its size alone.
    std::ofstream(folder_ / "huge").close();
    fs::resize_file(folder_ / "huge", uint64_t{1} << 40);
    EXPECT_EQ(files.ReadWhole(folder_ / "huge", kMebibyte, refusal), std::nullopt);
    EXPECT_EQ(refusal, ReadRefusal::TooLarge);

    std::string error;
    EXPECT_FALSE(ReadFileUpTo(files, folder_ / "link", 100, error));
    EXPECT_EQ(error, (folder_ / "link").string() + " is a symbolic link");
    EXPECT_FALSE(ReadFileUpTo(files, "/dev/zero", 100, error));
    EXPECT_EQ(error, "/dev/zero is not a regular file");
}

TEST_F(ReplaceFileTest, KindOfDoesNotFollowALink) {
    WriteFile(folder_ / "real", "x");
    fs::create_symlink(folder_, folder_ / "folder-link");
    EXPECT_EQ(files.KindOf(folder_ / "real"), FileKind::Regular);
    EXPECT_EQ(files.KindOf(folder_), FileKind::Folder);
    EXPECT_EQ(files.KindOf(folder_ / "folder-link"), FileKind::Link);
    EXPECT_EQ(files.KindOf("/dev/null"), FileKind::Other);
    EXPECT_EQ(files.KindOf(folder_ / "missing"), FileKind::Missing);
    EXPECT_EQ(files.KindOf(folder_ / "real" / "below"), FileKind::Missing);
}

}  // namespace
}  // namespace firmora::platform
