#include "preserve/efs_preservation.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "fake_serial.h"
#include "link/serial_channel.h"
#include "package/download_options.h"
#include "recording_reporter.h"
#include "responder_port.h"
#include "sim/diag_device.h"
#include "sim_diag_stack.h"
#include "test_folder.h"

namespace firmora::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

Bytes Pattern(size_t size, uint8_t salt) {
    Bytes out(size);
    for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>((i * 7 + i / 512 + salt) & 0xFF);
    return out;
}

Bytes ReadLocal(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The preservation steps through the tool's DIAG stack on COM3, with a
// simulated device behind it.
class EfsPreservationTest : public SimDiagStack {
protected:

    TestFolder folder{"efs"};
    fs::path backup = folder.path() / "SN[1]";
    preserve::EfsSession session{diag, framer, clock, reporter, files};
};

TEST_F(EfsPreservationTest, UserDataSurvivesAWipeByteForByte) {
    const json scenario = {{"efs",
                            {{"folders", {"data/empty", "data/sub/deeper"}},
                             {"files",
                              {{"data/zero.bin", {{"size", 0}}},
                               {"data/sub/half.bin", {{"size", 512}}},
                               {"data/thousand.bin", {{"size", 1000}}},
                               {"big.bin", {{"size", 100000}}}}}}}};
    Start(scenario);
    preserve::EfsUserData data;
    data.files = {"/data/zero.bin", "/data/sub/half.bin", "/data/missing.bin", "data/thousand.bin", "/big.bin"};
    ASSERT_TRUE(preserve::PrepareUserDataFolders(session, backup, {"/data"}, data));
    preserve::BackupUserData(session, data);
    ASSERT_TRUE(reporter.Errors().empty()) << reporter.Errors().front();

    // The absent file is dropped; the rest lie below EFS as on the device.
    ASSERT_EQ(data.files.size(), 4u);
    EXPECT_EQ(data.localFiles[1], backup / "EFS" / "data" / "sub" / "half.bin");
    EXPECT_EQ(data.localFiles[2], backup / "EFS" / "data" / "thousand.bin");
    EXPECT_TRUE(fs::is_directory(backup / "EFS" / "data" / "sub" / "deeper"));
    EXPECT_TRUE(fs::is_directory(backup / "EFS" / "data" / "empty"));
    const std::vector<std::string> devicePaths = {"data/zero.bin", "data/sub/half.bin", "data/thousand.bin", "big.bin"};
    std::vector<Bytes> originals;
    for (size_t i = 0; i < devicePaths.size(); ++i) {
        originals.push_back(*state.efs().FileContent(devicePaths[i]));
        EXPECT_EQ(ReadLocal(data.localFiles[i]), originals[i]) << devicePaths[i];
    }
    EXPECT_EQ(originals[3].size(), 100000u);
    EXPECT_EQ(state.efs().OpenDescriptors(), 0u);

    state = sim::DiagDeviceState::FactoryFromScenario(scenario);
    ASSERT_FALSE(state.efs().IsFolder("data"));
    preserve::RestoreUserData(session, data);
    ASSERT_TRUE(reporter.Errors().empty()) << reporter.Errors().front();
    for (size_t i = 0; i < devicePaths.size(); ++i) {
        const auto restored = state.efs().FileContent(devicePaths[i]);
        ASSERT_TRUE(restored) << devicePaths[i];
        EXPECT_EQ(*restored, originals[i]) << devicePaths[i];
    }
    EXPECT_TRUE(state.efs().IsFolder("data/empty"));
    EXPECT_TRUE(state.efs().IsFolder("data/sub/deeper"));

    // Restoring over folders that survived is no failure.
    preserve::RestoreUserData(session, data);
    EXPECT_TRUE(reporter.Errors().empty());
}

TEST_F(EfsPreservationTest, ARestoreOfAFolderNameTooLongToSendFailsWithoutTouchingTheDevice) {
    Start({});
    preserve::EfsUserData data;
    data.dirList = {"data/" + std::string(4090, 'd')};
    data.files = {"data/" + std::string(4090, 'f')};
    data.localFiles = {folder.path() / "f"};
    data.sizes = {0};
    const uint64_t start = clock.TickCount();
    preserve::RestoreUserData(session, data);
    ASSERT_EQ(reporter.Errors().size(), 1u);
    EXPECT_EQ(reporter.Errors().front(), "ERROR, [EFS] Fail to create directory, Error code: 36");
    EXPECT_EQ(clock.TickCount(), start);
    EXPECT_FALSE(state.efs().IsFolder("data"));
}

TEST_F(EfsPreservationTest, ARestoreSendsNothingOfACopyThatIsNoRegularFileOfItsRecordedSize) {
    const Bytes content = Pattern(3000, 9);
    const fs::path real = folder.path() / "real.bin";
    const fs::path link = folder.path() / "link.bin";
    std::ofstream(real, std::ios::binary).write(reinterpret_cast<const char*>(content.data()), content.size());
    fs::create_symlink(real, link);
    // A copy swapped for a link or a device, or not of its recorded size,
    // would leave a wrong device file: nothing of it is sent.
    struct Case { fs::path copy; uint32_t size; const char* error; };
    const char* refused = "Could not open BIN file: ";
    for (const Case& c : {Case{link, 3000, refused}, Case{"/dev/zero", 3000, refused}, Case{real, 2999, refused},
                          Case{real, 3001, "Could not read from BIN file: "}}) {
        SCOPED_TRACE(c.copy.string() + " " + std::to_string(c.size));
        Start({});
        reporter.Clear();
        preserve::EfsUserData data;
        data.files = {"/a.bin"};
        data.localFiles = {c.copy};
        data.sizes = {c.size};
        preserve::RestoreUserData(session, data);
        const std::vector<std::string> errors = reporter.Errors();
        const std::string expected = "ERROR, " + std::string(c.error) + c.copy.string() + ",";
        EXPECT_TRUE(!errors.empty() && errors.front().rfind(expected, 0) == 0);
        EXPECT_EQ(reporter.writtenBytes, 0u);
        EXPECT_EQ(state.efs().FileContent("a.bin").value_or(Bytes{1}), Bytes{});
    }
}

TEST_F(EfsPreservationTest, AFailedReadFailsTheBackupWithoutAShortCopy) {
    Start({{"efs", {{"files", {{"data/big.bin", {{"size", 5000}}}}}}},
           {"diag", {{"efsFaults", {{{"op", "read"}, {"errno", 5}, {"path", "data/big.bin"}, {"afterBytes", 1500}}}}}}});
    preserve::EfsUserData data;
    data.files = {"/data/big.bin"};
    ASSERT_TRUE(preserve::PrepareUserDataFolders(session, backup, {}, data));
    preserve::BackupUserData(session, data);
    ASSERT_FALSE(reporter.Errors().empty());
    EXPECT_NE(reporter.Errors().front().find("*Fail to read file:/data/big.bin"), std::string::npos);
    EXPECT_FALSE(fs::exists(data.localFiles[0]));
}

TEST_F(EfsPreservationTest, DeviceNamesStayInsideTheBackupFolder) {
    const fs::path efs = backup / "EFS";
    EXPECT_EQ(preserve::MapDevicePath(backup, "/a/b.txt"), efs / "a" / "b.txt");
    EXPECT_EQ(preserve::MapDevicePath(backup, "a/b.txt"), efs / "a" / "b.txt");
    for (const char* hostile : {"../../etc/passwd", "/a/../../b", "..", "a/..\\..\\x", "./../c:x", "a\\..\\b"}) {
        SCOPED_TRACE(hostile);
        const fs::path local = preserve::MapDevicePath(backup, hostile, &reporter);
        const fs::path relative = local.lexically_normal().lexically_relative(efs);
        ASSERT_FALSE(relative.empty());
        EXPECT_NE(*relative.begin(), "..");
        for (const fs::path& part : relative) EXPECT_NE(part, "..");
    }
    EXPECT_TRUE(reporter.Has("Device path ../../etc/passwd kept as " + (efs / "__" / "__" / "etc" / "passwd").string()));
    EXPECT_EQ(preserve::AddedFileLocalPath(folder.path(), "/x/.."), folder.path() / "__");

    EXPECT_TRUE(preserve::CreateFolderPath(reporter, backup / "x"));
    EXPECT_TRUE(preserve::DeleteFolder(backup));
    EXPECT_FALSE(fs::exists(backup));
}

TEST_F(EfsPreservationTest, TheUsersBackupFolderIsUsedExactlyAsGiven) {
    // Only names that came from the device are made safe; the folder the
    // user chose is theirs, colons, backslashes and all.
    Start({{"efs", {{"files", {{"data/cfg/a.txt", "a"}}}}}});
    const fs::path chosen = folder.path() / "bk:3" / "one\\two";
    preserve::EfsUserData data;
    data.files = {"/data/cfg/a.txt"};
    ASSERT_TRUE(preserve::PrepareUserDataFolders(session, chosen, {"data"}, data));
    EXPECT_TRUE(fs::is_directory(chosen / "EFS" / "data" / "cfg"));
    ASSERT_EQ(data.localFiles, (std::vector<fs::path>{chosen / "EFS" / "data" / "cfg" / "a.txt"}));
    EXPECT_FALSE(fs::exists(folder.path() / "bk_3"));
    EXPECT_TRUE(reporter.Errors().empty());
}

TEST_F(EfsPreservationTest, PartOfEfsPlanRefusesAFolderWithASubfolder) {
    Start({{"efs",
            {{"folders", {"keep/inner", "made"}},
             {"files", {{"old.txt", "x"}, {"keep/a.txt", "a"}, {"flat/b.txt", "b"}}}}}});
    const fs::path added = folder.path() / "new.cfg";
    const Bytes content = Pattern(3000, 5);
    std::ofstream(added, std::ios::binary).write(reinterpret_cast<const char*>(content.data()), content.size());

    preserve::EfsPlan plan;
    plan.removeFiles = {"/old.txt"};
    plan.removeDirs = {"/flat"};
    plan.createDirs = {"/made", "/fresh"};  // one exists already
    plan.addFiles = {{"/fresh/new.cfg", added, 3000}};
    preserve::ApplyPartOfEfsPlan(session, plan);
    ASSERT_TRUE(reporter.Errors().empty()) << reporter.Errors().front();
    EXPECT_FALSE(state.efs().IsFile("old.txt"));
    EXPECT_FALSE(state.efs().IsFolder("flat"));
    EXPECT_EQ(state.efs().FileContent("fresh/new.cfg"), content);
    EXPECT_TRUE(reporter.Has("Download file P030......"));

    preserve::EfsPlan refused;
    refused.removeDirs = {"/keep"};
    refused.createDirs = {"/later"};
    preserve::ApplyPartOfEfsPlan(session, refused);
    ASSERT_EQ(reporter.Errors().size(), 1u);
    EXPECT_NE(reporter.Errors()[0].find("[EFS] Could not remove subdirectories"), std::string::npos);
    EXPECT_TRUE(state.efs().IsFile("keep/a.txt"));
    EXPECT_FALSE(state.efs().IsFolder("later"));  // nothing runs after the failure
}

}  // namespace
}  // namespace firmora::testing
