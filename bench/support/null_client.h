#pragma once
// The null client: the least a host can do to flash an image over the
// fastboot TCP transport. It sends "download:", streams the byte count from
// one buffer in memory (no file), then "flash:", and checks the replies.
// Sent as one frame, the way the Android client sends a download that fits,
// what it costs is the server's side of a flash; every real client costs
// more. Sent as many small frames, it shows what the framing alone costs.

#include <cstdint>
#include <string>

namespace firmora::bench {

// Empty on success, else what went wrong. `frameBytes` 0 sends the data as
// one frame, otherwise as frames of that many bytes (the last one shorter).
std::string NullFlash(uint16_t port, const std::string& partition, uint32_t byteCount, uint32_t frameBytes = 0);

}  // namespace firmora::bench
