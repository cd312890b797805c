#include "firmora-sim/fastboot_tcp_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xxhash.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/fastboot_device.h"
#include "sim/partition_store.h"
#include "test_folder.h"

extern char** environ;

namespace firmora::simtool {
namespace {

using sim::Bytes;

constexpr const char* kClient = "/usr/bin/fastboot";

// A bare boot loader behind the server: replies go straight back as frames.
class ServedBootloader final : public sim::DeviceSide {
public:
    explicit ServedBootloader(uint64_t maxDownloadSize)
        : store(sim::PartitionStore::FromScenario(Scenario(maxDownloadSize))),
          device(store, Scenario(maxDownloadSize)),
          server(FastbootEndpoint{
                     [this] { return inBootloader; },
                     [this](const uint8_t* data, size_t length) {
                         largestMessage = std::max(largestMessage, length);
                         device.OnHostMessage(data, length, *this);
                     },
                     [this] { device.OnDisconnect(); },
                     nullptr},
                 lock) {
        server.Start(0);
    }

    static nlohmann::json Scenario(uint64_t maxDownloadSize) {
        return {{"partitions", {{"boot", {{"capacity", 16 << 20}}}, {"modem", {{"capacity", 16 << 20}}}}},
                {"bootloader", {{"maxDownloadSize", maxDownloadSize}, {"replyDelayMs", 0}}}};
    }

    void Send(const Bytes& bytes, uint64_t) override { server.Reply(bytes); }
    void Request(sim::ModemRequest request, uint64_t) override { requests.push_back(request); }
    uint64_t NowMs() const override { return 0; }

    std::string Target() const { return "tcp:127.0.0.1:" + std::to_string(server.port()); }

    std::mutex lock;
    bool inBootloader = true;               // under `lock`
    size_t largestMessage = 0;              // under `lock`
    std::vector<sim::ModemRequest> requests;  // under `lock`
    sim::PartitionStore store;
    sim::FastbootDevice device;
    FastbootTcpServer server;
};

struct ClientRun {
    int exitCode = -1;  // -1: killed after the time limit
    std::string output;
};

// Runs the Android fastboot client with a time limit, so that a hang cannot block the suite.
ClientRun RunClient(const std::string& target, std::vector<std::string> args, const std::string& logPath) {
    args.insert(args.begin(), {kClient, "-s", target});
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, kClient, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ClientRun run;
    if (spawned != 0) return run;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            status = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (status != -1 && WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    std::ifstream log(logPath);
    run.output.assign(std::istreambuf_iterator<char>(log), {});
    return run;
}

std::string WriteImage(const std::filesystem::path& path, size_t size, Bytes& bytes) {
    std::mt19937 random(42);
    bytes.resize(size);
    for (auto& b : bytes) b = static_cast<uint8_t>(random());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
    return path.string();
}

std::string Xxh3Hex(const Bytes& bytes) { return sim::DigestHex(XXH3_64bits(bytes.data(), bytes.size())); }

TEST(FastbootTcpInterop, AndroidClientFlashesErasesAndReboots) {
    if (::access(kClient, X_OK) != 0) GTEST_SKIP() << kClient << " is not installed";
    testing::TestFolder folder("fastboot-tcp");
    const std::string log = (folder.path() / "client.log").string();
    Bytes image;
    const std::string file = WriteImage(folder.path() / "boot.img", 3 * 1024 * 1024 + 4321, image);
    ServedBootloader loader(0x20000000);

    ClientRun run = RunClient(loader.Target(), {"getvar", "product"}, log);
    EXPECT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("product: MDM9607"), std::string::npos) << run.output;

    run = RunClient(loader.Target(), {"flash", "boot", file}, log);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    run = RunClient(loader.Target(), {"erase", "modem"}, log);
    ASSERT_EQ(run.exitCode, 0) << run.output;
    run = RunClient(loader.Target(), {"reboot"}, log);
    ASSERT_EQ(run.exitCode, 0) << run.output;

    std::lock_guard<std::mutex> lock(loader.lock);
    const sim::Partition& boot = *loader.store.Find("boot");
    EXPECT_EQ(boot.size, image.size());
    EXPECT_EQ(boot.DigestText(), Xxh3Hex(image));
    EXPECT_EQ(boot.flashes, 1u);
    EXPECT_TRUE(loader.store.Find("modem")->erased);
    // The image came as one frame and reached the device in bounded pieces.
    EXPECT_LE(loader.largestMessage, FastbootTcpServer::kPieceBytes);
    EXPECT_EQ(loader.requests, std::vector<sim::ModemRequest>{sim::ModemRequest::Reset});
}

TEST(FastbootTcpInterop, ClientSplittingAnImageIntoSparsePiecesLeavesTheDeviceConsistent) {
    if (::access(kClient, X_OK) != 0) GTEST_SKIP() << kClient << " is not installed";
    testing::TestFolder folder("fastboot-tcp");
    Bytes image;
    const std::string file = WriteImage(folder.path() / "boot.img", 3 * 1024 * 1024 + 8192, image);
    ServedBootloader loader(0x100000);

    // Above max-download-size the client sends sparse images of its own making,
    // one download and flash per piece; their bytes are not the file's.
    const ClientRun run = RunClient(loader.Target(), {"flash", "boot", file}, (folder.path() / "client.log").string());
    ASSERT_EQ(run.exitCode, 0) << run.output;

    std::lock_guard<std::mutex> lock(loader.lock);
    const sim::Partition& boot = *loader.store.Find("boot");
    EXPECT_GE(boot.flashes, 3u);
    EXPECT_GT(boot.size, 0u);
    EXPECT_LE(boot.size, 0x100000u);
    EXPECT_FALSE(loader.device.InDownload());
    for (const std::string& command : loader.device.CommandLog()) {
        if (command.rfind("download:", 0) == 0) {
            EXPECT_LE(std::stoull(command.substr(9), nullptr, 16), 0x100000u);
        }
    }
}

// A raw client on the server's port.
int Connect(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    timeval limit{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return fd;
}

std::string Receive(int fd, size_t length) {
    std::string data(length, '\0');
    size_t have = 0;
    while (have < length) {
        const ssize_t got = ::recv(fd, data.data() + have, length - have, 0);
        if (got <= 0) break;
        have += static_cast<size_t>(got);
    }
    data.resize(have);
    return data;
}

void SendFrame(int fd, const std::string& payload) {
    std::string frame(8, '\0');
    for (size_t i = 0; i < 8; ++i) frame[7 - i] = static_cast<char>((payload.size() >> (8 * i)) & 0xFF);
    frame += payload;
    ASSERT_EQ(::send(fd, frame.data(), frame.size(), MSG_NOSIGNAL), static_cast<ssize_t>(frame.size()));
}

TEST(FastbootTcpServer, ServesOnlyABootloaderAndStopsPromptly) {
    ServedBootloader loader(0x1000000);
    {
        std::lock_guard<std::mutex> lock(loader.lock);
        loader.inBootloader = false;
    }
    int fd = Connect(loader.server.port());
    ASSERT_GE(fd, 0);
    ::send(fd, "FB01", 4, MSG_NOSIGNAL);
    EXPECT_EQ(Receive(fd, 4), "");  // closed without a handshake
    ::close(fd);
    {
        std::lock_guard<std::mutex> lock(loader.lock);
        loader.inBootloader = true;
    }

    fd = Connect(loader.server.port());
    ASSERT_GE(fd, 0);
    ::send(fd, "FB01", 4, MSG_NOSIGNAL);
    EXPECT_EQ(Receive(fd, 4), "FB01");
    SendFrame(fd, "getvar:product");
    EXPECT_EQ(Receive(fd, 19), std::string("\0\0\0\0\0\0\0\x0b" "OKAYMDM9607", 19));
    // A download abandoned by a vanished host does not swallow the next host's commands.
    SendFrame(fd, "download:00001000");
    EXPECT_EQ(Receive(fd, 20).substr(8), "DATA00001000");
    SendFrame(fd, std::string(100, 'x'));
    ::close(fd);

    fd = Connect(loader.server.port());
    ASSERT_GE(fd, 0);
    ::send(fd, "FB01", 4, MSG_NOSIGNAL);
    EXPECT_EQ(Receive(fd, 4), "FB01");
    SendFrame(fd, "getvar:product");
    EXPECT_EQ(Receive(fd, 19).substr(8), "OKAYMDM9607");

    // Stopping with a connection open ends it rather than waiting for the
    // client to leave (the bound only tells returning from hanging).
    const auto start = std::chrono::steady_clock::now();
    loader.server.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(Receive(fd, 1), "");
    ::close(fd);
}

}  // namespace
}  // namespace firmora::simtool
