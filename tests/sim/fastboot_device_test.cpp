#include "sim/fastboot_device.h"

#include <gtest/gtest.h>
#include <xxhash.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "sim/partition_store.h"

namespace firmora::sim {
namespace {

std::string Xxh3Hex(const Bytes& bytes) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx",
                  static_cast<unsigned long long>(XXH3_64bits(bytes.data(), bytes.size())));
    return text;
}

Bytes RandomBytes(size_t count, unsigned seed) {
    std::mt19937 random(seed);
    Bytes bytes(count);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    return bytes;
}

class RecordingSide final : public DeviceSide {
public:
    void Send(const Bytes& bytes, uint64_t delayMs) override {
        replies.emplace_back(bytes.begin(), bytes.end());
        delays.push_back(delayMs);
    }
    void Request(ModemRequest request, uint64_t) override { requests.push_back(request); }
    uint64_t NowMs() const override { return 0; }

    std::vector<std::string> replies;
    std::vector<uint64_t> delays;
    std::vector<ModemRequest> requests;
};

// A boot loader with small partitions; `bootloader` adds scenario keys.
class Bootloader {
public:
    explicit Bootloader(nlohmann::json bootloader = nlohmann::json::object())
        : store(PartitionStore::FromScenario(Scenario(bootloader))), device(store, Scenario(bootloader)) {}

    static nlohmann::json Scenario(nlohmann::json bootloader) {
        nlohmann::json scenario = {
            {"partitions",
             {{"boot", {{"capacity", 16384}}},
              {"qdsp", {{"capacity", 65536}, {"type", "ubifs"}}},
              {"efs2", {{"capacity", 4096}, {"size", 100}, {"digest", "00112233445566aa"}}}}},
            {"bootloader", {{"maxDownloadSize", "0x8000"}, {"replyDelayMs", 3}}}};
        scenario["bootloader"].update(bootloader);
        return scenario;
    }

    // Sends one message; returns the replies it caused.
    std::vector<std::string> Message(const Bytes& bytes) {
        const size_t before = side.replies.size();
        device.OnHostMessage(bytes.data(), bytes.size(), side);
        return {side.replies.begin() + static_cast<std::ptrdiff_t>(before), side.replies.end()};
    }
    std::string Command(const std::string& text) {
        const std::vector<std::string> replies = Message(Bytes(text.begin(), text.end()));
        return replies.empty() ? "(none)" : replies.back();
    }
    // "download:", then the data in the pieces given; returns the last reply.
    std::string Download(const Bytes& data, std::vector<size_t> pieces = {}) {
        char command[32];
        std::snprintf(command, sizeof command, "download:%08zx", data.size());
        const std::string accepted = Command(command);
        if (accepted.rfind("DATA", 0) != 0) return accepted;
        std::vector<std::string> replies;
        size_t at = 0;
        pieces.push_back(data.size());
        for (size_t piece : pieces) {
            piece = std::min(piece, data.size() - at);
            replies = Message(Bytes(data.begin() + static_cast<std::ptrdiff_t>(at),
                                    data.begin() + static_cast<std::ptrdiff_t>(at + piece)));
            at += piece;
            if (at == data.size()) break;
            if (!replies.empty()) return replies.back();
        }
        return replies.empty() ? "(none)" : replies.back();
    }
    const Partition& Get(const std::string& name) { return *store.Find(name); }

    RecordingSide side;
    PartitionStore store;
    FastbootDevice device;
};

TEST(FastbootDevice, StreamsDataSplitAnyWayAndFlashesItsDigest) {
    Bootloader loader;
    std::vector<std::string> changed;
    loader.device.onPartitionChanged = [&](const std::string& p) { changed.push_back(p); };
    const Bytes image = RandomBytes(10007, 1);

    // A host that went away mid-download leaves nothing behind.
    EXPECT_EQ(loader.Command("download:00002717"), "DATA00002717");
    EXPECT_TRUE(loader.Message(Bytes(5000, 0)).empty());
    loader.device.OnDisconnect();
    EXPECT_EQ(loader.Command("flash:boot"), "FAILno image downloaded");

    EXPECT_EQ(loader.Download(image, {1, 7, 4093, 3001}), "OKAY");
    EXPECT_EQ(loader.Command("flash:boot"), "OKAY");

    const Partition& boot = loader.Get("boot");
    EXPECT_EQ(boot.size, image.size());
    EXPECT_EQ(boot.DigestText(), Xxh3Hex(image));
    EXPECT_EQ(boot.flashes, 1u);
    EXPECT_EQ(changed, std::vector<std::string>{"boot"});
    for (uint64_t delay : loader.side.delays) EXPECT_EQ(delay, 3u);
    EXPECT_EQ(loader.device.CommandLog(),
              (std::vector<std::string>{"download:00002717", "flash:boot", "download:00002717", "flash:boot"}));
}

TEST(FastbootDevice, RefusesDataBeyondTheAnnouncedCount) {
    Bootloader loader;
    EXPECT_EQ(loader.Command("download:00000064"), "DATA00000064");
    EXPECT_TRUE(loader.Message(Bytes(60, 1)).empty());
    EXPECT_EQ(loader.Message(Bytes(41, 2)), std::vector<std::string>{"FAILtoo much data"});
    // The download is gone and the device takes commands again.
    EXPECT_FALSE(loader.device.InDownload());
    EXPECT_EQ(loader.Command("flash:boot"), "FAILno image downloaded");
    EXPECT_EQ(loader.Get("boot").flashes, 0u);
}

TEST(FastbootDevice, RefusesDownloadsAboveItsLimitBeforeAnyData) {
    Bootloader loader;
    EXPECT_EQ(loader.Command("download:00008001"), "FAILdata too large");
    // Still in command mode: a command is answered as one.
    EXPECT_EQ(loader.Command("getvar:product"), "OKAYMDM9607");
    EXPECT_EQ(loader.Command("download:00008000"), "DATA00008000");
    EXPECT_EQ(loader.Command("download:1234567890"), "(none)");  // data now, not a command
    loader.device.OnDisconnect();
    EXPECT_EQ(loader.Command("download:xyz"), "FAILinvalid download size");
}

TEST(FastbootDevice, CommitsOnlyWhatFits) {
    Bootloader loader;
    const Bytes big = RandomBytes(16385, 2);
    EXPECT_EQ(loader.Download(big), "OKAY");
    EXPECT_EQ(loader.Command("flash:boot"), "FAILimage too large for partition");
    EXPECT_EQ(loader.Command("flash:nosuch"), "FAILpartition does not exist");
    EXPECT_EQ(loader.Command("erase:nosuch"), "FAILpartition does not exist");
    EXPECT_EQ(loader.Get("boot").flashes, 0u);
    EXPECT_EQ(loader.Get("efs2").size, 100u);

    EXPECT_EQ(loader.Command("erase:efs2"), "OKAY");
    EXPECT_TRUE(loader.Get("efs2").erased);
    EXPECT_EQ(loader.Get("efs2").size, 0u);
    EXPECT_EQ(loader.Get("efs2").erases, 1u);

    // An empty download takes the empty transfer that follows it.
    EXPECT_EQ(loader.Command("download:00000000"), "DATA00000000");
    EXPECT_EQ(loader.Message({}), std::vector<std::string>{"OKAY"});
    EXPECT_EQ(loader.Command("flash:efs2"), "OKAY");
    EXPECT_EQ(loader.Get("efs2").DigestText(), Xxh3Hex({}));
    EXPECT_FALSE(loader.Get("efs2").erased);
}

TEST(FastbootDevice, PacketsConcatenateInOrder) {
    Bootloader loader;
    Bytes all;
    // Twelve packets: a one-digit counter sends 9 for the ninth and every later one.
    for (int i = 0; i < 12; ++i) {
        const Bytes packet = RandomBytes(1000 + static_cast<size_t>(i), static_cast<unsigned>(10 + i));
        all.insert(all.end(), packet.begin(), packet.end());
        ASSERT_EQ(loader.Download(packet, {333}), "OKAY");
        ASSERT_EQ(loader.Command("mutilflash:" + std::to_string(std::min(i, 9)) + ":qdsp"), "OKAY") << i;
        EXPECT_EQ(loader.Get("qdsp").size, all.size());
    }
    EXPECT_EQ(loader.Get("qdsp").DigestText(), Xxh3Hex(all));
    EXPECT_EQ(loader.Get("qdsp").flashes, 1u);

    // The same bytes committed twice, a gap, and a stream never begun are refused.
    EXPECT_EQ(loader.Command("mutilflash:9:qdsp"), "FAILno image downloaded");
    ASSERT_EQ(loader.Download(RandomBytes(10, 3)), "OKAY");
    EXPECT_EQ(loader.Command("mutilflash:1:boot"), "FAILpacket out of order");
    EXPECT_EQ(loader.Command("mutilflash:0:boot"), "OKAY");
    EXPECT_EQ(loader.Command("mutilflash:2:boot"), "FAILpacket out of order");
    EXPECT_EQ(loader.Command("mutilflash:x:boot"), "FAILinvalid packet command");
    EXPECT_EQ(loader.Get("qdsp").DigestText(), Xxh3Hex(all));
}

TEST(FastbootDevice, AnswersVariablesWithinOneReply) {
    Bootloader loader(nlohmann::json{{"product", std::string(300, 'p')}});
    EXPECT_EQ(loader.Command("getvar:product").size(), 256u);
    EXPECT_EQ(loader.Command("getvar:max-download-size"), "OKAY0x8000");
    EXPECT_EQ(loader.Command("getvar:partition-size:boot"), "OKAY0x4000");
    EXPECT_EQ(loader.Command("getvar:has-slot:nosuch"), "FAILunknown variable");
    EXPECT_EQ(loader.Command("oem unlock"), "FAILunknown command");

    const std::string all = "getvar:all";
    const std::vector<std::string> replies = loader.Message(Bytes(all.begin(), all.end()));
    ASSERT_GT(replies.size(), 2u);
    for (size_t i = 0; i + 1 < replies.size(); ++i) EXPECT_EQ(replies[i].substr(0, 4), "INFO");
    EXPECT_EQ(replies.back(), "OKAY");
}

TEST(FastbootDevice, RebootAnswersThenResets) {
    Bootloader loader;
    EXPECT_EQ(loader.Command("reboot"), "OKAY");
    EXPECT_EQ(loader.side.requests, std::vector<ModemRequest>{ModemRequest::Reset});
}

TEST(FastbootDeviceFaults, FailsFlashOfTheNamedPartition) {
    Bootloader loader(nlohmann::json{{"failFlash", {"boot"}}});
    ASSERT_EQ(loader.Download(RandomBytes(64, 4)), "OKAY");
    EXPECT_EQ(loader.Command("flash:boot"), "FAILflash write failure");
    EXPECT_EQ(loader.Command("mutilflash:0:boot"), "FAILflash write failure");
    EXPECT_EQ(loader.Get("boot").flashes, 0u);
    EXPECT_EQ(loader.Command("flash:qdsp"), "OKAY");
}

TEST(FastbootDeviceFaults, LeavesTheNthDownloadUnanswered) {
    Bootloader loader(nlohmann::json{{"silentDownload", 2}});
    ASSERT_EQ(loader.Download(RandomBytes(64, 5)), "OKAY");
    EXPECT_EQ(loader.Command("download:00000040"), "(none)");
    EXPECT_FALSE(loader.device.InDownload());
    EXPECT_EQ(loader.Command("download:00000040"), "DATA00000040");
}

TEST(FastbootDeviceFaults, DropsOffTheBusAtEntryK) {
    Bootloader loader(nlohmann::json{{"dropAtEntry", 2}});
    ASSERT_EQ(loader.Download(RandomBytes(64, 6)), "OKAY");
    EXPECT_EQ(loader.Command("erase:qdsp"), "OKAY");
    EXPECT_EQ(loader.Command("flash:boot"), "(none)");
    EXPECT_EQ(loader.side.requests, std::vector<ModemRequest>{ModemRequest::DropOffBus});
    EXPECT_EQ(loader.Get("boot").flashes, 0u);
    EXPECT_EQ(loader.Command("getvar:product"), "(none)");
    // Back on the bus it answers again, and the fault does not repeat.
    loader.device.OnDisconnect();
    ASSERT_EQ(loader.Download(RandomBytes(64, 6)), "OKAY");
    EXPECT_EQ(loader.Command("flash:boot"), "OKAY");
}

TEST(FastbootDeviceFaults, DropsOffTheBusAfterNDataBytes) {
    Bootloader loader(nlohmann::json{{"dropAfterBytes", 100}});
    EXPECT_EQ(loader.Command("download:0000012c"), "DATA0000012c");
    EXPECT_TRUE(loader.Message(Bytes(60, 1)).empty());
    EXPECT_TRUE(loader.Message(Bytes(60, 1)).empty());
    EXPECT_EQ(loader.side.requests, std::vector<ModemRequest>{ModemRequest::DropOffBus});
    EXPECT_TRUE(loader.Message(Bytes(180, 1)).empty());
    loader.device.OnDisconnect();
    EXPECT_EQ(loader.Command("flash:boot"), "FAILno image downloaded");
}

TEST(FastbootDeviceFaults, RepliesAsAMisbehavingBootLoaderWould) {
    Bootloader loader({{"okayText", "-done"}, {"infoLines", {"one", "two"}}, {"splitReplies", 6}, {"dataSize", 10}});
    // INFO lines first, then the answer in two messages; the DATA reply names
    // the scenario's size, not the one asked for.
    EXPECT_EQ(loader.Message(Bytes{'d', 'o', 'w', 'n', 'l', 'o', 'a', 'd', ':', '0', '0', '0', '0', '0', '0', '2', '0'}),
              (std::vector<std::string>{"INFOone", "INFOtwo", "DATA00", "00000a"}));
    EXPECT_EQ(loader.Message(Bytes(10, 7)), (std::vector<std::string>{"INFOone", "INFOtwo", "OKAY-d", "one"}));
    EXPECT_EQ(loader.Message(Bytes{'f', 'l', 'a', 's', 'h', ':', 'b', 'o', 'o', 't'}),
              (std::vector<std::string>{"INFOone", "INFOtwo", "OKAY-d", "one"}));
    EXPECT_EQ(loader.Get("boot").size, 10u);

    for (const auto& [key, bad] : std::vector<std::pair<std::string, nlohmann::json>>{
             {"okayText", 5}, {"infoLines", "one"}, {"infoLines", {1}}, {"splitReplies", -1}, {"dataSize", "ten"}}) {
        EXPECT_THROW(Bootloader(nlohmann::json{{key, bad}}), std::runtime_error) << key;
    }
}

TEST(PartitionStore, CopiesAreIndependentEvenMidStream) {
    PartitionStore store = PartitionStore::FromScenario(Bootloader::Scenario(nlohmann::json::object()));
    const Bytes a = RandomBytes(500, 7), b = RandomBytes(700, 8);
    store.BeginDownload();
    store.AppendDownload(a.data(), a.size());
    store.CompleteDownload();
    ASSERT_EQ(store.FlashPacket("qdsp", 0), PartitionStore::Result::Ok);
    store.BeginDownload();
    store.AppendDownload(b.data(), 300);

    const PartitionStore factory = store;  // mid-download, mid-stream
    store.AppendDownload(b.data() + 300, 400);
    store.CompleteDownload();
    ASSERT_EQ(store.FlashPacket("qdsp", 1), PartitionStore::Result::Ok);

    Bytes ab = a;
    ab.insert(ab.end(), b.begin(), b.end());
    EXPECT_EQ(store.Find("qdsp")->DigestText(), Xxh3Hex(ab));
    EXPECT_EQ(factory.Find("qdsp")->DigestText(), Xxh3Hex(a));
    PartitionStore restored = factory;
    restored.AppendDownload(b.data() + 300, 400);
    restored.CompleteDownload();
    ASSERT_EQ(restored.FlashPacket("qdsp", 1), PartitionStore::Result::Ok);
    EXPECT_EQ(restored.Find("qdsp")->DigestText(), Xxh3Hex(ab));
}

TEST(PartitionStore, ReadsScenarioPartitionsStrictly) {
    EXPECT_NE(PartitionStore::FromScenario(nlohmann::json::object()).Find("efs2"), nullptr);
    const auto load = [](nlohmann::json entry) {
        return PartitionStore::FromScenario({{"partitions", {{"boot", std::move(entry)}}}});
    };
    EXPECT_EQ(load({{"capacity", 10}, {"size", 4}, {"digest", "0123456789ABCDEF"}}).Find("boot")->DigestText(),
              "0123456789abcdef");
    EXPECT_THROW(load({{"capacity", 10}, {"size", 11}, {"digest", "0123456789abcdef"}}), std::runtime_error);
    EXPECT_THROW(load({{"capacity", 10}, {"size", 4}}), std::runtime_error);  // content without its digest
    EXPECT_THROW(load({{"capacity", 10}, {"sise", 4}}), std::runtime_error);
    EXPECT_THROW(FastbootSettings::FromScenario({{"bootloader", {{"maxDownloadSize", "lots"}}}}), std::runtime_error);
}

}  // namespace
}  // namespace firmora::sim
