#include "platform/last_error.h"

namespace firmora::platform {
namespace {
thread_local uint32_t tLastError = 0;
}

uint32_t LastError() { return tLastError; }
void SetLastError(uint32_t code) { tLastError = code; }

}  // namespace firmora::platform
