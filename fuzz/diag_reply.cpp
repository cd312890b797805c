// Replies from the Diag port to the tool's DIAG requests: NV item read and
// write, the EFS2 operations (open, read, write, status, folder listing and
// the plain acknowledgements) and the platform query.
//
// Properties: a reply a parser accepts carries the command it answers (for
// EFS2 the subsystem and the sub-command too) and holds every field read;
// each field is the little-endian word at its own place; data and names lie
// inside the reply; a folder entry the removal of a folder keeps is one plain
// name inside that folder; and a reply laid out from chosen values (the
// tool's own NV packet, an EFS2 header before the input) parses back to them.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "link/diag_commands.h"
#include "link/diag_efs.h"
#include "link/diag_nv_packet.h"

namespace {

using namespace firmora::link;

uint32_t WordAt(std::span<const uint8_t> reply, size_t offset) {
    return static_cast<uint32_t>(reply[offset]) | static_cast<uint32_t>(reply[offset + 1]) << 8 |
           static_cast<uint32_t>(reply[offset + 2]) << 16 | static_cast<uint32_t>(reply[offset + 3]) << 24;
}

bool HasHeader(std::span<const uint8_t> reply, EfsCommand command) {
    const auto code = static_cast<uint16_t>(command);
    return reply.size() >= 4 && reply[0] == kDiagSubsystemCommand && reply[1] == kDiagSubsystemEfs2 &&
           reply[2] == (code & 0xFF) && reply[3] == (code >> 8);
}

// A parser of `command` that needs `bytes` bytes accepts exactly the replies
// of that command holding them.
template <typename Parsed>
void CheckAccepted(const std::optional<Parsed>& parsed, std::span<const uint8_t> reply, EfsCommand command,
                   size_t bytes) {
    FUZZ_CHECK(parsed.has_value() == (HasHeader(reply, command) && reply.size() >= bytes));
}

void CheckEfs(std::span<const uint8_t> reply) {
    for (EfsCommand command : {EfsCommand::Close, EfsCommand::Unlink, EfsCommand::MakeDir, EfsCommand::RemoveDir,
                               EfsCommand::CloseDir, EfsCommand::Probe, EfsCommand::Stat}) {
        const auto err = EfsReplyErrno(reply, command);
        CheckAccepted(err, reply, command, 8);
        if (err) FUZZ_CHECK(static_cast<uint32_t>(*err) == WordAt(reply, 4));
    }

    const auto open = ParseEfsOpenReply(reply);
    CheckAccepted(open, reply, EfsCommand::Open, 12);
    if (open) {
        FUZZ_CHECK(static_cast<uint32_t>(open->fd) == WordAt(reply, 4));
        FUZZ_CHECK(static_cast<uint32_t>(open->err) == WordAt(reply, 8));
    }

    const auto read = ParseEfsReadReply(reply);
    CheckAccepted(read, reply, EfsCommand::Read, 20);
    if (read) {
        FUZZ_CHECK(read->fd == WordAt(reply, 4) && read->offset == WordAt(reply, 8));
        FUZZ_CHECK(static_cast<uint32_t>(read->bytesRead) == WordAt(reply, 12));
        FUZZ_CHECK(static_cast<uint32_t>(read->err) == WordAt(reply, 16));
        FUZZ_CHECK(read->data.data() == reply.data() + 20 && read->data.size() == reply.size() - 20);
    }

    const auto write = ParseEfsWriteReply(reply);
    CheckAccepted(write, reply, EfsCommand::Write, 20);
    if (write) {
        FUZZ_CHECK(write->fd == WordAt(reply, 4) && write->offset == WordAt(reply, 8));
        FUZZ_CHECK(static_cast<uint32_t>(write->bytesWritten) == WordAt(reply, 12));
        FUZZ_CHECK(static_cast<uint32_t>(write->err) == WordAt(reply, 16));
    }

    const auto stat = ParseEfsStatReply(reply);
    CheckAccepted(stat, reply, EfsCommand::Stat, 20);
    if (stat) {
        FUZZ_CHECK(static_cast<uint32_t>(stat->err) == WordAt(reply, 4) && stat->mode == WordAt(reply, 8));
        FUZZ_CHECK(stat->size == WordAt(reply, 12) && stat->linkCount == WordAt(reply, 16));
    }

    const auto openDir = ParseEfsOpenDirReply(reply);
    CheckAccepted(openDir, reply, EfsCommand::OpenDir, 12);
    if (openDir) {
        FUZZ_CHECK(openDir->dirHandle == WordAt(reply, 4) && static_cast<uint32_t>(openDir->err) == WordAt(reply, 8));
    }

    const auto entry = ParseEfsReadDirReply(reply);
    CheckAccepted(entry, reply, EfsCommand::ReadDir, 40);
    if (entry) {
        FUZZ_CHECK(entry->dirHandle == WordAt(reply, 4) && entry->sequence == WordAt(reply, 8));
        FUZZ_CHECK(entry->mode == WordAt(reply, 20) && entry->changeTime == WordAt(reply, 36));
        // The name is the bytes from 40 up to the first zero.
        FUZZ_CHECK(entry->name.size() <= reply.size() - 40);
        FUZZ_CHECK(std::equal(entry->name.begin(), entry->name.end(), reply.begin() + 40,
                              [](char c, uint8_t b) { return static_cast<uint8_t>(c) == b; }));
        FUZZ_CHECK(entry->name.find('\0') == std::string::npos);
        FUZZ_CHECK(40 + entry->name.size() == reply.size() || reply[40 + entry->name.size()] == 0);
    }

    // What the removal of a folder makes of the entry.
    const ListingEntry listed = ReadListingEntry(reply, 128);
    if (!HasHeader(reply, EfsCommand::ReadDir)) FUZZ_CHECK(listed.kind == ListingEntry::Kind::Unusable);
    if (listed.kind == ListingEntry::Kind::PlainFile) {
        FUZZ_CHECK(entry && (entry->mode & 0xFFFF) == kEfsModePlainFile && entry->name == listed.name);
        FUZZ_CHECK(!listed.name.empty() && listed.name.size() <= 128);
        FUZZ_CHECK(listed.name.find('/') == std::string::npos && listed.name != "." && listed.name != "..");
    } else {
        FUZZ_CHECK(listed.name.empty());
    }
    // Only a reply that holds the mode says whether the listing goes on.
    if (listed.kind != ListingEntry::Kind::Unusable && listed.kind != ListingEntry::Kind::End) {
        FUZZ_CHECK(reply.size() >= 22 && reply[20] != 0 && reply[21] != 0);
        FUZZ_CHECK((listed.kind == ListingEntry::Kind::Folder) == ((reply[20] | reply[21] << 8) == kEfsModeFolder));
    }
}

void CheckNv(std::span<const uint8_t> reply) {
    for (uint8_t command : {kDiagNvRead, kDiagNvWrite}) {
        const uint16_t item = reply.size() >= 3 ? static_cast<uint16_t>(reply[1] | reply[2] << 8) : 0;
        const bool accepted = IsDiagNvReplyTo(reply, command, item);
        FUZZ_CHECK(accepted == (reply.size() >= kDiagNvPacketBytes && reply[0] == command));
        if (accepted) {
            FUZZ_CHECK(!IsDiagNvReplyTo(reply, command, static_cast<uint16_t>(item + 1)));
            FUZZ_CHECK(DiagNvReplyStatus(reply) == (reply[131] | reply[132] << 8));
        }
    }
    // The tool's own packet, from chosen values.
    const uint8_t command = reply.size() % 2 == 0 ? kDiagNvRead : kDiagNvWrite;
    const uint16_t item = reply.size() >= 2 ? static_cast<uint16_t>(reply[0] | reply[1] << 8) : 0;
    const uint16_t status = reply.size() >= 4 ? static_cast<uint16_t>(reply[2] | reply[3] << 8) : 0;
    const DiagNvPacket packet = DiagNvRequest(command, item, reply, status);
    FUZZ_CHECK(IsDiagNvReplyTo(packet, command, item) && DiagNvReplyStatus(packet) == status);
    const size_t copied = std::min(reply.size(), kDiagNvItemBytes);
    FUZZ_CHECK(std::equal(reply.begin(), reply.begin() + copied, packet.begin() + 3));
    FUZZ_CHECK(std::all_of(packet.begin() + 3 + copied, packet.end() - 2, [](uint8_t b) { return b == 0; }));
}

void CheckPlatform(std::span<const uint8_t> reply) {
    const auto platform = ParsePlatformQueryReply(reply);
    FUZZ_CHECK(platform.has_value() == (reply.size() >= 2 && reply[0] == kDiagPlatformQuery && reply[1] == 0x02));
    if (platform) FUZZ_CHECK(platform->code == (reply.size() > 8 ? std::optional<int>(reply[8]) : std::nullopt));
}

constexpr EfsCommand kEfsCommands[] = {EfsCommand::Open,   EfsCommand::Close,   EfsCommand::Read,
                                       EfsCommand::Write,  EfsCommand::Unlink,  EfsCommand::MakeDir,
                                       EfsCommand::RemoveDir, EfsCommand::OpenDir, EfsCommand::ReadDir,
                                       EfsCommand::CloseDir,  EfsCommand::Stat,    EfsCommand::Probe};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> reply(data, size);
    CheckEfs(reply);
    CheckNv(reply);
    CheckPlatform(reply);

    // The same bytes behind a sound EFS2 header, so that every parser sees
    // replies of its own command.
    if (size >= 1) {
        const auto code = static_cast<uint16_t>(kEfsCommands[data[0] % std::size(kEfsCommands)]);
        std::vector<uint8_t> laid{kDiagSubsystemCommand, kDiagSubsystemEfs2, static_cast<uint8_t>(code & 0xFF),
                                  static_cast<uint8_t>(code >> 8)};
        laid.insert(laid.end(), data + 1, data + size);
        CheckEfs(laid);
    }
    return 0;
}
