#include "platform/posix/posix_serial_port.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <optional>
#include <utility>

#include "platform/last_error.h"

namespace firmora::platform {
namespace {

// Limits beyond this many milliseconds (about 35 years) mean "no limit"; it
// also keeps per-byte * length products from overflowing the clock.
constexpr uint64_t kEndlessMs = uint64_t{1} << 40;
constexpr int64_t kNsPerMs = 1'000'000;
constexpr int64_t kNoDeadline = -1;

struct BaudRate {
    uint32_t rate;
    speed_t speed;
};

constexpr BaudRate kBaudRates[] = {
    {50, B50},         {75, B75},         {110, B110},       {134, B134},
    {150, B150},       {200, B200},       {300, B300},       {600, B600},
    {1200, B1200},     {1800, B1800},     {2400, B2400},     {4800, B4800},
    {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400},
#ifdef B460800
    {460800, B460800},
#endif
#ifdef B500000
    {500000, B500000},   {576000, B576000},   {921600, B921600},   {1000000, B1000000},
    {1152000, B1152000}, {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000},
    {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
#endif
};

std::optional<speed_t> SpeedFor(uint32_t rate) {
    for (const BaudRate& b : kBaudRates) {
        if (b.rate == rate) return b.speed;
    }
    return std::nullopt;
}

std::optional<uint32_t> RateFor(speed_t speed) {
    for (const BaudRate& b : kBaudRates) {
        if (b.speed == speed) return b.rate;
    }
    return std::nullopt;
}

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t DeadlineAfter(uint64_t ms) {
    if (ms >= kEndlessMs) return kNoDeadline;
    return NowNs() + static_cast<int64_t>(ms) * kNsPerMs;
}

// per-byte * length + constant, saturating at "no limit".
uint64_t TotalMs(uint32_t perByte, size_t length, uint32_t constant) {
    if (perByte != 0 && length >= kEndlessMs / perByte) return kEndlessMs;
    return static_cast<uint64_t>(perByte) * length + constant;
}

// Terminals without modem lines (pseudo-terminals, mocked nodes) and devices
// that do not know an exclusivity request answer with these; neither is a
// reason to refuse the port.
bool IsUnsupportedControl(int error) { return error == ENOTTY || error == EINVAL; }

// What a terminal answers once its device has gone: a hung-up line (EIO), an
// unplugged USB serial adapter (ENODEV, ENXIO).
bool IsDeviceLoss(int error) { return error == EIO || error == ENODEV || error == ENXIO; }

bool SetModemLine(int fd, int line, bool on) {
    if (::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line) == 0) return true;
    if (IsUnsupportedControl(errno)) return true;
    SetLastError(errno);
    return false;
}

bool SettingsAreValid(const LineSettings& s) {
    if (!SpeedFor(s.baudRate) || s.dataBits < 5 || s.dataBits > 8) return false;
    // One and a half stop bits exist only with 5 data bits, two only without.
    if (s.stopBits == StopBits::OnePointFive && s.dataBits != 5) return false;
    if (s.stopBits == StopBits::Two && s.dataBits == 5) return false;
    // RTS raised only while sending needs driver support termios cannot ask for.
    if (s.rts == RtsControl::Toggle) return false;
#ifndef CMSPAR
    if (s.parity == Parity::Mark || s.parity == Parity::Space) return false;
#endif
    return true;
}

tcflag_t SizeFlag(uint8_t dataBits) {
    switch (dataBits) {
        case 5: return CS5;
        case 6: return CS6;
        case 7: return CS7;
        default: return CS8;
    }
}

uint8_t DataBitsOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
        case CS5: return 5;
        case CS6: return 6;
        case CS7: return 7;
        default: return 8;
    }
}

tcflag_t ParityFlags(Parity parity) {
    switch (parity) {
        case Parity::None: return 0;
        case Parity::Odd: return PARENB | PARODD;
        case Parity::Even: return PARENB;
#ifdef CMSPAR
        case Parity::Mark: return PARENB | CMSPAR | PARODD;
        case Parity::Space: return PARENB | CMSPAR;
#else
        default: return 0;
#endif
    }
    return 0;
}

#ifdef CMSPAR
constexpr tcflag_t kParityBits = PARENB | PARODD | CMSPAR;
#else
constexpr tcflag_t kParityBits = PARENB | PARODD;
#endif

Parity ParityOf(tcflag_t cflag) {
    if (!(cflag & PARENB)) return Parity::None;
#ifdef CMSPAR
    if (cflag & CMSPAR) return (cflag & PARODD) ? Parity::Mark : Parity::Space;
#endif
    return (cflag & PARODD) ? Parity::Odd : Parity::Even;
}

void ApplyToTermios(const LineSettings& s, termios& t) {
    // Binary transfers only: no echo, no line editing, no character mapping.
    ::cfmakeraw(&t);
    t.c_cc[VMIN] = 1;  // with VMIN 0 an empty read would look like a hang-up
    t.c_cc[VTIME] = 0;
    t.c_cflag &= ~(CSIZE | kParityBits | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | SizeFlag(s.dataBits) | ParityFlags(s.parity);
    if (s.stopBits != StopBits::One) t.c_cflag |= CSTOPB;
    if (s.ctsOutFlow || s.rts == RtsControl::Handshake) t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~(INPCK | IXON | IXOFF | IXANY);
    if (s.parityCheck) t.c_iflag |= INPCK;
    if (s.xonXoffOut) t.c_iflag |= IXON;
    if (s.xonXoffIn) t.c_iflag |= IXOFF;
    const speed_t speed = *SpeedFor(s.baudRate);
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
}

// Drivers drop what their hardware cannot do (a pseudo-terminal, for one,
// forces 8 data bits without parity) and tcsetattr still succeeds.
bool DriverKept(const termios& wanted, const termios& got) {
    constexpr tcflag_t kFrame = CSIZE | PARENB | CSTOPB | CRTSCTS;
    if ((wanted.c_cflag & kFrame) != (got.c_cflag & kFrame)) return false;
    if ((wanted.c_cflag & PARENB) && (wanted.c_cflag & kParityBits) != (got.c_cflag & kParityBits)) return false;
    return ::cfgetospeed(&wanted) == ::cfgetospeed(&got) && ::cfgetispeed(&wanted) == ::cfgetispeed(&got);
}

}  // namespace

std::unique_ptr<PosixSerialPort> PosixSerialPort::Open(const std::string& devicePath) {
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(errno);
        return nullptr;
    }
    bool exclusive = false;
    auto refuse = [&](int error) {
        if (exclusive) ::ioctl(fd, TIOCNXCL);
        ::close(fd);
        SetLastError(error);
        return nullptr;
    };

    // TIOCEXCL does not stop a privileged opener; the lock stops every opener
    // that asks for it, in this process (another open file) or any other.
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        return refuse(errno == EWOULDBLOCK ? EBUSY : errno);
    }
    if (::ioctl(fd, TIOCEXCL) == 0) {
        exclusive = true;
    } else if (!IsUnsupportedControl(errno)) {
        return refuse(errno);
    }

    termios t{};
    if (::tcgetattr(fd, &t) != 0) return refuse(errno);
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &t) != 0) return refuse(errno);

    return std::unique_ptr<PosixSerialPort>(new PosixSerialPort(fd, devicePath));
}

PosixSerialPort::PosixSerialPort(int fd, std::string devicePath) : fd_(fd), devicePath_(std::move(devicePath)) {}

PosixSerialPort::~PosixSerialPort() { Close(); }

void PosixSerialPort::NoteError(int error) {
    SetLastError(error);
    if (IsDeviceLoss(error)) gone_ = true;
}

bool PosixSerialPort::CheckOpen() const {
    if (fd_ >= 0) return true;
    SetLastError(EBADF);
    return false;
}

bool PosixSerialPort::GetLineSettings(LineSettings& out) {
    if (!CheckOpen()) return false;
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) {
        NoteError(errno);
        return false;
    }
    LineSettings s = applied_;
    if (const auto rate = RateFor(::cfgetospeed(&t))) s.baudRate = *rate;
    s.dataBits = DataBitsOf(t.c_cflag);
    s.parity = ParityOf(t.c_cflag);
    if (t.c_cflag & CSTOPB) {
        s.stopBits = s.dataBits == 5 ? StopBits::OnePointFive : StopBits::Two;
    } else {
        s.stopBits = StopBits::One;
    }
    s.parityCheck = (t.c_iflag & INPCK) != 0;
    s.xonXoffOut = (t.c_iflag & IXON) != 0;
    s.xonXoffIn = (t.c_iflag & IXOFF) != 0;

    // CRTSCTS stands for CTS output flow and RTS handshake together; when it
    // still says what was applied, the applied fields tell them apart.
    const bool hardwareFlow = (t.c_cflag & CRTSCTS) != 0;
    if (hardwareFlow != (applied_.ctsOutFlow || applied_.rts == RtsControl::Handshake)) {
        s.ctsOutFlow = hardwareFlow;
        if (s.rts == RtsControl::Handshake) s.rts = RtsControl::Enable;
    }

    int lines = 0;
    if (::ioctl(fd_, TIOCMGET, &lines) == 0) {
        if (s.dtr != DtrControl::Handshake) {
            s.dtr = (lines & TIOCM_DTR) ? DtrControl::Enable : DtrControl::Disable;
        }
        if (s.rts != RtsControl::Handshake) {
            s.rts = (lines & TIOCM_RTS) ? RtsControl::Enable : RtsControl::Disable;
        }
    } else if (!IsUnsupportedControl(errno)) {
        NoteError(errno);
        return false;
    }
    out = s;
    return true;
}

bool PosixSerialPort::SetLineSettings(const LineSettings& settings) {
    if (!CheckOpen()) return false;
    if (!SettingsAreValid(settings)) {
        SetLastError(EINVAL);
        return false;
    }
    termios before{};
    if (::tcgetattr(fd_, &before) != 0) {
        NoteError(errno);
        return false;
    }
    termios wanted = before;
    ApplyToTermios(settings, wanted);
    if (::tcsetattr(fd_, TCSANOW, &wanted) != 0) {
        NoteError(errno);
        return false;
    }
    termios now{};
    if (::tcgetattr(fd_, &now) != 0) {
        NoteError(errno);
        return false;
    }
    if (!DriverKept(wanted, now)) {
        ::tcsetattr(fd_, TCSANOW, &before);
        SetLastError(EINVAL);
        return false;
    }
    if (!SetModemLine(fd_, TIOCM_DTR, settings.dtr != DtrControl::Disable)) return false;
    if (!SetModemLine(fd_, TIOCM_RTS, settings.rts != RtsControl::Disable)) return false;
    applied_ = settings;
    return true;
}

bool PosixSerialPort::SetTimeouts(const SerialTimeouts& timeouts) {
    if (!CheckOpen()) return false;
    timeouts_ = timeouts;
    return true;
}

bool PosixSerialPort::SetQueueSizes(uint32_t inBytes, uint32_t outBytes) {
    if (!CheckOpen()) return false;
    queueIn_ = inBytes;
    queueOut_ = outBytes;
    return true;
}

bool PosixSerialPort::Purge(uint32_t flags) {
    if (!CheckOpen()) return false;
    // The abort flags need nothing: no read or write is pending between calls.
    const bool rx = (flags & kPurgeRxClear) != 0;
    const bool tx = (flags & kPurgeTxClear) != 0;
    if (!rx && !tx) return true;
    const int queue = rx && tx ? TCIOFLUSH : (rx ? TCIFLUSH : TCOFLUSH);
    if (::tcflush(fd_, queue) != 0) {
        NoteError(errno);
        return false;
    }
    return true;
}

bool PosixSerialPort::ClearErrors(uint32_t& errorMask, SerialQueueStatus* status) {
    errorMask = 0;
    if (!CheckOpen()) return false;
    SerialQueueStatus queues;
    int count = 0;
    if (::ioctl(fd_, FIONREAD, &count) == 0) {
        queues.inQueue = static_cast<uint32_t>(std::max(count, 0));
    } else if (!IsUnsupportedControl(errno)) {
        NoteError(errno);
        return false;
    }
    count = 0;
    if (::ioctl(fd_, TIOCOUTQ, &count) == 0) {
        queues.outQueue = static_cast<uint32_t>(std::max(count, 0));
    } else if (!IsUnsupportedControl(errno)) {
        NoteError(errno);
        return false;
    }
    if (status) *status = queues;
    return true;
}

PosixSerialPort::Drain PosixSerialPort::DrainInput(uint8_t* buffer, size_t length, size_t& got) {
    while (got < length) {
        const ssize_t n = ::read(fd_, buffer + got, length - got);
        if (n > 0) {
            got += static_cast<size_t>(n);
            continue;
        }
        // In raw mode an empty terminal answers EAGAIN; end of file only
        // comes from a terminal that has been hung up.
        if (n == 0) return Drain::HungUp;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return Drain::Open;
        if (IsDeviceLoss(errno)) return Drain::HungUp;
        NoteError(errno);
        return Drain::Failed;
    }
    return Drain::Open;
}

PosixSerialPort::Wait PosixSerialPort::WaitFor(short events, int64_t deadlineNs) {
    for (;;) {
        int timeoutMs = -1;
        if (deadlineNs != kNoDeadline) {
            const int64_t left = deadlineNs - NowNs();
            if (left <= 0) return Wait::TimedOut;
            timeoutMs = static_cast<int>(std::min<int64_t>((left + kNsPerMs - 1) / kNsPerMs, INT_MAX));
        }
        pollfd p{fd_, events, 0};
        const int ready = ::poll(&p, 1, timeoutMs);
        if (ready < 0) {
            if (errno == EINTR) continue;
            NoteError(errno);
            return Wait::Failed;
        }
        if (ready == 0) continue;  // the deadline check above decides
        if (p.revents & events) return Wait::Ready;
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) return Wait::HungUp;
    }
}

bool PosixSerialPort::FinishRead(Drain outcome, size_t got, size_t& bytesRead) {
    bytesRead = got;
    // Bytes that arrived before a hang-up or an error are handed out; the
    // next read meets the condition again and fails.
    if (outcome == Drain::Open || got > 0) return true;
    if (outcome == Drain::HungUp) NoteError(EIO);
    return false;
}

bool PosixSerialPort::Read(uint8_t* buffer, size_t length, size_t& bytesRead) {
    bytesRead = 0;
    if (!CheckOpen()) return false;
    if (length == 0) return true;

    const ReadWaitPlan plan = PlanRead(timeouts_, length);
    const int64_t totalDeadline =
        plan.mode == ReadWaitPlan::Mode::Accumulate && plan.totalMs ? DeadlineAfter(*plan.totalMs) : kNoDeadline;
    size_t got = 0;
    Drain outcome = DrainInput(buffer, length, got);
    if (outcome != Drain::Open || got == length || plan.mode == ReadWaitPlan::Mode::Immediate) {
        return FinishRead(outcome, got, bytesRead);
    }

    if (plan.mode == ReadWaitPlan::Mode::FirstByte) {
        if (got == 0) {
            switch (WaitFor(POLLIN, DeadlineAfter(plan.firstByteMs))) {
                case Wait::Ready: outcome = DrainInput(buffer, length, got); break;
                case Wait::TimedOut: break;
                case Wait::HungUp: outcome = Drain::HungUp; break;
                case Wait::Failed: outcome = Drain::Failed; break;
            }
        }
        return FinishRead(outcome, got, bytesRead);
    }

    // Accumulate: the interval limit counts from the latest arrival and only
    // once a first byte is in.
    int64_t lastArrival = got > 0 ? NowNs() : kNoDeadline;
    while (got < length) {
        int64_t deadline = totalDeadline;
        if (plan.intervalMs && lastArrival != kNoDeadline) {
            const int64_t gapEnd = lastArrival + static_cast<int64_t>(*plan.intervalMs) * kNsPerMs;
            deadline = deadline == kNoDeadline ? gapEnd : std::min(deadline, gapEnd);
        }
        const Wait wait = WaitFor(POLLIN, deadline);
        if (wait == Wait::TimedOut) break;
        if (wait == Wait::HungUp) {
            outcome = Drain::HungUp;
            break;
        }
        if (wait == Wait::Failed) {
            outcome = Drain::Failed;
            break;
        }
        const size_t before = got;
        outcome = DrainInput(buffer, length, got);
        if (got > before) lastArrival = NowNs();
        if (outcome != Drain::Open) break;
    }
    return FinishRead(outcome, got, bytesRead);
}

bool PosixSerialPort::Write(const uint8_t* data, size_t length, size_t& bytesWritten) {
    bytesWritten = 0;
    if (!CheckOpen()) return false;

    int64_t deadline = kNoDeadline;
    if (timeouts_.writeMultiplier != 0 || timeouts_.writeConstant != 0) {
        deadline = DeadlineAfter(TotalMs(timeouts_.writeMultiplier, length, timeouts_.writeConstant));
    }
    size_t written = 0;
    while (written < length) {
        const ssize_t n = ::write(fd_, data + written, length - written);
        if (n > 0) {
            written += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            NoteError(errno);
            bytesWritten = written;
            return false;
        }
        const Wait wait = WaitFor(POLLOUT, deadline);
        if (wait == Wait::TimedOut) break;  // a write time-out is success with fewer bytes
        if (wait != Wait::Ready) {
            if (wait == Wait::HungUp) NoteError(EIO);
            bytesWritten = written;
            return false;
        }
    }
    bytesWritten = written;
    return true;
}

bool PosixSerialPort::Close() {
    if (fd_ < 0) return true;
    // close() gives the descriptor up even when it reports an error, and the
    // number may be handed out again at once: never close it a second time.
    const int fd = std::exchange(fd_, -1);
    ::ioctl(fd, TIOCNXCL);
    if (::close(fd) != 0 && errno != EINTR) {
        NoteError(errno);
        return false;
    }
    return true;
}

}  // namespace firmora::platform
