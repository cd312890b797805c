#pragma once
// ModemManager seam. On a Linux desktop the modem manager service probes and
// holds a modem's ports, and would talk to its AT port in the middle of an
// update. A run asks it to leave the modem alone and gives the modem back when
// the run ends, on every path out (the hold's destructor).

#include <memory>
#include <string>
#include <vector>

namespace firmora::platform {

// The modem stays out of the manager's hands while this object lives.
class ModemInhibition {
public:
    virtual ~ModemInhibition() = default;
};

struct InhibitResult {
    enum class Outcome {
        NotManaged,  // no modem manager runs, or it does not know this device: nothing to do
        Inhibited,   // `hold` keeps the device away from it
        Refused      // it may hold the device and would not let go: `failure` says what to do
    };
    Outcome outcome = Outcome::NotManaged;
    std::unique_ptr<ModemInhibition> hold;
    std::string failure;
};

// The start of every refusal text; the reason and the remedy follow.
inline constexpr char kModemManagerRefusal[] = "ModemManager holds the modem and could not be asked to let it go";

class ModemInhibitor {
public:
    virtual ~ModemInhibitor() = default;
    // `deviceUid` names the modem's USB device as the manager does: its sysfs path.
    virtual InhibitResult Inhibit(const std::string& deviceUid) = 0;
};

// Runs on the virtual modem, and systems without a modem manager.
class NoModemManager final : public ModemInhibitor {
public:
    InhibitResult Inhibit(const std::string&) override { return {}; }
};

// A modem manager for the tests of the layers above: records what it is
// asked ("inhibit UID", "release UID") and refuses with `refusal` when set.
class RecordingModemManager final : public ModemInhibitor {
public:
    InhibitResult Inhibit(const std::string& deviceUid) override;

    std::string refusal;
    std::vector<std::string> calls;
};

}  // namespace firmora::platform
