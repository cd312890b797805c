#pragma once
// A UsbBulk whose device is a script of reply messages, for unit tests of the
// fastboot client on replies no well-behaved boot loader sends: split, long,
// malformed, INFO lines, a wrong DATA size.
//
// Commands written are kept as text, image data only counted. Each read hands out the next scripted
// message whole (one longer than the buffer fails with EOVERFLOW and is
// gone, as the transports do); with none left the read waits out its
// time-out on the clock and fails with ETIMEDOUT.

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/usb_bulk.h"

namespace firmora::testing {

class ScriptedBulk final : public platform::UsbBulk {
public:
    explicit ScriptedBulk(platform::Clock& clock) : clock_(clock) {}

    // Queues messages the device sends, in order, each exactly as given.
    ScriptedBulk& Reply(const std::string& message);
    ScriptedBulk& Replies(const std::vector<std::string>& messages);

    std::unique_ptr<platform::BulkTransport> Open(const std::string& devicePath) override;

    // The commands written, in order.
    const std::vector<std::string>& Commands() const { return commands_; }
    // Image bytes written: every write that was not a command.
    uint64_t DataBytes() const { return dataBytes_; }
    size_t RepliesLeft() const { return replies_.size(); }

private:
    class Transport;

    platform::Clock& clock_;
    std::deque<std::string> replies_;
    std::vector<std::string> commands_;
    uint64_t dataBytes_ = 0;
};

}  // namespace firmora::testing
