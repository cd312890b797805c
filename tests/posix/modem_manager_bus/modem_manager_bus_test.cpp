// PosixModemManager against a private system bus (run_with_mock.py starts it,
// and a mock ModemManager for the tests that need one).

#include <gtest/gtest.h>
#include <systemd/sd-bus.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/posix/posix_modem_manager.h"

namespace firmora::platform {
namespace {

constexpr char kService[] = "org.freedesktop.ModemManager1";
constexpr char kObject[] = "/org/freedesktop/ModemManager1";
constexpr char kMockInterface[] = "org.freedesktop.DBus.Mock";
constexpr char kUid[] = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-2";

bool InPhase(const char* phase) {
    const char* value = std::getenv("FIRMORA_MOCK_MODEM_MANAGER");
    return value && std::string(value) == phase;
}

// The mock's control interface: what it was called with, and how it answers.
class MockModemManager {
public:
    MockModemManager() { ok_ = sd_bus_open_system(&bus_) >= 0; }
    ~MockModemManager() { sd_bus_flush_close_unref(bus_); }
    MockModemManager(const MockModemManager&) = delete;
    MockModemManager& operator=(const MockModemManager&) = delete;

    // InhibitDevice(s, b) runs `code` (Python; empty: returns nothing).
    bool Serve(const std::string& code) {
        return Call("AddMethod", "sssss", kService, "InhibitDevice", "sb", "", code.c_str()) &&
               Call("ClearCalls", "");
    }

    // Each call as "Method arg arg", booleans as true or false.
    std::vector<std::string> Calls() {
        std::vector<std::string> calls;
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message* reply = nullptr;
        if (sd_bus_call_method(bus_, kService, kObject, kMockInterface, "GetCalls", &error, &reply, "") < 0) {
            sd_bus_error_free(&error);
            return {"GetCalls failed"};
        }
        sd_bus_message_enter_container(reply, 'a', "(tsav)");
        while (sd_bus_message_enter_container(reply, 'r', "tsav") > 0) {
            uint64_t time = 0;
            const char* method = nullptr;
            sd_bus_message_read(reply, "ts", &time, &method);
            std::string call = method;
            sd_bus_message_enter_container(reply, 'a', "v");
            char type = 0;
            const char* contents = nullptr;
            while (sd_bus_message_peek_type(reply, &type, &contents) > 0) {
                sd_bus_message_enter_container(reply, 'v', contents);
                if (std::string(contents) == "s") {
                    const char* text = nullptr;
                    sd_bus_message_read(reply, "s", &text);
                    call += std::string(" ") + text;
                } else if (std::string(contents) == "b") {
                    int flag = 0;
                    sd_bus_message_read(reply, "b", &flag);
                    call += flag ? " true" : " false";
                } else {
                    sd_bus_message_skip(reply, contents);
                }
                sd_bus_message_exit_container(reply);
            }
            sd_bus_message_exit_container(reply);
            sd_bus_message_exit_container(reply);
            calls.push_back(call);
        }
        sd_bus_message_unref(reply);
        return calls;
    }

    bool ok() const { return ok_; }

private:
    template <typename... Args>
    bool Call(const char* method, const char* signature, Args... args) {
        sd_bus_error error = SD_BUS_ERROR_NULL;
        const int result =
            sd_bus_call_method(bus_, kService, kObject, kMockInterface, method, &error, nullptr, signature, args...);
        sd_bus_error_free(&error);
        return result >= 0;
    }

    sd_bus* bus_ = nullptr;
    bool ok_ = false;
};

std::string Raise(const std::string& name, const std::string& message) {
    return "raise dbus.exceptions.DBusException('" + message + "', name='" + name + "')";
}

TEST(ModemManagerBus, WithoutModemManagerOnTheBusThereIsNothingToDo) {
    if (!InPhase("absent")) GTEST_SKIP() << "run by run_with_mock.py";
    PosixModemManager manager;
    const InhibitResult result = manager.Inhibit(kUid);
    EXPECT_EQ(result.outcome, InhibitResult::Outcome::NotManaged);
    EXPECT_EQ(result.hold, nullptr);
    EXPECT_EQ(result.failure, "");
}

class ModemManagerBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!InPhase("present")) GTEST_SKIP() << "run by run_with_mock.py";
        ASSERT_TRUE(mock_.ok());
        ASSERT_TRUE(mock_.Serve(""));
    }

    MockModemManager mock_;
    PosixModemManager manager_;
};

TEST_F(ModemManagerBusTest, InhibitsTheDeviceAndHandsItBackWhenTheHoldEnds) {
    InhibitResult result = manager_.Inhibit(kUid);
    ASSERT_EQ(result.outcome, InhibitResult::Outcome::Inhibited);
    ASSERT_NE(result.hold, nullptr);
    EXPECT_EQ(mock_.Calls(), std::vector<std::string>{std::string("InhibitDevice ") + kUid + " true"});

    result.hold.reset();
    EXPECT_EQ(mock_.Calls(), (std::vector<std::string>{std::string("InhibitDevice ") + kUid + " true",
                                                       std::string("InhibitDevice ") + kUid + " false"}));
}

TEST_F(ModemManagerBusTest, ARefusalGivesTheServicesReasonAndTheRemedy) {
    ASSERT_TRUE(mock_.Serve(Raise("org.freedesktop.ModemManager1.Error.Core.Unauthorized", "Not authorized")));
    const InhibitResult result = manager_.Inhibit(kUid);
    EXPECT_EQ(result.outcome, InhibitResult::Outcome::Refused);
    EXPECT_EQ(result.hold, nullptr);
    EXPECT_EQ(result.failure.rfind(std::string(kModemManagerRefusal) + " (Not authorized): ", 0), 0u)
        << result.failure;
    EXPECT_NE(result.failure.find("sudo systemctl stop ModemManager"), std::string::npos) << result.failure;
    // Nothing is held, so nothing is handed back.
    EXPECT_EQ(mock_.Calls(), std::vector<std::string>{std::string("InhibitDevice ") + kUid + " true"});
}

TEST_F(ModemManagerBusTest, ADeviceTheServiceDoesNotKnowIsNothingToDo) {
    ASSERT_TRUE(mock_.Serve(Raise("org.freedesktop.ModemManager1.Error.Core.NotFound", "No device found")));
    const InhibitResult result = manager_.Inhibit(kUid);
    EXPECT_EQ(result.outcome, InhibitResult::Outcome::NotManaged);
    EXPECT_EQ(result.failure, "");
}

}  // namespace
}  // namespace firmora::platform
