#pragma once
// SerialChannel: one opened COM port of the worker, either the diagnostic
// channel (framed DIAG packets) or the AT channel (command text), with the
// line settings, time-outs and retry rules each of them needs.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "core/reporter.h"
#include "package/download_options.h"
#include "platform/clock.h"
#include "platform/serial_ports.h"

namespace firmora::link {

enum class ChannelRole { Diagnostic, At };

// The line a Diag port runs on: 115200 8N1, binary, no flow control, DTR and
// RTS off. Every other field of `line` is left as it was.
void SetDiagLine(platform::LineSettings& line);
// The line an AT port runs on (the worker's AT channel and the short-lived
// probe handles): 115200 8N1, binary, no parity check, DTR on. Every other
// field of `line` is left as it was.
void SetAtLine(platform::LineSettings& line);

// A channel of the Diagnostic role attaches itself to its reporter for its
// lifetime: every ReportError of the run then clears its pending error state.
class SerialChannel final : private core::ErrorStateOwner {
public:
    SerialChannel(ChannelRole role, platform::SerialPorts& ports, platform::Clock& clock,
                  core::Reporter& reporter, const package::DownloadOptions& options);
    ~SerialChannel();
    SerialChannel(const SerialChannel&) = delete;
    SerialChannel& operator=(const SerialChannel&) = delete;

    // "COM9" up to port 9, "\\.\COM10" from port 10 on.
    static std::string DeviceName(int portNumber);
    // The time-outs of a channel of this role for a project.
    static platform::SerialTimeouts TimeoutsFor(ChannelRole role, int projectIndex);

    ChannelRole role() const { return role_; }
    bool IsOpen() const { return port_ != nullptr; }

    // Opens the port by number without configuring it or reporting; false
    // (LastError set) when the system refuses. A channel already open is
    // closed first.
    bool Open(int portNumber);

    // AT channel: open, purge, AT time-outs and line settings; reports
    // "Ready 1......" or fails the run.
    bool OpenAtChannel(int portNumber);
    // The same without any report (after a reset).
    bool ReopenAtChannel(int portNumber);
    // Diagnostic channel: open (false without a report on failure), then
    // ConfigureDiagChannel and "Initial port successful after reset.".
    bool OpenDiagChannel(int portNumber);
    void ConfigureDiagChannel();

    // One write of the whole buffer, retried on failure (see the .cpp); the
    // count written by the last attempt. No retry once the device has gone.
    size_t WriteBytes(const uint8_t* data, size_t length);
    // One read; a failed call reports a warning, pauses and gives 0. Once the
    // device has gone the warning is reported once and there is no pause.
    size_t ReadBytes(uint8_t* buffer, size_t length);
    // True when the open port's device has gone (unplugged, hung up): every
    // exchange on it ends at once as a failure.
    bool DeviceGone() const { return port_ && port_->DeviceGone(); }

    // The open port itself (null when closed), for the short exchanges that
    // read it with rules of their own (the version query at the end of a run).
    platform::SerialPort* RawPort() { return port_.get(); }

    // The raw calls, for callers that must tell a failed call from an empty read.
    bool Read(uint8_t* buffer, size_t length, size_t& bytesRead);
    bool Write(const uint8_t* data, size_t length, size_t& bytesWritten);

    // Clears the pending error state; the error mask (0 when not open).
    uint32_t ClearErrors(platform::SerialQueueStatus* status = nullptr);
    void Purge(uint32_t flags);

    // Up to 10 close attempts 100 ms apart, each failure reported with
    // `warningText` (kind 1). True when the channel is closed afterwards.
    bool CloseChannel(const std::string& warningText);
    // A single close attempt without a report.
    bool CloseOnce();

private:
    bool ConfigureAt();
    void ClearPendingErrors() override { ClearErrors(); }

    ChannelRole role_;
    platform::SerialPorts& ports_;
    platform::Clock& clock_;
    core::Reporter& reporter_;
    const package::DownloadOptions& options_;
    std::unique_ptr<platform::SerialPort> port_;
    bool lossReported_ = false;
};

}  // namespace firmora::link
