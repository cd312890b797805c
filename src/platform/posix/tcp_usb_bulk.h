#pragma once
// The UsbBulk seam over the fastboot TCP transport, for device paths
// "tcp:HOST[:PORT]" (port 5554 when none is given; an IPv6 address goes in
// brackets: "tcp:[::1]:5554").
//
// Opening connects and does the handshake: "FB01" out, "FB" and a two-digit
// version ("00" is refused) back within two seconds. After that each write
// is one message (an 8-byte big-endian length, then the payload) and each
// read waits for the next whole message. A message longer than the read's
// buffer fails with EOVERFLOW and, since its length may be anything a broken
// peer sends, leaves the stream unframed: every later read fails with EPROTO.
// The connection describes itself as a fastboot interface: class
// 0xFF/0x42/0x03 with a bulk IN and a bulk OUT endpoint.
//
// Time-outs are in milliseconds (0: no limit) and fail with ETIMEDOUT. A
// connection the device closed fails reads with ECONNRESET and writes with
// EPIPE (or ECONNRESET); so does every write after one that timed out part
// way through a message, since the device can no longer tell where messages
// begin. A closed connection fails with EBADF. LastError holds errno values.
//
// One connection is used by one thread at a time; different connections are
// independent.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/usb_bulk.h"

namespace firmora::platform {

struct TcpTarget {
    std::string host;
    uint16_t port = 0;

    bool operator==(const TcpTarget&) const = default;
};

class TcpUsbBulk final : public UsbBulk {
public:
    static constexpr uint16_t kDefaultPort = 5554;
    static constexpr uint32_t kConnectMs = 5000;
    static constexpr uint32_t kHandshakeMs = 2000;

    // Nullopt unless the path is "tcp:" and a well-formed host and optional port.
    static std::optional<TcpTarget> ParseTarget(const std::string& devicePath);

    // Null with LastError on failure: EINVAL for a malformed path,
    // EHOSTUNREACH for a host name that does not resolve, the connect error
    // (ECONNREFUSED, ETIMEDOUT after kConnectMs, ...), and for the handshake
    // ECONNREFUSED when the device closes the connection instead of answering,
    // ETIMEDOUT when it stays silent, EPROTO when it answers something else.
    std::unique_ptr<BulkTransport> Open(const std::string& devicePath) override;
};

}  // namespace firmora::platform
