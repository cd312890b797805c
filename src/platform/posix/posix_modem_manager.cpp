#include "platform/posix/posix_modem_manager.h"

#include <systemd/sd-bus.h>

#include <cstring>

namespace firmora::platform {
namespace {

constexpr char kService[] = "org.freedesktop.ModemManager1";
constexpr char kObject[] = "/org/freedesktop/ModemManager1";
constexpr char kInterface[] = "org.freedesktop.ModemManager1";
constexpr char kUnknownDevice[] = "org.freedesktop.ModemManager1.Error.Core.NotFound";
constexpr char kRemedy[] =
    "stop it for the update with `sudo systemctl stop ModemManager` (and start it again afterwards "
    "with `sudo systemctl start ModemManager`), or run the update as a user it allows to control modems";

struct BusCloser {
    void operator()(sd_bus* bus) const { sd_bus_flush_close_unref(bus); }
};
using Bus = std::unique_ptr<sd_bus, BusCloser>;

// One method call's error, freed on every path.
class CallError {
public:
    CallError() = default;
    ~CallError() { sd_bus_error_free(&error_); }
    CallError(const CallError&) = delete;
    CallError& operator=(const CallError&) = delete;

    sd_bus_error* get() { return &error_; }
    bool Is(const char* name) const { return sd_bus_error_has_name(&error_, name) != 0; }
    // The service's own words when it gave any, else the system's.
    std::string Reason(int result) const {
        if (error_.message && error_.message[0] != '\0') return error_.message;
        if (error_.name) return error_.name;
        return std::strerror(-result);
    }

private:
    sd_bus_error error_ = SD_BUS_ERROR_NULL;
};

int CallInhibitDevice(sd_bus* bus, const std::string& uid, bool inhibit, CallError& error) {
    return sd_bus_call_method(bus, kService, kObject, kInterface, "InhibitDevice", error.get(), nullptr, "sb",
                              uid.c_str(), static_cast<int>(inhibit));
}

InhibitResult Refused(const std::string& reason) {
    InhibitResult result;
    result.outcome = InhibitResult::Outcome::Refused;
    result.failure = std::string(kModemManagerRefusal) + " (" + reason + "): " + kRemedy + ".";
    return result;
}

class BusInhibition final : public ModemInhibition {
public:
    BusInhibition(Bus bus, std::string uid) : bus_(std::move(bus)), uid_(std::move(uid)) {}
    // When the call fails, closing the connection still ends the inhibition.
    ~BusInhibition() override {
        CallError error;
        CallInhibitDevice(bus_.get(), uid_, false, error);
    }
    BusInhibition(const BusInhibition&) = delete;
    BusInhibition& operator=(const BusInhibition&) = delete;

private:
    Bus bus_;
    std::string uid_;
};

}  // namespace

InhibitResult PosixModemManager::Inhibit(const std::string& deviceUid) {
    sd_bus* opened = nullptr;
    if (sd_bus_open_system(&opened) < 0) return {};  // no system bus: no ModemManager either
    Bus bus(opened);

    // Asked by name only when someone owns it, so that the call never starts
    // a service that is merely installed.
    CallError ownerError;
    sd_bus_message* reply = nullptr;
    int result = sd_bus_call_method(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                    "org.freedesktop.DBus", "NameHasOwner", ownerError.get(), &reply, "s", kService);
    if (result < 0) return Refused(ownerError.Reason(result));
    int owned = 0;
    result = sd_bus_message_read(reply, "b", &owned);
    sd_bus_message_unref(reply);
    if (result < 0) return Refused(std::strerror(-result));
    if (!owned) return {};

    CallError error;
    result = CallInhibitDevice(bus.get(), deviceUid, true, error);
    if (result < 0) {
        if (error.Is(kUnknownDevice)) return {};
        return Refused(error.Reason(result));
    }
    InhibitResult inhibited;
    inhibited.outcome = InhibitResult::Outcome::Inhibited;
    inhibited.hold = std::make_unique<BusInhibition>(std::move(bus), deviceUid);
    return inhibited;
}

}  // namespace firmora::platform
