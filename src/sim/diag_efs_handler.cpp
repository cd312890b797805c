#include "sim/diag_efs_handler.h"

#include <algorithm>
#include <map>

namespace firmora::sim {

namespace {

constexpr uint8_t kSubsystemCommand = 0x4B;
constexpr uint8_t kSubsystemEfs2 = 0x13;
constexpr size_t kHeaderBytes = 4;

// A reply: the EFS2 header of its operation, then fields in order.
class Reply {
public:
    explicit Reply(EfsOp op) {
        const auto code = static_cast<uint16_t>(op);
        bytes_ = {kSubsystemCommand, kSubsystemEfs2, static_cast<uint8_t>(code & 0xFF),
                  static_cast<uint8_t>(code >> 8)};
    }
    Reply& Word(uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) bytes_.push_back(static_cast<uint8_t>(value >> shift));
        return *this;
    }
    Reply& Signed(int32_t value) { return Word(static_cast<uint32_t>(value)); }
    Reply& Stat(const EfsStat& stat) {
        return Word(stat.mode)
            .Word(stat.size)
            .Word(stat.linkCount)
            .Word(stat.accessTime)
            .Word(stat.modifyTime)
            .Word(stat.changeTime);
    }
    Reply& Data(std::span<const uint8_t> data) {
        bytes_.insert(bytes_.end(), data.begin(), data.end());
        return *this;
    }
    Reply& Text(const std::string& text) {
        bytes_.insert(bytes_.end(), text.begin(), text.end());
        bytes_.push_back(0);
        return *this;
    }
    std::vector<uint8_t> Take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
};

uint32_t WordAt(std::span<const uint8_t> request, size_t offset) {
    return static_cast<uint32_t>(request[offset]) | static_cast<uint32_t>(request[offset + 1]) << 8 |
           static_cast<uint32_t>(request[offset + 2]) << 16 | static_cast<uint32_t>(request[offset + 3]) << 24;
}

// The text from `offset` up to its terminating zero (or the packet's end).
std::string PathAt(std::span<const uint8_t> request, size_t offset) {
    const auto begin = request.begin() + static_cast<std::ptrdiff_t>(std::min(offset, request.size()));
    return std::string(begin, std::find(begin, request.end(), uint8_t{0}));
}

// Bytes each request needs at least: header and fixed fields.
size_t MinimumBytes(EfsOp op) {
    switch (op) {
        case EfsOp::Open: return kHeaderBytes + 8;
        case EfsOp::Close: return kHeaderBytes + 4;
        case EfsOp::Read: return kHeaderBytes + 12;
        case EfsOp::Write: return kHeaderBytes + 8;
        case EfsOp::MakeDir: return kHeaderBytes + 2;
        case EfsOp::ReadDir: return kHeaderBytes + 8;
        case EfsOp::CloseDir: return kHeaderBytes + 4;
        default: return kHeaderBytes;
    }
}

bool Known(uint16_t code) {
    switch (static_cast<EfsOp>(code)) {
        case EfsOp::Open:
        case EfsOp::Close:
        case EfsOp::Read:
        case EfsOp::Write:
        case EfsOp::Unlink:
        case EfsOp::MakeDir:
        case EfsOp::RemoveDir:
        case EfsOp::OpenDir:
        case EfsOp::ReadDir:
        case EfsOp::CloseDir:
        case EfsOp::Stat:
        case EfsOp::Probe: return true;
    }
    return false;
}

}  // namespace

std::vector<uint8_t> DiagRefusal(uint8_t code, std::span<const uint8_t> request) {
    std::vector<uint8_t> reply{code};
    reply.insert(reply.end(), request.begin(), request.end());
    return reply;
}

std::optional<EfsOp> EfsOpByName(const std::string& name) {
    static const std::map<std::string, EfsOp> kNames = {
        {"open", EfsOp::Open},         {"close", EfsOp::Close},     {"read", EfsOp::Read},
        {"write", EfsOp::Write},       {"unlink", EfsOp::Unlink},   {"mkdir", EfsOp::MakeDir},
        {"rmdir", EfsOp::RemoveDir},   {"opendir", EfsOp::OpenDir}, {"readdir", EfsOp::ReadDir},
        {"closedir", EfsOp::CloseDir}, {"stat", EfsOp::Stat},       {"probe", EfsOp::Probe},
    };
    const auto it = kNames.find(name);
    if (it == kNames.end()) return std::nullopt;
    return it->second;
}

DiagEfsHandler::DiagEfsHandler(EfsTree& tree, std::vector<EfsFault> faults) : tree_(tree) {
    for (EfsFault& fault : faults) {
        fault.path = EfsTree::Normalize(fault.path);
        faults_.push_back(ArmedFault{std::move(fault)});
    }
}

std::optional<DiagEfsHandler::Strike> DiagEfsHandler::CheckFault(EfsOp op, const std::optional<std::string>& path,
                                                                 uint64_t bytes) {
    for (ArmedFault& armed : faults_) {
        const EfsFault& fault = armed.fault;
        if (fault.op != op || (fault.times && armed.failures >= *fault.times)) continue;
        if (!fault.path.empty() && (!path || *path != fault.path)) continue;
        uint64_t allowed = 0;
        if (fault.afterBytes) {
            allowed = *fault.afterBytes - armed.passedBytes;
            if (bytes <= allowed) {
                armed.passedBytes += bytes;
                continue;
            }
            armed.passedBytes = *fault.afterBytes;
        }
        ++armed.failures;
        return Strike{fault.err, allowed};
    }
    return std::nullopt;
}

std::vector<uint8_t> DiagEfsHandler::Handle(std::span<const uint8_t> request, uint64_t nowMs) {
    if (request.size() < kHeaderBytes) return DiagRefusal(kDiagBadLength, request);
    const uint16_t code = static_cast<uint16_t>(request[2] | request[3] << 8);
    if (!Known(code)) return DiagRefusal(kDiagBadCommand, request);
    const auto op = static_cast<EfsOp>(code);
    if (request.size() < MinimumBytes(op)) return DiagRefusal(kDiagBadLength, request);
    switch (op) {
        case EfsOp::Open: return Open(request, nowMs);
        case EfsOp::Close: return Close(request);
        case EfsOp::Read: return Read(request, nowMs);
        case EfsOp::Write: return Write(request, nowMs);
        case EfsOp::Unlink:
        case EfsOp::MakeDir:
        case EfsOp::RemoveDir: return PathOperation(op, request, nowMs);
        case EfsOp::OpenDir: return OpenDir(request);
        case EfsOp::ReadDir: return ReadDir(request);
        case EfsOp::CloseDir: return CloseDir(request);
        case EfsOp::Stat: return Stat(request);
        case EfsOp::Probe: return Probe();
    }
    return DiagRefusal(kDiagBadCommand, request);
}

std::vector<uint8_t> DiagEfsHandler::Open(std::span<const uint8_t> request, uint64_t nowMs) {
    const std::string path = PathAt(request, 12);
    if (const auto strike = CheckFault(EfsOp::Open, EfsTree::Normalize(path), 0)) {
        return Reply(EfsOp::Open).Signed(-1).Signed(strike->err).Take();
    }
    const EfsTree::OpenResult opened = tree_.Open(path, WordAt(request, 4), WordAt(request, 8), nowMs);
    return Reply(EfsOp::Open).Signed(opened.fd).Signed(opened.err).Take();
}

std::vector<uint8_t> DiagEfsHandler::Close(std::span<const uint8_t> request) {
    const auto fd = static_cast<int32_t>(WordAt(request, 4));
    if (const auto path = tree_.DescriptorPath(fd)) {
        // A failed close leaves the file open.
        if (const auto strike = CheckFault(EfsOp::Close, path, 0))
            return Reply(EfsOp::Close).Signed(strike->err).Take();
    }
    return Reply(EfsOp::Close).Signed(tree_.Close(fd)).Take();
}

std::vector<uint8_t> DiagEfsHandler::Read(std::span<const uint8_t> request, uint64_t nowMs) {
    const uint32_t fdWord = WordAt(request, 4);
    const uint32_t count = WordAt(request, 8);
    const uint32_t offset = WordAt(request, 12);
    const auto fd = static_cast<int32_t>(fdWord);
    EfsTree::ReadResult read = tree_.Read(fd, offset, count, nowMs);
    if (read.err == kEfsOk) {
        if (const auto strike = CheckFault(EfsOp::Read, tree_.DescriptorPath(fd), read.data.size())) {
            read.data.resize(static_cast<size_t>(strike->allowedBytes));
            read.count = read.data.empty() ? -1 : static_cast<int32_t>(read.data.size());
            read.err = strike->err;
        }
    }
    return Reply(EfsOp::Read).Word(fdWord).Word(offset).Signed(read.count).Signed(read.err).Data(read.data).Take();
}

std::vector<uint8_t> DiagEfsHandler::Write(std::span<const uint8_t> request, uint64_t nowMs) {
    const uint32_t fdWord = WordAt(request, 4);
    const uint32_t offset = WordAt(request, 8);
    const std::span<const uint8_t> data = request.subspan(12);
    const auto fd = static_cast<int32_t>(fdWord);
    EfsTree::WriteResult written{-1, kEfsEBADF};
    const std::optional<std::string> path = tree_.DescriptorPath(fd);
    const auto strike = path ? CheckFault(EfsOp::Write, path, data.size()) : std::nullopt;
    if (!strike) {
        written = tree_.Write(fd, offset, data, nowMs);
    } else if (strike->allowedBytes > 0) {
        written = tree_.Write(fd, offset, data.first(static_cast<size_t>(strike->allowedBytes)), nowMs);
        if (written.err == kEfsOk) written.err = strike->err;
    } else {
        written = {-1, strike->err};
    }
    return Reply(EfsOp::Write).Word(fdWord).Word(offset).Signed(written.count).Signed(written.err).Take();
}

std::vector<uint8_t> DiagEfsHandler::PathOperation(EfsOp op, std::span<const uint8_t> request, uint64_t nowMs) {
    // Folder creation carries a 16-bit mode before the path.
    const std::string path = PathAt(request, op == EfsOp::MakeDir ? 6 : 4);
    if (const auto strike = CheckFault(op, EfsTree::Normalize(path), 0)) return Reply(op).Signed(strike->err).Take();
    int32_t err = kEfsOk;
    switch (op) {
        case EfsOp::Unlink: err = tree_.Unlink(path, nowMs); break;
        case EfsOp::MakeDir:
            err = tree_.MakeDir(path, static_cast<uint32_t>(request[4] | request[5] << 8), nowMs);
            break;
        default: err = tree_.RemoveDir(path, nowMs); break;
    }
    return Reply(op).Signed(err).Take();
}

std::vector<uint8_t> DiagEfsHandler::OpenDir(std::span<const uint8_t> request) {
    const std::string path = PathAt(request, 4);
    if (const auto strike = CheckFault(EfsOp::OpenDir, EfsTree::Normalize(path), 0)) {
        return Reply(EfsOp::OpenDir).Word(0).Signed(strike->err).Take();
    }
    const EfsTree::OpenDirResult opened = tree_.OpenDir(path);
    return Reply(EfsOp::OpenDir).Word(opened.handle).Signed(opened.err).Take();
}

std::vector<uint8_t> DiagEfsHandler::ReadDir(std::span<const uint8_t> request) {
    const uint32_t handle = WordAt(request, 4);
    const uint32_t sequence = WordAt(request, 8);
    const std::optional<std::string> path = tree_.ListingPath(handle);
    const auto strike = path ? CheckFault(EfsOp::ReadDir, path, 0) : std::nullopt;
    const EfsTree::ReadDirResult read =
        strike ? EfsTree::ReadDirResult{strike->err, std::nullopt} : tree_.ReadDir(handle, sequence);
    // Past the last entry: no type, no mode, an empty name.
    const EfsEntry entry = read.entry.value_or(EfsEntry{});
    return Reply(EfsOp::ReadDir)
        .Word(handle)
        .Word(sequence)
        .Signed(read.err)
        .Word(entry.folder ? 1 : 0)
        .Word(entry.stat.mode)
        .Word(entry.stat.size)
        .Word(entry.stat.accessTime)
        .Word(entry.stat.modifyTime)
        .Word(entry.stat.changeTime)
        .Text(entry.name)
        .Take();
}

std::vector<uint8_t> DiagEfsHandler::CloseDir(std::span<const uint8_t> request) {
    const uint32_t handle = WordAt(request, 4);
    if (const auto path = tree_.ListingPath(handle)) {
        if (const auto strike = CheckFault(EfsOp::CloseDir, path, 0)) {
            return Reply(EfsOp::CloseDir).Signed(strike->err).Take();
        }
    }
    return Reply(EfsOp::CloseDir).Signed(tree_.CloseDir(handle)).Take();
}

std::vector<uint8_t> DiagEfsHandler::Stat(std::span<const uint8_t> request) {
    const std::string path = PathAt(request, 4);
    if (const auto strike = CheckFault(EfsOp::Stat, EfsTree::Normalize(path), 0)) {
        return Reply(EfsOp::Stat).Signed(strike->err).Stat(EfsStat{}).Take();
    }
    const EfsTree::StatResult stat = tree_.Stat(path);
    return Reply(EfsOp::Stat).Signed(stat.err).Stat(stat.stat).Take();
}

std::vector<uint8_t> DiagEfsHandler::Probe() {
    const auto strike = CheckFault(EfsOp::Probe, std::nullopt, 0);
    return Reply(EfsOp::Probe).Signed(strike ? strike->err : kEfsOk).Take();
}

}  // namespace firmora::sim
