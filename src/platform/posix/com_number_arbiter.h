#pragma once
// COM numbers for Linux serial ports, stable per physical port: a port is
// known by its USB location, device identity and interface number (the
// device path form "usb:1-1.4:VID_1C9E&PID_9B3C&MI_02"), and keeps the
// number it was first given in the settings store, from run to run and
// across a reset that brings it back as another /dev node. COM1 and COM2
// are never given (the port scan passes them over as the PC's own ports),
// nor a number the user has mapped by hand under kComPortsKey.
//
// The store holds both directions under kComNumbersKey: "<port key>" = n
// and "COM<n>" = "<port key>", so a number is taken once and the next free
// one is found without listing the store. An entry whose other half is
// missing or points elsewhere (a crash between the two writes, a hand edit)
// does not count, and the port gets a fresh number.
//
// Thread-safe within the process (one lock for every arbiter, since several
// may share one store). When the store cannot be written the number still
// holds for this object's lifetime.

#include <map>
#include <optional>
#include <string>

#include "platform/settings_store.h"

namespace firmora::platform {

inline constexpr char kComNumbersKey[] = "Software\\Firmora\\ComNumbers";
inline constexpr int kFirstComNumber = 3;
inline constexpr int kLastComNumber = 255;

class ComNumberArbiter {
public:
    // `settings` must outlive this object.
    explicit ComNumberArbiter(SettingsStore& settings) : settings_(settings) {}

    // The port's number, given now when it has none; nullopt when every
    // number from kFirstComNumber to kLastComNumber is taken.
    std::optional<int> NumberFor(const std::string& portKey);

private:
    std::optional<int> Stored(const std::string& portKey);
    bool Taken(int number);

    SettingsStore& settings_;
    std::map<std::string, int> unsaved_;  // given while the store refused writes
};

}  // namespace firmora::platform
