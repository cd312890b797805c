#include "link/diag_efs.h"

#include <algorithm>
#include <array>
#include <utility>

namespace firmora::link {

namespace {

std::vector<uint8_t> Header(EfsCommand command) {
    const auto code = static_cast<uint16_t>(command);
    return {kDiagSubsystemCommand, kDiagSubsystemEfs2, static_cast<uint8_t>(code & 0xFF),
            static_cast<uint8_t>(code >> 8)};
}

void PutWord(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

void PutPath(std::vector<uint8_t>& out, std::string_view path) {
    out.insert(out.end(), path.begin(), path.end());
    out.push_back(0);
}

std::vector<uint8_t> PathRequest(EfsCommand command, std::string_view path) {
    std::vector<uint8_t> out = Header(command);
    PutPath(out, path);
    return out;
}

int32_t Signed(uint32_t word) { return static_cast<int32_t>(word); }

// The words at `offsets` when the reply is of `command` and holds all of them.
template <size_t N>
std::optional<std::array<uint32_t, N>> Words(std::span<const uint8_t> reply, EfsCommand command,
                                             const size_t (&offsets)[N]) {
    if (!IsEfsReply(reply, command)) return std::nullopt;
    std::array<uint32_t, N> words{};
    for (size_t i = 0; i < N; ++i) {
        const auto word = ReplyWord(reply, offsets[i]);
        if (!word) return std::nullopt;
        words[i] = *word;
    }
    return words;
}

}  // namespace

bool EfsPathFits(std::string_view path) {
    return path.size() <= kEfsMaxPathBytes && path.find('\0') == std::string_view::npos;
}

std::vector<uint8_t> EfsOpenRequest(uint32_t flags, uint32_t mode, std::string_view path) {
    std::vector<uint8_t> out = Header(EfsCommand::Open);
    PutWord(out, flags);
    PutWord(out, mode);
    PutPath(out, path);
    return out;
}

std::vector<uint8_t> EfsCloseRequest(uint32_t fd) {
    std::vector<uint8_t> out = Header(EfsCommand::Close);
    PutWord(out, fd);
    return out;
}

std::vector<uint8_t> EfsReadRequest(uint32_t count, uint32_t offset, uint32_t fd) {
    std::vector<uint8_t> out = Header(EfsCommand::Read);
    PutWord(out, fd);
    PutWord(out, count);
    PutWord(out, offset);
    return out;
}

std::vector<uint8_t> EfsWriteRequest(uint32_t offset, std::span<const uint8_t> data, uint32_t fd) {
    std::vector<uint8_t> out = Header(EfsCommand::Write);
    PutWord(out, fd);
    PutWord(out, offset);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

std::vector<uint8_t> EfsUnlinkRequest(std::string_view path) { return PathRequest(EfsCommand::Unlink, path); }

std::vector<uint8_t> EfsMakeDirRequest(std::string_view path) {
    std::vector<uint8_t> out = Header(EfsCommand::MakeDir);
    out.push_back(static_cast<uint8_t>(kEfsMakeDirMode & 0xFF));
    out.push_back(static_cast<uint8_t>(kEfsMakeDirMode >> 8));
    PutPath(out, path);
    return out;
}

std::vector<uint8_t> EfsRemoveDirRequest(std::string_view path) {
    return PathRequest(EfsCommand::RemoveDir, path);
}

std::vector<uint8_t> EfsOpenDirRequest(std::string_view path) { return PathRequest(EfsCommand::OpenDir, path); }

std::vector<uint8_t> EfsReadDirRequest(uint8_t sequence) {
    std::vector<uint8_t> out = Header(EfsCommand::ReadDir);
    PutWord(out, kEfsDirHandle);
    PutWord(out, sequence);
    return out;
}

std::vector<uint8_t> EfsCloseDirRequest() {
    std::vector<uint8_t> out = Header(EfsCommand::CloseDir);
    PutWord(out, kEfsDirHandle);
    return out;
}

std::vector<uint8_t> EfsStatRequest(std::string_view path) { return PathRequest(EfsCommand::Stat, path); }

std::vector<uint8_t> EfsProbeRequest() {
    std::vector<uint8_t> out = Header(EfsCommand::Probe);
    out.push_back(0);
    return out;
}

bool IsEfsReply(std::span<const uint8_t> reply, EfsCommand command) {
    const std::vector<uint8_t> header = Header(command);
    return reply.size() >= header.size() && std::equal(header.begin(), header.end(), reply.begin());
}

std::optional<uint32_t> ReplyWord(std::span<const uint8_t> reply, size_t offset) {
    if (reply.size() < offset + 4) return std::nullopt;
    return static_cast<uint32_t>(reply[offset]) | static_cast<uint32_t>(reply[offset + 1]) << 8 |
           static_cast<uint32_t>(reply[offset + 2]) << 16 | static_cast<uint32_t>(reply[offset + 3]) << 24;
}

std::optional<int32_t> EfsReplyErrno(std::span<const uint8_t> reply, EfsCommand command) {
    const auto w = Words(reply, command, {4});
    if (!w) return std::nullopt;
    return Signed((*w)[0]);
}

std::optional<EfsOpenReply> ParseEfsOpenReply(std::span<const uint8_t> reply) {
    const auto w = Words(reply, EfsCommand::Open, {4, 8});
    if (!w) return std::nullopt;
    return EfsOpenReply{Signed((*w)[0]), Signed((*w)[1])};
}

std::optional<EfsReadReply> ParseEfsReadReply(std::span<const uint8_t> reply) {
    const auto w = Words(reply, EfsCommand::Read, {4, 8, 12, 16});
    if (!w) return std::nullopt;
    return EfsReadReply{(*w)[0], (*w)[1], Signed((*w)[2]), Signed((*w)[3]), reply.subspan(20)};
}

std::optional<EfsWriteReply> ParseEfsWriteReply(std::span<const uint8_t> reply) {
    const auto w = Words(reply, EfsCommand::Write, {4, 8, 12, 16});
    if (!w) return std::nullopt;
    return EfsWriteReply{(*w)[0], (*w)[1], Signed((*w)[2]), Signed((*w)[3])};
}

std::optional<EfsStatReply> ParseEfsStatReply(std::span<const uint8_t> reply) {
    const auto w = Words(reply, EfsCommand::Stat, {4, 8, 12, 16});
    if (!w) return std::nullopt;
    const auto& v = *w;
    return EfsStatReply{Signed(v[0]), v[1], v[2], v[3]};
}

std::optional<EfsOpenDirReply> ParseEfsOpenDirReply(std::span<const uint8_t> reply) {
    const auto w = Words(reply, EfsCommand::OpenDir, {4, 8});
    if (!w) return std::nullopt;
    return EfsOpenDirReply{(*w)[0], Signed((*w)[1])};
}

std::optional<EfsReadDirReply> ParseEfsReadDirReply(std::span<const uint8_t> reply) {
    const auto w = Words(reply, EfsCommand::ReadDir, {4, 8, 12, 16, 20, 24, 28, 32, 36});
    if (!w) return std::nullopt;
    const auto& v = *w;
    const std::span<const uint8_t> rest = reply.subspan(40);
    const auto end = std::find(rest.begin(), rest.end(), uint8_t{0});
    return EfsReadDirReply{v[0], v[1], Signed(v[2]), v[3], v[4], v[5], v[6], v[7], v[8],
                           std::string(rest.begin(), end)};
}

ListingEntry ReadListingEntry(std::span<const uint8_t> reply, size_t maxNameBytes) {
    constexpr size_t kModeByte = 20;
    using Kind = ListingEntry::Kind;
    if (!IsEfsReply(reply, EfsCommand::ReadDir)) return {Kind::Unusable, {}};
    if (reply.size() < kModeByte + 2 || reply[kModeByte] == 0 || reply[kModeByte + 1] == 0) return {Kind::End, {}};
    const auto mode = static_cast<uint16_t>(reply[kModeByte] | reply[kModeByte + 1] << 8);
    if (mode == kEfsModeFolder) return {Kind::Folder, {}};
    if (mode != kEfsModePlainFile) return {Kind::Other, {}};
    std::optional<EfsReadDirReply> entry = ParseEfsReadDirReply(reply);
    if (!entry || entry->name.empty() || entry->name.size() > maxNameBytes || entry->name == "." ||
        entry->name == ".." || entry->name.find('/') != std::string::npos) {
        return {Kind::Unusable, {}};
    }
    return {Kind::PlainFile, std::move(entry->name)};
}

}  // namespace firmora::link
