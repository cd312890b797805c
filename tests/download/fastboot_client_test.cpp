#include <cerrno>
#include <optional>

#include "download_fixture.h"
#include "platform/dialogs.h"
#include "platform/last_error.h"

namespace firmora::download {
namespace {

// Stands between the client and the device: passes every transfer through,
// keeps the length of each write, and once armed breaks the connection
// after a budget of bytes, the write that crosses it moving only its share.
class TapBulk final : public platform::UsbBulk {
public:
    explicit TapBulk(platform::UsbBulk& inner) : inner_(inner) {}

    std::unique_ptr<platform::BulkTransport> Open(const std::string& devicePath) override {
        auto transport = inner_.Open(devicePath);
        return transport ? std::make_unique<Transport>(std::move(transport), *this) : nullptr;
    }

    std::vector<uint32_t> writes;
    std::optional<uint64_t> budget;

private:
    class Transport final : public platform::BulkTransport {
    public:
        Transport(std::unique_ptr<platform::BulkTransport> inner, TapBulk& tap) : inner_(std::move(inner)), tap_(tap) {}
        bool Describe(platform::BulkInterfaceInfo& info) override { return inner_->Describe(info); }
        bool Write(const uint8_t* data, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) override {
            tap_.writes.push_back(length);
            if (!tap_.budget || *tap_.budget >= length) {
                if (tap_.budget) *tap_.budget -= length;
                return inner_->Write(data, length, transferred, timeoutMs);
            }
            const auto share = static_cast<uint32_t>(*tap_.budget);
            tap_.budget = 0;
            if (share > 0) inner_->Write(data, share, transferred, timeoutMs);
            transferred = share;
            platform::SetLastError(EIO);
            return false;
        }
        bool Read(uint8_t* buffer, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) override {
            return inner_->Read(buffer, length, transferred, timeoutMs);
        }
        bool Close() override { return inner_->Close(); }

    private:
        std::unique_ptr<platform::BulkTransport> inner_;
        TapBulk& tap_;
    };

    platform::UsbBulk& inner_;
};

// Keeps the size of every step of the byte counter, and passes all on.
class CounterSteps final : public core::Reporter {
public:
    explicit CounterSteps(core::Reporter& inner) : inner_(inner) {}
    void ReportStatus(const std::string& text, int kind) override { inner_.ReportStatus(text, kind); }
    void ReportError(const std::string& text) override { inner_.ReportError(text); }
    int32_t RunStatus() const override { return inner_.RunStatus(); }
    void AddWrittenBytes(uint32_t count) override {
        steps.push_back(count);
        inner_.AddWrittenBytes(count);
    }

    std::vector<uint32_t> steps;

private:
    core::Reporter& inner_;
};

class FastbootClientTest : public DownloadTest {
protected:
    void Connect() {
        ASSERT_TRUE(client->ConnectAdbInterface(Modem().FastbootInterfacePath()));
        ASSERT_TRUE(client->InitAdbConnection());
    }

    // The device behind a TapBulk, with the client bound to it.
    void UseTapped() {
        Use();
        tap = std::make_unique<TapBulk>(sim->usbBulk());
        adb = AdbApi::Bind(*tap);
    }

    std::unique_ptr<TapBulk> tap;
};

TEST_F(FastbootClientTest, NoReplyToDownloadWithin512MsFailsTheHandshake) {
    Use({{"bootloader", {{"silentDownload", 1}}}});
    Connect();
    const uint64_t start = Now();
    EXPECT_FALSE(client->ImageHandshakeCmd(4096));
    EXPECT_EQ(Now() - start, 512u);
    EXPECT_EQ(reporter.Errors(),
              std::vector<std::string>{"ERROR, Receive handshake command failed., Error code: " +
                                       std::to_string(ETIMEDOUT)});
}

TEST_F(FastbootClientTest, AMissingEraseReplyPausesFiveSecondsWithoutFailingTheRun) {
    Use({{"bootloader", {{"dropAtEntry", 1}}}});
    Connect();
    ASSERT_TRUE(client->EraseCmd("modem"));
    const uint64_t start = Now();
    EXPECT_FALSE(client->ReceiveEraseReply("modem"));
    EXPECT_EQ(Now() - start, 5000u);
    EXPECT_EQ(reporter.status.load(), 0);
    EXPECT_TRUE(reporter.Has("pAdbReadEndpointSync F: . . 0"));
}

TEST_F(FastbootClientTest, AWriteThatFailsMidImageEndsTheTransferWithTheChunkNamed) {
    UseTapped();
    const auto boot = WriteImage("boot.img", 16 * 4096);
    Connect();
    ASSERT_TRUE(client->ImageHandshakeCmd(16 * 4096));
    // The connection breaks once seven chunks have crossed it.
    tap->budget = 7 * 4096;
    EXPECT_FALSE(client->ImageBulkWrite(boot.string(), 16 * 4096, 0));

    // chunks, chunk number, byte count with this chunk, its length, written.
    EXPECT_TRUE(reporter.Has("pAdbWriteEndpointSync F: 16 8 32768 4096 0"));
    EXPECT_EQ(reporter.Errors(),
              std::vector<std::string>{"ERROR, ImageBulkWrite failure(retry): boot.img 8, Error code: " +
                                       std::to_string(EIO)});
    EXPECT_EQ(reporter.writtenBytes, 7u * 4096);
    EXPECT_FALSE(reporter.Has("ImageBulkWrite successfully"));
}

TEST_F(FastbootClientTest, ABreakInsideAChunkNamesThatChunkAndHowMuchOfItCrossed) {
    UseTapped();
    const auto boot = WriteImage("boot.img", 16 * 4096);
    Connect();
    ASSERT_TRUE(client->ImageHandshakeCmd(16 * 4096));
    tap->budget = 10000;  // 1808 bytes into the third chunk
    EXPECT_FALSE(client->ImageBulkWrite(boot.string(), 16 * 4096, 0));

    EXPECT_TRUE(reporter.Has("pAdbWriteEndpointSync F: 16 3 12288 4096 1808"));
    EXPECT_TRUE(reporter.Has("ImageBulkWrite failure(retry): boot.img 3"));
    EXPECT_EQ(reporter.writtenBytes, 2u * 4096);
}

TEST_F(FastbootClientTest, AnImageGoesOutInMegabyteWritesWhileTheCounterMovesPerChunk) {
    UseTapped();
    CounterSteps counter(reporter);
    client = std::make_unique<FastbootClient>(adb, counter, sim->clock());
    const uint32_t size = 2 * kImageWriteBytes + 1000;
    const auto boot = WriteImage("boot.img", size);
    Connect();
    client->FlashImage(boot.string(), size, [&] { return client->WriteFinishedCmd("boot"); });

    EXPECT_TRUE(reporter.Errors().empty()) << ::testing::PrintToString(reporter.Errors());
    EXPECT_EQ(Partition("boot").digest, FileDigest(boot));
    // "download:", the image in three writes, "flash:boot".
    EXPECT_EQ(tap->writes, (std::vector<uint32_t>{17, kImageWriteBytes, kImageWriteBytes, 1000, 10}));
    std::vector<uint32_t> steps(2 * kImageWriteBytes / kChunkSize, kChunkSize);
    steps.push_back(1000);
    EXPECT_EQ(counter.steps, steps);
    EXPECT_EQ(reporter.writtenBytes, size);
}

TEST_F(FastbootClientTest, CommandsGoOutAsTheirExactTexts) {
    Use();
    Connect();
    EXPECT_TRUE(client->FixedFlashCmd(FixedFlash::Ramdisk));
    EXPECT_TRUE(client->PacketFlashCmd("qdsp", 12));
    EXPECT_TRUE(client->PacketFlashCmd("system", 3));
    EXPECT_TRUE(client->FixedFlashCmd(FixedFlash::Reckernel));
    EXPECT_EQ(FastbootCommands(), (std::vector<std::string>{"flash:ramdisk", "mutilflash:9:qdsp",
                                                            "mutilflash:3:system", "flash:reckernel"}));
    EXPECT_TRUE(reporter.Has("RamdisImagekWriteFinishedCmd successfully"));
    EXPECT_TRUE(reporter.Has("SystemImageWritePacketFinishedCmd successfully"));
    EXPECT_TRUE(reporter.Has("SplashImageWriteFinishedCmd successfully"));
    EXPECT_EQ(DownloadCommand(107'248), "download:0001a2f0");
}

TEST_F(FastbootClientTest, TheLibraryFileDecidesTheBinding) {
    Use();
    AdbApi missing = AdbApi::Load(folder.path(), sim->usbBulk());
    EXPECT_FALSE(missing.IsBound());
    EXPECT_FALSE(missing.CreateInterfaceByName(Modem().FastbootInterfacePath()));
    EXPECT_EQ(platform::LastError(), static_cast<uint32_t>(ENOENT));

    // Unbound, the plan cannot open its first connection.
    adb = std::move(missing);
    options.bFastbootConfiguration = true;
    plan->Run(Input());
    EXPECT_EQ(reporter.Errors(),
              std::vector<std::string>{"ERROR, Connect adb infterface failed., Error code: " + std::to_string(ENOENT)});
    EXPECT_TRUE(FastbootCommands().empty());

    std::filesystem::create_directories(folder.path() / "TempFiles");
    std::ofstream(folder.path() / AdbApi::kLibraryRelativePath).put('\0');
    AdbApi present = AdbApi::Load(folder.path(), sim->usbBulk());
    EXPECT_TRUE(present.IsBound());
    EXPECT_TRUE(present.CreateInterfaceByName(Modem().FastbootInterfacePath()));

    // A worker being built: a missing file is no message, a temporary folder
    // that could not be had is a box and the end.
    platform::ScriptedDialogs dialogs;
    std::optional<AdbApi> built = AdbApi::LoadOrEnd(folder.path(), sim->usbBulk(), dialogs);
    ASSERT_TRUE(built);
    EXPECT_TRUE(built->IsBound());
    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_FALSE(AdbApi::LoadOrEnd({}, sim->usbBulk(), dialogs));
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].caption, "Warning");
    EXPECT_EQ(dialogs.shown()[0].text, "Get dir path failed.");
    EXPECT_EQ(dialogs.shown()[0].icon, platform::DialogIcon::Warning);
}

TEST_F(FastbootClientTest, ThePlanInputFindsAndSizesEveryFileBeforeAnyDeviceCommand) {
    WriteImage("zimage", 1234);
    const auto modem = WriteImage("modem.ubi", 777);
    options.bFastbootzImage = true;
    options.bFastbootConfiguration = true;
    options.FastbootFileCmdList = {"modem", "modem", "efs2"};
    options.FastbootFileNameList = {"erase", modem.string(), "efs.mbn"};

    PlanInputResult built = BuildPlanInput(options, folder.path());
    EXPECT_FALSE(built.ok());
    EXPECT_EQ(built.error, "Image file not found: " + (folder.path() / "efs.mbn").string());

    options.FastbootFileNameList.pop_back();
    options.FastbootFileCmdList.pop_back();
    built = BuildPlanInput(options, folder.path());
    ASSERT_TRUE(built.ok()) << built.error;
    const auto& kernel = built.input.singleImages[4];
    ASSERT_TRUE(kernel.has_value());
    EXPECT_EQ(kernel->path, (folder.path() / "zimage").string());
    EXPECT_EQ(kernel->size, 1234u);
    ASSERT_EQ(built.input.entries.size(), 2u);
    EXPECT_EQ(built.input.entries[0].file, "erase");
    EXPECT_EQ(built.input.entries[0].size, 0u);
    EXPECT_EQ(built.input.entries[1].size, 777u);
    EXPECT_EQ(built.input.TotalBytes(), 1234u + 777u);
}

}  // namespace
}  // namespace firmora::download
