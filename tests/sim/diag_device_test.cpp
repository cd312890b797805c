#include "sim/diag_device.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "link/diag_commands.h"
#include "link/diag_efs.h"
#include "link/hdlc_framer.h"
#include "link/serial_channel.h"
#include "package/download_options.h"
#include "recording_reporter.h"
#include "responder_port.h"
#include "sim_diag_stack.h"

namespace firmora::testing {
namespace {

using nlohmann::json;

// The tool's own DIAG stack on COM3, with a simulated device's responder behind it.
class DiagDeviceTest : public SimDiagStack {
protected:

    // One request and its reply, as the tool's framer sends and reads them.
    Bytes Exchange(const Bytes& request) {
        framer.BuildPacket(request);
        framer.SendFrame();
        const link::FrameReadResult result = framer.ReadFrame();
        EXPECT_TRUE(result.ok()) << "no reply to " << Hex(request);
        const auto packet = framer.ReceivedPacket();
        return Bytes(packet.begin(), packet.end());
    }

    // Writes a file the way the restore does: 1488-byte blocks.
    void Upload(const std::string& path, const Bytes& content) {
        ASSERT_EQ(diag.EfsOpenForWrite(path), link::EfsResult::Done);
        for (size_t offset = 0; offset < content.size(); offset += 1488) {
            const size_t count = std::min<size_t>(1488, content.size() - offset);
            ASSERT_EQ(diag.EfsWriteBlock(static_cast<uint32_t>(offset), std::span(content).subspan(offset, count)),
                      link::EfsResult::Done);
        }
        ASSERT_EQ(diag.EfsCloseFile(), link::EfsResult::Done);
    }

    // Reads a file the way the backup does: 512-byte chunks.
    Bytes Download(const std::string& path) {
        uint32_t size = 0;
        const link::EfsOpenRead opened = diag.EfsOpenForRead(path, size);
        EXPECT_TRUE(opened == link::EfsOpenRead::Opened || opened == link::EfsOpenRead::EmptyFile);
        Bytes content;
        for (uint32_t offset = 0; offset < size; offset += 512) {
            const Bytes reply = Exchange(link::EfsReadRequest(512, offset));
            const auto read = link::ParseEfsReadReply(reply);
            EXPECT_TRUE(read && read->fd == 0 && read->err == 0);
            if (!read) break;
            content.insert(content.end(), read->data.begin(), read->data.end());
        }
        if (size > 0) {
            EXPECT_EQ(diag.EfsCloseFile(), link::EfsResult::Done);
        }
        return content;
    }

};

Bytes Pattern(size_t size, uint8_t salt) {
    Bytes out(size);
    for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>((i * 31 + i / 256 + salt) & 0xFF);
    return out;
}

TEST_F(DiagDeviceTest, ControlCommandsAnswerAndAskForTheirTransitions) {
    Start({{"identity", {{"platformCode", 0x42}}}, {"diag", {{"latencyMs", 7}, {"transitionDelayMs", 40}}}});
    EXPECT_EQ(diag.QueryPlatformCode(), 0x42);
    EXPECT_TRUE(port->requests.empty());

    EXPECT_EQ(diag.SendPowerOff(), link::DiagAck::Acknowledged);
    ASSERT_EQ(port->requests.size(), 1u);
    EXPECT_EQ(port->requests[0].first, sim::ModemRequest::PowerOff);
    // The transition follows the acknowledgement, so the tool reads it first.
    EXPECT_GT(port->requests[0].second, clock.TickCount());

    EXPECT_EQ(diag.SendReset(), link::DiagAck::Acknowledged);
    EXPECT_EQ(diag.DiagModeOffline(), link::DiagAck::Acknowledged);
    EXPECT_EQ(diag.DiagModeReset(), link::DiagAck::Acknowledged);
    ASSERT_EQ(port->requests.size(), 3u);
    EXPECT_EQ(port->requests[1].first, sim::ModemRequest::Reset);
    EXPECT_EQ(port->requests[2].first, sim::ModemRequest::Reset);

    // An unknown command is refused with the request after 0x13.
    EXPECT_EQ(Hex(Exchange({0x4B, 0x99, 0x01})), "13 4B 99 01");
    EXPECT_EQ(Hex(Exchange({0x4B, 0x13, 0x77, 0x00})), "13 4B 13 77 00");
}

TEST_F(DiagDeviceTest, FilesRoundTripThroughTheToolsEfsRequests) {
    Start({{"efs", {{"folders", {"data"}}}}});
    for (const size_t size : {size_t{0}, size_t{512}, size_t{1000}, size_t{100000}}) {
        SCOPED_TRACE(size);
        const std::string path = "/data/file" + std::to_string(size) + ".bin";
        const Bytes content = Pattern(size, static_cast<uint8_t>(size));
        Upload(path, content);
        EXPECT_EQ(state.efs().FileContent(path), content);
        EXPECT_EQ(Download(path), content);
        EXPECT_EQ(state.efs().OpenDescriptors(), 0u);
    }
    // Writing again truncates what was there.
    Upload("/data/file1000.bin", Pattern(10, 1));
    EXPECT_EQ(Download("/data/file1000.bin"), Pattern(10, 1));
    // Into a folder that does not exist nothing is created.
    EXPECT_EQ(diag.EfsOpenForWrite("/nowhere/file"), link::EfsResult::Refused);
    EXPECT_FALSE(state.efs().IsFile("/nowhere/file"));
}

TEST_F(DiagDeviceTest, DoubledSlashesFindTheRfNvFiles) {
    Start(json::object());
    const Bytes expected = sim::GeneratedRfNvFile(sim::DiagDeviceState::kDefaultSeed, 20309);
    EXPECT_EQ(diag.EfsLookUpPath("nv//item_files//rfnv//00020309"), link::EfsPathState::Present);
    EXPECT_EQ(diag.EfsLookUpPath("nv//item_files//rfnv//00020000"), link::EfsPathState::Absent);
    EXPECT_EQ(Download("nv//item_files//rfnv//00020309"), expected);

    // The restore writes them back under the same doubled path.
    Upload("nv//item_files//rfnv//00020309", Pattern(300, 9));
    EXPECT_EQ(state.efs().FileContent("nv/item_files/rfnv/00020309"), Pattern(300, 9));
}

TEST_F(DiagDeviceTest, FolderCreationAndRemoval) {
    Start({{"efs",
            {{"files",
              {{"data/keep.txt", "kept"},
               {"plain/a.txt", "a"},
               {"plain/b.bin", {{"hex", "00 01 02"}}},
               {"nested/file.txt", "f"},
               {"nested/sub/inner.txt", "i"}}}}}});

    EXPECT_EQ(diag.EfsMakeDir("newdir"), link::EfsResult::Done);
    EXPECT_TRUE(state.efs().IsFolder("newdir"));
    // An existing folder: the device says "exists" and leaves it as it was.
    const auto err = link::EfsReplyErrno(Exchange(link::EfsMakeDirRequest("data")), link::EfsCommand::MakeDir);
    EXPECT_EQ(err, sim::kEfsEEXIST);
    EXPECT_EQ(state.efs().FileContent("data/keep.txt"), Bytes({'k', 'e', 'p', 't'}));

    // A subfolder stops the removal before anything goes, and the listing is closed.
    EXPECT_EQ(diag.EfsRemoveDirWithFiles("nested"), link::RemoveDirResult::HasSubfolder);
    EXPECT_TRUE(state.efs().IsFile("nested/file.txt"));
    EXPECT_TRUE(state.efs().IsFile("nested/sub/inner.txt"));
    EXPECT_EQ(state.efs().OpenListings(), 0u);

    EXPECT_EQ(diag.EfsRemoveDirWithFiles("plain"), link::RemoveDirResult::Removed);
    EXPECT_FALSE(state.efs().IsFolder("plain"));
    EXPECT_EQ(diag.EfsRemoveEmptyDir("nested"), link::EfsResult::Refused);
}

TEST_F(DiagDeviceTest, InjectedEfsFaultsReachTheErrnoField) {
    Start({{"efs", {{"folders", {"data"}}}},
           {"diag",
            {{"efsFaults", {{{"op", "write"}, {"errno", 28}, {"afterBytes", 1000}, {"path", "/data/full.bin"}}}}}}});
    ASSERT_EQ(diag.EfsOpenForWrite("data/full.bin"), link::EfsResult::Done);
    EXPECT_EQ(diag.EfsWriteBlock(0, Pattern(1488, 3)), link::EfsResult::Refused);
    const auto reply = link::ParseEfsWriteReply(framer.ReceivedPacket());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->err, sim::kEfsENOSPC);
    EXPECT_EQ(reply->bytesWritten, -1);
    // The bytes before the limit did land, as on a device that filled up.
    EXPECT_EQ(state.efs().FileContent("data/full.bin")->size(), 1000u);
    EXPECT_EQ(diag.EfsCloseFile(), link::EfsResult::Done);

    // Other files are not hit.
    Upload("data/other.bin", Pattern(3000, 4));
    EXPECT_EQ(state.efs().FileContent("data/other.bin"), Pattern(3000, 4));
}

TEST_F(DiagDeviceTest, FaultsOnTheWire) {
    // A reply with a spoilt CRC: the tool asks again and gets a good one.
    Start({{"identity", {{"platformCode", 0x21}}}, {"diag", {{"corruptCrcReplies", {1}}}}});
    EXPECT_EQ(diag.QueryPlatformCode(), 0x21);
    EXPECT_EQ(device.writes.size(), 2u);
    EXPECT_EQ(responder->RepliesSent(), 2u);

    // A silent command: three unanswered attempts.
    Start({{"diag", {{"noAnswer", {"0x7C"}}}}});
    device.writes.clear();
    EXPECT_EQ(diag.QueryPlatformCode(), std::nullopt);
    EXPECT_EQ(device.writes.size(), 3u);
    EXPECT_EQ(responder->RepliesSent(), 0u);
}

// What the host side of a port sees, without a tool in between.
class RecordingSide final : public sim::DeviceSide {
public:
    void Send(const sim::Bytes& bytes, uint64_t) override { sent.push_back(bytes); }
    void Request(sim::ModemRequest, uint64_t) override {}
    uint64_t NowMs() const override { return 0; }
    std::vector<Bytes> sent;
};

TEST(DiagResponderInput, RequestsAreTakenFromAnySplitAndBadFramesGoUnanswered) {
    sim::DiagDeviceState state = sim::DiagDeviceState::FromScenario({{"identity", {{"platformCode", 5}}}});
    sim::DiagResponder responder(state, json::object());
    RecordingSide side;

    Bytes stream = link::EncodeHdlcFrame(Bytes{0x7C}, true);
    Bytes bad = link::EncodeHdlcFrame(Bytes{0x7C});
    bad[1] ^= 0x01;  // CRC no longer matches
    stream.insert(stream.end(), bad.begin(), bad.end());
    const Bytes stat = link::EncodeHdlcFrame(link::EfsStatRequest("nv/item_files/rfnv/00020309"));
    stream.insert(stream.end(), stat.begin(), stat.end());
    for (uint8_t byte : stream) responder.OnHostBytes(&byte, 1, side);

    ASSERT_EQ(side.sent.size(), 2u);
    const link::HdlcDecoded platform = link::DecodeHdlcFrame(side.sent[0]);
    ASSERT_TRUE(platform.ok());
    EXPECT_EQ(platform.packet.at(8), 5);
    const auto statReply = link::ParseEfsStatReply(link::DecodeHdlcFrame(side.sent[1]).packet);
    ASSERT_TRUE(statReply);
    EXPECT_EQ(statReply->err, 0);
    EXPECT_EQ(statReply->mode, sim::kEfsFileMode);
    EXPECT_EQ(statReply->linkCount, 1u);

    // Half a frame, then the port goes away: the rest starts afresh.
    const Bytes query = link::EncodeHdlcFrame(Bytes{0x7C});
    responder.OnHostBytes(query.data(), 1, side);
    responder.OnDisconnect();
    responder.OnHostBytes(query.data() + 1, query.size() - 1, side);
    EXPECT_EQ(side.sent.size(), 2u);
}

// NV packets as the NV backup and restore lay them out.
Bytes NvRead(uint16_t item) {
    Bytes packet{0x26, static_cast<uint8_t>(item), static_cast<uint8_t>(item >> 8)};
    packet.resize(3 + 128, 0x00);
    packet.push_back(0xCC);
    packet.push_back(0xCC);
    return packet;
}

Bytes NvWrite(uint16_t item, const Bytes& data) {
    Bytes packet{0x27, static_cast<uint8_t>(item), static_cast<uint8_t>(item >> 8)};
    packet.insert(packet.end(), data.begin(), data.end());
    packet.resize(3 + 128, 0x00);
    packet.push_back(0x00);
    packet.push_back(0x00);
    return packet;
}

uint16_t Status(const Bytes& reply) { return static_cast<uint16_t>(reply.at(131) | reply.at(132) << 8); }
Bytes Data(const Bytes& reply) { return Bytes(reply.begin() + 3, reply.begin() + 131); }

TEST_F(DiagDeviceTest, NvItemsReadAndWriteWithTheirStatuses) {
    Start({{"nv",
            {{"seed", 77},
             {"inactive", {4953}},
             {"badParameter", {571}},
             {"badTarget", {5000}},
             {"items", {{"6853", "01 A0 FF"}, {"540", {{"data", "11"}, {"writeStatus", 7}}}}}}}});

    // Listed and generated contents.
    Bytes reply = Exchange(NvRead(6853));
    ASSERT_EQ(reply.size(), 133u);
    EXPECT_EQ(Hex(Bytes(reply.begin(), reply.begin() + 6)), "26 C5 1A 01 A0 FF");
    EXPECT_EQ(Status(reply), sim::kNvDone);
    reply = Exchange(NvRead(4212));
    EXPECT_EQ(Status(reply), sim::kNvDone);
    const sim::NvData generated = sim::GeneratedNvData(77, 4212);
    EXPECT_EQ(Data(reply), Bytes(generated.begin(), generated.end()));

    const Bytes fresh = Pattern(128, 0x55);
    const auto roundTrip = [&](uint16_t item, uint16_t readBefore, uint16_t writeStatus, uint16_t readAfter) {
        SCOPED_TRACE(item);
        EXPECT_EQ(Status(Exchange(NvRead(item))), readBefore);
        const Bytes written = Exchange(NvWrite(item, fresh));
        ASSERT_EQ(written.size(), 133u);
        EXPECT_EQ(written[0], 0x27);
        EXPECT_EQ(Status(written), writeStatus);
        const Bytes after = Exchange(NvRead(item));
        EXPECT_EQ(Status(after), readAfter);
        if (readAfter == sim::kNvDone) {
            EXPECT_EQ(Data(after), fresh);
        }
    };
    roundTrip(4212, sim::kNvDone, sim::kNvDone, sim::kNvDone);
    // Writing an inactive item makes it active.
    roundTrip(4953, sim::kNvInactive, sim::kNvDone, sim::kNvDone);
    roundTrip(571, sim::kNvBadParameter, sim::kNvBadParameter, sim::kNvBadParameter);
    roundTrip(5000, sim::kNvBadTarget, sim::kNvBadTarget, sim::kNvBadTarget);
    // A forced write status refuses the write and keeps the old contents.
    EXPECT_EQ(Status(Exchange(NvWrite(540, fresh))), sim::kNvReadOnly);
    EXPECT_EQ(Data(Exchange(NvRead(540)))[0], 0x11);
}

TEST(DiagDeviceState, TheFactoryDeviceHasOtherDataButTheSameChip) {
    const json scenario = {{"identity", {{"platformCode", 9}}},
                           {"nv", {{"inactive", {4953}}, {"items", {{"571", "AA"}}}}},
                           {"efs", {{"files", {{"data/user.txt", "mine"}}}}}};
    const sim::DiagDeviceState device = sim::DiagDeviceState::FromScenario(scenario);
    const sim::DiagDeviceState factory = sim::DiagDeviceState::FactoryFromScenario(scenario);

    EXPECT_EQ(factory.platformCode(), 9);
    EXPECT_NE(factory.nv().Read(540).data, device.nv().Read(540).data);
    EXPECT_NE(factory.nv().Read(571).data, device.nv().Read(571).data);
    EXPECT_EQ(factory.nv().Read(4953).status, sim::kNvInactive);
    EXPECT_FALSE(factory.efs().IsFile("data/user.txt"));
    const std::string rfnv = sim::RfNvFilePath(28334);
    ASSERT_TRUE(factory.efs().IsFile(rfnv));
    EXPECT_NE(factory.efs().FileContent(rfnv), device.efs().FileContent(rfnv));

    // A scenario may spell the wiped device out.
    const json spelled = {{"factory", {{"nv", {{"generated", false}}}, {"efs", {{"rfnvItems", json::array()}}}}}};
    const sim::DiagDeviceState bare = sim::DiagDeviceState::FactoryFromScenario(spelled);
    EXPECT_EQ(bare.nv().Read(540).status, sim::kNvBadTarget);
    EXPECT_TRUE(bare.efs().Names("").empty());
}

TEST(DiagDeviceState, KeysOfTheWrongTypeAreNamed) {
    const auto message = [](const json& scenario) -> std::string {
        try {
            sim::DiagDeviceState::FromScenario(scenario);
            sim::DiagResponderSettings::FromScenario(scenario);
        } catch (const std::runtime_error& error) {
            return error.what();
        }
        return "accepted";
    };
    EXPECT_NE(message({{"nv", {{"seed", "one"}}}}).find("scenario: nv.seed:"), std::string::npos);
    EXPECT_NE(message({{"nv", {{"items", {{"12x", "00"}}}}}}).find("scenario: nv.items.12x:"), std::string::npos);
    // A misspelt fault would otherwise vanish without a word.
    EXPECT_EQ(message({{"diag", {{"corruptCRCReplies", {1}}}}}), "scenario: diag.corruptCRCReplies: unknown key");
    EXPECT_NE(message({{"nv", {{"items", {{"12", "0G"}}}}}}).find("scenario: nv.items.12:"), std::string::npos);
    EXPECT_NE(message({{"efs", {{"files", {{"a.txt", 5}}}}}}).find("scenario: efs.files.a.txt:"), std::string::npos);
    EXPECT_NE(message({{"efs", {{"rfnvItems", {571}}}}}).find("scenario: efs.rfnvItems:"), std::string::npos);
    EXPECT_NE(message({{"identity", {{"platformCode", 300}}}}).find("scenario: identity.platformCode:"),
              std::string::npos);
    EXPECT_NE(
        message({{"diag", {{"efsFaults", {{{"op", "format"}, {"errno", 5}}}}}}}).find("scenario: diag.efsFaults.op:"),
        std::string::npos);
    EXPECT_EQ(message({{"identity", {{"imei", "123"}}}, {"diag", {{"noAnswer", {17, "0x4B"}}}}}), "accepted");
}

}  // namespace
}  // namespace firmora::testing
