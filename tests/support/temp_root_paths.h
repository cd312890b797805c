#pragma once
// Paths whose system root, temporary folder and program folder lie in a
// fresh folder of the test (the run log goes to the system root).

#include <filesystem>

#include "platform/paths.h"
#include "test_folder.h"

namespace firmora::testing {

class TempRootPaths final : public platform::Paths {
public:
    std::filesystem::path TempFolder() override { return folder_.path() / "tmp"; }
    std::filesystem::path SystemRoot() override { return rootAvailable ? folder_.path() : std::filesystem::path(); }
    std::filesystem::path ProgramFolder() override { return folder_.path() / "bin"; }

    bool rootAvailable = true;

private:
    TestFolder folder_{"root"};
};

}  // namespace firmora::testing
