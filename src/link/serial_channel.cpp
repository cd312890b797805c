#include "link/serial_channel.h"

#include <cerrno>

#include "package/project_table.h"
#include "platform/last_error.h"

namespace firmora::link {

using platform::SerialTimeouts;
using platform::kTimeoutMax;

namespace {

constexpr int kCloseAttempts = 10;
constexpr uint32_t kClosePauseMs = 100;
constexpr int kWriteAttempts = 6;
constexpr uint32_t kWriteRetryPauseMs = 1000;
constexpr uint32_t kReadFailurePauseMs = 500;
constexpr uint32_t kDiagQueueBytes = 4096;

bool HasSlowDiagTimeouts(int projectIndex) {
    return projectIndex == package::kProjectZP200 || projectIndex == package::kProjectZP200_Italy ||
           projectIndex == package::kProjectXF60_31 || projectIndex == package::kProjectZP200_EA;
}

}  // namespace

SerialChannel::SerialChannel(ChannelRole role, platform::SerialPorts& ports, platform::Clock& clock,
                             core::Reporter& reporter, const package::DownloadOptions& options)
    : role_(role), ports_(ports), clock_(clock), reporter_(reporter), options_(options) {
    if (role_ == ChannelRole::Diagnostic) reporter_.AttachDiagnosticChannel(this);
}

SerialChannel::~SerialChannel() { reporter_.DetachDiagnosticChannel(this); }

std::string SerialChannel::DeviceName(int portNumber) {
    std::string name = "COM" + std::to_string(portNumber);
    if (portNumber >= 10) name = "\\\\.\\" + name;
    return name;
}

SerialTimeouts SerialChannel::TimeoutsFor(ChannelRole role, int projectIndex) {
    if (role == ChannelRole::At) return {kTimeoutMax, 0, 0, 100, 1000};
    if (HasSlowDiagTimeouts(projectIndex)) return {1000, 1000, 2000, 1000, 3000};
    return {kTimeoutMax, kTimeoutMax, 1000, 1, 1000};
}

bool SerialChannel::Open(int portNumber) {
    if (port_) CloseOnce();
    lossReported_ = false;
    port_ = ports_.Open(DeviceName(portNumber));
    return port_ != nullptr;
}

bool SerialChannel::ConfigureAt() {
    port_->Purge(platform::kPurgeAll);
    port_->SetTimeouts(TimeoutsFor(ChannelRole::At, options_.ProjectIndex));
    platform::LineSettings line;
    if (!port_->GetLineSettings(line)) return false;
    SetAtLine(line);
    return port_->SetLineSettings(line);
}

bool SerialChannel::OpenAtChannel(int portNumber) {
    if (!Open(portNumber)) {
        reporter_.ReportError("Fail to connect serial port");
        return false;
    }
    if (!ConfigureAt()) {
        reporter_.ReportError("Fail to config serial port");
        return false;
    }
    reporter_.ReportStatus("Ready 1......", core::kReportInfo);
    return true;
}

bool SerialChannel::ReopenAtChannel(int portNumber) {
    return Open(portNumber) && ConfigureAt();
}

bool SerialChannel::OpenDiagChannel(int portNumber) {
    if (!Open(portNumber)) return false;
    ConfigureDiagChannel();
    reporter_.ReportStatus("Initial port successful after reset.", core::kReportInfo);
    return true;
}

void SetAtLine(platform::LineSettings& line) {
    line.baudRate = 115200;
    line.dataBits = 8;
    line.parity = platform::Parity::None;
    line.stopBits = platform::StopBits::One;
    line.parityCheck = false;
    line.dtr = platform::DtrControl::Enable;
    line.binary = true;
}

void SetDiagLine(platform::LineSettings& line) {
    line.baudRate = 115200;
    line.dataBits = 8;
    line.parity = platform::Parity::None;
    line.stopBits = platform::StopBits::One;
    line.binary = true;
    line.parityCheck = false;
    line.ctsOutFlow = false;
    line.dsrOutFlow = false;
    line.dtr = platform::DtrControl::Disable;
    line.rts = platform::RtsControl::Disable;
    line.dsrSensitivity = false;
    line.txContinueOnXoff = false;
    line.xonXoffOut = false;
    line.xonXoffIn = false;
    line.errorCharReplace = false;
    line.nullStrip = false;
    line.abortOnError = false;
}

void SerialChannel::ConfigureDiagChannel() {
    if (!port_) {
        reporter_.ReportError("Could not open COMM port");
        return;
    }
    reporter_.ReportStatus("Opened......", core::kReportTrace);

    // A block size from the package that is not positive would ask the driver
    // for a huge queue once cast; keep the ordinary size then.
    const uint32_t queueBytes = options_.bFastSpeedDownload && options_.m_nBlockSize > 0
                                    ? static_cast<uint32_t>(options_.m_nBlockSize)
                                    : kDiagQueueBytes;
    if (!port_->SetQueueSizes(queueBytes, queueBytes)) {
        reporter_.ReportStatus(options_.bFastSpeedDownload ? "warning:SetupComm." : "warning:SetupComm!",
                               core::kReportTrace);
    }

    platform::LineSettings line;
    bool settingsOk = port_->GetLineSettings(line);
    if (settingsOk) {
        SetDiagLine(line);
        settingsOk = port_->SetLineSettings(line);
    }
    if (!settingsOk) reporter_.ReportError("Could not setup COMM port");

    if (!port_->SetTimeouts(TimeoutsFor(ChannelRole::Diagnostic, options_.ProjectIndex))) {
        reporter_.ReportError("Could not set COMM timeouts");
    }

    port_->Purge(platform::kPurgeTxAbort | platform::kPurgeTxClear);
    port_->Purge(platform::kPurgeRxAbort | platform::kPurgeRxClear);
}

bool SerialChannel::Read(uint8_t* buffer, size_t length, size_t& bytesRead) {
    bytesRead = 0;
    if (!port_) {
        platform::SetLastError(EBADF);  // no open handle
        return false;
    }
    return port_->Read(buffer, length, bytesRead);
}

bool SerialChannel::Write(const uint8_t* data, size_t length, size_t& bytesWritten) {
    bytesWritten = 0;
    if (!port_) {
        platform::SetLastError(EBADF);  // no open handle
        return false;
    }
    return port_->Write(data, length, bytesWritten);
}

size_t SerialChannel::WriteBytes(const uint8_t* data, size_t length) {
    size_t written = 0;
    for (int attempt = 1; attempt <= kWriteAttempts; ++attempt) {
        if (Write(data, length, written)) return written;
        reporter_.ReportStatus("Write to commport have a warning: " + std::to_string(platform::LastError()),
                               core::kReportInfo);
        if (DeviceGone()) return 0;
        clock_.Sleep(kWriteRetryPauseMs);
        written = 0;
        if (options_.bFastSpeedDownload) return 0;
    }
    return written;
}

size_t SerialChannel::ReadBytes(uint8_t* buffer, size_t length) {
    size_t got = 0;
    if (Read(buffer, length, got)) return got;
    const bool gone = DeviceGone();
    if (!gone || !lossReported_) {
        reporter_.ReportStatus("read from commmport have a warning: " + std::to_string(platform::LastError()),
                               core::kReportInfo);
    }
    // Waiting for a device that has gone would only repeat the failure.
    lossReported_ = gone;
    if (!gone) clock_.Sleep(kReadFailurePauseMs);
    return 0;
}

uint32_t SerialChannel::ClearErrors(platform::SerialQueueStatus* status) {
    uint32_t mask = 0;
    if (port_) port_->ClearErrors(mask, status);
    return mask;
}

void SerialChannel::Purge(uint32_t flags) {
    if (port_) port_->Purge(flags);
}

bool SerialChannel::CloseOnce() {
    if (!port_) return true;
    if (!port_->Close()) return false;
    port_.reset();
    return true;
}

bool SerialChannel::CloseChannel(const std::string& warningText) {
    for (int attempt = 1; attempt <= kCloseAttempts; ++attempt) {
        if (CloseOnce()) return true;
        reporter_.ReportStatus(warningText, core::kReportInfo);
        clock_.Sleep(kClosePauseMs);
    }
    return false;
}

}  // namespace firmora::link
