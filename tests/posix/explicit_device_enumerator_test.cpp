// Ports named on the command line: links to pseudo-terminals as by-id links
// lead to a modem's ttys, a reset that takes them away and brings them back
// under other nodes, and a fastboot endpoint found by its handshake.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "change_events.h"
#include "platform/posix/explicit_device_enumerator.h"
#include "serial_pty.h"
#include "test_folder.h"

namespace firmora::platform {
namespace {

namespace fs = std::filesystem;
using testing::ChangeEvents;
using testing::PtyPair;
using namespace std::chrono_literals;

class ExplicitPortsTest : public ::testing::Test {
protected:
    // A stable link to a pty's node, as /dev/serial/by-id/... is to a tty.
    std::string Link(const std::string& name, const PtyPair& pty) {
        const fs::path link = folder_ / name;
        fs::remove(link);
        fs::create_symlink(pty.slavePath(), link);
        return link.string();
    }

    // What the port opened as `com` writes, as its device sees it.
    static std::string Through(PosixSerialPorts& ports, const std::string& com, PtyPair& device) {
        auto port = ports.Open(com);
        if (!port) return "(no port)";
        size_t written = 0;
        if (!port->Write(reinterpret_cast<const uint8_t*>("AT\r"), 3, written)) return "(write failed)";
        return device.Receive(3);
    }

    testing::TestFolder folderHolder_{"explicit"};
    const fs::path folder_ = folderHolder_.path();
};

TEST_F(ExplicitPortsTest, PresentsExactlyTheNamedPortsWithRolesTheScanClassifies) {
    PtyPair diag, at;
    ASSERT_TRUE(diag.ok() && at.ok());
    PosixSerialPorts serialPorts;
    const std::string notADevice = (folder_ / "app").string();
    std::ofstream(notADevice) << "a file, not a port";
    {
        ExplicitDeviceEnumerator devices(serialPorts, {Link("diag", diag), Link("at", at), notADevice, ""});
        const auto interfaces = devices.ComPortInterfaces();
        ASSERT_TRUE(interfaces);
        ASSERT_EQ(interfaces->size(), 2u);
        EXPECT_EQ((*interfaces)[0].friendlyName, "Named Diagnostics Port (COM3)");
        EXPECT_EQ((*interfaces)[1].friendlyName, "Named AT Port (COM5)");
        EXPECT_EQ((*interfaces)[1].devicePath, (folder_ / "at").string());
        // The AT port is offered to the probe; the file is never a port.
        EXPECT_EQ(devices.SerialPortNames(), (std::vector<std::string>{"COM3", "COM5"}));
        EXPECT_EQ(devices.ComNameOf((folder_ / "at").string()), "COM5");
        EXPECT_EQ(Through(serialPorts, "COM5", at), "AT\r");
        EXPECT_EQ(Through(serialPorts, "COM3", diag), "AT\r");
        EXPECT_TRUE(devices.FastbootInterfacePaths().empty());
        EXPECT_TRUE(devices.UsbBootDevicePaths().empty());
    }
    {
        // A path relative to the working folder names the same port.
        const std::string relative = (folder_ / "at").lexically_relative(fs::current_path()).string();
        ASSERT_NE(relative.front(), '/');
        ExplicitDeviceEnumerator devices(serialPorts, {"", relative, "", ""});
        EXPECT_EQ(devices.SerialPortNames(), (std::vector<std::string>{"COM5"}));
        EXPECT_EQ(devices.ComNameOf(relative), "COM5");
        const auto mapped = serialPorts.DevicePathFor("COM5");
        ASSERT_TRUE(mapped && mapped->front() == '/');
        EXPECT_EQ(fs::path(*mapped).lexically_normal(), folder_ / "at");
        EXPECT_EQ(Through(serialPorts, "COM5", at), "AT\r");
    }
    // Gone with the enumerator: the names no longer lead anywhere.
    EXPECT_EQ(serialPorts.DevicePathFor("COM5"), std::nullopt);
}

TEST_F(ExplicitPortsTest, AResetTakesThePortsAwayAndTheSameLinksBringThemBack) {
    auto diag = std::make_unique<PtyPair>();
    auto at = std::make_unique<PtyPair>();
    PosixSerialPorts serialPorts;
    ChangeEvents events;  // outlives the thread that feeds it
    ExplicitDeviceEnumerator devices(serialPorts, {Link("diag", *diag), Link("at", *at), "", ""}, 5ms);
    devices.SetChangeHandler(events.Handler());

    // The modem resets: its ttys and their links go.
    fs::remove(folder_ / "at");
    fs::remove(folder_ / "diag");
    at.reset();
    diag.reset();
    std::set<std::string> removed;
    for (int i = 0; i < 2; ++i) {
        const auto event = events.Next();
        ASSERT_TRUE(event && event->change == DeviceChange::Removal && event->isPort) << ChangeEvents::Describe(event);
        removed.insert(event->name);
    }
    EXPECT_EQ(removed, (std::set<std::string>{"COM3", "COM5"}));
    EXPECT_TRUE(devices.SerialPortNames().empty());

    // It comes back under other nodes, behind the same links.
    PtyPair newAt;
    Link("at", newAt);
    const auto back = events.Next();
    ASSERT_TRUE(ChangeEvents::IsPort(back, DeviceChange::Arrival, "COM5")) << ChangeEvents::Describe(back);
    EXPECT_EQ(devices.SerialPortNames(), (std::vector<std::string>{"COM5"}));
    EXPECT_EQ(Through(serialPorts, "COM5", newAt), "AT\r");
}

// A fastboot TCP endpoint that answers one handshake with `reply`.
class HandshakeServer {
public:
    explicit HandshakeServer(std::string reply) : reply_(std::move(reply)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(listener_, 1) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            return;
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            const int connection = ::accept(listener_, nullptr, nullptr);
            if (connection < 0) return;
            char hello[4];
            if (::recv(connection, hello, sizeof hello, MSG_WAITALL) == 4 && std::string(hello, 4) == "FB01") {
                (void)::send(connection, reply_.data(), reply_.size(), MSG_NOSIGNAL);
            }
            ::close(connection);
        });
    }
    ~HandshakeServer() {
        ::shutdown(listener_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
        ::close(listener_);
    }
    std::string Path() const { return "tcp:127.0.0.1:" + std::to_string(port_); }

private:
    std::string reply_;
    int listener_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
};

TEST_F(ExplicitPortsTest, AFastbootEndpointIsListedWhileItAnswersTheHandshake) {
    PosixSerialPorts serialPorts;
    {
        HandshakeServer server("FB01");
        ExplicitDeviceEnumerator devices(serialPorts, {"", "", "", server.Path()});
        EXPECT_EQ(devices.FastbootInterfacePaths(), (std::vector<std::string>{server.Path()}));
    }
    {
        HandshakeServer server("XX01");
        ExplicitDeviceEnumerator devices(serialPorts, {"", "", "", server.Path()});
        EXPECT_TRUE(devices.FastbootInterfacePaths().empty());
    }
    std::string closedPath;
    {
        HandshakeServer server("FB01");
        closedPath = server.Path();
    }
    ExplicitDeviceEnumerator devices(serialPorts, {"", "", "", closedPath});
    EXPECT_TRUE(devices.FastbootInterfacePaths().empty());
    // A USB path that no present device has.
    ExplicitDeviceEnumerator usb(serialPorts, {"", "", "", "usb:9-9:VID_18D1&PID_D00D"});
    EXPECT_TRUE(usb.FastbootInterfacePaths().empty());
}

}  // namespace
}  // namespace firmora::platform
