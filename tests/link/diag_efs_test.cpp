#include "link/diag_efs.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>

#include "diag_responder.h"
#include "link/diag_commands.h"
#include "platform/last_error.h"

namespace firmora::testing {
namespace {

using link::EfsCommand;
using link::EfsOpenRead;
using link::EfsPathState;
using link::EfsResult;
using link::RemoveDirResult;

TEST(EfsPackets, RequestLayouts) {
    EXPECT_EQ(Hex(link::EfsOpenRequest(0x241, 0x1B6, "/a")), "4B 13 02 00 41 02 00 00 B6 01 00 00 2F 61 00");
    EXPECT_EQ(Hex(link::EfsReadRequest(512, 1024)), "4B 13 04 00 00 00 00 00 00 02 00 00 00 04 00 00");
    EXPECT_EQ(Hex(link::EfsWriteRequest(16, Bytes{0xAA})), "4B 13 05 00 00 00 00 00 10 00 00 00 AA");
    EXPECT_EQ(Hex(link::EfsMakeDirRequest("d")), "4B 13 09 00 FF 01 64 00");
    EXPECT_EQ(Hex(link::EfsReadDirRequest(3)), "4B 13 0C 00 01 00 00 00 03 00 00 00");
    EXPECT_EQ(Hex(link::EfsCloseDirRequest()), "4B 13 0D 00 01 00 00 00");
    EXPECT_EQ(Hex(link::EfsProbeRequest()), "4B 13 13 00 00");
}

TEST(EfsPackets, ReplyAccessorsCheckHeaderAndLength) {
    const Bytes readReply = EfsReply(0x04, {0, 512, 3, 0}, Bytes{1, 2, 3});
    const auto read = link::ParseEfsReadReply(readReply);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->offset, 512u);
    EXPECT_EQ(read->bytesRead, 3);
    EXPECT_EQ(Bytes(read->data.begin(), read->data.end()), (Bytes{1, 2, 3}));

    const auto entry = link::ParseEfsReadDirReply(EfsDirEntry(4, 0, 0x81B6, "nv.conf"));
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->sequence, 4u);
    EXPECT_EQ(entry->mode, 0x81B6u);
    EXPECT_EQ(entry->name, "nv.conf");

    EXPECT_FALSE(link::ParseEfsWriteReply(EfsReply(0x05, {0, 0, 1})));       // errno missing
    EXPECT_FALSE(link::ParseEfsOpenReply(EfsReply(0x03, {0, 0})));          // another sub-command
    EXPECT_FALSE(link::EfsReplyErrno(Bytes{0x4B, 0x13, 0x08}, EfsCommand::Unlink));
    EXPECT_EQ(link::EfsReplyErrno(EfsReply(0x08, {2}), EfsCommand::Unlink), 2);
}

class DiagEfsTest : public DiagBench {
protected:
    // Answers each EFS request with the reply `answer` gives for its sub-command.
    void Serve(std::function<Bytes(uint16_t command, const Bytes& request)> answer) {
        diag.onRequest = [this, answer](const Bytes& r) {
            ASSERT_GE(r.size(), 4u);
            diag.Reply(answer(static_cast<uint16_t>(r[2] | r[3] << 8), r));
        };
    }
    size_t Sent(EfsCommand command) const {
        return diag.Count({0x4B, 0x13, static_cast<uint8_t>(command), 0x00});
    }

    core::DeviceChangeFlags flags;
    link::DiagCommands efs{framer, channel, clock, reporter, flags};
};

TEST_F(DiagEfsTest, PathAbsentAndOpenForRead) {
    Serve([](uint16_t, const Bytes&) { return EfsReply(0x0F, {2}); });
    EXPECT_EQ(efs.EfsLookUpPath("/nv/x"), EfsPathState::Absent);
    EXPECT_EQ(diag.requests.at(0), link::EfsStatRequest("/nv/x"));
    uint32_t size = 99;
    EXPECT_EQ(efs.EfsOpenForRead("/nv/x", size), EfsOpenRead::StatFailed);
    EXPECT_EQ(size, 0u);

    diag.requests.clear();
    uint32_t fileSize = 1000;
    int32_t openErrno = 0;
    Serve([&](uint16_t command, const Bytes&) {
        if (command == 0x0F) return EfsReply(0x0F, {0, 0x81B6, fileSize, 1, 0, 0, 0});
        return EfsReply(0x02, {0, static_cast<uint32_t>(openErrno)});
    });
    EXPECT_EQ(efs.EfsLookUpPath("/f"), EfsPathState::Present);
    EXPECT_EQ(Sent(EfsCommand::Stat), 5u);

    diag.requests.clear();
    EXPECT_EQ(efs.EfsOpenForRead("/f", size), EfsOpenRead::Opened);
    EXPECT_EQ(size, 1000u);
    EXPECT_EQ(diag.requests.back(), link::EfsOpenRequest(0, 0x124, "/f"));

    openErrno = 13;
    EXPECT_EQ(efs.EfsOpenForRead("/f", size), EfsOpenRead::OpenFailed);

    diag.requests.clear();
    fileSize = 0;
    EXPECT_EQ(efs.EfsOpenForRead("/f", size), EfsOpenRead::EmptyFile);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(Sent(EfsCommand::Open), 0u);
}

TEST_F(DiagEfsTest, OpenForWriteNeedsProbeDescriptorZeroAndNoError) {
    int32_t probeErrno = 0;
    uint32_t fd = 0, openErrno = 0;
    Serve([&](uint16_t command, const Bytes&) {
        if (command == 0x13) return EfsReply(0x13, {static_cast<uint32_t>(probeErrno)});
        return EfsReply(0x02, {fd, openErrno});
    });
    EXPECT_EQ(efs.EfsOpenForWrite("/w"), EfsResult::Done);
    EXPECT_EQ(diag.requests, (std::vector<Bytes>{link::EfsProbeRequest(), link::EfsOpenRequest(0x241, 0x1B6, "/w")}));

    diag.requests.clear();
    openErrno = 28;  // descriptor 0 but an error: not open
    EXPECT_EQ(efs.EfsOpenForWrite("/w"), EfsResult::Refused);
    EXPECT_EQ(Sent(EfsCommand::Open), 100u);

    diag.requests.clear();
    probeErrno = 5;
    EXPECT_EQ(efs.EfsOpenForWrite("/w"), EfsResult::Refused);
    EXPECT_EQ(Sent(EfsCommand::Open), 0u);
}

TEST_F(DiagEfsTest, WriteBlockNeedsEveryByteWrittenWithoutError) {
    const Bytes block(300, 0x7E);
    uint32_t written = 300, err = 0;
    bool corruptFirst = true;
    diag.onRequest = [&](const Bytes& r) {
        const Bytes reply = EfsReply(0x05, {0, 64, written, err});
        if (corruptFirst) {
            diag.ReplyWithBadCrc(reply);
        } else {
            diag.Reply(reply);
        }
        corruptFirst = false;
        EXPECT_EQ(r, link::EfsWriteRequest(64, block));
    };
    EXPECT_EQ(efs.EfsWriteBlock(64, block), EfsResult::Done);
    EXPECT_EQ(diag.requests.size(), 2u);

    written = 200;
    EXPECT_EQ(efs.EfsWriteBlock(64, block), EfsResult::Refused);
    written = 300;
    err = 28;
    EXPECT_EQ(efs.EfsWriteBlock(64, block), EfsResult::Refused);
}

TEST_F(DiagEfsTest, SingleRequestOperations) {
    int32_t err = 0;
    Serve([&](uint16_t command, const Bytes&) { return EfsReply(command, {static_cast<uint32_t>(err)}); });
    EXPECT_EQ(efs.EfsMakeDir("/d"), EfsResult::Done);
    EXPECT_EQ(efs.EfsCloseFile(), EfsResult::Done);
    EXPECT_EQ(efs.EfsRemoveFile("/d", "f.bin"), EfsResult::Done);
    EXPECT_EQ(diag.requests.back(), link::EfsUnlinkRequest("/d/f.bin"));
    err = 6;  // exists already
    EXPECT_EQ(efs.EfsMakeDir("/d"), EfsResult::Done);
    err = 17;
    diag.requests.clear();
    EXPECT_EQ(efs.EfsMakeDir("/d"), EfsResult::Refused);
    EXPECT_EQ(diag.requests.size(), 100u);
    EXPECT_EQ(efs.EfsRemoveEmptyDir("/d"), EfsResult::Refused);
    EXPECT_EQ(efs.EfsCloseDir(), EfsResult::Done);  // any close-listing reply will do

    diag.requests.clear();
    reporter.status = core::kRunStopped;
    EXPECT_EQ(efs.EfsMakeDir("/d"), EfsResult::Stopped);
    EXPECT_EQ(efs.EfsWriteBlock(0, Bytes{1}), EfsResult::Stopped);
    EXPECT_EQ(efs.EfsRemoveDirWithFiles("/d"), RemoveDirResult::Stopped);
    EXPECT_TRUE(diag.requests.empty());
}

TEST_F(DiagEfsTest, SilentDeviceEndsEveryWaitWithinTheReadLimit) {
    // Nothing answers: each attempt gives up after the frame read limit.
    const uint64_t limit = link::HdlcFramer::kTimedReadLimitMs + 1;
    uint64_t start = clock.TickCount();
    EXPECT_EQ(efs.EfsLookUpPath("/f"), EfsPathState::NoAnswer);
    EXPECT_EQ(Sent(EfsCommand::Stat), 5u);
    EXPECT_LE(clock.TickCount() - start, 5 * limit);

    diag.requests.clear();
    start = clock.TickCount();
    uint32_t size = 7;
    EXPECT_EQ(efs.EfsOpenForRead("/f", size), EfsOpenRead::StatFailed);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(Sent(EfsCommand::Stat), 10u);
    EXPECT_LE(clock.TickCount() - start, 10 * limit);
    EXPECT_EQ(reporter.status, 0);  // the caller decides what the silence means
}

TEST_F(DiagEfsTest, AnUnpluggedDeviceEndsTheExchangeAtOnce) {
    int requests = 0;
    Serve([&](uint16_t command, const Bytes&) {
        if (++requests == 2) device.gone = true;  // unplugged after the first reply
        return EfsReply(command, {0});
    });
    EXPECT_EQ(efs.EfsMakeDir("/d"), EfsResult::Done);
    const uint64_t start = clock.TickCount();
    EXPECT_EQ(efs.EfsMakeDir("/e"), EfsResult::NoAnswer);
    EXPECT_EQ(efs.EfsWriteBlock(0, Bytes{1, 2}), EfsResult::NoAnswer);
    EXPECT_EQ(efs.EfsLookUpPath("/e"), EfsPathState::NoAnswer);
    EXPECT_EQ(efs.EfsRemoveDirWithFiles("/e"), RemoveDirResult::ProtocolFailure);
    EXPECT_EQ(requests, 2);
    EXPECT_EQ(clock.TickCount(), start);  // no waiting, no retry pauses
}

TEST_F(DiagEfsTest, PathsARequestCannotCarryAreRefusedUnsent) {
    Serve([](uint16_t command, const Bytes&) { return EfsReply(command, {0}); });
    const std::string longest(link::kEfsMaxPathBytes, 'a');
    EXPECT_EQ(efs.EfsMakeDir(longest), EfsResult::Done);
    diag.requests.clear();

    const std::string tooLong = longest + "a";
    uint32_t size = 0;
    EXPECT_EQ(efs.EfsLookUpPath(tooLong), EfsPathState::BadPath);
    EXPECT_EQ(efs.EfsOpenForRead(tooLong, size), EfsOpenRead::BadPath);
    EXPECT_EQ(efs.EfsOpenForWrite(tooLong), EfsResult::BadPath);
    EXPECT_EQ(efs.EfsMakeDir(tooLong), EfsResult::BadPath);
    EXPECT_EQ(efs.EfsRemoveEmptyDir(tooLong), EfsResult::BadPath);
    EXPECT_EQ(efs.EfsRemoveFile(longest, "f"), EfsResult::BadPath);
    EXPECT_EQ(efs.EfsRemoveDirWithFiles(tooLong), RemoveDirResult::BadPath);
    // A zero byte would end the path early on the device.
    EXPECT_EQ(efs.EfsRemoveFile(std::string("/d\0/x", 5)), EfsResult::BadPath);
    EXPECT_TRUE(diag.requests.empty());
    EXPECT_EQ(platform::LastError(), static_cast<uint32_t>(ENAMETOOLONG));
}

class RemoveDirTest : public DiagEfsTest {
protected:
    // A device folder "/d" listing `entries` (mode, name), then an end entry.
    void ServeFolder() {
        Serve([this](uint16_t command, const Bytes& r) {
            switch (command) {
                case 0x0B: return EfsReply(0x0B, {1, 0});
                case 0x0C: {
                    const size_t i = r[8] - 1u;
                    if (i < entries.size()) return EfsDirEntry(r[8], 0, entries[i].first, entries[i].second);
                    return EfsDirEntry(r[8], 0, 0, "");
                }
                case 0x08: return EfsReply(0x08, {unlinkErrno[std::string(r.begin() + 4, r.end() - 1)]});
                case 0x0A: return EfsReply(0x0A, {rmdirErrno});
                default: return EfsReply(command, {0});
            }
        });
    }
    size_t Removals() const { return Sent(EfsCommand::Unlink) + Sent(EfsCommand::RemoveDir); }

    std::vector<std::pair<uint32_t, std::string>> entries;
    std::map<std::string, uint32_t> unlinkErrno;
    uint32_t rmdirErrno = 0;
};

TEST_F(RemoveDirTest, RemovesThePlainFilesThenTheFolder) {
    entries = {{0x81B6, "a.bin"}, {0x8124, "link"}, {0x81B6, "b.bin"}};
    ServeFolder();
    EXPECT_EQ(efs.EfsRemoveDirWithFiles("/d"), RemoveDirResult::Removed);
    EXPECT_EQ(diag.requests, (std::vector<Bytes>{link::EfsOpenDirRequest("/d"), link::EfsReadDirRequest(1),
                                                 link::EfsReadDirRequest(2), link::EfsReadDirRequest(3),
                                                 link::EfsReadDirRequest(4), link::EfsCloseDirRequest(),
                                                 link::EfsUnlinkRequest("/d/a.bin"), link::EfsUnlinkRequest("/d/b.bin"),
                                                 link::EfsRemoveDirRequest("/d")}));
}

TEST_F(RemoveDirTest, FailuresAndLimits) {
    entries = {{0x81B6, "a.bin"}, {0x41FF, "sub"}};
    ServeFolder();
    EXPECT_EQ(efs.EfsRemoveDirWithFiles("/d"), RemoveDirResult::HasSubfolder);
    EXPECT_EQ(Removals(), 0u);
    EXPECT_EQ(Sent(EfsCommand::CloseDir), 1u);  // the listing is not left open

    entries = {{0x81B6, "a.bin"}};
    unlinkErrno["/d/a.bin"] = 13;
    EXPECT_EQ(efs.EfsRemoveDirWithFiles("/d"), RemoveDirResult::FileKept);
    unlinkErrno.clear();
    rmdirErrno = 39;
    EXPECT_EQ(efs.EfsRemoveDirWithFiles("/d"), RemoveDirResult::FolderKept);

    diag.requests.clear();
    entries.assign(51, {0x81B6, "f"});
    EXPECT_EQ(efs.EfsRemoveDirWithFiles("/d"), RemoveDirResult::ProtocolFailure);
    entries = {{0x81B6, std::string(129, 'n')}};
    EXPECT_EQ(efs.EfsRemoveDirWithFiles("/d"), RemoveDirResult::ProtocolFailure);
    EXPECT_EQ(Removals(), 0u);
}

TEST_F(RemoveDirTest, ANameThatIsNotOneEntryOfTheFolderRemovesNothing) {
    // Each name is removed as "/d/<name>": a name that climbs out of the
    // folder or reaches into another would remove a file elsewhere.
    ServeFolder();
    for (const std::string name : {"../nv.bin", "sub/f", ".", "..", "/efs/x"}) {
        entries = {{0x81B6, "a.bin"}, {0x81B6, name}};
        diag.requests.clear();
        EXPECT_EQ(efs.EfsRemoveDirWithFiles("/d"), RemoveDirResult::ProtocolFailure) << name;
        EXPECT_EQ(Removals(), 0u) << name;
        EXPECT_EQ(Sent(EfsCommand::CloseDir), 1u) << name;
    }
}

}  // namespace
}  // namespace firmora::testing
