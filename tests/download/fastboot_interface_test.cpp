#include "link/fastboot_interface.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/last_error.h"
#include "sim/sim_platform.h"

namespace firmora::link {
namespace {

std::unique_ptr<sim::SimPlatform> Platform(const std::string& base, const nlohmann::json& usb) {
    nlohmann::json scenario = {{"extends", base}, {"usb", {{"personality", "bootloader"}}}};
    scenario["usb"].update(usb);
    return sim::SimPlatform::FromScenario(sim::Scenario::FromJson(scenario, "inline", FIRMORA_SCENARIO_DIR));
}

TEST(FastbootInterface, FindsTheBootLoadersInterfaceAndTellsTheFirstOfACompositeDevice) {
    auto plain = Platform("default", nlohmann::json::object());
    std::string path;
    EXPECT_EQ(FindFastbootInterface(plain->devices(), 0, path), 0);
    EXPECT_EQ(path, plain->Modem(0).FastbootInterfacePath());

    auto composite = Platform("composite-fastboot", nlohmann::json::object());
    EXPECT_EQ(FindFastbootInterface(composite->devices(), 0, path), 255);
    EXPECT_EQ(path, composite->Modem(0).FastbootInterfacePath());
}

TEST(FastbootInterface, AMissingMemberOrAnOverlongPathFailsWithItsCode) {
    auto device = Platform("default", nlohmann::json::object());
    std::string path = "untouched";
    const int missing = FindFastbootInterface(device->devices(), 1, path);
    EXPECT_NE(missing, 0);
    EXPECT_NE(missing, 255);
    EXPECT_EQ(static_cast<uint32_t>(missing), platform::LastError());
    EXPECT_EQ(path, "untouched");

    auto longPath = Platform("default", {{"fastbootInterfacePath", "\\\\?\\usb#" + std::string(248, 'x')}});
    ASSERT_EQ(longPath->Modem(0).FastbootInterfacePath().size(), 256u);
    EXPECT_EQ(FindFastbootInterface(longPath->devices(), 0, path), ERANGE);
    EXPECT_EQ(platform::LastError(), static_cast<uint32_t>(ERANGE));
    EXPECT_EQ(path, "untouched");

    auto longest = Platform("default", {{"fastbootInterfacePath", "\\\\?\\usb#" + std::string(247, 'x')}});
    EXPECT_EQ(FindFastbootInterface(longest->devices(), 0, path), 0);
}

}  // namespace
}  // namespace firmora::link
