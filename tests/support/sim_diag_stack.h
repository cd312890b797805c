#pragma once
// The tool's own DIAG stack (serial channel, HDLC framer, DIAG commands) on
// COM3 of a scripted port, with a simulated device's DIAG responder behind
// it, all on the VirtualClock. A base for tests of either side.

#include <gtest/gtest.h>

#include <memory>

#include <nlohmann/json.hpp>

#include "fake_serial.h"
#include "link/diag_commands.h"
#include "link/hdlc_framer.h"
#include "link/serial_channel.h"
#include "package/download_options.h"
#include "platform/std_files.h"
#include "recording_reporter.h"
#include "responder_port.h"
#include "sim/diag_device.h"

namespace firmora::testing {

class SimDiagStack : public ::testing::Test {
protected:
    SimDiagStack() { channel.OpenDiagChannel(3); }

    // Puts a device of `scenario` behind the port (replacing an earlier one).
    void Start(const nlohmann::json& scenario) {
        port.reset();
        state = sim::DiagDeviceState::FromScenario(scenario);
        responder = std::make_unique<sim::DiagResponder>(state, scenario);
        port = std::make_unique<ResponderPort>(device, clock, *responder);
    }

    platform::VirtualClock clock;
    FakeSerialPorts ports{clock};
    FakeSerialDevice& device = ports.Device("COM3");
    RecordingReporter reporter;
    platform::StdFiles files;
    package::DownloadOptions options;
    link::SerialChannel channel{link::ChannelRole::Diagnostic, ports, clock, reporter, options};
    link::HdlcFramer framer{channel, clock, reporter};
    core::DeviceChangeFlags flags;
    link::DiagCommands diag{framer, channel, clock, reporter, flags};

    sim::DiagDeviceState state;
    std::unique_ptr<sim::DiagResponder> responder;
    std::unique_ptr<ResponderPort> port;
};

}  // namespace firmora::testing
