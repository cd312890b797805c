// Opening serial ports by COM name or device node, exclusivity and closing,
// against pseudo-terminals.

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <tuple>

#include <gtest/gtest.h>

#include "platform/last_error.h"
#include "platform/posix/posix_serial_port.h"
#include "platform/posix/posix_serial_ports.h"
#include "serial_pty.h"

namespace firmora::platform {
namespace {

using testing::PtyPair;

// Just enough of a settings store to hold the stored COM numbers.
class MapSettingsStore final : public SettingsStore {
public:
    std::optional<std::string> ReadString(SettingsScope scope, const std::string& key,
                                          const std::string& name) override {
        const auto it = values_.find({scope, key, name});
        if (it == values_.end()) return std::nullopt;
        return it->second;
    }
    bool WriteString(SettingsScope scope, const std::string& key, const std::string& name,
                     const std::string& value) override {
        values_[{scope, key, name}] = value;
        return true;
    }
    std::optional<uint32_t> ReadInteger(SettingsScope, const std::string&, const std::string&) override {
        return std::nullopt;
    }
    bool WriteInteger(SettingsScope, const std::string&, const std::string&, uint32_t) override { return false; }
    bool Remove(SettingsScope scope, const std::string& key, const std::string& name) override {
        return values_.erase({scope, key, name}) > 0;
    }

private:
    std::map<std::tuple<SettingsScope, std::string, std::string>, std::string> values_;
};

class SerialPortsTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pty_.ok()); }

    // Opening fails with `error` recorded as the last error.
    void ExpectOpenFails(PosixSerialPorts& ports, const std::string& name, uint32_t error) {
        SetLastError(0);
        EXPECT_EQ(ports.Open(name), nullptr) << name;
        EXPECT_EQ(LastError(), error) << name;
    }

    PtyPair pty_;
};

TEST_F(SerialPortsTest, ComNamesResolveThroughTableThenStore) {
    MapSettingsStore store;
    store.WriteString(SettingsScope::User, kComPortsKey, "COM12", pty_.slavePath());
    store.WriteString(SettingsScope::User, kComPortsKey, "COM9", "/dev/null-not-this-one");
    PosixSerialPorts ports(&store);
    ports.MapComPort(9, pty_.slavePath());

    EXPECT_EQ(ports.DevicePathFor("COM9"), pty_.slavePath());  // the table wins
    EXPECT_EQ(ports.DevicePathFor("\\\\.\\COM12"), pty_.slavePath());
    EXPECT_EQ(ports.DevicePathFor("com12"), pty_.slavePath());
    EXPECT_EQ(ports.DevicePathFor("COM13"), std::nullopt);

    auto port = ports.Open("\\\\.\\COM12");
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(port->Close());
    port = ports.Open("COM9");
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(port->Close());

    ports.UnmapComPort(9);
    EXPECT_EQ(ports.DevicePathFor("COM9"), "/dev/null-not-this-one");
}

TEST_F(SerialPortsTest, NamesThatMapToNoNodeFailWithNoSuchEntry) {
    MapSettingsStore store;
    store.WriteString(SettingsScope::User, kComPortsKey, "COM4", "ttyUSB0");  // not absolute
    store.WriteString(SettingsScope::User, kComPortsKey, "COM5", "");
    PosixSerialPorts ports(&store);

    ExpectOpenFails(ports, "COM3", ENOENT);
    ExpectOpenFails(ports, "COM4", ENOENT);
    ExpectOpenFails(ports, "COM5", ENOENT);
    ExpectOpenFails(ports, "LPT1", ENOENT);
    ExpectOpenFails(ports, "", ENOENT);

    PosixSerialPorts withoutStore;
    ExpectOpenFails(withoutStore, "COM4", ENOENT);
}

TEST_F(SerialPortsTest, DeviceNodesOpenDirectlyAndNonTerminalsAreRefused) {
    PosixSerialPorts ports;
    auto port = ports.Open(pty_.slavePath());
    ASSERT_NE(port, nullptr);
    EXPECT_TRUE(port->Close());

    ExpectOpenFails(ports, "/dev/firmora-no-such-node", ENOENT);
    ExpectOpenFails(ports, "/dev/null", ENOTTY);
}

TEST_F(SerialPortsTest, SecondOpenOfTheSameNodeIsBusyUntilTheFirstCloses) {
    PosixSerialPorts ports;
    ports.MapComPort(7, pty_.slavePath());
    auto first = ports.Open("COM7");
    ASSERT_NE(first, nullptr);

    ExpectOpenFails(ports, "COM7", EBUSY);
    ExpectOpenFails(ports, pty_.slavePath(), EBUSY);

    // Another process is refused as well.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SetLastError(0);
        auto other = PosixSerialPort::Open(pty_.slavePath());
        ::_exit(other == nullptr && LastError() == EBUSY ? 0 : 1);
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    EXPECT_TRUE(first->Close());
    auto second = ports.Open("COM7");
    EXPECT_NE(second, nullptr);
}

TEST_F(SerialPortsTest, ClosedPortRefusesEveryCallWithBadDescriptor) {
    auto port = PosixSerialPort::Open(pty_.slavePath());
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->Close());
    EXPECT_TRUE(port->Close());  // nothing left to close
    EXPECT_EQ(port->NativeHandle(), -1);

    uint8_t byte = 0;
    size_t count = 1;
    uint32_t mask = 0;
    LineSettings line;
    SetLastError(0);
    EXPECT_FALSE(port->Read(&byte, 1, count));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(LastError(), static_cast<uint32_t>(EBADF));
    EXPECT_FALSE(port->Write(&byte, 1, count));
    EXPECT_FALSE(port->GetLineSettings(line));
    EXPECT_FALSE(port->SetLineSettings(line));
    EXPECT_FALSE(port->ClearErrors(mask, nullptr));
    EXPECT_FALSE(port->Purge(kPurgeAll));
}

TEST_F(SerialPortsTest, FailedCloseIsReportedAndNeverClosesAReusedDescriptor) {
    auto port = PosixSerialPort::Open(pty_.slavePath());
    ASSERT_NE(port, nullptr);
    const int fd = port->NativeHandle();
    ASSERT_EQ(::close(fd), 0);  // the descriptor vanishes behind the port's back

    SetLastError(0);
    EXPECT_FALSE(port->Close());
    EXPECT_EQ(LastError(), static_cast<uint32_t>(EBADF));

    // The number is handed out again; a further Close must leave it alone.
    const int reused = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(reused, fd);
    EXPECT_TRUE(port->Close());
    port.reset();
    EXPECT_NE(::fcntl(reused, F_GETFD), -1);
    ::close(reused);
}

}  // namespace
}  // namespace firmora::platform
