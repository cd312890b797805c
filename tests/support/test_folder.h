#pragma once
// A fresh, empty folder for one test, removed again (write bits restored
// first) when the test ends.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace firmora::testing {

class TestFolder {
public:
    explicit TestFolder(const std::string& purpose)
        : path_(std::filesystem::temp_directory_path() /
                ("firmora-" + purpose + "-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name())) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TestFolder() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace firmora::testing
