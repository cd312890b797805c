#include "preserve/diag_nv.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "link/hdlc_codec.h"
#include "preserve/nv_backup_file.h"
#include "preserve/nv_status.h"
#include "sim_diag_stack.h"
#include "test_folder.h"

namespace firmora::testing {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using preserve::NvRecord;
using preserve::NvStatusRules;
using preserve::NvTable;

std::vector<int32_t> Numbers(const NvTable& table) {
    std::vector<int32_t> out;
    for (const auto& entry : table) out.push_back(entry.number);
    return out;
}

class DiagNvTest : public SimDiagStack {
protected:
    // Reads every record of nv.bak.
    std::vector<NvRecord> Records() const {
        std::ifstream in(session.backupFile, std::ios::binary);
        const Bytes bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        std::vector<NvRecord> out;
        for (size_t at = 0; at + preserve::kNvRecordBytes <= bytes.size(); at += preserve::kNvRecordBytes) {
            out.push_back(preserve::DecodeNvRecord(std::span(bytes).subspan(at).first<preserve::kNvRecordBytes>()));
        }
        return out;
    }
    void WriteBackup(const std::vector<NvRecord>& records, size_t extraBytes = 0) const {
        std::ofstream out(session.backupFile, std::ios::binary);
        for (const NvRecord& r : records) {
            out.write(reinterpret_cast<const char*>(EncodeNvRecord(r).data()), preserve::kNvRecordBytes);
        }
        out << std::string(extraBytes, 'x');
    }
    sim::NvData DeviceData(uint16_t item) const { return state.nv().Get(item).data; }
    void Fresh() { reporter.Clear(); }
    bool HasError(const std::string& text) const {
        const auto errors = reporter.Errors();
        return !errors.empty() && errors.front().rfind("ERROR, " + text + ", Error code: ", 0) == 0;
    }

    TestFolder folder{"nv"};
    preserve::ProductNvTables tables{{{141, "NV_THERM_I"}, {5479, "NV_ENH_THERM_I"}},
                                     {{5609, "LTE_SEG1"}, {20216, "LTE_B40"}},
                                     {{74, "NV_AUTO_ANSWER_I"}, {3649, "NV_DPA_OR_UPA_I"}, {4994, "V3"},
                                      {1, ""}, {9, "X"}}};
    preserve::DiagNvState nv;
    preserve::NvSession session{framer, clock, reporter, options, tables, files, folder.path() / "nv.bak"};
};

TEST_F(DiagNvTest, PrepareNvTablePicksTheListsOfTheProject) {
    const NvTable& cdma = preserve::CdmaNvTable();
    auto plus = [](NvTable a, const NvTable& b) { a.insert(a.end(), b.begin(), b.end()); return a; };
    struct Case { int index, platform; bool rtrecfg; const char* lteType; NvTable expected; };
    const Case cases[] = {
        {1013, 0, false, "", tables.defaults},
        {1013, 0, false, "LTE", plus(tables.defaults, tables.lte)},
        {5, 3, false, "LTE", plus(tables.lte, tables.lte)},
        {5, 2, false, "", cdma},
        {38, 0, true, "", cdma},
        {36, 0, true, "", plus(cdma, preserve::CdmaIdentityNvTable())},
    };
    for (const Case& c : cases) {
        options.ProjectIndex = c.index;
        options.PlatformType = c.platform;
        options.RTRECFG = c.rtrecfg;
        options.strLTEType = c.lteType;
        nv.SavedNvList = {{1, "old"}};
        preserve::PrepareNvTable(options, tables, nv);
        EXPECT_EQ(Numbers(nv.NvItemTable), Numbers(c.expected)) << c.index << "/" << c.platform;
        EXPECT_TRUE(nv.SavedNvList.empty());
    }
    // The vendor variant keeps the last table; an overlong one is cut.
    options.ProjectIndex = 12;
    options.IsVendrix = true;
    preserve::PrepareNvTable(options, tables, nv);
    EXPECT_EQ(Numbers(nv.NvItemTable), Numbers(plus(cdma, preserve::CdmaIdentityNvTable())));
    options.IsVendrix = false;
    options.strLTEType = "LTE";
    tables.defaults.assign(1400, {7, "D"});
    tables.lte.assign(200, {8, "L"});
    preserve::PrepareNvTable(options, tables, nv);
    EXPECT_EQ(nv.NvItemTable.size(), preserve::kMaxNvTableEntries);
}

TEST_F(DiagNvTest, CdmaItemsSurviveAWipeAndUitItemsOnlyWhereKept) {
    struct Case { int index; bool newWays; bool uit; };
    for (const Case c : {Case{38, false, true}, Case{36, false, false}, Case{38, true, false}}) {
        Start(json::object());
        Fresh();
        options.ProjectIndex = c.index;
        options.UIT_NewWays = c.newWays;
        preserve::PrepareNvTable(options, tables, nv);
        ASSERT_TRUE(preserve::DiagNvBackup(session, nv)) << reporter.Errors().front();
        const std::vector<NvRecord> saved = Records();
        ASSERT_EQ(nv.SavedNvList.size(), saved.size());
        const size_t uitCount = std::count_if(saved.begin(), saved.end(),
                                              [](const NvRecord& r) { return r.number == 6503 || r.number == 6504; });
        EXPECT_EQ(uitCount, c.uit ? 2u : 0u) << c.index;
        EXPECT_EQ(saved.size(), preserve::CdmaNvTable().size() - (c.uit ? 0 : 2));
        for (const NvRecord& r : saved) ASSERT_EQ(r.data, DeviceData(r.number)) << r.number;
        EXPECT_TRUE(reporter.Has("[1738]" + preserve::CdmaNvTable()[2].name + ": OK"));
        EXPECT_TRUE(reporter.Has("Backup NV......OK"));
    }

    state = sim::DiagDeviceState::FactoryFromScenario(json::object());
    const std::vector<NvRecord> saved = Records();
    ASSERT_NE(DeviceData(saved[0].number), saved[0].data);
    ASSERT_TRUE(preserve::DiagNvRestore(session, nv));
    for (const NvRecord& r : saved) EXPECT_EQ(DeviceData(r.number), r.data) << r.number;
    EXPECT_TRUE(reporter.Has("Restore NV......OK"));
    EXPECT_TRUE(reporter.Errors().empty());
}

TEST_F(DiagNvTest, LteTypeSavesTheLteItemsTwice) {
    Start(json::object());
    options.PlatformType = 3;
    options.strLTEType = "LTE";
    preserve::PrepareNvTable(options, tables, nv);
    ASSERT_TRUE(preserve::DiagNvBackup(session, nv));
    std::vector<int32_t> numbers;
    for (const NvRecord& r : Records()) numbers.push_back(r.number);
    EXPECT_EQ(numbers, (std::vector<int32_t>{5609, 20216, 5609, 20216}));
}

TEST_F(DiagNvTest, VendorVariantSavesInactiveItemsAndStopsAtTheUnnamedEntry) {
    const json scenario = {
        {"nv", {{"inactive", {3649}}, {"items", {{"4994", {{"data", "01 02"}, {"writeStatus", 6}}}}}}}};
    Start(scenario);
    ASSERT_TRUE(preserve::DiagNvBackupVendor(session));
    const std::vector<NvRecord> saved = Records();
    ASSERT_EQ(saved.size(), 3u);
    EXPECT_EQ(saved[1].number, 3649);
    EXPECT_EQ(saved[1].data, sim::NvData{});
    EXPECT_TRUE(reporter.Has("[3649]NV_DPA_OR_UPA_I:NV status Error Received:Item inactive"));
    EXPECT_FALSE(reporter.Has("Success to backup NV......"));
    EXPECT_FALSE(reporter.Has("[74]NV_AUTO_ANSWER_I: OK"));

    state = sim::DiagDeviceState::FactoryFromScenario(scenario);
    ASSERT_TRUE(preserve::DiagNvRestoreVendor(session));
    EXPECT_EQ(DeviceData(74), saved[0].data);
    EXPECT_TRUE(reporter.Has("[4994]V3:Bad parameter in command block"));
    EXPECT_TRUE(reporter.Errors().empty());
}

TEST_F(DiagNvTest, StatusIsJudgedHighByteFirst) {
    struct Case { uint16_t status; NvStatusRules rules; int result; std::vector<std::string> lines; bool failed; };
    const Case cases[] = {
        {0x0000, NvStatusRules::Backup, 0, {"P: OK"}, false},
        {0x0005, NvStatusRules::Backup, 5, {"P: OK", "P:NV status Error Received:Item inactive"}, false},
        {0x0600, NvStatusRules::Backup, 6, {"P:Bad parameter in command block"}, false},
        {0x000B, NvStatusRules::Backup, 100, {"P: OK", "P:Unkown error"}, true},
        {0x0100, NvStatusRules::Backup, 1, {"P:Internal DMSS use"}, true},
        {0x0506, NvStatusRules::Vendor, 0,
         {"P:NV status Error Received:Item inactive", "P:Bad parameter in command block"}, false},
        {0x0006, NvStatusRules::Custom, 6, {"P:Bad parameter in command block"}, true},
    };
    for (const Case& c : cases) {
        Fresh();
        EXPECT_EQ(preserve::DiagNvStatus(reporter, c.status, "P", c.rules), c.result) << c.status;
        std::vector<std::string> texts;
        for (const auto& line : reporter.lines) {
            const bool error = line.kind == core::kReportError;
            texts.push_back(error ? line.text.substr(7, line.text.find(", Error code") - 7) : line.text);
        }
        EXPECT_EQ(texts, c.lines) << c.status;
        EXPECT_EQ(reporter.RunStatus() != 0, c.failed) << c.status;
    }
}

TEST_F(DiagNvTest, BackupLeavesOutAbsentItemsAndEndsAtABadOne) {
    Start({{"nv", {{"inactive", {100}}, {"badParameter", {101}}, {"badTarget", {103}}}}});
    nv.NvItemTable = {{100, "A"}, {101, "B"}, {102, "C"}, {103, "D"}, {104, "E"}};
    EXPECT_FALSE(preserve::DiagNvBackup(session, nv));
    ASSERT_EQ(Records().size(), 1u);
    EXPECT_EQ(Records()[0].data, DeviceData(102));
    EXPECT_EQ(Numbers(nv.SavedNvList), (std::vector<int32_t>{102}));
    EXPECT_TRUE(reporter.Has("[101]B:Bad parameter in command block"));
    EXPECT_TRUE(HasError("[103]D:Item not defined for this target"));
    EXPECT_FALSE(reporter.Has("Backup NV......OK"));
}

TEST_F(DiagNvTest, RestoreStopsAsAFailureAtAnItemTheDeviceRefuses) {
    for (const uint16_t refusal : {8, 5, 0x0B}) {
        Start({{"nv", {{"items", {{"201", {{"writeStatus", refusal}}}}}}}});
        Fresh();
        nv.SavedNvList = {{200, "X"}, {201, "Y"}};
        NvRecord first{200, {}}, second{201, {}}, third{202, {}};
        first.data.fill(0x11);
        third.data.fill(0x33);
        WriteBackup({first, second, third});
        EXPECT_FALSE(preserve::DiagNvRestore(session, nv));
        EXPECT_EQ(DeviceData(200), first.data);
        EXPECT_NE(DeviceData(202), third.data) << "written after the refusal";
        EXPECT_TRUE(HasError("[201]Y" + preserve::DiagNvStatusText(refusal))) << refusal;
    }
}

TEST_F(DiagNvTest, BackupFileSizeDecidesBeforeAnythingIsWritten) {
    Start(json::object());
    NvRecord a{300, {}}, b{0x7E7D, {}};  // b's number needs escaping on the wire
    a.data.fill(0xA5);
    b.data.fill(0x7E);
    WriteBackup({a, b});
    ASSERT_TRUE(preserve::DiagNvRestore(session, nv));
    EXPECT_EQ(DeviceData(300), a.data);
    EXPECT_EQ(DeviceData(0x7E7D), b.data);
    EXPECT_TRUE(reporter.Has("[32381]: OK"));  // past the saved list: named by its number

    const std::string path = session.backupFile.string();
    WriteBackup({b, b}, 1);
    const size_t written = device.writes.size();
    EXPECT_FALSE(preserve::DiagNvRestore(session, nv));
    EXPECT_TRUE(HasError("backup file size error: " + path));
    EXPECT_EQ(device.writes.size(), written);

    Fresh();
    WriteBackup({});
    EXPECT_FALSE(preserve::DiagNvRestore(session, nv));
    EXPECT_TRUE(reporter.Has("Backup file length <= 0"));
    EXPECT_EQ(reporter.RunStatus(), 0);
    fs::remove(session.backupFile);
    EXPECT_FALSE(preserve::DiagNvRestore(session, nv));
    EXPECT_TRUE(HasError("Could not open backup file: " + path));
}

TEST_F(DiagNvTest, RestoreRefusesALinkedOrOverlongBackupFileBeforeWritingAnything) {
    Start(json::object());
    NvRecord a{300, {}};
    a.data.fill(0xA5);
    const std::string path = session.backupFile.string();
    const fs::path elsewhere = folder.path() / "elsewhere.bak";
    WriteBackup({a});
    fs::rename(session.backupFile, elsewhere);
    fs::create_symlink(elsewhere, session.backupFile);
    const size_t written = device.writes.size();
    EXPECT_FALSE(preserve::DiagNvRestore(session, nv));
    EXPECT_TRUE(HasError("Could not open backup file: " + path));
    EXPECT_TRUE(reporter.Has(path + " is a symbolic link"));

    // More records than any backup writes.
    Fresh();
    fs::remove(session.backupFile);
    WriteBackup(std::vector<NvRecord>(preserve::kMaxNvTableEntries + 1, a));
    EXPECT_FALSE(preserve::DiagNvRestore(session, nv));
    EXPECT_TRUE(HasError("Could not open backup file: " + path));
    EXPECT_EQ(device.writes.size(), written);
    EXPECT_NE(DeviceData(300), a.data);
}

TEST_F(DiagNvTest, AnUnwritableBackupFileFailsTheRun) {
    Start(json::object());
    nv.NvItemTable = {{100, "A"}};
    session.backupFile = folder.path() / "missing" / "nv.bak";
    EXPECT_FALSE(preserve::DiagNvBackup(session, nv));
    EXPECT_TRUE(HasError("Fail to create......"));
    Fresh();
    session.backupFile = "/dev/full";
    EXPECT_FALSE(preserve::DiagNvBackup(session, nv));
    EXPECT_TRUE(HasError("Fail to write NV......"));
}

TEST_F(DiagNvTest, RepliesThatAnswerSomethingElseAreReadAgain) {
    Start({{"diag", {{"corruptCrcReplies", {1}}}}});
    nv.NvItemTable = {{100, "A"}};
    // Before the device's own replies: a full reply about item 101, then a
    // reply about item 100 cut short inside its data.
    Bytes other{0x26, 101, 0};
    other.resize(133, 0xEE);
    Bytes cut(other.begin(), other.begin() + 60);
    cut[1] = 100;
    const std::vector<Bytes> strays = {other, cut};
    size_t request = 0;
    device.responder = [&](const Bytes& written) {
        if (request < strays.size()) {
            device.Deliver(link::EncodeHdlcFrame(strays[request]), 5);
        } else {
            responder->OnHostBytes(written.data(), written.size(), *port);
        }
        ++request;
    };
    const uint64_t started = clock.TickCount();
    ASSERT_TRUE(preserve::DiagNvBackup(session, nv));
    ASSERT_EQ(Records().size(), 1u);
    EXPECT_EQ(Records()[0].data, DeviceData(100));
    EXPECT_EQ(request, 4u);  // two strays, a reply with a bad CRC, the reply
    EXPECT_GE(clock.TickCount() - started, 3 * preserve::kNvRetryPauseMs);
}

TEST_F(DiagNvTest, ASilentDeviceCostsEveryAttemptOnTheClock) {
    Start({{"diag", {{"noAnswer", {"0x26", "0x27"}}}}});
    struct Case { const char* what; int attempts, pauses; std::string error; };
    nv.NvItemTable = {{100, "A"}};
    options.NVItemList = {"6853:01"};
    for (const Case& c : {Case{"backup", 99, 98, "[100]A:Fail to backup NV"},
                          Case{"restore", 99, 97, "[100]A:Fail to restore NV"},
                          Case{"configured", 50, 48, "[6853]:Fail to write NV"}}) {
        Fresh();
        if (c.what == std::string("restore")) {
            WriteBackup({NvRecord{100, {}}});
            nv.SavedNvList = {{100, "A"}};
        }
        const size_t writes = device.writes.size();
        const uint64_t started = clock.TickCount();
        if (c.what == std::string("backup")) preserve::DiagNvBackup(session, nv);
        if (c.what == std::string("restore")) preserve::DiagNvRestore(session, nv);
        if (c.what == std::string("configured")) preserve::WriteConfiguredNvItems(session);
        EXPECT_EQ(device.writes.size() - writes, static_cast<size_t>(c.attempts)) << c.what;
        const uint64_t reads = clock.TickCount() - started - c.pauses * preserve::kNvRetryPauseMs;
        EXPECT_GE(reads, c.attempts * 5000u) << c.what;
        EXPECT_LT(reads, c.attempts * 5100u) << c.what;
        EXPECT_TRUE(HasError(c.error)) << c.what;
    }

    // Stop ends the retries at once.
    Fresh();
    responder->SetRequestObserver([&](const Bytes&) { reporter.status = core::kRunStopped; });
    const uint64_t started = clock.TickCount();
    preserve::DiagNvBackup(session, nv);
    EXPECT_LT(clock.TickCount() - started, 6000u);
}

TEST_F(DiagNvTest, StopAfterAnItemEndsTheBackupWithAnErrorLine) {
    Start({{"diag", {{"latencyMs", 0}}}});
    nv.NvItemTable = {{100, "A"}, {101, "B"}, {102, "C"}};
    responder->SetRequestObserver([&](const Bytes& request) {
        if (request[1] == 101) reporter.status = core::kRunStopped;
    });
    EXPECT_FALSE(preserve::DiagNvBackup(session, nv));
    EXPECT_EQ(Records().size(), 2u);
    EXPECT_EQ(reporter.Errors(), std::vector<std::string>{"Fail to backup NV......"});
}

TEST_F(DiagNvTest, ConfiguredItemsAreWrittenFromTheirHexText) {
    Start(json::object());
    const sim::NvData before56 = DeviceData(6856), before57 = DeviceData(6857);
    options.NVItemList = {"6853:01,A0,FF", "6854:\"0A\",\"B0\"", "6855: 01, 02 ,03 04", "6856:1,2", "6857:01"};
    preserve::WriteConfiguredNvItems(session);
    auto expect = [&](uint16_t item, Bytes head) {
        sim::NvData data{};
        std::copy(head.begin(), head.end(), data.begin());
        EXPECT_EQ(DeviceData(item), data) << item;
    };
    expect(6853, {0x01, 0xA0, 0xFF});
    expect(6854, {0x0A, 0xB0});
    expect(6855, {1, 2, 3, 4});
    EXPECT_TRUE(reporter.Has("[6853]Write NV......OK"));
    // A bad byte fails the run and keeps the device's own value.
    EXPECT_TRUE(HasError("String to hex failed!"));
    EXPECT_EQ(reporter.errorCalls, 2);
    EXPECT_EQ(DeviceData(6856), before56);
    EXPECT_EQ(DeviceData(6857), before57) << "the run had failed";
}

TEST_F(DiagNvTest, ABrokenConfiguredEntryEndsTheList) {
    Start(json::object());
    const sim::NvData before = DeviceData(7000);
    const std::string tooLong = "7000:" + std::string(128 * 3, ',');
    // The entry after the broken one is broken too: a list that went on
    // would report it.
    struct Case { std::string entry, error; bool endsList; };
    const Case cases[] = {
        {"7000", "NVID is not contained in the configration!", true},
        {":01", "NVID is not contained in the configration!", true},
        {"7000:", "NVData is is incorrect!", true},
        {"70A0:01", "NVID is not a number: 70A0:01", true},
        {"70000:01", "NVID is not a number: 70000:01", true},
        {tooLong, "NVData length is incorrect!", false},
    };
    for (const Case& c : cases) {
        Fresh();
        options.NVItemList = {c.entry, "7000"};
        preserve::WriteConfiguredNvItems(session);
        EXPECT_TRUE(HasError(c.error)) << c.entry;
        EXPECT_EQ(DeviceData(7000), before) << c.entry;
        EXPECT_EQ(reporter.errorCalls, c.endsList ? 1 : 2) << c.entry;
    }
    EXPECT_EQ(preserve::SplitConfiguredNvData(" 01,,02 ,"), (std::vector<std::string>{"01", "", "02", ""}));
    EXPECT_EQ(preserve::SplitConfiguredNvData("\"0 1\" 02, "), (std::vector<std::string>{"0 1", "02"}));
}

}  // namespace
}  // namespace firmora::testing
