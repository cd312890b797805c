#pragma once
// Our fastboot client alone: one connection to a device, one image flashed
// with the client's image sequence ("download:", the file streamed,
// "flash:<partition>"), the connection closed. No download plan around it,
// hence none of the plan's pauses between steps: what the client's own
// streaming costs.

#include <cstdint>
#include <string>

namespace firmora::bench {

// Flashes `byteCount` bytes of `imagePath` to `partition` of the device at
// `devicePath` ("tcp:HOST:PORT" or a USB path); the client's lines go to
// stderr. Returns the run status: 0 on success.
int FirmoraFlashImage(const std::string& devicePath, const std::string& imagePath, uint32_t byteCount,
                      const std::string& partition);

}  // namespace firmora::bench
