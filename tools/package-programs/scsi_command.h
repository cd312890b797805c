#pragma once
// The mode switch's SCSI command: the bytes written in Config.ini, and the
// USB mass-storage (bulk-only transport) wrapper that carries them when no
// driver holds the device.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace firmora::programs {

inline constexpr size_t kMaxCommandBytes = 16;  // the longest SCSI command block
inline constexpr size_t kCommandBlockWrapperBytes = 31;
inline constexpr size_t kCommandStatusWrapperBytes = 13;

// "06,f5,04,02,52,73": comma-separated hexadecimal bytes of one or two digits
// each, blanks around them allowed. nullopt for anything else: an empty item,
// a non-hex digit, a byte above ff, no bytes or more than 16.
std::optional<std::vector<uint8_t>> ParseScsiCommand(std::string_view text);

// A Command Block Wrapper carrying `command` (1 to 16 bytes) to LUN 0 with no
// data phase.
std::array<uint8_t, kCommandBlockWrapperBytes> BuildCommandBlockWrapper(uint32_t tag,
                                                                        const std::vector<uint8_t>& command);

enum class CommandStatus {
    Passed,
    Failed,      // the device refused the command
    PhaseError,  // the device lost track of the exchange
    Invalid      // not the status of our command (length, signature or tag)
};
// Judges the Command Status Wrapper the device returned for `tag`.
CommandStatus ReadCommandStatus(const uint8_t* data, size_t length, uint32_t tag);

}  // namespace firmora::programs
