#pragma once
// DiagEfsHandler: the device's answers to EFS2 requests (4B 13 and a 16-bit
// sub-command) on its file tree, with the replies laid out as real devices
// send them: after the 4-byte header, 32-bit little-endian fields. Scenario
// faults make chosen operations fail with a chosen error number.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/diag_efs.h"
#include "sim/efs_tree.h"

namespace firmora::sim {

// DIAG's refusals: the code followed by the request.
inline constexpr uint8_t kDiagBadCommand = 0x13;
inline constexpr uint8_t kDiagBadLength = 0x15;
std::vector<uint8_t> DiagRefusal(uint8_t code, std::span<const uint8_t> request);

// EFS2 sub-commands the device knows: the same codes the tool sends.
using EfsOp = link::EfsCommand;

// "open", "write", "readdir" ... -> the operation; none for other names.
std::optional<EfsOp> EfsOpByName(const std::string& name);

// One injected failure.
struct EfsFault {
    EfsOp op;
    int32_t err;
    // The path it hits (for read, write and close the open file's, for the
    // listing requests the listed folder's); empty: any.
    std::string path;
    // Read and write only: bytes that pass before it strikes. The request
    // that crosses the limit moves the bytes up to it and reports `err`.
    std::optional<uint64_t> afterBytes;
    // How many requests it fails before it clears; none: all of them.
    std::optional<uint32_t> times;
};

class DiagEfsHandler {
public:
    DiagEfsHandler(EfsTree& tree, std::vector<EfsFault> faults);

    // The reply to one EFS2 request packet (without CRC).
    std::vector<uint8_t> Handle(std::span<const uint8_t> request, uint64_t nowMs);

private:
    struct ArmedFault {
        EfsFault fault;
        uint64_t passedBytes = 0;
        uint32_t failures = 0;
    };
    // What a fault decides about one request moving `bytes` bytes (0 for
    // requests that move none): nothing, or the error and the bytes that
    // may still move.
    struct Strike {
        int32_t err;
        uint64_t allowedBytes;
    };
    std::optional<Strike> CheckFault(EfsOp op, const std::optional<std::string>& path, uint64_t bytes);

    std::vector<uint8_t> Open(std::span<const uint8_t> request, uint64_t nowMs);
    std::vector<uint8_t> Close(std::span<const uint8_t> request);
    std::vector<uint8_t> Read(std::span<const uint8_t> request, uint64_t nowMs);
    std::vector<uint8_t> Write(std::span<const uint8_t> request, uint64_t nowMs);
    std::vector<uint8_t> PathOperation(EfsOp op, std::span<const uint8_t> request, uint64_t nowMs);
    std::vector<uint8_t> OpenDir(std::span<const uint8_t> request);
    std::vector<uint8_t> ReadDir(std::span<const uint8_t> request);
    std::vector<uint8_t> CloseDir(std::span<const uint8_t> request);
    std::vector<uint8_t> Stat(std::span<const uint8_t> request);
    std::vector<uint8_t> Probe();

    EfsTree& tree_;
    std::vector<ArmedFault> faults_;
};

}  // namespace firmora::sim
