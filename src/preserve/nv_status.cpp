#include "preserve/nv_status.h"

#include <array>

namespace firmora::preserve {
namespace {

// Indexed by code, 0 to 10. The texts are the tool's own and are kept letter
// for letter, spelling included: log readers search for them.
constexpr std::array<const char*, 11> kDiagTexts = {
    ": OK",
    ":Internal DMSS use",
    ":Unrecognizable command",
    ":Memory is full",
    ":Command failed",
    ":NV status Error Received:Item inactive",
    ":Bad parameter in command block",
    ":Item was read-only",
    ":Item not defined for this target",
    ":Free memory exhausted",
    ":Internal use",
};

constexpr std::array<const char*, 11> kLibraryTexts = {
    nullptr,  // "READ OK" or "WRITE OK"
    "Request is queued",
    "Unrecognizable command field",
    "The NVM is full",
    "Command failed, reason other than NVM was full",
    "Variable was not active",
    "Bad parameter in command block",
    "Parameter is write-protected and thus read only",
    "Item not valid for Target",
    "free memory exhausted",
    "address is not a valid allocation",
};

}  // namespace

std::string DiagNvStatusText(uint16_t code) {
    if (code >= kDiagTexts.size()) return ":Unkown error";
    return kDiagTexts[code];
}

std::string LibraryNvStatusText(uint16_t code, bool write) {
    if (code == kNvStatusDone) return write ? "WRITE OK" : "READ OK";
    if (code >= kLibraryTexts.size()) return write ? "WRITE ERROR" : "READ ERROR";
    return kLibraryTexts[code];
}

}  // namespace firmora::preserve
