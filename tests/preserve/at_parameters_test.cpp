#include "preserve/at_parameters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fake_serial.h"
#include "package/project_table.h"
#include "platform/files.h"
#include "platform/private_profile.h"
#include "platform/std_files.h"
#include "preserve/at_backup_file.h"
#include "recording_reporter.h"
#include "responder_port.h"
#include "sim/at_device.h"
#include "test_files.h"
#include "test_folder.h"

namespace firmora::preserve {
namespace {

using nlohmann::json;
using testing::FakeSerialPorts;
using testing::RecordingReporter;
using testing::ResponderPort;
using testing::TestFolder;

// The virtual modem behind the run's AT channel, on the virtual clock.
class AtPreserveTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(serial.ReopenAtChannel(4)); }

    void Start(const json& scenario = json::object()) {
        port.reset();  // a device at a time behind the port
        this->scenario = scenario;
        state = sim::AtDeviceState::FromScenario(scenario);
        responder = std::make_unique<sim::AtResponder>(state, scenario);
        port = std::make_unique<ResponderPort>(device, clock, *responder);
    }

    // A default device read and saved into at.bak as a backup does; `saved` gets the file's text.
    void BackUp(AtParameters& params, std::string& saved) {
        Start();
        ASSERT_TRUE(ReadIdentity(session, params));
        ASSERT_TRUE(WriteAtBackup(files, params, options.ProjectIndex, bak, reporter));
        saved = *testing::ReadTestFile(bak);
    }

    // What a download does to the device's stored data.
    void Wipe() { state = sim::AtDeviceState::FactoryFromScenario(scenario); }

    bool Sent(const std::string& line) const {
        const std::vector<std::string>& log = responder->CommandLog();
        return std::find(log.begin(), log.end(), line) != log.end();
    }

    platform::VirtualClock clock;
    FakeSerialPorts ports{clock};
    testing::FakeSerialDevice& device = ports.Device("COM4");
    RecordingReporter reporter;
    package::DownloadOptions options;
    link::SerialChannel serial{link::ChannelRole::At, ports, clock, reporter, options};
    link::AtChannel at{serial, clock, reporter, false};
    platform::StdFiles files;
    AtSession session{serial, at, clock, reporter, options, files};
    TestFolder folder{"at-preserve"};
    std::filesystem::path bak = folder.path() / "at.bak";

    json scenario;
    sim::AtDeviceState state;
    std::unique_ptr<sim::AtResponder> responder;
    std::unique_ptr<ResponderPort> port;
};

TEST_F(AtPreserveTest, BackupThenRestoreRebuildsAWipedDevice) {
    options.ProjectIndex = 8;  // a product with CLLEN, MVREQ and GMI
    Start({{"at", {{"contexts", {"1,\"IPV4V6\",\"internet\",\"0.0.0.0\",0,0", "3,\"IP\",\"corp.apn\""}}}}});
    const sim::AtDeviceState original = state;

    AtParameters params;
    ASSERT_TRUE(ReadIdentity(session, params));
    EXPECT_EQ(params.CleanSn(), original.sn);
    EXPECT_EQ(params.CleanImei(), original.imei);
    EXPECT_EQ(params.apns[0], "1,\"IPV4V6\",\"internet\",\"0.0.0.0\",0,0");
    EXPECT_EQ(params.apns[1], "");
    EXPECT_EQ(params.apns[2], "3,\"IP\",\"corp.apn\"");
    ASSERT_TRUE(WriteAtBackup(files, params, options.ProjectIndex, bak, reporter));

    const platform::IniDocument file = platform::IniDocument::Load(files, bak);
    EXPECT_EQ(file.Get("BACKUP", "bIMEI"), "1");
    EXPECT_EQ(file.Get("BACKUP", "bMEID"), "0");
    EXPECT_EQ(file.Get("Data", "SN"), original.sn);
    EXPECT_EQ(file.Get("Data", "CLLEN"), original.cllen);  // line breaks held, first line kept
    EXPECT_EQ(file.Get("Data", "APN2"), std::nullopt);
    EXPECT_EQ(file.Get("Data", "MEID"), std::nullopt);

    Wipe();
    ASSERT_NE(state, original);
    ASSERT_TRUE(RestoreAtParameters(session, params, bak));

    EXPECT_EQ(state, original);
    EXPECT_TRUE(reporter.Errors().empty()) << reporter.Errors().front();
    EXPECT_TRUE(Sent("AT+MVTSN=1,7,\"" + original.imei + "\""));
    EXPECT_TRUE(Sent("AT+CGDCONT=3,\"IP\",\"corp.apn\""));
    EXPECT_FALSE(Sent("AT+CGDCONT=2"));
    EXPECT_TRUE(reporter.Has("Restore PLMN"));
}

TEST_F(AtPreserveTest, AnImeiOfZerosOrNoneIsNotCountedAsRead) {
    // The device answers "+MVTSN: 000000000000000": the blank is no part of it.
    for (const std::string wiped : {"000000000000000", "\"000000000000000\"", "  ", ""}) {
        SCOPED_TRACE(wiped);
        Start({{"identity", {{"imei", wiped}}}});
        AtParameters params;
        EXPECT_FALSE(ReadIdentity(session, params));
        EXPECT_TRUE(reporter.Has("Read IMEI"));
        EXPECT_FALSE(params.imei.read);
        EXPECT_TRUE(params.sn.read);
    }
    EXPECT_TRUE(reporter.Errors().empty());

    // The second IMEI, the MEID and the Bluetooth address count only when
    // something is left after the blanks and quotes.
    options.ProjectIndex = package::kProjectZP360;
    Start({{"identity", {{"imei1", " \"\" "}, {"meid", " "}, {"bluetoothAddress", "\" \""}}}});
    AtParameters blank;
    ASSERT_TRUE(ReadIdentity(session, blank));
    EXPECT_TRUE(reporter.Has("Read IMEI_1"));
    EXPECT_FALSE(blank.imei1.read);
    EXPECT_FALSE(blank.bluetoothAddress.read);
    options.PlatformType = 2;
    ASSERT_TRUE(ReadIdentity(session, blank));
    EXPECT_TRUE(reporter.Has("Read MEID"));
    EXPECT_FALSE(blank.meid.read);

    // A CDMA product reads the MEID instead and never asks for the IMEI.
    options.ProjectIndex = -1;
    Start({{"identity", {{"meid", "A0000012345678"}}}});
    AtParameters params;
    ASSERT_TRUE(ReadIdentity(session, params));
    EXPECT_FALSE(params.imei.read);
    EXPECT_TRUE(params.meid.read);
    EXPECT_EQ(params.CleanMeid(), "A0000012345678");
    EXPECT_EQ(std::count(responder->CommandLog().begin(), responder->CommandLog().end(), "AT+MVTSN=0,7"), 0);
}

TEST_F(AtPreserveTest, SavedValuesAreSentQuotedAndEmptyOnesSkipped) {
    Start();
    platform::IniDocument file;
    file.Set("Data", "SN", " \"SN-77 A\" ");
    file.Set("Data", "ESN", "");
    ASSERT_TRUE(file.Save(files, bak));

    AtParameters params;
    params.sn.read = true;
    params.esn.read = true;  // saved empty
    ASSERT_TRUE(RestoreAtParameters(session, params, bak));

    EXPECT_TRUE(Sent("AT+MVTSN=1,5,\"SN-77 A\""));
    EXPECT_EQ(state.sn, "SN-77 A");
    EXPECT_TRUE(reporter.Has("ESN Empty."));
    EXPECT_FALSE(Sent("AT+MVTSN=1,8,\"\""));
    EXPECT_TRUE(reporter.Has("Serial port ready"));
    EXPECT_TRUE(reporter.Errors().empty());
}

TEST_F(AtPreserveTest, AValueTheBackupFileLostIsNeverWrittenAsEmpty) {
    AtParameters params;
    std::string saved;
    ASSERT_NO_FATAL_FAILURE(BackUp(params, saved));
    Wipe();
    const sim::AtDeviceState wiped = state;

    struct Case {
        const char* key;
        bool goesOn;  // whether the rows after it are still written
    };
    for (const Case& c : {Case{"SN", false}, Case{"IMEI", false}, Case{"WifiCal", false},
                          Case{"SalesInfo", true}, Case{"TESTINF", false}, Case{"UIT89", false}}) {
        SCOPED_TRACE(c.key);
        platform::IniDocument file = platform::IniDocument::Parse(saved);
        ASSERT_TRUE(file.Remove("Data", c.key));
        ASSERT_TRUE(file.Save(files, bak));
        state = wiped;
        reporter.lines.clear();
        reporter.status = core::kRunHealthy;
        const size_t before = responder->CommandLog().size();

        EXPECT_EQ(RestoreAtParameters(session, params, bak), c.goesOn);
        ASSERT_FALSE(reporter.Errors().empty());
        EXPECT_NE(reporter.Errors()[0].find("at.bak holds no saved " + std::string(c.key)), std::string::npos)
            << reporter.Errors()[0];
        EXPECT_NE(reporter.RunStatus(), core::kRunHealthy);
        // Nothing went out in its place, not even an empty text.
        for (size_t i = before; i < responder->CommandLog().size(); ++i) {
            EXPECT_EQ(responder->CommandLog()[i].find("\"\""), std::string::npos) << responder->CommandLog()[i];
        }
        EXPECT_EQ(state.uit89 == wiped.uit89, !c.goesOn);  // the last row: written only when the restore went on
        if (c.goesOn) {
            EXPECT_EQ(state.salesInfo, wiped.salesInfo);
        }
    }
}

TEST_F(AtPreserveTest, ABackupFileThatCannotBeReadWritesNothing) {
    Start();
    AtParameters params;
    ASSERT_TRUE(ReadIdentity(session, params));
    const size_t before = responder->CommandLog().size();

    // No file, and a folder where the file should be.
    EXPECT_FALSE(RestoreAtParameters(session, params, bak));
    std::filesystem::create_directories(bak);
    EXPECT_FALSE(RestoreAtParameters(session, params, bak));

    EXPECT_EQ(responder->CommandLog().size(), before);
    ASSERT_EQ(reporter.Errors().size(), 1u);
    EXPECT_NE(reporter.Errors()[0].find("Could not read " + bak.string()), std::string::npos) << reporter.Errors()[0];
}

TEST_F(AtPreserveTest, AValueWithAControlCharacterStopsTheRestoreBeforeAnyWrite) {
    AtParameters params;
    std::string saved;
    ASSERT_NO_FATAL_FAILURE(BackUp(params, saved));
    const size_t before = responder->CommandLog().size();

    struct Case {
        std::string key;
        std::function<void()> spoil;
    };
    AtParameters held = params;
    const std::vector<Case> cases = {
        // A later key of the file: the check covers the whole set before the SN goes out.
        {"UIT89",
         [&] {
             std::string text = saved;
             const size_t at = text.find("\nUIT89=");
             text.insert(text.find("\r\n", at + 1), "\"\rAT+CFUN=4\rAT+X=\"");
             ASSERT_TRUE(testing::WriteTestFile(bak, text));
         }},
        {"SN",
         [&] {
             std::string text = saved;
             text.insert(text.find("\r\n", text.find("\nSN=") + 1), std::string("\x1b", 1));
             ASSERT_TRUE(testing::WriteTestFile(bak, text));
         }},
        {"APN2", [&] { held.apns[1] += "\nAT+CFUN=4"; }},
        {"mode", [&] { held.mode += "\t"; }},
        {"SimLockValue",
         [&] {
             options.bSimLockOn = true;
             options.SimLockMode = 1;
             options.SimLockValue = "46001\rAT+CFUN=4";
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        ASSERT_TRUE(testing::WriteTestFile(bak, saved));
        held = params;
        options.bSimLockOn = false;
        reporter.lines.clear();
        reporter.status = core::kRunHealthy;
        c.spoil();

        EXPECT_FALSE(RestoreAtParameters(session, held, bak));
        ASSERT_EQ(reporter.Errors().size(), 1u);
        EXPECT_NE(reporter.Errors()[0].find("The saved " + c.key + " holds a line break or another control character"),
                  std::string::npos)
            << reporter.Errors()[0];
        EXPECT_EQ(responder->CommandLog().size(), before);
        EXPECT_EQ(state.cfun, 1);
    }
}


// Without any control character a value can still chain commands: a quote
// of its own ends the string early and a semicolon starts the next command
// on the same line.
TEST_F(AtPreserveTest, AValueThatWouldChainAnotherCommandStopsTheRestoreBeforeAnyWrite) {
    AtParameters params;
    std::string saved;
    ASSERT_NO_FATAL_FAILURE(BackUp(params, saved));
    const size_t before = responder->CommandLog().size();

    const auto replaceSn = [&](const std::string& value) {
        std::string text = saved;
        const size_t start = text.find("\nSN=") + 4;
        text.replace(start, text.find("\r\n", start) - start, value);
        ASSERT_TRUE(testing::WriteTestFile(bak, text));
    };
    struct Case {
        std::string key;
        std::string why;
        std::function<void(AtParameters&)> spoil;
    };
    const std::vector<Case> cases = {
        {"SN", "a semicolon that would start another command",
         [&](AtParameters&) { replaceSn("FM9X15A0012345\";+CFUN=4;+MVTSN=1,5,\"X"); }},
        {"SN", "a quote without its end", [&](AtParameters&) { replaceSn("FM9X15\"A0012345"); }},
        {"APN2", "a semicolon that would start another command",
         [&](AtParameters& held) { held.apns[1] = "2,\"IP\",\"internet\";+CFUN=4"; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key + ": " + c.why);
        ASSERT_TRUE(testing::WriteTestFile(bak, saved));
        AtParameters held = params;
        reporter.lines.clear();
        reporter.status = core::kRunHealthy;
        c.spoil(held);

        EXPECT_FALSE(RestoreAtParameters(session, held, bak));
        ASSERT_EQ(reporter.Errors().size(), 1u);
        EXPECT_NE(reporter.Errors()[0].find("The saved " + c.key + " holds " + c.why), std::string::npos)
            << reporter.Errors()[0];
        EXPECT_EQ(responder->CommandLog().size(), before);
        EXPECT_EQ(state.cfun, 1);
    }

    // A semicolon inside a quoted string is text, and goes back as it was saved.
    ASSERT_TRUE(testing::WriteTestFile(bak, saved));
    replaceSn("SN;0012345");
    reporter.lines.clear();
    reporter.status = core::kRunHealthy;
    EXPECT_TRUE(RestoreAtParameters(session, params, bak)) << reporter.Errors().size();
}
TEST_F(AtPreserveTest, TheNetworkLockComesFromTheConfiguration) {
    Start();
    ASSERT_TRUE(testing::WriteTestFile(bak, ""));
    options.bSimLockOn = true;
    options.SimLockValue = "46001";

    options.SimLockMode = 1;
    ASSERT_TRUE(RestoreAtParameters(session, AtParameters{}, bak));
    EXPECT_EQ(state.networkLock, "46001");

    options.SimLockMode = 0;
    ASSERT_TRUE(RestoreAtParameters(session, AtParameters{}, bak));
    EXPECT_TRUE(Sent("AT+NWLSET=0"));
    EXPECT_EQ(state.networkLock, "0");
    EXPECT_TRUE(reporter.Has("Write SIMLOCK successfully"));
}

TEST_F(AtPreserveTest, AnUnsupportedProductWriteIsNoFailure) {
    options.ProjectIndex = 10;
    Start({{"at", {{"faults", {{{"command", "AT+CLLEN="}, {"reply", "error"}}}}}}});
    AtParameters params;
    ASSERT_TRUE(ReadIdentity(session, params));
    ASSERT_TRUE(WriteAtBackup(files, params, options.ProjectIndex, bak, reporter));
    Wipe();

    ASSERT_TRUE(RestoreAtParameters(session, params, bak));
    EXPECT_TRUE(reporter.Has("Could not support command:CLLEN"));
    EXPECT_EQ(state.mvreq, sim::AtDeviceState{}.mvreq);
    EXPECT_TRUE(reporter.Errors().empty());
}

TEST_F(AtPreserveTest, ABackupTheSystemRefusesFailsTheRun) {
    Start();
    AtParameters params;
    ASSERT_TRUE(ReadIdentity(session, params));
    const std::filesystem::path refused = folder.path() / "missing" / "at.bak";

    EXPECT_FALSE(WriteAtBackup(files, params, options.ProjectIndex, refused, reporter));
    ASSERT_EQ(reporter.Errors().size(), 1u);
    EXPECT_NE(reporter.Errors()[0].find("Unable to write to " + refused.string()), std::string::npos);
    EXPECT_NE(reporter.RunStatus(), core::kRunHealthy);
    EXPECT_FALSE(std::filesystem::exists(refused));
}

TEST(AtParameterText, ContextsAndTestInformation) {
    // Context 10 is not context 1; a context above 16 is left out; contexts
    // listed out of order are each found, and take nothing from their neighbours.
    const auto apns = ParseContexts("+CGDCONT: 10,\"IP\",\"ten\"\r\n+CGDCONT: 3,\"IP\",\"three\"\r\n"
                                    "+CGDCONT: 17,\"IP\",\"x\"\r\n+CGDCONT: 1,\"IP\",\"one\"\r\n");
    EXPECT_EQ(apns[0], "1,\"IP\",\"one\"");
    EXPECT_EQ(apns[2], "3,\"IP\",\"three\"");
    EXPECT_EQ(apns[9], "10,\"IP\",\"ten\"");
    EXPECT_EQ(std::count(apns.begin(), apns.end(), ""), kMaxApns - 3);

    // A tag inside another line's text names no context: context 2 is the
    // line the device lists, not what context 1's text happens to hold, and
    // context 3 is not listed at all.
    const auto named = ParseContexts("+CGDCONT: 1,\"IP\",\"a+CGDCONT: 2,x+CGDCONT: 3,y\"\r\n"
                                     "+CGDCONT: 2,\"IP\",\"two\"\r\n");
    EXPECT_EQ(named[0], "1,\"IP\",\"a+CGDCONT: 2,x+CGDCONT: 3,y\"");
    EXPECT_EQ(named[1], "2,\"IP\",\"two\"");
    EXPECT_EQ(named[2], "");

    EXPECT_EQ(CleanTestInformation("cal:pass,uit87:pass\r\n", false), "CAL:PASS");
    EXPECT_EQ(CleanTestInformation("cal:pass,uit87:pass\r\n", true), "CAL:PASS,UIT87:PASS");
    EXPECT_EQ(CleanTestInformation("UIT89:FAIL,CAL:PASS", false), ",CAL:PASS");
}

}  // namespace
}  // namespace firmora::preserve
