#include "sim/virtual_modem.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fake_serial.h"
#include "link/hdlc_codec.h"
#include "sim/at_device.h"
#include "sim/partition_store.h"
#include "test_folder.h"

namespace firmora::sim {
namespace {

using nlohmann::json;
using testing::ToBytes;
using testing::ToText;

// One modem on the VirtualClock with its bus events and host-side output recorded.
class VirtualModemTest : public ::testing::Test {
protected:
    struct Seen {
        uint64_t at;
        BusEvent event;
    };

    void Plug(const json& overrides = json::object()) {
        json scenario = Scenario::Builtin(FIRMORA_SCENARIO_DIR, "default").json;
        scenario.merge_patch(overrides);
        modem = std::make_unique<VirtualModem>(Scenario::FromJson(scenario, "test"), scheduler);
        modem->SetBusListener([this](const BusEvent& e) { events.push_back({clock.TickCount(), e}); });
        modem->SetPortSink(PortRole::At, [this](const Bytes& b) { atOutput += ToText(b); });
        modem->SetFastbootSink([this](const Bytes& b) { fastbootReplies.push_back(ToText(b)); });
    }

    void At(const std::string& text) {
        const Bytes bytes = ToBytes(text);
        modem->HostWrite(PortRole::At, bytes.data(), bytes.size());
    }
    void Fastboot(const std::string& message) {
        const Bytes bytes = ToBytes(message);
        modem->FastbootHostMessage(bytes.data(), bytes.size());
        clock.Sleep(10);
    }
    // download, data, flash: the exchange the tool makes for one image.
    void Flash(const std::string& partition, size_t size) {
        char command[32];
        std::snprintf(command, sizeof command, "download:%08zx", size);
        Fastboot(command);
        Fastboot(std::string(size, 'x'));
        Fastboot("flash:" + partition);
    }
    void RebootToBootloader() {
        At("at+syscmd=sys_reboot bootloader\r\n\r\n");
        clock.Sleep(60000);
        ASSERT_EQ(modem->personality(), Personality::Bootloader);
    }
    const json& Usb() const { return modem->scenario().json.at("usb"); }
    uint64_t Transition(const char* key) const { return modem->scenario().json.at("transitions").at(key); }

    platform::VirtualClock clock;
    VirtualClockScheduler scheduler{clock};
    std::unique_ptr<VirtualModem> modem;
    std::vector<Seen> events;
    std::string atOutput;
    std::vector<std::string> fastbootReplies;
};

TEST_F(VirtualModemTest, RebootToBootloaderLeavesNowAndArrivesAsBootloaderAfterTheDelay) {
    Plug();
    ASSERT_EQ(modem->personality(), Personality::Normal);
    ASSERT_EQ(modem->Ports().size(), 3u);
    EXPECT_EQ(modem->FastbootInterfacePath(), "");

    At("at+syscmd=sys_reboot bootloader\r\n\r\n");
    clock.Sleep(5000);
    ASSERT_EQ(events.size(), 1u);
    const Seen removal = events[0];
    EXPECT_EQ(removal.event.kind, BusEvent::Kind::Removal);
    EXPECT_EQ(removal.event.personality, Personality::Normal);
    EXPECT_EQ(removal.event.ports.size(), 3u);
    EXPECT_EQ(modem->personality(), Personality::Absent);
    EXPECT_TRUE(modem->Ports().empty());

    clock.Sleep(60000);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].event.kind, BusEvent::Kind::Arrival);
    EXPECT_EQ(events[1].event.personality, Personality::Bootloader);
    EXPECT_EQ(events[1].at - removal.at, Transition("rebootToBootloaderMs"));
    EXPECT_EQ(events[1].event.interfacePath, modem->FastbootInterfacePath());
    EXPECT_NE(modem->FastbootInterfacePath(), "");
    EXPECT_TRUE(modem->Ports().empty());

    // What the host writes to a port that is gone reaches nobody.
    At("ATI\r\n");
    clock.Sleep(2000);
    EXPECT_EQ(atOutput, "");
}

TEST_F(VirtualModemTest, FastbootRebootReturnsToNormalUnderTheScenariosNewComNumbers) {
    Plug({{"usb", {{"returnComPorts", json::array({{{"diag", 15}, {"at", 17}}})}}}});
    RebootToBootloader();
    events.clear();

    Fastboot("reboot");
    EXPECT_TRUE(events.empty()) << "the host must get to read the OKAY first";
    clock.Sleep(100);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].event.kind, BusEvent::Kind::Removal);
    EXPECT_EQ(events[0].event.interfacePath, Usb().at("fastbootInterfacePath").get<std::string>());
    clock.Sleep(static_cast<uint32_t>(Transition("resetMs")));

    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].event.kind, BusEvent::Kind::Arrival);
    EXPECT_EQ(events[1].event.personality, Personality::Normal);
    EXPECT_EQ(events[1].at - events[0].at, Transition("resetMs"));
    std::vector<std::string> names;
    for (const PortInfo& port : modem->Ports()) names.push_back(port.friendlyName);
    EXPECT_EQ(names, (std::vector<std::string>{"LTE Modem Diagnostics Port (COM15)", "LTE Modem Terminal Port (COM6)",
                                               "LTE Modem AT Port (COM17)"}));
    EXPECT_EQ(events[1].event.ports.size(), 3u);

    // The device answers on its new port.
    At("AT\r\n");
    clock.Sleep(1000);
    EXPECT_NE(atOutput.find("OK"), std::string::npos);
}

TEST_F(VirtualModemTest, ADeviceThatNeverReturnsStaysOffTheBus) {
    Plug({{"usb", {{"neverReturnAfter", {"reset"}}}}});
    At("AT+MVTRESET\r\n");
    clock.Sleep(600000);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].event.kind, BusEvent::Kind::Removal);
    EXPECT_EQ(modem->personality(), Personality::Absent);
    EXPECT_TRUE(modem->Ports().empty());
}

TEST_F(VirtualModemTest, RepliesOnTheirWayAreLostWhenTheDeviceLeaves) {
    Plug();
    At("ATI\r\n");
    modem->Request(ModemRequest::Reset);
    clock.Sleep(60000);
    EXPECT_EQ(atOutput, "");
    EXPECT_EQ(modem->personality(), Personality::Normal);
}

TEST_F(VirtualModemTest, FlashingTheEfsPartitionWipesTheStoredDataButOtherPartitionsDoNot) {
    Plug();
    const std::string imei = modem->at().imei;
    RebootToBootloader();

    Flash("boot", 4096);
    EXPECT_EQ(modem->partitions().Find("boot")->size, 4096u);
    EXPECT_EQ(modem->at().imei, imei);

    Flash("efs2", 2048);
    EXPECT_EQ(modem->at().imei, "000000000000000");
    EXPECT_EQ(modem->at(), AtDeviceState::FactoryFromScenario(modem->scenario().json));
    EXPECT_EQ(fastbootReplies.back().substr(0, 4), "OKAY");
}

TEST_F(VirtualModemTest, AHostThatGoesAwayMidDownloadLeavesTheBootLoaderReadyForTheNext) {
    Plug();
    RebootToBootloader();
    Fastboot("download:00001000");
    Fastboot(std::string(100, 'x'));
    modem->FastbootHostDisconnected();

    fastbootReplies.clear();
    Fastboot("getvar:product");
    ASSERT_EQ(fastbootReplies.size(), 1u);
    EXPECT_EQ(fastbootReplies[0].substr(0, 4), "OKAY");
}

TEST_F(VirtualModemTest, DropOffBusDuringFlashReturnsAsTheScenarioSays) {
    Plug({{"bootloader", {{"dropAtEntry", 1}}},
          {"usb", {{"dropOffBus", {{"returnAs", "normal"}, {"returnMs", 4000}}}}}});
    RebootToBootloader();
    events.clear();

    Fastboot("download:00000010");
    Fastboot(std::string(16, 'x'));
    Fastboot("flash:sbl");
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].event.kind, BusEvent::Kind::Removal);
    clock.Sleep(4000);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[1].event.personality, Personality::Normal);
    EXPECT_EQ(events[1].at - events[0].at, 4000u);
}

TEST_F(VirtualModemTest, UsbBootTakesTheLoaderAndMovesOn) {
    Plug({{"usb", {{"personality", "usbboot"}, {"usbBootThen", "normal"}}}});
    ASSERT_NE(modem->UsbBootDevicePath(), "");
    const Bytes size = {5, 0, 0, 0};
    const Bytes loader = ToBytes("xload");
    modem->UsbBootWrite(size.data(), size.size());
    modem->UsbBootWrite(loader.data(), 2);
    EXPECT_TRUE(events.empty());
    modem->UsbBootWrite(loader.data() + 2, 3);
    EXPECT_EQ(modem->UsbBootLoader(), loader);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].event.interfacePath, Usb().at("usbBootDevicePath").get<std::string>());
    clock.Sleep(static_cast<uint32_t>(Transition("usbBootMs")));
    EXPECT_EQ(modem->personality(), Personality::Normal);
}

TEST_F(VirtualModemTest, CommandLogListsEveryProtocolsCommands) {
    Plug();
    At("ATI\r\n");
    const Bytes query = link::EncodeHdlcFrame(Bytes{0x7C});
    modem->HostWrite(PortRole::Diag, query.data(), query.size());
    clock.Sleep(1000);
    RebootToBootloader();
    Fastboot("getvar:product");
    const std::vector<std::string> expected = {"AT: ATI", "DIAG: 7C", "AT: at+syscmd=sys_reboot bootloader",
                                               "FASTBOOT: getvar:product"};
    EXPECT_EQ(modem->CommandLog(), expected);
}

class ScenarioFileTest : public ::testing::Test {
protected:
    std::string Write(const std::string& name, const std::string& text) {
        const auto path = folder.path() / name;
        std::ofstream(path) << text;
        return path.string();
    }
    static std::string ErrorOf(const std::string& path) {
        try {
            Scenario::Load(path);
        } catch (const std::runtime_error& e) {
            return e.what();
        }
        return "(loaded)";
    }
    testing::TestFolder folder{"scenario"};
};

TEST_F(ScenarioFileTest, EveryShippedScenarioLoads) {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(FIRMORA_SCENARIO_DIR)) {
        if (entry.path().extension() != ".json") continue;
        ++count;
        EXPECT_NO_THROW(Scenario::Builtin(FIRMORA_SCENARIO_DIR, entry.path().stem().string())) << entry.path();
    }
    EXPECT_GE(count, 6u);
}

// A program with no scenarios folder beside it has the shipped ones built
// in, "extends" chains included.
TEST_F(ScenarioFileTest, WithoutTheFolderTheBuiltInScenariosAreTheShippedOnes) {
    const std::filesystem::path nowhere = folder.path() / "nowhere";
    for (const auto& entry : std::filesystem::directory_iterator(FIRMORA_SCENARIO_DIR)) {
        const std::string name = entry.path().stem().string();
        EXPECT_EQ(Scenario::Builtin(nowhere, name).json, Scenario::Builtin(FIRMORA_SCENARIO_DIR, name).json) << name;
    }
    EXPECT_THROW(Scenario::Builtin(nowhere, "unknown"), std::runtime_error);
    // A folder that is there is read, even when it lacks the scenario.
    EXPECT_THROW(Scenario::Builtin(folder.path(), "default"), std::runtime_error);
}

TEST_F(ScenarioFileTest, MistakesAreReportedWithTheFileAndThePlace) {
    EXPECT_EQ(ErrorOf((folder.path() / "none.json").string()),
              "scenario file not found: " + (folder.path() / "none.json").string());

    const std::string broken = Write("broken.json", "{\n  \"usb\": {\n    \"ports\": [,]\n  }\n}\n");
    EXPECT_NE(ErrorOf(broken).find(broken + ": not valid JSON at line 3, column 15"), std::string::npos)
        << ErrorOf(broken);
    const std::string overflow = Write("overflow.json", "{\"name\": 1E1001}\n");
    EXPECT_EQ(ErrorOf(overflow), overflow + ": not valid JSON: number overflow parsing '1E1001'");

    const std::string wrong = Write("wrong.json", R"({"usb": {"ports": [{"role": "diag", "com": "5"}]}})");
    EXPECT_NE(ErrorOf(wrong).find("usb.ports[0].com must be a COM number from 1 to 255, not string"),
              std::string::npos)
        << ErrorOf(wrong);

    const std::string handler = Write("handler.json", R"({"at": {"cfun": "on"}})");
    EXPECT_NE(ErrorOf(handler).find(handler + ": "), std::string::npos);
    EXPECT_NE(ErrorOf(handler).find("cfun"), std::string::npos) << ErrorOf(handler);

    EXPECT_THROW(Scenario::Builtin(FIRMORA_SCENARIO_DIR, "../default"), std::runtime_error);
}

// Files are made when the scenario loads: what they hold together must fit
// the file system, or a short file could take gigabytes of memory.
TEST_F(ScenarioFileTest, FilesBeyondTheCapacityAreRefusedBeforeTheyAreMade) {
    const std::string fits = Write("fits.json", R"({"efs": {"capacity": 1048576, "rfnvItems": [],
        "files": {"a": {"size": 600000}, "b": {"text": "ok"}}}})");
    EXPECT_EQ(ErrorOf(fits), "(loaded)");

    const std::string sizes = Write("sizes.json", R"({"efs": {"capacity": 1048576, "rfnvItems": [],
        "files": {"a": {"size": 600000}, "b": {"size": 600000}}}})");
    EXPECT_NE(ErrorOf(sizes).find("efs.files.b.size: must be at most the 448576 bytes left of the capacity"),
              std::string::npos)
        << ErrorOf(sizes);

    const std::string text = Write("text.json", R"({"efs": {"capacity": 4, "rfnvItems": [],
        "files": {"a": "four", "b": "x"}}})");
    EXPECT_NE(ErrorOf(text).find("efs.files.b: must be content that fits the 0 bytes left of the capacity"),
              std::string::npos)
        << ErrorOf(text);
}

TEST_F(ScenarioFileTest, ExtendsMergesOverItsBaseAndDevicesSplitIntoOneScenarioEach) {
    Write("base.json", R"({"usb": {"instance": "base", "bulkBytesPerMs": 7}, "at": {"cfun": 5}})");
    const std::string path = Write(
        "pair.json",
        R"({"extends": "base", "usb": {"bulkBytesPerMs": 9}, "devices": [{}, {"name": "second", "usb": {"instance": "b"}}]})");
    const Scenario scenario = Scenario::Load(path);
    EXPECT_EQ(scenario.name, "pair");
    const std::vector<Scenario> devices = scenario.Devices();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].json.at("usb").at("instance"), "base");
    EXPECT_EQ(devices[0].json.at("usb").at("bulkBytesPerMs"), 9);
    EXPECT_EQ(devices[0].json.at("at").at("cfun"), 5);
    EXPECT_EQ(devices[1].name, "second");
    EXPECT_EQ(devices[1].json.at("usb").at("instance"), "b");
    EXPECT_FALSE(devices[1].json.contains("devices"));

    const std::string loop = Write("loop.json", R"({"extends": "loop"})");
    EXPECT_NE(ErrorOf(loop).find("deeper than 8"), std::string::npos);
}

}  // namespace
}  // namespace firmora::sim
