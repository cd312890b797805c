#pragma once
// The per-thread system error code of the last failing platform call, which
// failure reports quote ("..., Error code: N"). POSIX implementations store
// errno values; 0 means "no error recorded".

#include <cstdint>

namespace firmora::platform {

uint32_t LastError();
void SetLastError(uint32_t code);

}  // namespace firmora::platform
