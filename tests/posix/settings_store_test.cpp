#include "platform/posix/ini_settings_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>
#include <vector>

#include "test_files.h"
#include "platform/last_error.h"
#include "test_folder.h"

namespace firmora::platform {
namespace {

namespace fs = std::filesystem;

const std::string kKey = "Software\\Orb2009\\Firmora_QCOMM";

class IniSettingsStoreTest : public ::testing::Test {
protected:
    testing::TestFolder folder_{"settings-test"};
    const fs::path& root_ = folder_.path();
    fs::path file_ = root_ / "config" / "firmora" / "settings.ini";
};

TEST_F(IniSettingsStoreTest, ValuesRoundTripAcrossTwoStoresOnOneFile) {
    IniSettingsStore writer(file_);
    IniSettingsStore reader(file_);
    EXPECT_EQ(reader.ReadString(SettingsScope::User, kKey, "DownloadStatus"), std::nullopt);

    ASSERT_TRUE(writer.WriteString(SettingsScope::User, kKey, "DownloadStatus", "PASS"));
    ASSERT_TRUE(writer.WriteInteger(SettingsScope::User, kKey, "Left", 4294967295u));
    ASSERT_TRUE(writer.WriteInteger(SettingsScope::Machine, kKey, "Left", 7));
    ASSERT_TRUE(reader.WriteString(SettingsScope::User, kKey, "downloadstatus", "FAIL"));

    EXPECT_EQ(writer.ReadString(SettingsScope::User, kKey, "DownloadStatus"), "FAIL");
    EXPECT_EQ(reader.ReadInteger(SettingsScope::User, kKey, "Left"), 4294967295u);
    EXPECT_EQ(reader.ReadInteger(SettingsScope::Machine, kKey, "left"), 7u);
    EXPECT_EQ(testing::ReadTestFile(file_),
              "[Software\\Orb2009\\Firmora_QCOMM]\r\n"
              "DownloadStatus=FAIL\r\n"
              "Left=4294967295\r\n"
              "[Machine\\Software\\Orb2009\\Firmora_QCOMM]\r\n"
              "Left=7\r\n");

    struct stat info {};
    ASSERT_EQ(::stat(file_.parent_path().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(IniSettingsStoreTest, ReadsSeeChangesMadeByOthersToTheFile) {
    IniSettingsStore store(file_);
    ASSERT_TRUE(store.WriteString(SettingsScope::User, kKey, "Port", "COM9"));
    ASSERT_TRUE(testing::WriteTestFile(file_, "; edited by hand\n[software\\orb2009\\firmora_qcomm]\n"
                                             "port = COM12\ncount=12abc\nneg=-1\n"));
    EXPECT_EQ(store.ReadString(SettingsScope::User, kKey, "Port"), "COM12");
    EXPECT_EQ(store.ReadInteger(SettingsScope::User, kKey, "Port"), std::nullopt);
    EXPECT_EQ(store.ReadInteger(SettingsScope::User, kKey, "count"), std::nullopt);
    EXPECT_EQ(store.ReadInteger(SettingsScope::User, kKey, "neg"), std::nullopt);

    ASSERT_TRUE(store.WriteInteger(SettingsScope::User, kKey, "count", 3));
    EXPECT_EQ(testing::ReadTestFile(file_), "; edited by hand\n[software\\orb2009\\firmora_qcomm]\n"
                                    "port = COM12\ncount=3\nneg=-1\n");
}

TEST_F(IniSettingsStoreTest, ValuesComeBackExactlyOrAreRefused) {
    IniSettingsStore store(file_);
    for (const std::string value : {"", "  padded  ", "\"quoted\"", "'single'", "\"", "a=b"}) {
        ASSERT_TRUE(store.WriteString(SettingsScope::User, kKey, "v", value)) << value;
        EXPECT_EQ(IniSettingsStore(file_).ReadString(SettingsScope::User, kKey, "v"), value);
    }
    ASSERT_TRUE(store.WriteString(SettingsScope::User, kKey, "v", "kept"));
    const std::vector<std::pair<std::string, std::string>> refused{
        {"v", "two\r\nlines"}, {"v", std::string(2048, 'x')}, {"a=b", "x"},
        {"[v]", "x"},          {" v", "x"},                    {"line\nbreak", "x"}};
    for (const auto& [name, value] : refused) {
        EXPECT_FALSE(store.WriteString(SettingsScope::User, kKey, name, value)) << name;
        EXPECT_EQ(LastError(), static_cast<uint32_t>(EINVAL));
    }
    EXPECT_FALSE(store.WriteString(SettingsScope::User, "Key]Path", "v", "x"));
    EXPECT_EQ(testing::ReadTestFile(file_), "[Software\\Orb2009\\Firmora_QCOMM]\r\nv=kept\r\n");
}

TEST_F(IniSettingsStoreTest, RemoveTakesOneValueAndReportsAMissingOne) {
    IniSettingsStore store(file_);
    ASSERT_TRUE(store.WriteString(SettingsScope::User, kKey, "a", "1"));
    ASSERT_TRUE(store.WriteString(SettingsScope::User, kKey, "b", "2"));
    EXPECT_TRUE(store.Remove(SettingsScope::User, kKey, "A"));
    EXPECT_FALSE(store.Remove(SettingsScope::User, kKey, "a"));
    EXPECT_EQ(LastError(), static_cast<uint32_t>(ENOENT));
    EXPECT_FALSE(store.Remove(SettingsScope::Machine, kKey, "b"));
    EXPECT_EQ(store.ReadString(SettingsScope::User, kKey, "b"), "2");
}

TEST_F(IniSettingsStoreTest, AFileThatCannotBeReadIsNotOverwritten) {
    if (::geteuid() == 0) GTEST_SKIP() << "permission bits do not stop root";
    IniSettingsStore store(file_);
    ASSERT_TRUE(store.WriteString(SettingsScope::User, kKey, "a", "1"));
    fs::permissions(file_, fs::perms::none);
    EXPECT_FALSE(store.WriteString(SettingsScope::User, kKey, "b", "2"));
    EXPECT_EQ(LastError(), static_cast<uint32_t>(EACCES));
    fs::permissions(file_, fs::perms::owner_read);
    EXPECT_EQ(store.ReadString(SettingsScope::User, kKey, "a"), "1");
}

TEST_F(IniSettingsStoreTest, WritesFromManyThreadsAreAllKept) {
    IniSettingsStore store(file_);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&store, t] {
            for (uint32_t i = 0; i < 25; ++i) {
                store.WriteInteger(SettingsScope::User, kKey,
                                   "t" + std::to_string(t) + "_" + std::to_string(i), i);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < 4; ++t) {
        for (uint32_t i = 0; i < 25; ++i) {
            EXPECT_EQ(store.ReadInteger(SettingsScope::User, kKey,
                                        "t" + std::to_string(t) + "_" + std::to_string(i)),
                      i);
        }
    }
}

TEST(IniSettingsStorePath, DefaultPathFollowsItsVariablesInOrder) {
    std::map<std::string, std::string> env{{"HOME", "/home/u"}};
    const EnvLookup lookup = [&env](const char* name) -> std::optional<std::string> {
        const auto found = env.find(name);
        return found == env.end() ? std::nullopt : std::optional<std::string>(found->second);
    };
    EXPECT_EQ(IniSettingsStore::DefaultPath(lookup), "/home/u/.config/firmora/settings.ini");
    env["XDG_CONFIG_HOME"] = "relative";  // not absolute: ignored
    EXPECT_EQ(IniSettingsStore::DefaultPath(lookup), "/home/u/.config/firmora/settings.ini");
    env["XDG_CONFIG_HOME"] = "/xdg";
    EXPECT_EQ(IniSettingsStore::DefaultPath(lookup), "/xdg/firmora/settings.ini");
    env["FIRMORA_CONFIG_HOME"] = "/etc/firmora";
    EXPECT_EQ(IniSettingsStore::DefaultPath(lookup), "/etc/firmora/settings.ini");
}

}  // namespace
}  // namespace firmora::platform
