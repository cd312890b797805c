#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>

#include "platform/posix/posix_modem_manager.h"

namespace firmora::platform {
namespace {

// The tests against a ModemManager on a bus are in modem_manager_bus/.
TEST(PosixModemManagerTest, WithoutASystemBusThereIsNothingToDo) {
    const char* before = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    const std::optional<std::string> saved = before ? std::optional<std::string>(before) : std::nullopt;
    ::setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/firmora-test-bus", 1);

    PosixModemManager manager;
    const InhibitResult result = manager.Inhibit("/sys/devices/pci0000:00/usb1/1-2");

    if (saved) {
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", saved->c_str(), 1);
    } else {
        ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
    EXPECT_EQ(result.outcome, InhibitResult::Outcome::NotManaged);
    EXPECT_EQ(result.hold, nullptr);
}

}  // namespace
}  // namespace firmora::platform
