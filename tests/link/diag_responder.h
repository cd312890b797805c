#pragma once
// The device end of the diagnostic channel for the link tests: a bench with
// an opened diagnostic channel on the VirtualClock, and a scripted DIAG
// device that deframes what the tool writes and answers with framed replies.
// Replies are delivered from the write, as a real device answers, because
// the framer purges the receive queue before it writes.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "fake_serial.h"
#include "link/crc16.h"
#include "link/hdlc_codec.h"
#include "link/hdlc_framer.h"
#include "link/serial_channel.h"
#include "package/download_options.h"
#include "recording_reporter.h"

namespace firmora::testing {

class DiagResponder {
public:
    explicit DiagResponder(FakeSerialDevice& device) : device_(device) {
        device_.responder = [this](const Bytes& written) {
            const link::HdlcDecoded decoded = link::DecodeHdlcFrame(written);
            if (!decoded.ok()) {
                ADD_FAILURE() << "the tool wrote no valid frame: " << Hex(written);
                return;
            }
            requests.push_back(decoded.packet);
            if (onRequest) onRequest(decoded.packet);
        };
    }

    // The test's device: called with each request packet, answers with Reply*.
    std::function<void(const Bytes& request)> onRequest;
    std::vector<Bytes> requests;

    void Reply(const Bytes& packet, bool leadingFlag = false) {
        device_.Deliver(link::EncodeHdlcFrame(packet, leadingFlag));
    }
    void ReplyWithBadCrc(const Bytes& packet) {
        Bytes frame;
        const uint16_t wrong = static_cast<uint16_t>(link::Crc16X25(packet) ^ 0x0101);
        Bytes body = packet;
        body.push_back(static_cast<uint8_t>(wrong & 0xFF));
        body.push_back(static_cast<uint8_t>(wrong >> 8));
        for (uint8_t b : body) {
            const link::HdlcEscaped e = link::HdlcEscapeByte(b);
            frame.insert(frame.end(), e.bytes, e.bytes + e.size);
        }
        frame.push_back(link::kHdlcFlag);
        device_.Deliver(frame);
    }
    void ReplyRaw(const Bytes& bytes) { device_.Deliver(bytes); }

    size_t Count(const Bytes& prefix) const {
        return static_cast<size_t>(std::count_if(requests.begin(), requests.end(), [&prefix](const Bytes& r) {
            return r.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), r.begin());
        }));
    }

private:
    FakeSerialDevice& device_;
};

// 4B 13, the sub-command, then 32-bit little-endian words, then `tail`.
inline Bytes EfsReply(uint16_t command, std::initializer_list<uint32_t> words, const Bytes& tail = {}) {
    Bytes out = {0x4B, 0x13, static_cast<uint8_t>(command), static_cast<uint8_t>(command >> 8)};
    for (uint32_t w : words) {
        for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(w >> shift));
    }
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

// A folder-listing reply: handle 1, the sequence, errno 0, type, mode, size, times, name.
inline Bytes EfsDirEntry(uint32_t sequence, uint32_t type, uint32_t mode, const std::string& name) {
    Bytes tail(name.begin(), name.end());
    tail.push_back(0);
    return EfsReply(0x0C, {1, sequence, 0, type, mode, 0, 0, 0, 0}, tail);
}

// A diagnostic channel opened on COM3 of a scripted device, and a framer on it.
class DiagBench : public ::testing::Test {
protected:
    DiagBench() {
        channel.OpenDiagChannel(3);
        reporter.lines.clear();
    }

    platform::VirtualClock clock;
    FakeSerialPorts ports{clock};
    FakeSerialDevice& device = ports.Device("COM3");
    RecordingReporter reporter;
    package::DownloadOptions options;
    link::SerialChannel channel{link::ChannelRole::Diagnostic, ports, clock, reporter, options};
    link::HdlcFramer framer{channel, clock, reporter};
    DiagResponder diag{device};
};

}  // namespace firmora::testing
