#include "sim/at_device.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <stdexcept>
#include <utility>
#include <vector>

#include "fake_serial.h"
#include "link/at_channel.h"
#include "link/at_text.h"
#include "package/download_options.h"
#include "platform/private_profile.h"
#include "recording_reporter.h"
#include "responder_port.h"

namespace firmora::sim {
namespace {

using nlohmann::json;
using testing::FakeSerialDevice;
using testing::FakeSerialPorts;
using testing::RecordingReporter;
using testing::ResponderPort;
using Requests = std::vector<std::pair<ModemRequest, uint64_t>>;

}  // namespace

// Readable failures when two device states differ.
void PrintTo(const AtDeviceState& s, std::ostream* os) {
    *os << "{sn=" << s.sn << " imei=" << s.imei << " bt=" << s.bluetoothAddress << " sales=" << s.salesCount << "/"
        << s.salesInfo << " wifi=" << s.wifiCal << " test=" << s.testInformation << " uit=" << s.uit87 << "/"
        << s.uit89 << " mode=" << s.mode << " cllen=" << s.cllen << " mvreq=" << s.mvreq << " gmi=" << s.gmi
        << " lock=" << s.networkLock.value_or("(none)") << " cfun=" << s.cfun << " contexts=";
    for (const auto& [cid, line] : s.contexts) *os << "[" << line << "]";
    *os << "}";
}

namespace {

// The device behind the tool's own AT channel, on the virtual clock.
class AtDeviceTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(serial.ReopenAtChannel(4)); }

    void Start(const json& scenario = json::object()) {
        state = AtDeviceState::FromScenario(scenario);
        responder = std::make_unique<AtResponder>(state, scenario);
        port = std::make_unique<ResponderPort>(device, clock, *responder);
    }

    link::AtChannel Channel() { return link::AtChannel(serial, clock, reporter, false); }

    // The value AtQuery yields; "<failed>" when it fails.
    std::string Query(const std::string& command) {
        std::string value;
        return Channel().AtQuery(command, value) ? value : "<failed>";
    }

    uint64_t Now() const { return clock.TickCount(); }

    platform::VirtualClock clock;
    FakeSerialPorts ports{clock};
    FakeSerialDevice& device = ports.Device("COM4");
    RecordingReporter reporter;
    package::DownloadOptions options;
    link::SerialChannel serial{link::ChannelRole::At, ports, clock, reporter, options};
    AtDeviceState state;
    std::unique_ptr<AtResponder> responder;
    std::unique_ptr<ResponderPort> port;
};

TEST_F(AtDeviceTest, IdentityQueriesYieldTheStoredValuesAfterTheFirstColonAndItsBlank) {
    Start({{"identity", {{"sn", "SN-0815"}, {"bluetoothAddress", "00:1A:7D:4C:21:0F"}}}});

    // As a real device answers: "+MVTSN: value".
    EXPECT_EQ(Query("AT+MVTSN=0,5\r\n\r\n"), " SN-0815\r\n\r\n");
    EXPECT_EQ(link::StripLineBreaksAndQuotes(Query("AT+MVTSN=0,7\r\n\r\n")), " " + state.imei);
    // A value with colons of its own survives the cut at the first colon.
    EXPECT_EQ(link::StripLineBreaks(Query("at+mvtsn=0,10\r\n\r\n")), " 00:1A:7D:4C:21:0F");
    EXPECT_EQ(Query("AT+MVTSN=0,13\r\n\r\n"), "<failed>");

    // The interrogation: the revision stands between "Revision: " and "\r\nIMEI:".
    EXPECT_NE(Query("ATI\r\n").find("Revision: v2.0.1\r\nIMEI: 353456789012348\r\n"), std::string::npos);
    EXPECT_EQ(link::StripLineBreaks(Query("AT+MVTSW\r\n\r\n")), " " + state.softwareVersion);
    EXPECT_NE(Query("at+mvtinf=0,2\r\n\r\n"), "<failed>");
    EXPECT_NE(Query("AT+CGMR\r\n\r\n").find("VQA0012"), std::string::npos);
    EXPECT_NE(Query("AT+GPIOPRJT?\r\n\r\n").find(state.gpioProjectCode), std::string::npos);
}

TEST_F(AtDeviceTest, ContextsAreListedInOrderAndTheModeQueryIsEchoed) {
    Start({{"at", {{"contexts", {"3,\"IP\",\"b\"", "1,\"IP\",\"a\""}}}}});

    std::string block;
    ASSERT_TRUE(Channel().AtQueryContexts("AT+CGDCONT?\r\n\r\n", block));
    EXPECT_EQ(block, "+CGDCONT: 1,\"IP\",\"a\"\r\n+CGDCONT: 3,\"IP\",\"b\"\r\n\r\n");

    std::string mode;
    ASSERT_TRUE(Channel().AtQueryAfterEcho("at!autoins?\r\n\r\n", mode));
    EXPECT_EQ(mode, "\r\r\n1\r\n\r\n");
}

TEST_F(AtDeviceTest, BackupThenRestoreOntoAWipedDeviceRebuildsIt) {
    const json scenario = {{"at", {{"contexts", {"1,\"IPV4V6\",\"internet\",\"0.0.0.0\",0,0", "3,\"IP\",\"x\""}}}}};
    Start(scenario);
    const AtDeviceState original = state;

    // Read the way the backup does and keep the values the way at.bak does.
    platform::IniDocument bak;
    const std::vector<std::pair<std::string, std::string>> reads = {
        {"SN", "AT+MVTSN=0,5\r\n\r\n"},          {"IMEI", "AT+MVTSN=0,7\r\n\r\n"},
        {"BLUETOOTHADDR", "AT+MVTSN=0,10\r\n\r\n"}, {"SalesCount", "AT+MVTSN=0,11\r\n\r\n"},
        {"SalesInfo", "AT+MVTSN=0,12\r\n\r\n"},  {"WifiCal", "AT+WIFICAL?\r\n"},
        {"TESTINF", "AT+TESTINF2=?\r\n\r\n"},    {"UIT87", "AT+CUIT87?\r\n"},
        {"UIT89", "AT+CUIT89?\r\n"}};
    for (const auto& [key, command] : reads) {
        const std::string value = Query(command);
        ASSERT_NE(value, "<failed>") << key;
        bak.Set("Data", key, link::StripLineBreaks(value));
    }
    // These go into the file as read, line breaks and all.
    for (const auto& [key, command] : {std::pair{"CLLEN", "AT+CLLEN?\r\n\r\n"}, std::pair{"MVREQ", "AT+MVREQ?\r\n\r\n"},
                                       std::pair{"GMI", "AT+GMI\r\n\r\n"}}) {
        bak.Set("Data", key, Query(command));
    }
    std::string mode;
    ASSERT_TRUE(Channel().AtQueryAfterEcho("at!autoins?\r\n\r\n", mode));
    std::string block;
    ASSERT_TRUE(Channel().AtQueryContexts("AT+CGDCONT?\r\n\r\n", block));
    std::vector<std::string> apns;
    for (size_t at = block.find("+CGDCONT: "); at != std::string::npos; at = block.find("+CGDCONT: ", at + 1)) {
        apns.push_back(block.substr(at + 10, block.find("\r\n", at) - at - 10));
    }
    ASSERT_EQ(apns.size(), 2u);

    state = AtDeviceState::FactoryFromScenario(scenario);
    ASSERT_NE(state, original);

    // Restore: quoted maker values, the contexts and the mode as read, UIT results bare.
    const auto quoted = [&](const std::string& key) { return "\"" + *bak.Get("Data", key) + "\""; };
    const std::vector<std::pair<std::string, std::string>> writes = {
        {"AT+MVTSN=1,5,", quoted("SN")},          {"AT+MVTSN=1,7,", quoted("IMEI")},
        {"AT+MVTSN=1,10,", quoted("BLUETOOTHADDR")}, {"AT+MVTSN=1,11,", quoted("SalesCount")},
        {"AT+WIFICAL=", quoted("WifiCal")},       {"AT+MVTSN=1,12,", quoted("SalesInfo")},
        {"AT+TESTINF2=", quoted("TESTINF")},      {"AT+CUIT87=", *bak.Get("Data", "UIT87")},
        {"AT+CUIT89=", *bak.Get("Data", "UIT89")},  {"AT+CLLEN=", *bak.Get("Data", "CLLEN")},
        {"AT+MVREQ=", *bak.Get("Data", "MVREQ")},   {"AT+GMI=", quoted("GMI")}};
    for (const auto& [prefix, value] : writes) EXPECT_TRUE(Channel().AtWriteValue(prefix, value, "fail")) << prefix;
    for (const std::string& apn : apns) EXPECT_TRUE(Channel().AtWriteSlow("AT+CGDCONT=", apn, "fail"));
    EXPECT_TRUE(Channel().AtWriteSlow("at!autoins=", link::StripLineBreaks(mode), "fail"));

    EXPECT_EQ(state, original);
    EXPECT_TRUE(reporter.Errors().empty());
}

TEST_F(AtDeviceTest, EchoRadioStateAndUnknownCommands) {
    Start({{"at", {{"echo", true}}}});

    EXPECT_EQ(Query("AT+CFUN=5\r\n\r\n"), "AT+CFUN=5\r\r\n");
    EXPECT_EQ(state.cfun, 5);
    EXPECT_TRUE(Channel().AtWriteValue("AT+NWLSET=", "0", "Fail to write SIMLOCK to phone"));
    EXPECT_EQ(state.networkLock, "0");

    const uint64_t start = Now();
    EXPECT_EQ(Query("AT+BOGUS\r\n\r\n"), "<failed>");
    EXPECT_EQ(Now() - start, 800u);  // ERROR ends the wait at the first read
    EXPECT_EQ(responder->CommandLog(), (std::vector<std::string>{"AT+CFUN=5", "AT+NWLSET=0", "AT+BOGUS"}));
}

TEST_F(AtDeviceTest, ScenarioFaultsAnswerErrorStaySilentOrLeaveOutTheOk) {
    Start({{"at",
            {{"unsupported", {"AT+CLLEN"}},
             {"faults",
              {{{"command", "AT+MVTSN=0,7"}, {"reply", "error"}, {"times", 1}},
               {{"command", "AT+DIAG=1"}, {"reply", "silence"}},
               {{"command", "ATI"}, {"reply", "no-ok"}}}}}}});

    EXPECT_EQ(Query("AT+MVTSN=0,7\r\n\r\n"), "<failed>");
    EXPECT_EQ(Query("AT+MVTSN=0,7\r\n\r\n"), " 353456789012348\r\n\r\n");

    // Silence and a reply without OK both cost the tool its whole wait.
    for (const char* command : {"AT+DIAG=1\r\n\r\n", "ATI\r\n"}) {
        const uint64_t start = Now();
        EXPECT_EQ(Query(command), "<failed>") << command;
        EXPECT_GE(Now() - start, 8000u) << command;
    }

    EXPECT_TRUE(Channel().AtWriteValue("AT+CLLEN=", "9", "Fail to write CLLEN",
                                       link::AtWritePolicy::UnsupportedIsSuccess("Could not support command:CLLEN")));
    EXPECT_TRUE(reporter.Has("Could not support command:CLLEN"));
    EXPECT_EQ(state.cllen, "8");
}

TEST_F(AtDeviceTest, SplitRepliesAreReadWholeAcrossSeveralReads) {
    Start({{"at", {{"split", {{"pieces", 3}, {"gapMs", 900}}}}}});

    const uint64_t start = Now();
    EXPECT_EQ(Query("AT+MVTSN=0,5\r\n\r\n"), " " + state.sn + "\r\n\r\n");
    EXPECT_EQ(Now() - start, 2400u);  // pieces at 20, 920 and 1820 ms; the third read completes it

    // The device leaves only after the last piece has gone out.
    const uint64_t sent = Now();
    EXPECT_NE(Query("AT+MVTRESET\r\n\r\n"), "<failed>");
    EXPECT_EQ(port->requests, (Requests{{ModemRequest::Reset, sent + 1820 + 1000}}));
}

TEST_F(AtDeviceTest, ModeChangesAreRequestedAfterTheReply) {
    Start({{"at", {{"replyDelayMs", 30}, {"transitionDelayMs", 500}}}});

    uint64_t sent = Now();
    EXPECT_NE(Query("AT+MVTRESET\r\n\r\n"), "<failed>");
    EXPECT_EQ(port->requests, (Requests{{ModemRequest::Reset, sent + 530}}));

    port->requests.clear();
    sent = Now();
    EXPECT_NE(Query("AT+DISK=8,\"D1\"\r\n\r\n"), "<failed>");
    EXPECT_NE(Query("AT+CDROM=1\r\n\r\n"), "<failed>");
    EXPECT_EQ(port->requests,
              (Requests{{ModemRequest::SwitchToModem, sent + 530}, {ModemRequest::SwitchToCdrom, sent + 800 + 530}}));

    // The reboot into the boot loader goes without a word.
    port->requests.clear();
    sent = Now();
    EXPECT_TRUE(Channel().AtSendReboot("at+syscmd=sys_reboot bootloader\r\n\r\n"));
    clock.Sleep(1000);
    EXPECT_EQ(port->requests, (Requests{{ModemRequest::RebootToBootloader, sent + 530}}));
    EXPECT_EQ(device.PendingBytes(), 0u);

    // A refused command changes nothing.
    port->requests.clear();
    EXPECT_EQ(Query("AT+DISK=8,\"D3\"\r\n\r\n"), "<failed>");
    EXPECT_TRUE(port->requests.empty());
}

// A device side that records what the responder sends, for input splits the
// tool itself never makes.
struct RecordingSide final : DeviceSide {
    void Send(const Bytes& bytes, uint64_t) override { sent.append(bytes.begin(), bytes.end()); }
    void Request(ModemRequest request, uint64_t) override { requests.push_back(request); }
    uint64_t NowMs() const override { return 0; }
    std::string sent;
    std::vector<ModemRequest> requests;
};

TEST(AtResponderInput, CommandsAreAssembledFromAnySplitOfInput) {
    AtDeviceState state;
    AtResponder responder(state, json::object());
    RecordingSide side;
    const auto feed = [&](const std::string& text) {
        responder.OnHostBytes(reinterpret_cast<const uint8_t*>(text.data()), text.size(), side);
    };

    for (const char* piece : {"at+c", "fun=", "4\r", "\n\r\n", "  AT+CFUN?\n"}) feed(piece);
    EXPECT_EQ(side.sent, "\r\nOK\r\n\r\n+CFUN: 4\r\n\r\nOK\r\n");
    EXPECT_EQ(responder.CommandLog(), (std::vector<std::string>{"at+cfun=4", "AT+CFUN?"}));

    // A disconnect drops the half-received command.
    side.sent.clear();
    feed("AT+MVT");
    responder.OnDisconnect();
    feed("RESET\r");
    EXPECT_EQ(side.sent, "\r\nERROR\r\n");
    EXPECT_TRUE(side.requests.empty());

    // An endless line is refused once it ends, and the next command works.
    side.sent.clear();
    feed("AT+MVTSN=1,5," + std::string(AtResponder::kMaxLineBytes * 2, 'x') + "\rAT\r");
    EXPECT_EQ(side.sent, "\r\nERROR\r\n\r\nOK\r\n");
    EXPECT_EQ(state.sn, AtDeviceState{}.sn);
}

TEST(AtDeviceStateScenario, FactoryStateIsWipedButKeepsTheFirmwareIdentity) {
    const json scenario = {{"identity", {{"revision", "v9.9.9"}, {"sn", "ORIG"}}},
                           {"factory", {{"identity", {{"sn", "FACT"}}}}}};
    const AtDeviceState factory = AtDeviceState::FactoryFromScenario(scenario);
    EXPECT_EQ(factory.imei, "000000000000000");
    EXPECT_EQ(factory.sn, "FACT");
    EXPECT_TRUE(factory.contexts.empty());
    EXPECT_TRUE(factory.testInformation.empty());
    EXPECT_EQ(factory.revision, "v9.9.9");
    EXPECT_EQ(factory.softwareVersion, AtDeviceState::FromScenario(scenario).softwareVersion);
}

TEST(AtDeviceStateScenario, ValuesOfTheWrongTypeAreRefusedByName) {
    const auto refusal = [](const json& scenario) -> std::string {
        try {
            AtDeviceState state = AtDeviceState::FromScenario(scenario);
            AtResponder responder(state, scenario);
            (void)AtDeviceState::FactoryFromScenario(scenario);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "accepted";
    };
    EXPECT_EQ(refusal({{"identity", {{"imei", 353456789012348}}}}), "scenario: identity.imei: expected a string");
    EXPECT_NE(refusal({{"at", {{"contexts", {"17,\"IP\",\"x\""}}}}}).find("at.contexts[0]"), std::string::npos);
    EXPECT_NE(refusal({{"at", {{"faults", {{{"command", "ATI"}, {"reply", "loud"}}}}}}}).find("at.faults[0].reply"),
              std::string::npos);
    EXPECT_NE(refusal({{"factory", {{"at", {{"echo", true}}}}}}).find("factory.at.echo"), std::string::npos);
    EXPECT_NE(refusal({{"at", {{"replyDelayMs", -5}}}}).find("at.replyDelayMs"), std::string::npos);
}

}  // namespace
}  // namespace firmora::sim
