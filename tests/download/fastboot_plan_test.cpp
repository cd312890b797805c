#include <cstdio>
#include <map>

#include "download_fixture.h"
#include "package/config_parser.h"
#include "package/default_config.h"
#include "platform/dialogs.h"

namespace firmora::download {
namespace {

std::string Download(uint64_t size) {
    char text[24];
    std::snprintf(text, sizeof text, "download:%08llx", static_cast<unsigned long long>(size));
    return text;
}

class FastbootPlanTest : public DownloadTest {
protected:
    // The shipped configuration, with one file per plan entry.
    void UseDefaultPlan() {
        platform::ScriptedDialogs dialogs;
        package::ParseConfigText(package::DefaultConfigText(), options, dialogs);
        size_t size = 5000;
        for (const std::string& file : options.FastbootFileNameList) {
            if (file != kEraseFile) files[file] = WriteImage(file, size += 3001);
        }
    }
    void Entries(const std::vector<std::pair<std::string, std::string>>& entries) {
        options.bFastbootConfiguration = true;
        for (const auto& [partition, file] : entries) {
            options.FastbootFileCmdList.push_back(partition);
            options.FastbootFileNameList.push_back(file);
        }
    }

    std::map<std::string, std::filesystem::path> files;
};

TEST_F(FastbootPlanTest, TheShippedPlanWritesEveryEntryOverItsOwnConnectionThenRestarts) {
    Use();
    UseDefaultPlan();
    const PlanInput input = Input();
    int busyPictures = 0;
    plan->SetShowBusyPicture([&] { ++busyPictures; });
    plan->Run(input);

    EXPECT_TRUE(reporter.Errors().empty()) << ::testing::PrintToString(reporter.Errors());
    EXPECT_TRUE(reporter.Has("Close adb connection successfully"));
    EXPECT_EQ(reporter.RunStatus(), 0);
    std::vector<std::string> expected;
    for (const PlanEntry& entry : input.entries) {
        if (entry.file == kEraseFile) {
            expected.push_back("erase:" + entry.partition);
        } else {
            expected.push_back(Download(entry.size));
            expected.push_back("flash:" + entry.partition);
        }
    }
    expected.push_back("reboot");
    EXPECT_EQ(FastbootCommands(), expected);
    EXPECT_EQ(Lines("Connect adb infterface successfully"), 13u);
    EXPECT_EQ(Lines("initialization adb infterface successfully"), 13u);
    EXPECT_EQ(Lines("Erase partiton successfully."), 3u);
    EXPECT_EQ(busyPictures, 13);
    for (const char* name : {"system", "modem", "cdrom"}) EXPECT_EQ(Partition(name).erases, 1u) << name;
    for (size_t i = 0; i < input.entries.size(); ++i) {
        const std::string& partition = options.FastbootFileCmdList[i];
        const std::string& file = options.FastbootFileNameList[i];
        if (file == kEraseFile) continue;
        EXPECT_EQ(Partition(partition).digest, FileDigest(files[file])) << partition;
        EXPECT_EQ(Partition(partition).size, std::filesystem::file_size(files[file])) << partition;
    }
    EXPECT_EQ(reporter.writtenBytes, input.TotalBytes());
}

TEST_F(FastbootPlanTest, TzFastbootIsPassedOverWhileTzIsWritten) {
    Use();
    const auto tz = WriteImage("tz.mbn", 7000);
    WriteImage("tzfastboot.mbn", 9000);
    Entries({{"tz", "tzfastboot.mbn"}, {"tz", "tz.mbn"}});
    plan->Run(Input());

    EXPECT_EQ(FastbootCommands(), (std::vector<std::string>{Download(7000), "flash:tz", "reboot"}));
    EXPECT_EQ(Partition("tz").digest, FileDigest(tz));
    EXPECT_EQ(Lines("Connect adb infterface successfully"), 2u);
}

TEST_F(FastbootPlanTest, AnEmptyPlanOnlyRestartsTheDevice) {
    Use();
    options.bFastbootConfiguration = true;
    plan->Run(Input());

    EXPECT_EQ(FastbootCommands(), std::vector<std::string>{"reboot"});
    EXPECT_EQ(Lines("Connect adb infterface successfully"), 1u);
    EXPECT_TRUE(reporter.Errors().empty()) << ::testing::PrintToString(reporter.Errors());
}

TEST_F(FastbootPlanTest, AFailedFlashEndsThePlanWithoutTouchingLaterEntriesOrRestarting) {
    Use({{"bootloader", {{"failFlash", "rpm"}}}});
    UseDefaultPlan();
    plan->Run(Input());

    // "FAILflash write failure": its first 16 bytes in the error, all of it in the line before.
    EXPECT_EQ(reporter.Errors(),
              std::vector<std::string>{"ERROR, Could not read OKAY reply. Read value:  46 41 49 4C 66 6C 61 73 68 "
                                       "20 77 72 69 74 65 20, Error code: 0"});
    EXPECT_TRUE(reporter.Has("pAdbReadEndpointSync T: F A 23"));
    EXPECT_TRUE(reporter.Has("The device answered: FAILflash write failure"));
    const std::vector<std::string> commands = FastbootCommands();
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back(), "flash:rpm");
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "reboot"), 0);
    for (const char* name : {"aboot", "system", "modem", "boot", "efs2", "cdrom"}) {
        EXPECT_EQ(Partition(name).flashes + Partition(name).erases, 0u) << name;
    }
    EXPECT_EQ(Partition("sbl").flashes, 1u);
}

TEST_F(FastbootPlanTest, ASystemImageGoesOutInNumberedPackets) {
    Use();
    const auto system = folder.path() / "system.img";
    std::ofstream(system).close();
    std::filesystem::resize_file(system, 200'000'000);
    {
        // Marks on both sides of each packet border, so that a packet read
        // from the wrong offset changes the digest.
        std::fstream marks(system, std::ios::in | std::ios::out | std::ios::binary);
        for (const uint64_t at : {0ull, 67'108'799ull, 67'108'800ull, 134'217'599ull, 134'217'600ull, 199'999'999ull}) {
            marks.seekp(static_cast<std::streamoff>(at));
            marks.put(static_cast<char>(0xA5 ^ (at & 0xFF)));
        }
    }
    options.bFastbootSystemImage = true;
    options.bFastbootSystemImageMutil = true;
    plan->Run(Input());

    EXPECT_TRUE(reporter.Errors().empty()) << ::testing::PrintToString(reporter.Errors());
    EXPECT_EQ(FastbootCommands(),
              (std::vector<std::string>{Download(67'108'800), "mutilflash:0:system", Download(67'108'800),
                                        "mutilflash:1:system", Download(65'782'400), "mutilflash:2:system",
                                        "reboot"}));
    EXPECT_EQ(Partition("system").size, 200'000'000u);
    EXPECT_EQ(Partition("system").digest, FileDigest(system));
    EXPECT_EQ(reporter.writtenBytes, 200'000'000u);
    EXPECT_EQ(Lines("SystemImageWritePacketFinishedCmd successfully"), 3u);
    EXPECT_TRUE(reporter.Has("Download system image successfully"));
}

TEST_F(FastbootPlanTest, APacketModeEntryOfExactlyOnePacketEndsWithAnEmptyPacket) {
    Use({{"partitions", {{"qdsp", {{"capacity", 128 << 20}}}}}});
    const auto qdsp = WriteImage("qdsp.bin", 10'895'360);
    Entries({{"qdsp", "qdsp.bin"}});
    plan->Run(Input());

    EXPECT_TRUE(reporter.Errors().empty()) << ::testing::PrintToString(reporter.Errors());
    EXPECT_EQ(FastbootCommands(), (std::vector<std::string>{Download(10'895'360), "mutilflash:0:qdsp",
                                                            "download:00000000", "mutilflash:1:qdsp", "reboot"}));
    EXPECT_EQ(Partition("qdsp").digest, FileDigest(qdsp));
    EXPECT_EQ(Partition("qdsp").packets, 2u);
    // Packets of an entry report only through their entry.
    EXPECT_FALSE(reporter.Has("ImageBulkWrite successfully"));
    EXPECT_TRUE(reporter.Has(qdsp.string() + " download successfully."));
}

TEST_F(FastbootPlanTest, AnEraseWithoutReplyIsLoggedAndPausedOverAndThePlanGoesOn) {
    // The device drops off the bus at the erase and is back a second later.
    Use({{"bootloader", {{"dropAtEntry", 1}}}, {"usb", {{"dropOffBus", {{"returnAs", "same"}, {"returnMs", 1000}}}}}});
    const auto boot = WriteImage("boot9607.img", 4096 * 3);
    Entries({{"modem", "erase"}, {"boot", "boot9607.img"}});
    std::vector<uint64_t> entryStarts;
    plan->SetShowBusyPicture([&] { entryStarts.push_back(Now()); });
    plan->Run(Input());

    EXPECT_TRUE(reporter.Errors().empty()) << ::testing::PrintToString(reporter.Errors());
    EXPECT_TRUE(reporter.Has("Could not read OKAY reply. Read value:  00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
    EXPECT_FALSE(reporter.Has("Erase partiton successfully."));
    ASSERT_EQ(entryStarts.size(), 3u);  // the plan, then each entry
    EXPECT_GE(entryStarts[2] - entryStarts[1], 5000u);
    EXPECT_EQ(Partition("boot").digest, FileDigest(boot));
    EXPECT_EQ(FastbootCommands().back(), "reboot");
}

TEST_F(FastbootPlanTest, ARefusedDownloadIsAFailureAndTheImageIsNeverSent) {
    Use({{"bootloader", {{"maxDownloadSize", "0x1000"}}}});
    WriteImage("boot.img", 5000);
    options.bFastbootBootImage = true;
    plan->Run(Input());

    EXPECT_EQ(reporter.Errors(), std::vector<std::string>{
                                     "ERROR, Receive handshake command failed. FAILdata too large, Error code: 0"});
    // Image bytes taken for commands would show in the log.
    EXPECT_EQ(FastbootCommands(), std::vector<std::string>{Download(5000)});
    EXPECT_EQ(reporter.writtenBytes, 0u);
}

TEST_F(FastbootPlanTest, AnImageThatShrankAfterSizingIsAReadErrorNotAShortDownload) {
    Use();
    const auto boot = WriteImage("boot.img", 9000);
    options.bFastbootBootImage = true;
    const PlanInput input = Input();
    std::filesystem::resize_file(boot, 8000);
    plan->Run(input);

    EXPECT_EQ(reporter.Errors(),
              std::vector<std::string>{"ERROR, Could not read from BIN file: boot.img, Error code: 5"});
    EXPECT_EQ(FastbootCommands(), std::vector<std::string>{Download(9000)});
    // The whole chunk before the shortfall went out, as it would alone.
    EXPECT_EQ(reporter.writtenBytes, 4096u);
    EXPECT_EQ(Partition("boot").flashes, 0u);
}

TEST_F(FastbootPlanTest, ASystemImageBeyondTenPacketsIsRefusedBeforeAnyDownload) {
    Use();
    const auto system = folder.path() / "system.img";
    std::ofstream(system).close();
    std::filesystem::resize_file(system, 10ull * 67'108'800 + 1);
    options.bFastbootSystemImage = true;
    options.bFastbootSystemImageMutil = true;
    plan->Run(Input());

    EXPECT_EQ(reporter.Errors(), std::vector<std::string>{"ERROR, Image too large for 10 packets of 67108800 "
                                                          "bytes: system.img, Error code: 0"});
    EXPECT_TRUE(FastbootCommands().empty());
}

// Boot loaders that answer badly, each with a plan that writes boot and then
// efs2: none of them may end in a pass, nor receive an image it did not ask
// for in full.
TEST_F(FastbootPlanTest, AHostileBootLoaderNeverEndsInAPass) {
    const std::string text28(28, '.');
    const std::vector<std::pair<std::string, nlohmann::json>> devices = {
        {"FAIL after an OKAY with text", {{"okayText", text28}, {"failFlash", "efs2"}}},
        {"FAIL after an OKAY with 252 bytes of text", {{"okayText", std::string(252, '.')}, {"failFlash", "efs2"}}},
        {"split replies", {{"splitReplies", 2}}},
        {"INFO, then a refused download", {{"infoLines", {"checking size"}}, {"maxDownloadSize", 4096}}},
        {"DATA of the wrong size", {{"dataSize", 4096}}},
    };
    for (const auto& [fault, bootloader] : devices) {
        reporter.lines.clear();
        reporter.status = 0;
        reporter.writtenBytes = 0;
        options = package::DownloadOptions{};
        Use({{"bootloader", bootloader}});
        WriteImage("boot.img", 9000);
        WriteImage("efs.mbn", 7000);
        Entries({{"boot", "boot.img"}, {"efs2", "efs.mbn"}});
        plan->Run(Input());

        EXPECT_NE(reporter.RunStatus(), 0) << fault;
        const std::vector<std::string> commands = FastbootCommands();
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "reboot"), 0) << fault;
        EXPECT_EQ(Partition("efs2").flashes, 0u) << fault;
        // Image bytes go only where a DATA reply asked for exactly them.
        if (bootloader.contains("dataSize") || bootloader.contains("maxDownloadSize")) {
            EXPECT_EQ(reporter.writtenBytes, 0u) << fault;
            EXPECT_EQ(commands, std::vector<std::string>{Download(9000)}) << fault;
        }
    }
}

TEST_F(FastbootPlanTest, AGoodFlashWithInfoLinesAndLongRepliesPasses) {
    Use({{"bootloader", {{"infoLines", {"checking", "writing"}}, {"okayText", std::string(200, '.')}}}});
    UseDefaultPlan();
    const PlanInput input = Input();
    plan->Run(input);

    EXPECT_TRUE(reporter.Errors().empty()) << ::testing::PrintToString(reporter.Errors());
    EXPECT_EQ(FastbootCommands().back(), "reboot");
    EXPECT_EQ(Lines("Erase partiton successfully."), 3u);
    EXPECT_GT(Lines("(bootloader) checking"), 9u);
    EXPECT_EQ(reporter.writtenBytes, input.TotalBytes());
    for (size_t i = 0; i < options.FastbootFileNameList.size(); ++i) {
        const std::string& file = options.FastbootFileNameList[i];
        if (file == kEraseFile) continue;
        EXPECT_EQ(Partition(options.FastbootFileCmdList[i]).digest, FileDigest(files[file])) << file;
    }
}

}  // namespace
}  // namespace firmora::download
