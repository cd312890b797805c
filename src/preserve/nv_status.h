#pragma once
// The NV status codes of the DIAG protocol and the two sets of texts the tool
// reports them with: the DIAG mechanism's (appended to a "[n]name" prefix)
// and the diagnostic library mechanism's.

#include <cstdint>
#include <string>

namespace firmora::preserve {

inline constexpr uint16_t kNvStatusDone = 0;
inline constexpr uint16_t kNvStatusInactive = 5;
inline constexpr uint16_t kNvStatusBadParameter = 6;
inline constexpr uint16_t kNvStatusReadOnly = 7;
inline constexpr uint16_t kNvStatusBadTarget = 8;
// What the DIAG mechanism's evaluation returns for a code above 10.
inline constexpr int kNvStatusUnknownResult = 100;

// DIAG mechanism: ": OK", ":Internal DMSS use", ... ":Unkown error" (codes
// above 10).
std::string DiagNvStatusText(uint16_t code);
// Library mechanism: "READ OK"/"WRITE OK" for 0, ..., "READ ERROR"/
// "WRITE ERROR" for codes above 10.
std::string LibraryNvStatusText(uint16_t code, bool write);

}  // namespace firmora::preserve
