#include <cerrno>

#include "download_fixture.h"
#include "platform/last_error.h"

namespace firmora::download {
namespace {

class FastbootClientTest : public DownloadTest {
protected:
    void Connect() {
        ASSERT_TRUE(client->ConnectAdbInterface(Modem().FastbootInterfacePath()));
        ASSERT_TRUE(client->InitAdbConnection());
    }
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
    EXPECT_FALSE(client->ReceiveEraseReply());
    EXPECT_EQ(Now() - start, 5000u);
    EXPECT_EQ(reporter.status.load(), 0);
    EXPECT_TRUE(reporter.Has("pAdbReadEndpointSync F: . . 0"));
}

TEST_F(FastbootClientTest, AWriteThatFailsMidImageEndsTheTransferWithTheChunkNamed) {
    // The device leaves the bus after 10000 image bytes.
    Use({{"bootloader", {{"dropAfterBytes", 10000}}}});
    const auto boot = WriteImage("boot.img", 16 * 4096);
    Connect();
    ASSERT_TRUE(client->ImageHandshakeCmd(16 * 4096));
    EXPECT_FALSE(client->ImageBulkWrite(boot.string(), 16 * 4096, 0));

    // The bus catches up with the drop while the eighth chunk crosses it:
    // chunks, chunk number, byte count with this chunk, its length, written.
    EXPECT_TRUE(reporter.Has("pAdbWriteEndpointSync F: 16 8 32768 4096 0"));
    EXPECT_EQ(reporter.Errors(),
              std::vector<std::string>{"ERROR, ImageBulkWrite failure(retry): boot.img 8, Error code: " +
                                       std::to_string(EIO)});
    EXPECT_EQ(reporter.writtenBytes, 7u * 4096);
    EXPECT_FALSE(reporter.Has("ImageBulkWrite successfully"));
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
