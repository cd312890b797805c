#include "preserve/at_parameters.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "fake_serial.h"
#include "platform/private_profile.h"
#include "platform/std_files.h"
#include "preserve/at_backup_file.h"
#include "recording_reporter.h"
#include "responder_port.h"
#include "sim/at_device.h"
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
        this->scenario = scenario;
        state = sim::AtDeviceState::FromScenario(scenario);
        responder = std::make_unique<sim::AtResponder>(state, scenario);
        port = std::make_unique<ResponderPort>(device, clock, *responder);
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
    Start({{"identity", {{"imei", "000000000000000"}, {"meid", "A0000012345678"}}}});
    AtParameters params;
    EXPECT_FALSE(ReadIdentity(session, params));
    EXPECT_TRUE(reporter.Has("Read IMEI"));
    EXPECT_FALSE(params.imei.read);
    EXPECT_TRUE(params.sn.read);

    // A CDMA product reads the MEID instead and never asks for the IMEI.
    options.PlatformType = 2;
    ASSERT_TRUE(ReadIdentity(session, params));
    EXPECT_FALSE(params.imei.read);
    EXPECT_TRUE(params.meid.read);
    EXPECT_EQ(params.CleanMeid(), "A0000012345678");
    EXPECT_EQ(std::count(responder->CommandLog().begin(), responder->CommandLog().end(), "AT+MVTSN=0,7"), 1);
}

TEST_F(AtPreserveTest, SavedValuesAreSentQuotedAndEmptyOnesSkipped) {
    Start();
    platform::IniDocument file;
    file.Set("Data", "SN", " \"SN-77 A\" ");
    ASSERT_TRUE(file.Save(files, bak));

    AtParameters params;
    params.sn.read = true;
    params.esn.read = true;  // flagged, yet missing from the file
    ASSERT_TRUE(RestoreAtParameters(session, params, bak));

    EXPECT_TRUE(Sent("AT+MVTSN=1,5,\"SN-77 A\""));
    EXPECT_EQ(state.sn, "SN-77 A");
    EXPECT_TRUE(reporter.Has("ESN Empty."));
    EXPECT_FALSE(Sent("AT+MVTSN=1,8,\"\""));
    EXPECT_TRUE(reporter.Has("Serial port ready"));
}

TEST_F(AtPreserveTest, TheNetworkLockComesFromTheConfiguration) {
    Start();
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
    // Context 10 is not context 1; a context above 16 is left out; an
    // out-of-order line takes nothing from its neighbours.
    const auto apns = ParseContexts("+CGDCONT: 10,\"IP\",\"ten\"\r\n+CGDCONT: 1,\"IP\",\"one\"\r\n"
                                    "+CGDCONT: 17,\"IP\",\"x\"\r\n+CGDCONT: 3,\"IP\",\"three\"\r\n");
    EXPECT_EQ(apns[0], "1,\"IP\",\"one\"");
    EXPECT_EQ(apns[2], "3,\"IP\",\"three\"");
    EXPECT_EQ(apns[9], "");  // listed before context 1, so passed over

    EXPECT_EQ(CleanTestInformation("cal:pass,uit87:pass\r\n", false), "CAL:PASS");
    EXPECT_EQ(CleanTestInformation("cal:pass,uit87:pass\r\n", true), "CAL:PASS,UIT87:PASS");
    EXPECT_EQ(CleanTestInformation("UIT89:FAIL,CAL:PASS", false), ",CAL:PASS");
}

}  // namespace
}  // namespace firmora::preserve
