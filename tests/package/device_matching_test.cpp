#include "package/device_matching.h"

#include <gtest/gtest.h>

#include <string>

#include "package/project_table.h"

namespace firmora::package {
namespace {

constexpr const char* kDefaultDeviceVersion = "MDM9x15.LTE.VQA0012.v2.0.2";

DownloadOptions Project(int index) {
    DownloadOptions options;
    options.ProjectIndex = index;
    return options;
}

DeviceFacts Device(const std::string& version = kDefaultDeviceVersion, size_t diagPorts = 1) {
    DeviceFacts device;
    device.readings.DeviceSoftwareVersion = version;
    device.diagPorts = diagPorts;
    return device;
}

std::string RefusalOf(const DownloadOptions& options, const DeviceFacts& device, const SecondVariant& second = {}) {
    return MatchDevice(options, second, device).refusal;
}

TEST(ProjectCodeRule, TakesTheCodeBeforeTheFirstDotOfBothVersions) {
    DownloadOptions options = Project(kProjectMDM9x15);
    options.bCheckProjectCode = true;
    options.MatchVersion = "MDM9x15";
    EXPECT_EQ(RefusalOf(options, Device()), "Can't get project code from config verison!");
    options.MatchVersion = "MDM9x15.LTE.VQA0013.v2.0.3";
    EXPECT_EQ(RefusalOf(options, Device("MDM9x15")), "Can't get project code from model verison!");
    EXPECT_EQ(RefusalOf(options, Device("XB20_11.LTE.VQA0012.v2.0.2")),
              "Could not update other irrelevant model device!");
    // A device version shorter than the code is another model, not a crash.
    options.MatchVersion = "XB20_11_LONGCODE.LTE";
    EXPECT_EQ(RefusalOf(options, Device("X.1")), "Could not update other irrelevant model device!");
}

TEST(ProjectCodeRule, MatchesTheDeviceWhateverTheCaseOfItsCode) {
    // The package's code is compared upper-cased; the device's must be too,
    // or no "MDM9x15" device would ever fit its own package.
    DownloadOptions options = Project(kProjectMDM9x15);
    options.bCheckProjectCode = true;
    options.MatchVersion = "MDM9x15.LTE.VQA0013.v2.0.3";
    const ReadinessDecision decision = MatchDevice(options, {}, Device());
    EXPECT_TRUE(decision.ready);
    EXPECT_EQ(decision.refusal, "");
}

TEST(MainboardRule, ComparesFamilyAndVersionCode) {
    DownloadOptions options = Project(kProjectMDM9x15);
    options.bCheckMainboardType = true;
    // A ".3." package refuses another family (the default device's ".LT").
    options.MatchVersion = "MDM9X15.3.VQA0012.V2.0.2";
    EXPECT_EQ(RefusalOf(options, Device()), "Can't update other irrelevant mobile devices!");
    options.MatchVersion = "MDM9x15.LTE.VQA0012.v2.0.9";
    EXPECT_EQ(RefusalOf(options, Device()), "Can't update other irrelevant mobile devices.");
    options.MatchVersion = "mdm9x15.lte.vqa0099.V2.0.2";
    EXPECT_EQ(RefusalOf(options, Device()), "");
    // Texts too short for a family or a version code are judged, not read past.
    options.MatchVersion = "A.3";
    EXPECT_EQ(RefusalOf(options, Device("v")), "Can't update other irrelevant mobile devices.");
}

TEST(MainboardRule, ABoardPairPackageAlsoTakesTheSecondVariantsCode) {
    DownloadOptions options = Project(kProjectMDM9x15);
    options.bCheckMainboardType = true;
    options.Name = "ZT72";
    options.MatchVersion = "ZT72.LTE.VQA0012.v1.0.1";
    EXPECT_EQ(RefusalOf(options, Device()), "Could not update other irrelevant mobile devices.");
    EXPECT_EQ(RefusalOf(options, Device(), SecondVariant{"zt73.lte.vqa0012.V2.0.2", "ZT73", 1}), "");
    EXPECT_EQ(RefusalOf(options, Device("ZT72.LTE.VQA0012.v1.0.1")), "");
}

TEST(MemoryRules, RouterCheckByFlashIdentifier) {
    DownloadOptions options = Project(kProjectMDM9x15);
    options.bCheckRouterMemory = true;
    options.RAMSize = "1024M";
    EXPECT_EQ(MemoryRefusal(options, "flash id:0x2cb1 pagesize:2048"), std::nullopt);
    options.RAMSize = "512M";
    EXPECT_EQ(MemoryRefusal(options, "flash id:0x2cb1 pagesize:2048"), "Memory size is not matched!");
    EXPECT_EQ(MemoryRefusal(options, "ID:0XECA1PAGESIZE"), std::nullopt);
    // Nothing queries the flash yet: an empty text cannot be checked.
    EXPECT_EQ(MemoryRefusal(options, ""), "Can not check memory size!");
    EXPECT_EQ(MemoryRefusal(options, "error"), "Memory size is not matched!");
}

TEST(MemoryRules, DataCardCheckAndMemoryChipNumbers) {
    DownloadOptions options = Project(kProjectMDM9x15);
    options.bCheckDataCardMemory = true;
    EXPECT_EQ(MemoryRefusal(options, ""), "Memory size is not matched!");
    options.MemFlashSize = "512M";
    EXPECT_EQ(MemoryRefusal(options, ""), std::nullopt);
    EXPECT_EQ(MemoryRefusal(options, "ID:0XADA1 PAGESIZE"), "Memory size is not matched!");
    options.MemFlashSize = "1024M";
    options.RAMSize = "512M";
    options.SupportFlashID = "0x2cb1,0xada1";
    EXPECT_EQ(MemoryRefusal(options, "ID:0XADA1 PAGESIZE:2048 MCP: 2,1 DEVICEWIDTH:16"), std::nullopt);
    EXPECT_EQ(MemoryRefusal(options, "ID:0XADA1 PAGESIZE:2048 MCP: 2,2"), "Memory size is not matched!");
    EXPECT_EQ(MemoryRefusal(options, "ID:0XECA1 PAGESIZE:2048 MCP: 2,1"), "Memory size is not matched!");
    EXPECT_EQ(MemoryRefusal(options, "ID:0XADA1 PAGESIZE:2048 MCP: x"), "Memory size is not matched!");
}

TEST(FinalDecision, DataCardProjectsShowTheVersionAndRefuseWhatDoesNotFit) {
    DownloadOptions options = Project(kProjectRA66_51);
    options.MatchVersion = kDefaultDeviceVersion;
    ReadinessDecision decision = MatchDevice(options, {}, Device());
    EXPECT_EQ(decision.refusal, "Can't update the software because it is the latest");
    EXPECT_EQ(decision.versionLabel, "Version:");
    EXPECT_EQ(decision.status, "Not Ready");
    EXPECT_TRUE(decision.endsLoop);

    options.MatchVersion = "MDM9x15.LTE.VQA0012.v2.0.3";
    decision = MatchDevice(options, {}, Device());
    EXPECT_TRUE(decision.ready);
    EXPECT_FALSE(decision.endsLoop);
    EXPECT_EQ(decision.versionLabel, std::string("Version:") + kDefaultDeviceVersion);
    EXPECT_EQ(RefusalOf(options, Device("MDM9x15.LTE.VQA0099.v2.0.2")), "Can't update other irrelevant Data Cards");

    options.ProjectIndex = kProjectZP200;
    EXPECT_EQ(RefusalOf(options, Device()), "Can't update other irrelevant mobile devices");
    EXPECT_EQ(RefusalOf(options, Device("ZP200.VQA0016.v1", 2)), "Two or more devices were found");
}

TEST(FinalDecision, ByProject) {
    ReadinessDecision decision = MatchDevice(Project(kProjectMDM9x15), {}, Device());
    EXPECT_TRUE(decision.ready);
    EXPECT_EQ(decision.status, "Ready");
    EXPECT_EQ(decision.versionLabel, "Version:");
    EXPECT_FALSE(decision.endsLoop);

    decision = MatchDevice(Project(kProjectDI79_21), {}, Device());
    EXPECT_EQ(decision.status, "準備完了");
    EXPECT_TRUE(decision.japaneseFont);
    EXPECT_FALSE(decision.endsLoop);

    EXPECT_TRUE(MatchDevice(Project(kProjectZQ65_Custom), {}, Device()).endsLoop);
    EXPECT_TRUE(MatchDevice(Project(kProjectXH70_31), {}, Device()).endsLoop);
    EXPECT_FALSE(MatchDevice(Project(kProjectXC31_21), {}, Device()).endsLoop);
    DeviceFacts switched = Device();
    switched.d1Sent = true;
    decision = MatchDevice(Project(kProjectMDM9x15), {}, switched);
    EXPECT_TRUE(decision.endsLoop);
    EXPECT_EQ(decision.versionLabel, "");

    EXPECT_TRUE(MatchDevice(Project(kProjectZP200_EA), {}, Device()).stopStartTimer);
    DownloadOptions variant = Project(kProjectRE78_51);
    EXPECT_FALSE(MatchDevice(variant, {}, Device()).stopStartTimer);
    variant.VersionVariant = VersionVariantKind::B;
    decision = MatchDevice(variant, {}, Device());
    EXPECT_TRUE(decision.stopStartTimer);
    EXPECT_TRUE(decision.endsLoop);
}

TEST(NoDevice, NotReadyInTheWindowsLanguage) {
    ReadinessDecision decision = NoDeviceDecision(Project(kProjectZP200));
    EXPECT_FALSE(decision.ready);
    EXPECT_EQ(decision.status, "Not Ready");
    EXPECT_EQ(decision.versionLabel, "Versinon:");
    EXPECT_EQ(decision.nextEnabled, false);
    EXPECT_FALSE(decision.endsLoop);

    decision = NoDeviceDecision(Project(kProjectDO78_21));
    EXPECT_EQ(decision.status, "準備中");
    EXPECT_TRUE(decision.japaneseFont);
    EXPECT_EQ(decision.nextEnabled, std::nullopt);
    EXPECT_EQ(decision.versionLabel, std::nullopt);
}

DownloadOptions Variant(const std::string& name, int flashType) {
    DownloadOptions options;
    options.Packet = 2;
    options.Name = name;
    options.FlashType = flashType;
    options.Version = name + ".v1";
    return options;
}

TEST(PackagePair, TheTwoVariantsMustDifferOrFormABoardPair) {
    EXPECT_EQ(CheckPackagePair(Variant("XG62", 1), Variant("XG62", 1)), "两个版本包中不能是相同Flash大小的版本[FlashType]");
    EXPECT_EQ(CheckPackagePair(Variant("XG62", 1), Variant("XG62", 2)), "");
    EXPECT_EQ(CheckPackagePair(Variant("ZT72", 1), Variant("ZT72", 2)), "ZT73或ZT67售后方案的配置不正确");
    EXPECT_EQ(CheckPackagePair(Variant("ZT73", 1), Variant("ZT72", 1)), "");
    EXPECT_EQ(CheckPackagePair(Variant("ZT6718", 1), Variant("ZT6711", 1)), "");
    EXPECT_EQ(CheckPackagePair(Variant("ZT6718", 1), Variant("ZT73", 1)), "ZT73或ZT67售后方案的配置不正确");

    DownloadOptions first = Variant("ZT73", 1);
    EXPECT_EQ(SecondVariantOf(first, Variant("ZT72", 2)).Version, "");
    first.bCheckMainboardType = true;
    const SecondVariant second = SecondVariantOf(first, Variant("ZT72", 2));
    EXPECT_EQ(second.Version, "ZT72.v1");
    EXPECT_EQ(second.Name, "ZT72");
    EXPECT_EQ(second.FlashType, 2);
}

struct BoardCase {
    int packet;
    const char* name;
    const char* secondName;
    const char* boardType;
    bool pass;
    bool switchToSecond;
    const char* message;
};

class BoardTypeRule : public ::testing::TestWithParam<BoardCase> {};

TEST_P(BoardTypeRule, FollowsTheTable) {
    const BoardCase& c = GetParam();
    DownloadOptions options = Variant(c.name, 1);
    options.Packet = c.packet;
    const BoardTypeResult result = CheckBoardType(options, c.secondName, c.boardType);
    EXPECT_EQ(result.pass, c.pass);
    EXPECT_EQ(result.switchToSecond, c.switchToSecond);
    EXPECT_EQ(result.message, c.message);
}

constexpr const char* kNotMatched = "Device and software version is not matched!";

INSTANTIATE_TEST_SUITE_P(
    Rows, BoardTypeRule,
    ::testing::Values(BoardCase{2, "ZT72", "ZT73", "ZT72", true, false, ""},
                      BoardCase{2, "ZT73", "ZT72", "ZT72", true, true, ""},
                      BoardCase{2, "ZT6711", "ZT6718", "ZT72", false, false, kNotMatched},
                      BoardCase{2, "ZT72", "ZT73", "ZT73", true, true, ""},
                      BoardCase{2, "ZT73", "ZT72", "ZT73", true, false, ""},
                      BoardCase{2, "ZT6711", "ZT6718", "ZT6718", true, true, ""},
                      BoardCase{1, "ZT73", "", "ZT73", true, false, ""},
                      BoardCase{1, "ZT72", "", "ZT73", false, false, kNotMatched},
                      BoardCase{1, "ZT6711", "", "ZT72", true, false, ""},
                      BoardCase{1, "ZT73", "", "ZT72", false, false, "Device and software version is not matched."},
                      BoardCase{1, "ZT6711", "", "ZT6718", false, false, kNotMatched},
                      BoardCase{1, "ZT6718", "", "ZT6711", false, false, "Device and software version is not matched."},
                      BoardCase{1, "ZT72", "", "", false, false, kNotMatched},
                      BoardCase{3, "ZT72", "", "ZT72", false, false, kNotMatched}));

TEST(VersionRule, TheDeviceMustCarryThePackagesVersionOrALaterOne) {
    EXPECT_TRUE(CheckVersion("v1.2.3b", "v1.2.3a"));
    EXPECT_FALSE(CheckVersion("v1.1.9", "v1.2.0"));
    EXPECT_TRUE(CheckVersion("v1.2.3", "v1.2.3"));
    EXPECT_TRUE(CheckVersion("v1.2.4", "v1.2.3a"));
    EXPECT_FALSE(CheckVersion("v1.2.3", "v1.2.3a"));
    EXPECT_FALSE(CheckVersion("", ""));
    // A later minor number outweighs an earlier build number.
    EXPECT_TRUE(CheckVersion("v2.1.0", "v2.0.9"));
    EXPECT_TRUE(CheckVersion("v2.0.0", "v1.5.0"));
    // Texts that are no versions fail rather than being read as numbers.
    EXPECT_FALSE(CheckVersion("v1.2", "v1.2.0"));
    EXPECT_FALSE(CheckVersion("1.2.3", "v1.2.0"));
    EXPECT_FALSE(CheckVersion("vX.2.3", "v1.2.0"));
    EXPECT_FALSE(CheckVersion("v1.2.", "v1.2.0"));
    EXPECT_FALSE(CheckVersion("v99999999999.2.3", "v1.2.0"));
}

TEST(RevisionFamilyRule, TellsTheFamiliesApart) {
    EXPECT_FALSE(CheckRevisionFamily("v2.0.2", "v2.0.3"));
    EXPECT_TRUE(CheckRevisionFamily("v2.0.2d", "v2.0.3"));
    EXPECT_TRUE(CheckRevisionFamily("v2.0.2", "v2.0.3r"));
    EXPECT_TRUE(CheckRevisionFamily("v1.0.2", "v2.0.3"));
    EXPECT_TRUE(CheckRevisionFamily("v3.0.2", "v1.0.3"));
    // The tool is for the v2 family before v2.1: a v1 package fits no v1 device.
    EXPECT_TRUE(CheckRevisionFamily("v1.0.2", "v1.0.3"));
    EXPECT_TRUE(CheckRevisionFamily("v2.1.0", "v2.1.1"));
}

}  // namespace
}  // namespace firmora::package
