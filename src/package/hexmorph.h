#pragma once
// The programmer travels in the package as an Intel HEX file; the image
// checks and the serial download want it as a flat binary. Hexmorph is that
// conversion: every record type a programmer file uses (data, end of file,
// extended segment and linear addresses, start addresses), each checksum
// verified, the image running from the lowest address written to the
// highest with the gaps between filled with 0x00 (what `objcopy -O binary`
// gives for the same file, so either tool's output may be compared).
//
// A bad record is refused with its line number, and nothing is written: the
// binary file is replaced atomically only once the whole file converted. The
// HEX file and the image it describes are bounded, so a hostile file cannot
// exhaust memory (a HEX file may place two bytes 4 GiB apart).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/dialogs.h"
#include "platform/files.h"

namespace firmora::package {

struct HexLimits {
    uint64_t maxHexBytes = 64 * platform::kMebibyte;
    // Well above any programmer the image checks accept (below 10 MiB).
    uint64_t maxImageBytes = 32 * platform::kMebibyte;
};

struct HexImage {
    uint32_t baseAddress = 0;  // the address of bytes[0]
    std::string bytes;
    std::optional<uint32_t> startAddress;  // from a start segment or start linear record
};

struct HexConversion {
    HexImage image;
    std::string error;  // "line N: ..." for a bad record, empty on success
    bool ok() const { return error.empty(); }
};

// Converts the text of an Intel HEX file. Refused: a character outside a
// record, a malformed or truncated record, a wrong checksum, an unknown
// record type, data after the end-of-file record or none at all before it,
// a missing end-of-file record, overlapping data, data past 4 GiB, and an
// image larger than `maxImageBytes`.
HexConversion ParseIntelHex(std::string_view text, uint64_t maxImageBytes);

enum class HexmorphResult {
    Converted,
    NotOpened,     // missing, a symbolic link, or not a regular file
    NotRead,       // the read failed
    NotConverted,  // too large, a bad record, or the binary could not be written
};

struct HexmorphOutcome {
    HexmorphResult result = HexmorphResult::NotConverted;
    std::string error;  // a sentence naming the file and what is wrong with it
};

// The converter's call: `hexPath` converted into `binPath`.
HexmorphOutcome Hexmorph(platform::Files& files, const std::filesystem::path& hexPath,
                         const std::filesystem::path& binPath, const HexLimits& limits = {});

// The binary's name for a programmer HEX file name: the name up to and
// including its first "." followed by "BIN" (nprg9x15.hex gives nprg9x15.BIN).
std::string ProgrammerBinaryName(const std::string& hexName);

// The image scan's request: converts the programmer and, on failure, shows
// the box the user knows ("Read hex file failed(INVALID_HANDLE)!" when the
// file cannot be opened, "Read hex file failed!" when it cannot be read,
// "switch hex to bin failed!" when it does not convert) and returns false. `detail` receives the converter's reason (with
// the line of a bad record) for the log.
bool ConvertProgrammerHex(platform::Files& files, platform::Dialogs& dialogs, const std::filesystem::path& hexPath,
                          const std::filesystem::path& binPath, std::string& detail);

}  // namespace firmora::package
