#include "app/run_validation.h"

#include <gtest/gtest.h>

#include "package/project_table.h"

namespace firmora::app {
namespace {

Selector Listing(std::vector<std::string> items) {
    Selector s;
    s.SetItems(std::move(items));
    return s;
}

class RunValidation : public ::testing::Test {
protected:
    void SetUp() override {
        options.ProjectIndex = package::kProjectMDM9x15;
        options.bBackup = true;
        options.bRestore = true;
        options.bBootloader = true;
    }
    Validation Check() {
        return ValidateRun({.options = options,
                            .reupdateMode = reupdate,
                            .imageListEmpty = noImages,
                            .diag = diag,
                            .app = app,
                            .at = at,
                            .diagBusy = diagBusy,
                            .atBusy = atBusy});
    }
    void ExpectRefused(const std::string& text, const std::string& caption) {
        const Validation v = Check();
        EXPECT_EQ(v.outcome, Validation::Outcome::Refused) << text;
        EXPECT_EQ(v.text, text);
        EXPECT_EQ(v.caption, caption);
    }

    package::DownloadOptions options;
    bool reupdate = false;
    bool noImages = false;
    Selector diag = Listing({"COM5"});
    Selector app = Listing({"COM6"});
    Selector at = Listing({"COM7"});
    BusyPorts diagBusy{};
    BusyPorts atBusy{};
};

TEST_F(RunValidation, OneDeviceWithItsPortsLaunchesWithTheirNumbers) {
    const Validation v = Check();
    ASSERT_TRUE(v.ok());
    EXPECT_EQ(v.ports.diag, 5);
    EXPECT_EQ(v.ports.app, 6);
    EXPECT_EQ(v.ports.at, 7);
}

// Every refusal with its message and caption, in the order they are checked.
TEST_F(RunValidation, EachRefusalHasItsMessageAndCaption) {
    options.bBackup = false;
    noImages = true;
    ExpectRefused("No Image File Loaded!", "Download");
    EXPECT_FALSE(Check().showFailureStatus);
    noImages = false;

    diag = Listing({});
    ExpectRefused("Port is empty", "Download");
    EXPECT_TRUE(Check().showFailureStatus);
    diag = Listing({"COM5"});

    at = Listing({});
    ExpectRefused("Serial Port was not found.", "Download");
    at = Listing({"COM7"});

    diag = Listing({"COM5", "COM9"});
    ExpectRefused("Two or more devices were found", "Warning");
    diag = Listing({"COM999"});
    ExpectRefused("Invalid port number", "Download");
    diag = Listing({"COM5"});

    // Only the fastboot configuration: nothing the run would download.
    options = {};
    options.bFastbootConfiguration = true;
    ExpectRefused("No download option selected", "Download");
    options.bPartOfEFS = true;
    EXPECT_TRUE(Check().ok());
}

TEST_F(RunValidation, JapaneseProductsUseTheirOwnTextsAndCaption) {
    options.ProjectIndex = package::kProjectDO78_21;
    diag = Listing({});
    ExpectRefused("ポートが見つかりません。", "Koriant Software Update Tool");
    options.ProjectIndex = package::kProjectDI79_21;
    diag = Listing({"COM5", "COM9"});
    ExpectRefused("複数のデバイスが見つかりました。", "KQ004TR Software Update Tool");
}

// A port above 99 keeps all its digits; one above 998 is refused rather
// than cut to a different, smaller port.
TEST_F(RunValidation, PortNumbersAreTakenWhole) {
    diag = Listing({"COM123"});
    at = Listing({"COM124"});
    const Validation v = Check();
    ASSERT_TRUE(v.ok());
    EXPECT_EQ(v.ports.diag, 123);
    EXPECT_EQ(v.ports.at, 124);
    diag = Listing({"COM1234"});
    ExpectRefused("Invalid port number", "Download");
}

TEST_F(RunValidation, BusyPortsAreRefusedWithoutAMessage) {
    diagBusy[5] = true;
    EXPECT_EQ(Check().outcome, Validation::Outcome::RefusedSilently);
    EXPECT_TRUE(Check().text.empty());
    diagBusy[5] = false;
    atBusy[7] = true;
    EXPECT_EQ(Check().outcome, Validation::Outcome::RefusedSilently);
    // A run that neither backs up, restores nor switches to the disk mode
    // does not mind a busy AT port.
    options.bBackup = false;
    options.bRestore = false;
    EXPECT_TRUE(Check().ok());
}

// Re-update does not need an AT port, but uses the one that is listed.
TEST_F(RunValidation, ReupdateTakesTheAtPortWhenListed) {
    reupdate = true;
    at = Listing({});
    Validation v = Check();
    ASSERT_TRUE(v.ok());
    EXPECT_EQ(v.ports.at, 0);
    at = Listing({"COM7"});
    v = Check();
    ASSERT_TRUE(v.ok());
    EXPECT_EQ(v.ports.at, 7);
}

// The AT port goes to the run only when the run talks AT.
TEST_F(RunValidation, PhoneWithoutAtStepsRunsWithoutItsAtPort) {
    options = {};
    options.bPhoneType = true;
    options.bBootloader = true;
    const Validation v = Check();
    ASSERT_TRUE(v.ok());
    EXPECT_EQ(v.ports.at, 0);
}

}  // namespace
}  // namespace firmora::app
