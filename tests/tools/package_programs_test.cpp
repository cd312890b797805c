// The package's helper programs: their portable parts on fakes, and the
// programs as built, started the way a run starts them.

#include <gtest/gtest.h>

#include <filesystem>

#include "child_process.h"
#include "fake_serial.h"
#include "package-programs/device_lookup.h"
#include "package-programs/modem_reset.h"
#include "package-programs/program_config.h"
#include "package-programs/rules_install.h"
#include "package-programs/scsi_command.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_paths.h"
#include "platform/posix/posix_processes.h"
#include "test_files.h"
#include "test_folder.h"

namespace firmora::programs {
namespace {

namespace fs = std::filesystem;
using testing::ReadTestFile;
using testing::WriteTestFile;

TEST(ScsiCommandTest, ReadsCommaSeparatedHexBytes) {
    using Bytes = std::vector<uint8_t>;
    EXPECT_EQ(ParseScsiCommand("06,f5,04,02,52,73"), (Bytes{0x06, 0xf5, 0x04, 0x02, 0x52, 0x73}));
    EXPECT_EQ(ParseScsiCommand(" 6 ,F5,\t0 "), (Bytes{0x06, 0xf5, 0x00}));
    EXPECT_EQ(ParseScsiCommand("1b"), (Bytes{0x1b}));
    EXPECT_EQ(ParseScsiCommand("00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f")->size(), 16u);
}

TEST(ScsiCommandTest, RefusesAnythingThatIsNotACommandBlock) {
    for (const char* text : {"", " ", "06,,f5", "06,f5,", "0x06", "100", "g1", "-1", "+1", "06 f5",
                             "00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10"}) {
        EXPECT_EQ(ParseScsiCommand(text), std::nullopt) << '"' << text << '"';
    }
}

TEST(ScsiCommandTest, WrapsTheCommandForBulkOnlyTransport) {
    const auto wrapper = BuildCommandBlockWrapper(0x12345678, {0x06, 0xf5, 0x04, 0x02, 0x52, 0x73});
    const std::array<uint8_t, 31> expected = {
        0x55, 0x53, 0x42, 0x43,  // "USBC"
        0x78, 0x56, 0x34, 0x12,  // tag, little-endian
        0x00, 0x00, 0x00, 0x00,  // no data
        0x00, 0x00, 0x06,        // flags, LUN 0, command length
        0x06, 0xf5, 0x04, 0x02, 0x52, 0x73, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(wrapper, expected);
}

TEST(ScsiCommandTest, JudgesOnlyTheStatusOfOurOwnCommand) {
    auto status = [](uint32_t signature, uint32_t tag, uint8_t code) {
        std::vector<uint8_t> bytes(13, 0);
        for (int i = 0; i < 4; ++i) {
            bytes[i] = static_cast<uint8_t>(signature >> (8 * i));
            bytes[4 + i] = static_cast<uint8_t>(tag >> (8 * i));
        }
        bytes[12] = code;
        return bytes;
    };
    const uint32_t usbs = 0x53425355;
    auto judge = [](const std::vector<uint8_t>& bytes) { return ReadCommandStatus(bytes.data(), bytes.size(), 7); };
    EXPECT_EQ(judge(status(usbs, 7, 0)), CommandStatus::Passed);
    EXPECT_EQ(judge(status(usbs, 7, 1)), CommandStatus::Failed);
    EXPECT_EQ(judge(status(usbs, 7, 2)), CommandStatus::PhaseError);
    EXPECT_EQ(judge(status(usbs, 7, 3)), CommandStatus::Invalid);
    EXPECT_EQ(judge(status(usbs, 8, 0)), CommandStatus::Invalid);
    EXPECT_EQ(judge(status(0x43425355, 7, 0)), CommandStatus::Invalid);
    std::vector<uint8_t> shortStatus = status(usbs, 7, 0);
    shortStatus.pop_back();
    EXPECT_EQ(judge(shortStatus), CommandStatus::Invalid);
}

TEST(ScsiCommandTest, ANamedNodeOnlyPicksAmongTheModemsOwnNodes) {
    using Nodes = std::vector<std::string>;
    Nodes nodes = {"/dev/sg2", "/dev/sr0"};
    EXPECT_TRUE(PickNamedNode(nodes, "USBSTOR\\CdRom&Ven_X&Prod_Y\\7&1"));  // not a node: all stay
    EXPECT_EQ(nodes, (Nodes{"/dev/sg2", "/dev/sr0"}));
    EXPECT_TRUE(PickNamedNode(nodes, "/dev/sr0"));
    EXPECT_EQ(nodes, Nodes{"/dev/sr0"});
    // A disk, or any node not of the modem, never receives the command.
    nodes = {"/dev/sg2"};
    EXPECT_FALSE(PickNamedNode(nodes, "/dev/sda"));
    nodes = {};
    EXPECT_FALSE(PickNamedNode(nodes, "/dev/sg0"));
}

class ModemResetTest : public ::testing::Test {
protected:
    // A port that answers "AT" with OK and the reset with `resetReply`.
    testing::FakeSerialDevice& AtPort(const std::string& node, const std::string& resetReply) {
        testing::FakeSerialDevice& device = ports_.Device(node);
        device.responder = [&device, resetReply](const testing::Bytes& written) {
            const std::string text = testing::ToText(written);
            if (text == "AT\r\n") device.Deliver("\r\nOK\r\n", 30);
            if (text == "AT+MVTRESET\r\n" && !resetReply.empty()) device.Deliver(resetReply, 200);
        };
        return device;
    }
    ResetResult Reset(const std::vector<std::string>& candidates) {
        return ResetModem(ports_, clock_, candidates, log_);
    }

    platform::VirtualClock clock_;
    testing::FakeSerialPorts ports_{clock_};
    std::vector<std::string> log_;
};

TEST_F(ModemResetTest, ProbesForTheAtPortAndResetsThroughIt) {
    ports_.refused.push_back("/dev/ttyUSB0");
    ports_.Device("/dev/ttyUSB1");  // silent: not an AT port
    testing::FakeSerialDevice& at = AtPort("/dev/ttyUSB2", "AT+MVTRESET\r\r\nOK\r\n");

    EXPECT_EQ(Reset({"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2"}), ResetResult::Done);
    EXPECT_EQ(testing::ToText(at.written), "AT\r\nAT+MVTRESET\r\n");
    EXPECT_EQ(testing::ToText(ports_.Device("/dev/ttyUSB1").written), "AT\r\n");
    EXPECT_EQ(log_.back(), "/dev/ttyUSB2: reset");
}

TEST_F(ModemResetTest, AModemThatLeavesTheBusAtOnceWasReset) {
    testing::FakeSerialDevice& at = AtPort("/dev/ttyACM0", "");
    at.responder = [&at](const testing::Bytes& written) {
        if (testing::ToText(written) == "AT\r\n") at.Deliver("OK\r\n");
        if (testing::ToText(written) == "AT+MVTRESET\r\n") at.gone = true;
    };
    EXPECT_EQ(Reset({"/dev/ttyACM0"}), ResetResult::Done);
}

TEST_F(ModemResetTest, EachOutcomeHasItsResultCode) {
    AtPort("/dev/refuses", "\r\nERROR\r\n");
    AtPort("/dev/silent", "");
    ports_.Device("/dev/notat");
    ports_.refused = {"/dev/busy"};

    EXPECT_EQ(ResetResultCode(Reset({})), std::string("-1"));
    EXPECT_EQ(ResetResultCode(Reset({"/dev/notat"})), std::string("-1"));
    EXPECT_EQ(ResetResultCode(Reset({"/dev/busy"})), std::string("0"));
    EXPECT_EQ(ResetResultCode(Reset({"/dev/refuses"})), std::string("-2"));
    EXPECT_EQ(ResetResultCode(Reset({"/dev/silent"})), std::string("-2"));

    testing::FakeSerialDevice& unwritable = AtPort("/dev/unwritable", "OK\r\n");
    unwritable.responder = [&unwritable](const testing::Bytes&) {
        unwritable.Deliver("OK\r\n");
        unwritable.failWrites = 1;  // the reset's write fails
    };
    EXPECT_EQ(ResetResultCode(Reset({"/dev/unwritable"})), std::string("0"));
}

class ProgramFilesTest : public ::testing::Test {
protected:
    testing::TestFolder folder_{"programs-test"};
    platform::PosixFiles files_;
    const fs::path config_ = folder_.path() / "Config.ini";
};

TEST_F(ProgramFilesTest, AResultGoesIntoAnExistingConfigIniOnly) {
    ASSERT_TRUE(WriteTestFile(config_, "; package\r\n[Project]\r\nExecuteRebootle=1\r\nName=X\r\n[SHIFTDEVICE]\r\n"));
    EXPECT_TRUE(WriteResult(files_, config_, "Project", "ExecuteRebootle", "-1"));
    EXPECT_TRUE(WriteResult(files_, config_, "Uninstall", "UninstallUDisk", "1"));
    EXPECT_EQ(ReadTestFile(config_),
              "; package\r\n[Project]\r\nExecuteRebootle=-1\r\nName=X\r\n[SHIFTDEVICE]\r\n"
              "[Uninstall]\r\nUninstallUDisk=1\r\n");

    EXPECT_FALSE(WriteResult(files_, folder_.path() / "Config2.ini", "Project", "ExecuteRebootle", "100"));
    EXPECT_FALSE(fs::exists(folder_.path() / "Config2.ini"));
}

TEST_F(ProgramFilesTest, RulesAreWrittenOnlyWithTheRightAndOnlyWhenTheyDiffer) {
    int reloads = 0;
    auto reload = [&] { ++reloads; };
    const fs::path rules = folder_.path() / kRulesFileName;

    RulesInstall install = InstallRules(files_, folder_.path(), "new rules\n", false, reload);
    EXPECT_FALSE(install.inPlace);
    EXPECT_FALSE(fs::exists(rules));

    install = InstallRules(files_, folder_.path(), "new rules\n", true, reload);
    EXPECT_TRUE(install.inPlace);
    EXPECT_EQ(ReadTestFile(rules), "new rules\n");
    EXPECT_EQ(reloads, 1);

    install = InstallRules(files_, folder_.path(), "new rules\n", true, reload);
    EXPECT_TRUE(install.inPlace);
    EXPECT_EQ(reloads, 1);  // nothing changed, nothing to replay

    // An older version still grants access; only root replaces it.
    install = InstallRules(files_, folder_.path(), "newer rules\n", false, reload);
    EXPECT_TRUE(install.inPlace);
    EXPECT_EQ(ReadTestFile(rules), "new rules\n");

    install = InstallRules(files_, folder_.path() / "no-such-folder", "new rules\n", true, reload);
    EXPECT_FALSE(install.inPlace);
    EXPECT_EQ(reloads, 1);
}

TEST_F(ProgramFilesTest, TheResetProgramStartedWithoutArgumentsReportsNoModemPort) {
    if (!ModemAtPortCandidates().empty()) GTEST_SKIP() << "a modem is attached; this test would reset it";
    fs::copy_file(simtool::ProgramBeside("firmora-rebootle"), folder_.path() / "Rebootle.exe");
    ASSERT_TRUE(WriteTestFile(config_, "[Project]\r\nExecuteRebootle=0\r\n"));

    platform::PosixProcesses processes(folder_.path());
    ASSERT_TRUE(processes.StartHidden(folder_.path() / "Rebootle.exe"));
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ReadTestFile(config_) == "[Project]\r\nExecuteRebootle=0\r\n" && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(ReadTestFile(config_), "[Project]\r\nExecuteRebootle=-1\r\n");
}

TEST_F(ProgramFilesTest, ASecondResetProgramLeavesTheFirstOnesResultAlone) {
    fs::copy_file(simtool::ProgramBeside("firmora-rebootle"), folder_.path() / "Rebootle.exe");
    ASSERT_TRUE(WriteTestFile(config_, "[Project]\r\nExecuteRebootle=100\r\n"));
    platform::PosixPaths paths;
    platform::PosixProcesses processes(paths.TempFolder());
    bool existed = true;
    const auto first = processes.CreateNamedLock("firmora-rebootle", existed);
    ASSERT_FALSE(existed) << "a reset program is running";

    simtool::Child second({(folder_.path() / "Rebootle.exe").string()});
    second.ReadToEnd(std::chrono::seconds(30));
    EXPECT_EQ(second.WaitExit(std::chrono::seconds(30)), 6);
    EXPECT_EQ(ReadTestFile(config_), "[Project]\r\nExecuteRebootle=100\r\n");
}

TEST_F(ProgramFilesTest, TheModeSwitchNeedsAValidCommandAndACdrom) {
    const fs::path program = folder_.path() / "Swivlet.exe";
    fs::copy_file(simtool::ProgramBeside("firmora-swivlet"), program);
    auto run = [&] {
        simtool::Child child({program.string()});
        child.ReadToEnd(std::chrono::seconds(30));
        return child.WaitExit(std::chrono::seconds(30));
    };
    EXPECT_EQ(run(), 1);  // no Config.ini
    ASSERT_TRUE(WriteTestFile(config_, "[SHIFTDEVICE]\r\nSCSICMD=06,f5,zz\r\n"));
    EXPECT_EQ(run(), 1);
    // A node that is not a modem's CD-ROM is refused before anything is sent.
    ASSERT_TRUE(WriteTestFile(config_, "[SHIFTDEVICE]\r\nSCSICMD=00,00,00,00,00,00\r\nSCSIDEVICE=/dev/null\r\n"));
    EXPECT_EQ(run(), 2);

    if (!ModemCdromNodes().empty()) GTEST_SKIP() << "a modem's CD-ROM is attached";
    // TEST UNIT READY: harmless should a driverless modem CD-ROM be on the bus after all.
    ASSERT_TRUE(WriteTestFile(config_, "[SHIFTDEVICE]\r\nSCSICMD=00,00,00,00,00,00\r\n"));
    EXPECT_EQ(run(), 2);
}

}  // namespace
}  // namespace firmora::programs
