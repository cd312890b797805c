#include "preserve/library_nv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "fake_serial.h"
#include "link/qlib_api.h"
#include "platform/dialogs.h"
#include "platform/std_files.h"
#include "test_files.h"
#include "platform/virtual_clock.h"
#include "preserve/nv_tables.h"
#include "recording_reporter.h"
#include "responder_port.h"
#include "sim/diag_device.h"
#include "test_folder.h"

namespace firmora::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// The library bound to scripted ports, with a simulated device's DIAG
// responder on COM5.
class LibraryNvTest : public ::testing::Test {
protected:
    void Start(const json& s) {
        scenario = s;
        port.reset();
        state = sim::DiagDeviceState::FromScenario(scenario);
        responder = std::make_unique<sim::DiagResponder>(state, scenario);
        port = std::make_unique<ResponderPort>(device, clock, *responder);
    }
    // What a download that rewrites the EFS partition leaves on the device.
    void Wipe() { state = sim::DiagDeviceState::FactoryFromScenario(scenario); }

    link::QlibHandle Connect() {
        const link::QlibHandle handle = qlib.ConnectServerWithWait(5, 2000);
        EXPECT_NE(handle, 0u);
        EXPECT_TRUE(qlib.IsPhoneConnected(handle));
        return handle;
    }

    // Every item of the library's table as the device holds it now.
    std::map<int32_t, std::vector<uint8_t>> DeviceItems() const {
        std::map<int32_t, std::vector<uint8_t>> items;
        for (const preserve::NvEntry& entry : preserve::LibraryNvTable()) {
            if (entry.number >= preserve::kFirstRfNvItem) {
                const auto content = state.efs().FileContent(sim::RfNvFilePath(static_cast<uint32_t>(entry.number)));
                items[entry.number] = content.value_or(std::vector<uint8_t>{});
            } else {
                const sim::NvStore::ReadResult read = state.nv().Read(static_cast<uint16_t>(entry.number));
                items[entry.number] = std::vector<uint8_t>(read.data.begin(), read.data.end());
            }
        }
        return items;
    }

    // The text of the run's failure, without the frame the reporter adds.
    std::string Failure() const {
        for (const std::string& line : reporter.Errors()) {
            const size_t end = line.rfind(", Error code:");
            if (line.rfind("ERROR, ", 0) == 0 && end != std::string::npos) return line.substr(7, end - 7);
        }
        return "";
    }

    platform::VirtualClock clock;
    FakeSerialPorts ports{clock};
    FakeSerialDevice& device = ports.Device("COM5");
    RecordingReporter reporter;
    platform::StdFiles files;
    link::QlibApi qlib = link::QlibApi::Bind(ports, clock, files);
    preserve::LibraryNvSession session{qlib, reporter};
    TestFolder folder{"qlib"};
    fs::path efsFolder = folder.path() / "SN[1]" / "EFS";

    json scenario;
    sim::DiagDeviceState state;
    std::unique_ptr<sim::DiagResponder> responder;
    std::unique_ptr<ResponderPort> port;
};

TEST_F(LibraryNvTest, LoadNeedsTheLibraryFileInTheWorkingFolder) {
    platform::ScriptedDialogs dialogs;
    EXPECT_FALSE(link::QlibApi::LoadOrWarn(folder.path(), ports, clock, files, dialogs).IsBound());
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].caption, "ERROR");
    EXPECT_EQ(dialogs.shown()[0].text, "Load library failed [QMSL_MSVC10R.dll]!");
    EXPECT_EQ(dialogs.shown()[0].icon, platform::DialogIcon::Warning);

    ASSERT_TRUE(testing::WriteTestFile(folder.path() / link::QlibApi::kLibraryFileName, "x"));
    link::QlibApi loaded = link::QlibApi::LoadOrWarn(folder.path(), ports, clock, files, dialogs);
    EXPECT_TRUE(loaded.IsBound());
    EXPECT_EQ(dialogs.shown().size(), 1u);

    // An unbound library fails every call instead of touching a port.
    link::QlibApi none;
    uint16_t status = 3;
    std::vector<uint8_t> buffer(128);
    EXPECT_EQ(none.ConnectServerWithWait(5, 0), 0u);
    EXPECT_FALSE(none.DiagNvReadF(1, 571, buffer, status));
    EXPECT_EQ(status, 3);
}

TEST_F(LibraryNvTest, ConnectWaitsForAPortThatAppearsLate) {
    Start(json::object());
    ports.refused = {"COM5"};
    clock.ScheduleAt(1500, [&] { ports.refused.clear(); });
    const link::QlibHandle handle = qlib.ConnectServerWithWait(5, 2000);
    ASSERT_NE(handle, 0u);
    EXPECT_GE(clock.TickCount(), 1500u);
    EXPECT_TRUE(qlib.IsPhoneConnected(handle));
    qlib.DisconnectServer(handle);
    EXPECT_FALSE(qlib.IsPhoneConnected(handle));

    ports.refused = {"COM5"};
    EXPECT_EQ(qlib.ConnectServerWithWait(5, 2000), 0u);
}

TEST_F(LibraryNvTest, ASilentDeviceIsNotConnected) {
    Start({{"diag", {{"noAnswer", {"0x7C"}}}}});
    const link::QlibHandle handle = qlib.ConnectServerWithWait(5, 2000);
    ASSERT_NE(handle, 0u);
    EXPECT_FALSE(qlib.IsPhoneConnected(handle));
}

TEST_F(LibraryNvTest, ItemsAndRfNvFilesSurviveAWipe) {
    Start(json::object());
    const auto original = DeviceItems();
    ASSERT_EQ(original.size(), 62u);

    link::QlibHandle handle = Connect();
    std::unique_ptr<preserve::NvSlots> slots;
    ASSERT_TRUE(preserve::QlibNvBackup(session, handle, efsFolder, slots));
    qlib.DisconnectServer(handle);
    ASSERT_EQ(reporter.errorCalls, 0) << Failure();
    ASSERT_EQ(slots->count, 62u);
    EXPECT_TRUE(fs::exists(efsFolder / "00020309.efs"));

    Wipe();
    ASSERT_NE(DeviceItems(), original);

    handle = Connect();
    ASSERT_TRUE(preserve::QlibNvRestore(session, handle, slots.get()));
    qlib.DisconnectServer(handle);
    EXPECT_EQ(reporter.errorCalls, 0) << Failure();
    EXPECT_EQ(DeviceItems(), original);
    EXPECT_TRUE(reporter.Has("READ NV ITEM ID:540"));
    EXPECT_FALSE(reporter.Has("WRITE NV ITEM ID:28334"));  // RF files are written without it
    EXPECT_TRUE(reporter.Has("WRITE NV ITEM ID:4212"));
}

TEST_F(LibraryNvTest, RfNvFilesComeBackIntoAWipedFileSystemWithoutTheirFolder) {
    Start(json::object());
    link::QlibHandle handle = Connect();
    std::unique_ptr<preserve::NvSlots> slots;
    preserve::QlibNvBackup(session, handle, efsFolder, slots);
    const auto before = DeviceItems();

    // A device whose file system lost the RF NV folder altogether.
    state = sim::DiagDeviceState::FromScenario({{"efs", {{"rfnvItems", json::array()}}}});
    ASSERT_FALSE(state.efs().IsFolder("nv/item_files/rfnv"));
    preserve::QlibNvRestore(session, handle, slots.get());
    EXPECT_EQ(reporter.errorCalls, 0) << Failure();
    for (const auto& [number, content] : before) {
        if (number < preserve::kFirstRfNvItem) continue;
        EXPECT_EQ(state.efs().FileContent(sim::RfNvFilePath(static_cast<uint32_t>(number))), content) << number;
    }
}

TEST_F(LibraryNvTest, StatusCodesDecideWhatIsKeptAndWhatFails) {
    Start({{"nv", {{"inactive", {4953}}, {"badParameter", {5459}}, {"badTarget", {571}}, {"items",
                                                                                            {{"1864", {{"status", 0x0B}}}}}}}});
    const link::QlibHandle handle = Connect();
    std::unique_ptr<preserve::NvSlots> slots;
    preserve::QlibNvBackup(session, handle, efsFolder, slots);

    EXPECT_TRUE(reporter.Has("Variable was not active"));
    EXPECT_TRUE(reporter.Has("Bad parameter in command block"));
    // The first failure is the run's: item 571 is not valid for this target.
    EXPECT_EQ(Failure(), "Item not valid for Target");
    EXPECT_EQ(reporter.errorCalls, 2);  // and item 1864's unknown code 11

    // The rest of the table is still read; the four refused items are not kept.
    EXPECT_EQ(slots->count, 58u);
    for (size_t i = 0; i < slots->count; ++i) {
        const uint16_t n = slots->slots[i].number;
        EXPECT_TRUE(n != 4953 && n != 5459 && n != 571 && n != 1864) << n;
    }
}

TEST_F(LibraryNvTest, AnRfNvFileThatCannotBeReadIsReportedAndNotRestored) {
    Start({{"diag", {{"efsFaults", {{{"op", "read"}, {"errno", 5}, {"path", "nv/item_files/rfnv/00020309"}}}}}}});
    const link::QlibHandle handle = Connect();
    std::unique_ptr<preserve::NvSlots> slots;
    preserve::QlibNvBackup(session, handle, efsFolder, slots);
    ASSERT_EQ(Failure(), "READ ERROR");
    ASSERT_EQ(reporter.errorCalls, 1);
    EXPECT_EQ(slots->count, 61u);
    EXPECT_FALSE(fs::exists(efsFolder / "00020309.efs"));

    const auto writesBefore = responder->RepliesSent();
    state.efs().Unlink("nv/item_files/rfnv/00020309", 0);
    preserve::QlibNvRestore(session, handle, slots.get());
    EXPECT_GT(responder->RepliesSent(), writesBefore);
    EXPECT_FALSE(state.efs().IsFile("nv/item_files/rfnv/00020309"));
}

TEST_F(LibraryNvTest, RestoreJudgesEachWriteByItsOwnAnswer) {
    Start({{"nv", {{"items", {{"540", {{"writeStatus", 7}}}, {"1864", {{"writeStatus", 8}}}}}}}});
    const link::QlibHandle handle = Connect();
    preserve::NvSlots slots;
    for (uint16_t n : {540, 571, 1864}) slots.slots[slots.count++].number = n;
    preserve::QlibNvRestore(session, handle, &slots);
    EXPECT_TRUE(reporter.Has("Parameter is write-protected and thus read only"));
    EXPECT_EQ(Failure(), "Item not valid for Target");
    EXPECT_EQ(reporter.errorCalls, 1);

    // A write that never reaches the device fails, even right after a good
    // one: its status is not the previous item's.
    reporter.lines.clear();
    reporter.status = 0;
    Start(json::object());
    responder->SetRequestObserver([&](const std::vector<uint8_t>& packet) {
        if (packet[0] == 0x27) device.failWrites = 1000;
    });
    preserve::NvSlots two;
    two.slots[two.count++].number = 571;
    two.slots[two.count++].number = 4212;
    const link::QlibHandle again = Connect();
    preserve::QlibNvRestore(session, again, &two);
    EXPECT_EQ(Failure(), "WRITE ERROR");
    EXPECT_TRUE(reporter.Has("WRITE OK"));
}

TEST_F(LibraryNvTest, WithoutABackupTheRestoreWritesNothing) {
    Start(json::object());
    const link::QlibHandle handle = Connect();
    const auto sent = responder->RepliesSent();
    EXPECT_TRUE(preserve::QlibNvRestore(session, handle, nullptr));
    EXPECT_EQ(responder->RepliesSent(), sent);
    EXPECT_TRUE(reporter.lines.empty());
}

}  // namespace
}  // namespace firmora::testing
