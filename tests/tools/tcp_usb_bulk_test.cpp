// The fastboot TCP transport behind the UsbBulk seam, against firmora-sim's
// server and boot loader: the calls the fastboot client makes, with real
// sockets and real time. Only lower bounds of time are checked (that a wait
// happened); how fast it goes is the benchmarks' business.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <xxhash.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "download/adb_api.h"
#include "download/fastboot_client.h"
#include "firmora-sim/fastboot_tcp_server.h"
#include "platform/last_error.h"
#include "platform/posix/routing_usb_bulk.h"
#include "platform/posix/system_clock.h"
#include "platform/posix/tcp_usb_bulk.h"
#include "recording_reporter.h"
#include "sim/fastboot_device.h"
#include "sim/partition_store.h"
#include "test_folder.h"

namespace firmora::platform {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// A bare boot loader served on an ephemeral port.
class Bootloader final : public sim::DeviceSide {
public:
    // `faults`: scenario keys of a misbehaving boot loader.
    explicit Bootloader(const nlohmann::json& faults = nlohmann::json::object())
        : store(sim::PartitionStore::FromScenario(Scenario(faults))),
          device(store, Scenario(faults)),
          server(simtool::FastbootEndpoint{[this] { return inBootloader; },
                                           [this](const uint8_t* data, size_t length) {
                                               device.OnHostMessage(data, length, *this);
                                           },
                                           [this] { device.OnDisconnect(); }, nullptr},
                 lock) {
        server.Start(0);
    }

    static nlohmann::json Scenario(const nlohmann::json& faults) {
        nlohmann::json scenario = {
            {"partitions", {{"boot", {{"capacity", 16 << 20}}}, {"efs2", {{"capacity", 1 << 20}}}}},
            {"bootloader", {{"replyDelayMs", 0}}}};
        scenario["bootloader"].update(faults);
        return scenario;
    }

    void Send(const sim::Bytes& bytes, uint64_t) override { server.Reply(bytes); }
    void Request(sim::ModemRequest, uint64_t) override {}
    uint64_t NowMs() const override { return 0; }

    std::string Path() const { return "tcp:127.0.0.1:" + std::to_string(server.port()); }

    std::mutex lock;
    bool inBootloader = true;  // under `lock`
    sim::PartitionStore store;
    sim::FastbootDevice device;
    simtool::FastbootTcpServer server;
};

// An open connection.
struct Link {
    std::unique_ptr<BulkTransport> transport;

    explicit Link(std::unique_ptr<BulkTransport> opened) : transport(std::move(opened)) {}
    bool ok() const { return transport != nullptr; }

    bool Write(const std::string& text, uint32_t timeoutMs = 5000) {
        uint32_t sent = 0;
        const bool done = transport->Write(reinterpret_cast<const uint8_t*>(text.data()),
                                           static_cast<uint32_t>(text.size()), sent, timeoutMs);
        return done && sent == text.size();
    }
    // The reply read with a buffer of `length` bytes; "<failed>" when the read fails.
    std::string Read(uint32_t length, uint32_t timeoutMs = 5000) {
        std::string buffer(length, '\0');
        uint32_t got = 0;
        if (!transport->Read(reinterpret_cast<uint8_t*>(buffer.data()), length, got, timeoutMs)) return "<failed>";
        return buffer.substr(0, got);
    }
};

TEST(TcpUsbBulk, FlashesAnImageTheWayTheFastbootClientDoes) {
    Bootloader loader;
    RoutingUsbBulk usb;  // "tcp:" paths reach the TCP transport without touching libusb
    Link link(usb.Open(loader.Path()));
    ASSERT_TRUE(link.ok()) << "error " << LastError();
    BulkInterfaceInfo info;
    ASSERT_TRUE(link.transport->Describe(info));
    EXPECT_EQ(info.name, loader.Path());
    EXPECT_EQ(info.descriptor.interfaceClass, 0xFF);
    EXPECT_EQ(info.descriptor.interfaceSubClass, 0x42);
    EXPECT_EQ(info.descriptor.interfaceProtocol, 0x03);

    ASSERT_TRUE(link.Write("getvar:product"));
    EXPECT_EQ(link.Read(256), "OKAYMDM9607");

    std::vector<uint8_t> image(3 * 4096 + 1000);
    std::mt19937 random(7);
    for (auto& b : image) b = static_cast<uint8_t>(random());
    char command[32];
    std::snprintf(command, sizeof command, "download:%08zx", image.size());
    ASSERT_TRUE(link.Write(command));
    EXPECT_EQ(link.Read(24, 512), "DATA000033e8");
    for (size_t at = 0; at < image.size(); at += 4096) {
        const uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(4096, image.size() - at));
        uint32_t sent = 0;
        ASSERT_TRUE(link.transport->Write(image.data() + at, chunk, sent, 120000));
        EXPECT_EQ(sent, chunk);
    }
    EXPECT_EQ(link.Read(16), "OKAY");
    ASSERT_TRUE(link.Write("flash:boot"));
    EXPECT_EQ(link.Read(16), "OKAY");

    // An empty packet is an empty message, not nothing.
    ASSERT_TRUE(link.Write("download:00000000"));
    EXPECT_EQ(link.Read(24, 512), "DATA00000000");
    uint32_t sent = 1;
    ASSERT_TRUE(link.transport->Write(nullptr, 0, sent, 1000));
    EXPECT_EQ(sent, 0u);
    EXPECT_EQ(link.Read(16), "OKAY");

    EXPECT_TRUE(link.transport->Close());
    std::lock_guard<std::mutex> lock(loader.lock);
    const sim::Partition& boot = *loader.store.Find("boot");
    EXPECT_EQ(boot.size, image.size());
    EXPECT_EQ(boot.DigestText(), sim::DigestHex(XXH3_64bits(image.data(), image.size())));
}

TEST(TcpUsbBulk, AReadFromASilentDeviceTimesOutOnTimeAndTheLinkGoesOn) {
    Bootloader loader;
    TcpUsbBulk tcp;
    Link link(tcp.Open(loader.Path()));
    ASSERT_TRUE(link.ok()) << "error " << LastError();

    const auto start = SteadyClock::now();
    EXPECT_EQ(link.Read(16, 100), "<failed>");
    EXPECT_EQ(LastError(), uint32_t{ETIMEDOUT});
    EXPECT_GE(SteadyClock::now() - start, 95ms);

    ASSERT_TRUE(link.Write("getvar:product"));
    EXPECT_EQ(link.Read(16), "OKAYMDM9607");
}

TEST(TcpUsbBulk, AMessageLongerThanTheBufferIsRefusedNotHandedOutInPieces) {
    Bootloader loader;
    TcpUsbBulk tcp;
    Link link(tcp.Open(loader.Path()));
    ASSERT_TRUE(link.ok()) << "error " << LastError();
    ASSERT_TRUE(link.Write("getvar:product"));
    EXPECT_EQ(link.Read(4), "<failed>");
    EXPECT_EQ(LastError(), uint32_t{EOVERFLOW});
    // The rest ("MDM9607") never passes for the next reply.
    ASSERT_TRUE(link.Write("getvar:version"));
    EXPECT_EQ(link.Read(256), "<failed>");
    EXPECT_EQ(LastError(), uint32_t{EPROTO});
}

// Every OKAY carries 28 bytes of text, and efs2 is refused: the refusal must
// be read as the answer to its own flash, not lost behind the text before it.
TEST(TcpUsbBulk, TheFastbootClientReadsEachLongReplyWholeAndSeesTheRefusal) {
    Bootloader loader({{"okayText", std::string(28, '.')}, {"failFlash", "efs2"}});
    testing::TestFolder folder("tcp-client");
    const auto image = folder.path() / "image.bin";
    std::ofstream(image, std::ios::binary) << std::string(10000, 'i');
    TcpUsbBulk tcp;
    download::AdbApi adb = download::AdbApi::Bind(tcp);
    testing::RecordingReporter reporter;
    SystemClock clock;
    download::FastbootClient client(adb, reporter, clock);
    ASSERT_TRUE(client.ConnectAdbInterface(loader.Path())) << "error " << LastError();
    ASSERT_TRUE(client.InitAdbConnection());

    client.FlashImage(image.string(), 10000, [&] { return client.WriteFinishedCmd("boot"); });
    EXPECT_TRUE(reporter.Errors().empty()) << ::testing::PrintToString(reporter.Errors());
    client.FlashImage(image.string(), 10000, [&] { return client.WriteFinishedCmd("efs2"); });
    EXPECT_EQ(reporter.Errors(),
              std::vector<std::string>{"ERROR, Could not read OKAY reply. Read value:  46 41 49 4C 66 6C 61 73 68 "
                                       "20 77 72 69 74 65 20, Error code: 0"});
    std::lock_guard<std::mutex> lock(loader.lock);
    EXPECT_EQ(loader.store.Find("boot")->flashes, 1u);
    EXPECT_EQ(loader.store.Find("efs2")->flashes, 0u);
}

TEST(TcpUsbBulk, AConnectionWithoutAHandshakeFailsWithItsReason) {
    TcpUsbBulk tcp;
    {
        Bootloader loader;
        {
            std::lock_guard<std::mutex> lock(loader.lock);
            loader.inBootloader = false;  // the server closes at once
        }
        EXPECT_EQ(tcp.Open(loader.Path()), nullptr);
        EXPECT_EQ(LastError(), uint32_t{ECONNREFUSED});  // at the close, not at the 2 s time-out
    }

    // A peer that accepts connections but never answers.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    socklen_t size = sizeof address;
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size), 0);
    const std::string silent = "tcp:127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    const auto start = SteadyClock::now();
    EXPECT_EQ(tcp.Open(silent), nullptr);
    EXPECT_EQ(LastError(), uint32_t{ETIMEDOUT});
    EXPECT_GE(SteadyClock::now() - start, 1900ms);
    ::close(listener);

    // Now nobody listens there.
    EXPECT_EQ(tcp.Open(silent), nullptr);
    EXPECT_EQ(LastError(), uint32_t{ECONNREFUSED});
}

TEST(TcpUsbBulk, ADeviceThatGoesAwayFailsEveryCallButClose) {
    Bootloader loader;
    TcpUsbBulk tcp;
    Link link(tcp.Open(loader.Path()));
    ASSERT_TRUE(link.ok()) << "error " << LastError();
    loader.server.Stop();

    // A generous limit: ECONNRESET tells that the hang-up ended the read.
    EXPECT_EQ(link.Read(16, 60000), "<failed>");
    EXPECT_EQ(LastError(), uint32_t{ECONNRESET});
    EXPECT_FALSE(link.Write("getvar:product"));
    EXPECT_EQ(LastError(), uint32_t{EPIPE});

    EXPECT_TRUE(link.transport->Close());
    BulkInterfaceInfo info;
    EXPECT_FALSE(link.transport->Describe(info));
    EXPECT_EQ(LastError(), uint32_t{EBADF});
    EXPECT_FALSE(link.Write("getvar:product"));
    EXPECT_EQ(LastError(), uint32_t{EBADF});
}

TEST(TcpUsbBulk, ParsesHostAndPort) {
    EXPECT_EQ(TcpUsbBulk::ParseTarget("tcp:192.168.0.7"), (TcpTarget{"192.168.0.7", 5554}));
    EXPECT_EQ(TcpUsbBulk::ParseTarget("tcp:modem.local:6000"), (TcpTarget{"modem.local", 6000}));
    EXPECT_EQ(TcpUsbBulk::ParseTarget("tcp:[::1]:65535"), (TcpTarget{"::1", 65535}));
    EXPECT_EQ(TcpUsbBulk::ParseTarget("tcp:[fe80::1]"), (TcpTarget{"fe80::1", 5554}));
    for (const char* bad : {"tcp:", "tcp::5554", "tcp:host:", "tcp:host:0", "tcp:host:65536", "tcp:host:+80",
                            "tcp:fe80::1", "tcp:[::1", "tcp:[]:5554", "tcp:[::1]5554", "TCP:host",
                            "usb:1-1:VID_18D1&PID_D00D"}) {
        EXPECT_FALSE(TcpUsbBulk::ParseTarget(bad)) << bad;
    }
    TcpUsbBulk tcp;
    EXPECT_EQ(tcp.Open("tcp:host:port"), nullptr);
    EXPECT_EQ(LastError(), uint32_t{EINVAL});
}

}  // namespace
}  // namespace firmora::platform
