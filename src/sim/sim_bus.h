#pragma once
// SimBus: the host's view of the virtual modems plugged into the simulated
// USB bus, shared by SimPlatform's seams. For every modem it keeps what has
// reached the host and not yet been read (serial bytes per port, boot-loader
// replies) and counts the modem's departures, so that a handle opened before
// the device left fails afterwards as a handle of a removed device does.
//
// One recursive lock serialises everything: seam calls take it, and so does
// every callback the modems schedule on the VirtualClock (through
// scheduler()), whichever thread's sleep happens to run it. The lock is also
// the clock's event lock: time moves only in a thread that holds it.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/device_enumerator.h"
#include "platform/virtual_clock.h"
#include "sim/scheduler.h"
#include "sim/usb_profile.h"
#include "sim/virtual_modem.h"

namespace firmora::sim {

// errno values the simulated devices report, as the POSIX seams do.
inline constexpr uint32_t kErrNoDevice = 2;     // ENOENT: nothing by that name
inline constexpr uint32_t kErrIo = 5;           // EIO: the device left the bus
inline constexpr uint32_t kErrBadHandle = 9;    // EBADF: used after Close
inline constexpr uint32_t kErrBusy = 16;        // EBUSY: opened by someone else
inline constexpr uint32_t kErrInvalid = 22;     // EINVAL
inline constexpr uint32_t kErrOverflow = 75;    // EOVERFLOW: a message longer than the read buffer
inline constexpr uint32_t kErrTimedOut = 110;   // ETIMEDOUT

class SimBus {
public:
    struct HostPort {
        std::deque<std::pair<uint64_t, uint8_t>> incoming;  // (arrival tick, byte)
        bool openHandle = false;                            // opened in the current generation
    };

    struct Device {
        std::unique_ptr<VirtualModem> modem;
        UsbProfile profile;
        // Departures so far; a handle remembers the value it was opened in.
        uint64_t generation = 0;
        std::map<PortRole, HostPort> ports;
        std::deque<std::pair<uint64_t, Bytes>> fastbootReplies;  // (arrival tick, message)
        uint64_t bulkCreditBytes = 0;  // bytes written but not yet paid for in time
    };

    explicit SimBus(platform::VirtualClock& clock);
    ~SimBus();
    SimBus(const SimBus&) = delete;
    SimBus& operator=(const SimBus&) = delete;

    std::recursive_mutex& mutex() { return mutex_; }
    platform::VirtualClock& clock() { return clock_; }
    Scheduler& scheduler();

    Device& Attach(const Scenario& scenario);
    std::vector<std::unique_ptr<Device>>& devices() { return devices_; }

    void SetChangeHandler(platform::DeviceEnumerator::ChangeHandler handler);

    // The device showing this COM number now, and the port's role.
    Device* FindComPort(int comNumber, PortRole& role);
    // The device in its boot loader / USB boot mode under this path (case-insensitive).
    Device* FindFastboot(const std::string& path);
    Device* FindUsbBoot(const std::string& path);

    // Fires whatever is due now, so that replies scheduled with no delay are there.
    void CatchUp();
    // Waits on the clock until `ready` holds, `deadline` passes (none: for as
    // long as something is scheduled) or the device leaves. The caller holds the lock.
    enum class WaitResult { Ready, TimedOut, Left };
    WaitResult WaitUntil(Device& device, uint64_t generation, const std::function<bool()>& ready,
                         std::optional<uint64_t> deadline);

private:
    void OnBusEvent(Device& device, const BusEvent& event);

    platform::VirtualClock& clock_;
    std::recursive_mutex mutex_;
    // Callbacks still on the clock when the bus goes are dropped.
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    std::unique_ptr<Scheduler> scheduler_;
    std::vector<std::unique_ptr<Device>> devices_;
    platform::DeviceEnumerator::ChangeHandler changeHandler_;
};

bool SamePath(const std::string& a, const std::string& b);

}  // namespace firmora::sim
