#include "fake_serial.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/last_error.h"
#include "platform/virtual_read.h"

namespace firmora::testing {

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }
std::string ToText(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string Hex(const Bytes& bytes) {
    std::string out;
    char cell[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(cell, sizeof cell, "%02X", bytes[i]);
        if (i) out += ' ';
        out += cell;
    }
    return out;
}

void FakeSerialDevice::Deliver(const Bytes& bytes, uint64_t delayMs) {
    uint64_t at = clock_.TickCount() + delayMs;
    // Bytes arrive in the order they were queued.
    if (!incoming_.empty()) at = std::max(at, incoming_.back().first);
    for (uint8_t b : bytes) incoming_.emplace_back(at, b);
}

FakeSerialPort::FakeSerialPort(std::shared_ptr<FakeSerialDevice> device) : device_(std::move(device)) {
    device_->open = true;
}

FakeSerialPort::~FakeSerialPort() {
    if (!closed_) device_->open = false;
}

bool FakeSerialPort::Present() {
    if (!device_->gone) return true;
    platform::SetLastError(EIO);
    return false;
}

bool FakeSerialPort::GetLineSettings(platform::LineSettings& out) {
    if (!Present()) return false;
    out = device_->line;
    return true;
}

bool FakeSerialPort::SetLineSettings(const platform::LineSettings& settings) {
    if (device_->failLineSettings) {
        platform::SetLastError(EINVAL);
        return false;
    }
    device_->line = settings;
    return true;
}

bool FakeSerialPort::SetTimeouts(const platform::SerialTimeouts& timeouts) {
    if (device_->failTimeouts) {
        platform::SetLastError(EINVAL);
        return false;
    }
    device_->timeouts = timeouts;
    return true;
}

bool FakeSerialPort::SetQueueSizes(uint32_t inBytes, uint32_t outBytes) {
    if (device_->failQueueSizes) {
        platform::SetLastError(EINVAL);
        return false;
    }
    device_->queueIn = inBytes;
    device_->queueOut = outBytes;
    return true;
}

bool FakeSerialPort::Purge(uint32_t flags) {
    if (!Present()) return false;
    device_->purges.push_back(flags);
    if (flags & platform::kPurgeRxClear) {
        const uint64_t now = device_->clock_.TickCount();
        auto& in = device_->incoming_;
        while (!in.empty() && in.front().first <= now) in.pop_front();
    }
    return true;
}

bool FakeSerialPort::ClearErrors(uint32_t& errorMask, platform::SerialQueueStatus* status) {
    errorMask = 0;
    if (!Present()) return false;
    errorMask = device_->pendingErrorMask;
    device_->pendingErrorMask = 0;
    if (status) {
        const uint64_t now = device_->clock_.TickCount();
        status->inQueue = static_cast<uint32_t>(
            std::count_if(device_->incoming_.begin(), device_->incoming_.end(),
                          [now](const auto& item) { return item.first <= now; }));
        status->outQueue = 0;
    }
    return true;
}

size_t FakeSerialPort::TakeArrived(uint8_t* buffer, size_t length) {
    const uint64_t now = device_->clock_.TickCount();
    auto& in = device_->incoming_;
    size_t got = 0;
    while (got < length && !in.empty() && in.front().first <= now) {
        buffer[got++] = in.front().second;
        in.pop_front();
    }
    return got;
}

bool FakeSerialPort::Read(uint8_t* buffer, size_t length, size_t& bytesRead) {
    bytesRead = 0;
    ++device_->readCalls;
    if (closed_) {
        platform::SetLastError(EBADF);
        return false;
    }
    if (!Present()) return false;
    if (device_->failReads > 0) {
        --device_->failReads;
        platform::SetLastError(device_->failureCode);
        return false;
    }
    auto& clock = device_->clock_;
    auto& in = device_->incoming_;
    // The next virtual time at which something may arrive: a queued byte or a scheduled event.
    auto nextChange = [&]() -> std::optional<uint64_t> {
        std::optional<uint64_t> next = clock.NextEventTick();
        if (!in.empty() && (!next || in.front().first < *next)) next = in.front().first;
        return next;
    };
    bytesRead = platform::ReadOnVirtualClock(clock, platform::PlanRead(device_->timeouts, length), buffer, length,
                                             {[this](uint8_t* to, size_t n) { return TakeArrived(to, n); },
                                              nextChange, nullptr})
                    .bytesRead;
    return true;
}

bool FakeSerialPort::Write(const uint8_t* data, size_t length, size_t& bytesWritten) {
    bytesWritten = 0;
    if (closed_) {
        platform::SetLastError(EBADF);
        return false;
    }
    if (!Present()) return false;
    if (device_->failWrites > 0) {
        --device_->failWrites;
        platform::SetLastError(device_->failureCode);
        return false;
    }
    Bytes bytes(data, data + length);
    device_->written.insert(device_->written.end(), bytes.begin(), bytes.end());
    device_->writes.push_back(bytes);
    bytesWritten = length;
    if (device_->responder) device_->responder(bytes);
    return true;
}

bool FakeSerialPort::Close() {
    if (device_->failCloses > 0) {
        --device_->failCloses;
        platform::SetLastError(device_->failureCode);
        return false;
    }
    closed_ = true;
    device_->open = false;
    ++device_->closes;
    return true;
}

FakeSerialDevice& FakeSerialPorts::Device(const std::string& deviceName) { return *SharedDevice(deviceName); }

std::shared_ptr<FakeSerialDevice> FakeSerialPorts::SharedDevice(const std::string& deviceName) {
    auto& slot = devices_[deviceName];
    if (!slot) slot = std::make_shared<FakeSerialDevice>(clock_);
    return slot;
}

std::unique_ptr<platform::SerialPort> FakeSerialPorts::Open(const std::string& deviceName) {
    if (std::find(refused.begin(), refused.end(), deviceName) != refused.end()) {
        platform::SetLastError(ENOENT);
        return nullptr;
    }
    opened.push_back(deviceName);
    return std::make_unique<FakeSerialPort>(SharedDevice(deviceName));
}

}  // namespace firmora::testing
