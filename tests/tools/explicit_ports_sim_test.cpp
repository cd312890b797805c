// Ports named on the command line, against firmora-sim: its --link-dir
// links stand for /dev/serial/by-id, its boot loader for a fastboot device
// on TCP. The named ports go when the modem reboots into its boot loader,
// the fastboot endpoint appears, and the same links bring the ports back.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "change_events.h"
#include "child_process.h"
#include "platform/posix/explicit_device_enumerator.h"
#include "platform/posix/posix_serial_ports.h"
#include "platform/posix/tcp_usb_bulk.h"
#include "test_folder.h"

namespace firmora::simtool {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::DeviceChange;
using testing::ChangeEvents;

constexpr auto kGenerous = 30s;

// Waits for the next events until `count` ports have had `change`.
std::set<std::string> PortsWith(ChangeEvents& events, DeviceChange change, size_t count) {
    std::set<std::string> names;
    while (names.size() < count) {
        const auto event = events.Next();
        if (!event) break;
        if (event->isPort && event->change == change) names.insert(event->name);
    }
    return names;
}

bool Send(platform::BulkTransport& fastboot, const std::string& command, std::string& reply) {
    uint32_t moved = 0;
    if (!fastboot.Write(reinterpret_cast<const uint8_t*>(command.data()), static_cast<uint32_t>(command.size()),
                        moved, 5000)) {
        return false;
    }
    uint8_t buffer[256];
    if (!fastboot.Read(buffer, sizeof buffer, moved, 5000)) return false;
    reply.assign(reinterpret_cast<const char*>(buffer), moved);
    return true;
}

// A TCP port on the loopback that nothing listens on at the moment.
uint16_t FreePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    uint16_t port = 0;
    if (::bind(s, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
        ::getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(s);
    return port;
}

TEST(ExplicitPortsAgainstFirmoraSim, FollowTheModemIntoItsBootLoaderAndBack) {
    const fs::path program = ProgramBeside("firmora-sim");
    ASSERT_TRUE(fs::exists(program)) << program << " is missing: build the firmora-sim target";
    testing::TestFolder folder("explicit-sim");
    const fs::path links = folder.path() / "by-id";
    const uint16_t port = FreePort();
    ASSERT_NE(port, 0);
    const std::string fastbootPath = "tcp:127.0.0.1:" + std::to_string(port);
    Child sim({program.string(), "--scenario", (fs::path(FIRMORA_SCENARIO_DIR) / "default.json").string(),
               "--fastboot-port", std::to_string(port), "--time-scale", "10", "--link-dir", links.string()});
    ASSERT_TRUE(sim.running());
    ASSERT_TRUE(sim.WaitLine("ready", kGenerous)) << sim.seen();

    platform::PosixSerialPorts serialPorts;
    ChangeEvents events;  // outlives the thread that feeds it
    auto devices = std::make_unique<platform::ExplicitDeviceEnumerator>(
        serialPorts,
        platform::ExplicitPorts{(links / "diag").string(), (links / "at").string(), (links / "app").string(),
                                fastbootPath},
        20ms);
    devices->SetChangeHandler(events.Handler());
    const auto interfaces = devices->ComPortInterfaces();
    ASSERT_TRUE(interfaces && interfaces->size() == 3u) << sim.seen();
    EXPECT_EQ(devices->SerialPortNames(), (std::vector<std::string>{"COM3", "COM4", "COM5"}));
    // A modem in its normal mode answers no fastboot handshake.
    EXPECT_TRUE(devices->FastbootInterfacePaths().empty());

    // Into the boot loader through the named AT port.
    {
        auto at = serialPorts.Open("COM5");
        ASSERT_TRUE(at);
        const std::string command = "AT+SYSCMD=sys_reboot bootloader\r";
        size_t written = 0;
        ASSERT_TRUE(at->Write(reinterpret_cast<const uint8_t*>(command.data()), command.size(), written));
    }
    EXPECT_EQ(PortsWith(events, DeviceChange::Removal, 3), (std::set<std::string>{"COM3", "COM4", "COM5"}))
        << sim.seen();
    ASSERT_TRUE(sim.WaitLine(R"(fastboot tcp:.*)", kGenerous)) << sim.seen();
    EXPECT_EQ(devices->FastbootInterfacePaths(), (std::vector<std::string>{fastbootPath}));
    EXPECT_TRUE(devices->SerialPortNames().empty());

    // The handshake of the look did not disturb the boot loader: a client's
    // own connection is served, and its reboot brings the ports back.
    {
        platform::TcpUsbBulk tcp;
        auto connection = tcp.Open(fastbootPath);
        ASSERT_TRUE(connection) << sim.seen();
        std::string reply;
        ASSERT_TRUE(Send(*connection, "reboot", reply));
        EXPECT_EQ(reply.substr(0, 4), "OKAY");
        connection->Close();
    }
    EXPECT_EQ(PortsWith(events, DeviceChange::Arrival, 3), (std::set<std::string>{"COM3", "COM4", "COM5"}))
        << sim.seen();
    EXPECT_EQ(devices->SerialPortNames(), (std::vector<std::string>{"COM3", "COM4", "COM5"}));
    EXPECT_TRUE(devices->FastbootInterfacePaths().empty());

    devices.reset();
    sim.Signal(SIGTERM);
    EXPECT_EQ(sim.WaitExit(kGenerous), 0);
}

}  // namespace
}  // namespace firmora::simtool
