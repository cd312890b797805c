#include "windows/guide_wizard.h"

#include <gtest/gtest.h>

#include "package/project_table.h"

namespace firmora::windows {
namespace {

using package::VersionVariantKind;
using platform::DialogAnswer;
using platform::GuideWizard;

platform::GuideRequest Request(GuideWizard wizard) {
    platform::GuideRequest request;
    request.wizard = wizard;
    request.title = "Modem Update";
    request.pages = {"welcome", "licence", "notes", "confirm"};
    return request;
}

// Which of the pages is shown, by name; "several" or "none" otherwise.
std::string ShownPage(const PageGuide& g) {
    std::string shown = "none";
    int count = 0;
    const std::pair<const char*, const Control*> pages[] = {
        {"GroupBox1", &g.GroupBox1}, {"GroupBox3", &g.GroupBox3}, {"GroupBox4", &g.GroupBox4},
        {"GroupBox6", &g.GroupBox6}, {"GroupBox8", &g.GroupBox8}, {"GroupBox10", &g.GroupBox10}};
    for (const auto& [name, page] : pages) {
        if (page->visible) {
            shown = name;
            ++count;
        }
    }
    return count > 1 ? "several" : shown;
}

class PageGuideTest : public ::testing::Test {
protected:
    PageGuide Make(GuideWizard wizard, int projectIndex = 0, VersionVariantKind variant = VersionVariantKind::None) {
        return PageGuide(Request(wizard), GuideProduct{projectIndex, variant}, dialogs);
    }
    platform::ScriptedDialogs dialogs;
};

TEST_F(PageGuideTest, WalksEveryPageToFinishAndEndsWithOk) {
    PageGuide g = Make(GuideWizard::TFormGuide);
    EXPECT_EQ(g.Frame.width, 443);
    EXPECT_EQ(g.Frame.height, 326);
    EXPECT_EQ(ShownPage(g), "GroupBox1");
    EXPECT_EQ(g.GroupBox1.text, "welcome");
    EXPECT_FALSE(g.ButtonBack.visible);
    EXPECT_FALSE(g.ButtonFinish.visible);

    g.NextClick();
    EXPECT_EQ(ShownPage(g), "GroupBox3");
    EXPECT_EQ(g.GroupBox3.text, "licence");
    EXPECT_TRUE(g.ButtonBack.visible);
    EXPECT_FALSE(g.ButtonNext.enabled);
    g.AgreementClick(true);
    EXPECT_TRUE(g.ButtonNext.enabled);
    g.NextClick();
    EXPECT_EQ(ShownPage(g), "GroupBox4");
    g.NextClick();
    EXPECT_EQ(ShownPage(g), "GroupBox6");
    EXPECT_EQ(g.pageIndex(), 3);
    EXPECT_TRUE(g.ButtonFinish.visible);
    EXPECT_FALSE(g.ButtonNext.visible);

    g.FinishClick();
    EXPECT_EQ(g.result(), ModalResult::Ok);
    EXPECT_TRUE(g.ending());
    // The window closing after Finish asks nothing and keeps OK.
    EXPECT_TRUE(g.CloseQuery());
    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_EQ(g.result(), ModalResult::Ok);
}

TEST_F(PageGuideTest, LicencePageBlocksNextUntilAgreedAndKeepsTheAgreementAcrossBackAndNext) {
    PageGuide g = Make(GuideWizard::TFormGuide1);
    g.NextClick();
    g.NextClick();  // disabled: stays on the licence page
    EXPECT_EQ(g.pageIndex(), 1);
    EXPECT_EQ(ShownPage(g), "GroupBox3");

    g.AgreementClick(true);
    g.NextClick();
    g.BackClick();
    EXPECT_EQ(ShownPage(g), "GroupBox3");
    EXPECT_TRUE(g.CheckBox1.checked);
    EXPECT_TRUE(g.ButtonNext.enabled);
    g.BackClick();
    EXPECT_EQ(ShownPage(g), "GroupBox1");
    EXPECT_FALSE(g.ButtonBack.visible);
    EXPECT_TRUE(g.ButtonNext.enabled);
    g.NextClick();
    EXPECT_TRUE(g.ButtonNext.enabled);

    g.AgreementClick(false);
    EXPECT_FALSE(g.ButtonNext.enabled);
    g.BackClick();
    g.NextClick();
    EXPECT_FALSE(g.ButtonNext.enabled);
}

TEST_F(PageGuideTest, BackFromTheConfirmationHidesFinishAndShowsNext) {
    PageGuide g = Make(GuideWizard::TFormGuide);
    g.NextClick();
    g.AgreementClick(true);
    g.NextClick();
    g.NextClick();
    g.BackClick();
    EXPECT_EQ(ShownPage(g), "GroupBox4");
    EXPECT_EQ(g.pageIndex(), 2);
    EXPECT_FALSE(g.ButtonFinish.visible);
    EXPECT_TRUE(g.ButtonNext.visible);
    g.FinishClick();  // hidden: nothing happens
    EXPECT_EQ(g.result(), ModalResult::None);
}

TEST_F(PageGuideTest, ClosingAsksTheExitQuestionNoKeepsThePageYesCancels) {
    PageGuide g = Make(GuideWizard::TFormGuide);
    g.NextClick();
    g.AgreementClick(true);
    g.NextClick();
    g.NextClick();

    dialogs.QueueAnswer(DialogAnswer::No);
    EXPECT_FALSE(g.CloseQuery());
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].caption, "Exit");
    EXPECT_EQ(dialogs.shown()[0].text, "Are you sure you want to exit?");
    EXPECT_EQ(dialogs.shown()[0].buttons, platform::DialogButtons::YesNo);
    EXPECT_EQ(g.pageIndex(), 3);
    EXPECT_EQ(ShownPage(g), "GroupBox6");
    EXPECT_EQ(g.result(), ModalResult::None);
    EXPECT_FALSE(g.ending());

    dialogs.QueueAnswer(DialogAnswer::Yes);
    EXPECT_TRUE(g.CancelClick());
    EXPECT_EQ(g.result(), ModalResult::Cancel);
    EXPECT_TRUE(g.ending());
}

TEST_F(PageGuideTest, SecondWizardUsesItsOwnLicencePageForVariantC) {
    PageGuide g = Make(GuideWizard::TFormGuide2, 0, VersionVariantKind::C);
    EXPECT_EQ(g.Frame.width, 445);
    g.NextClick();
    EXPECT_EQ(ShownPage(g), "GroupBox8");
    g.AgreementClick(true);
    g.NextClick();
    g.BackClick();
    EXPECT_EQ(ShownPage(g), "GroupBox8");

    PageGuide other = Make(GuideWizard::TFormGuide2, 0, VersionVariantKind::A);
    other.NextClick();
    EXPECT_EQ(ShownPage(other), "GroupBox3");
}

TEST_F(PageGuideTest, JapaneseExitQuestionOnlyForProjectThreeWithAVariantInTheSecondWizard) {
    const auto question = [&](GuideWizard wizard, VersionVariantKind variant) {
        PageGuide g = Make(wizard, package::kProjectRE78_51, variant);
        dialogs.QueueAnswer(DialogAnswer::No);
        g.CancelClick();
        return dialogs.shown().back().text;
    };
    EXPECT_EQ(question(GuideWizard::TFormGuide2, VersionVariantKind::B), "終了してもよろしいでしょうか？");
    EXPECT_EQ(question(GuideWizard::TFormGuide2, VersionVariantKind::None), "Are you sure you want to exit?");
    EXPECT_EQ(question(GuideWizard::TFormGuide, VersionVariantKind::B), "Are you sure you want to exit?");
}

TEST_F(PageGuideTest, CompactProductGetsASingleNoticeThatEndsWithOkOrCancelsWithoutAQuestion) {
    PageGuide g = Make(GuideWizard::TFormGuide2, package::kProjectDI79_21);
    EXPECT_EQ(ShownPage(g), "GroupBox10");
    EXPECT_FALSE(g.ButtonNext.visible);
    EXPECT_FALSE(g.ButtonBack.visible);
    EXPECT_TRUE(g.ButtonFinish.visible);
    EXPECT_EQ(g.ButtonFinish.text, "OK");
    g.NextClick();
    g.BackClick();
    EXPECT_EQ(ShownPage(g), "GroupBox10");
    g.FinishClick();
    EXPECT_EQ(g.result(), ModalResult::Ok);

    PageGuide cancelled = Make(GuideWizard::TFormGuide2, package::kProjectDI79_21);
    EXPECT_TRUE(cancelled.CancelClick());
    EXPECT_EQ(cancelled.result(), ModalResult::Cancel);
    EXPECT_TRUE(dialogs.shown().empty());
}

// The request names the product: RE78_51's variant C takes the second
// licence page and asks the Japanese exit question.
TEST_F(PageGuideTest, TheRequestsProductPicksTheLicencePageAndTheExitQuestion) {
    platform::GuideRequest request = Request(GuideWizard::TFormGuide2);
    request.projectIndex = package::kProjectRE78_51;
    request.versionVariant = 'C';
    EXPECT_EQ(ProductOf(request).versionVariant, VersionVariantKind::C);
    PageGuide g(request, ProductOf(request), dialogs);
    g.NextClick();
    EXPECT_EQ(ShownPage(g), "GroupBox8");
    dialogs.QueueAnswer(DialogAnswer::No);
    EXPECT_FALSE(g.CloseQuery());
    ASSERT_EQ(dialogs.shown().size(), 1U);
    EXPECT_EQ(dialogs.shown()[0].text, "終了してもよろしいでしょうか？");
    request.versionVariant = 0;
    EXPECT_EQ(ProductOf(request).versionVariant, VersionVariantKind::None);
}

class SetupGuideTest : public ::testing::Test {
protected:
    static void ToSteps(SetupGuide& g) {
        g.InstallClick();
        g.AgreeClick();
        g.NextClick();
    }
    SetupGuide guide{Request(GuideWizard::TFormGuide3), Position{640, 400}};
    SetupGuide other{Request(GuideWizard::TFormGuide3), Position{640, 400}};
};

TEST_F(SetupGuideTest, LicenceGrowsAroundTheWelcomeWindowsCentreAndNeedsAgreement) {
    EXPECT_EQ(guide.Frame.width, 480);
    EXPECT_EQ(guide.Frame.height, 250);
    EXPECT_EQ(guide.Frame.position, (Position{400, 275}));
    EXPECT_FALSE(guide.Frame.bordered);

    guide.InstallClick();
    EXPECT_EQ(guide.page(), SetupGuide::Page::Licence);
    EXPECT_TRUE(guide.Frame.bordered);
    EXPECT_EQ(guide.Frame.width, 510);
    EXPECT_EQ(guide.Frame.height, 395);
    EXPECT_EQ(guide.Frame.position, (Position{385, 203}));
    EXPECT_TRUE(guide.RadioDisagree.checked);
    EXPECT_FALSE(guide.ButtonNext.visible);
    EXPECT_TRUE(guide.Image_next_inactive.visible);
    guide.NextClick();
    EXPECT_EQ(guide.page(), SetupGuide::Page::Licence);

    guide.AgreeClick();
    EXPECT_TRUE(guide.ButtonNext.visible);
    EXPECT_FALSE(guide.Image_next_inactive.visible);
    guide.DisagreeClick();
    EXPECT_FALSE(guide.ButtonNext.visible);
    EXPECT_TRUE(guide.Image_next_inactive.visible);
    guide.AgreeClick();
    guide.NextClick();
    EXPECT_EQ(guide.page(), SetupGuide::Page::Steps);
    EXPECT_EQ(guide.Frame.position, (Position{385, 203}));
}

TEST_F(SetupGuideTest, StartEndsWithOkWhenTheMainWindowSeesADevice) {
    int asked = 0;
    guide.devicePresent = [&] {
        ++asked;
        return true;
    };
    ToSteps(guide);
    guide.StartClick();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(guide.result(), ModalResult::Ok);
}

TEST_F(SetupGuideTest, WithoutADeviceItShowsTheMissingPageRecentredWhoseButtonCancels) {
    guide.devicePresent = [] { return false; };
    ToSteps(guide);
    guide.StartClick();
    EXPECT_EQ(guide.result(), ModalResult::None);
    EXPECT_EQ(guide.page(), SetupGuide::Page::DeviceMissing);
    EXPECT_EQ(guide.Frame.width, 300);
    EXPECT_EQ(guide.Frame.height, 165);
    EXPECT_EQ(guide.Frame.position, (Position{490, 318}));
    EXPECT_TRUE(guide.ButtonDeviceMissing.visible);
    EXPECT_FALSE(guide.ButtonStart.visible);
    guide.DeviceMissingClick();
    EXPECT_EQ(guide.result(), ModalResult::Cancel);

    // An owner that never set the question counts as no device.
    ToSteps(other);
    other.StartClick();
    EXPECT_EQ(other.page(), SetupGuide::Page::DeviceMissing);
}

TEST_F(SetupGuideTest, ExitAndCancelEndWithCancelOnTheirPages) {
    guide.ExitClick();
    EXPECT_EQ(guide.result(), ModalResult::Cancel);

    other.devicePresent = [] { return true; };
    ToSteps(other);
    other.CancelClick();
    other.StartClick();  // the wizard has ended: Start changes nothing
    EXPECT_EQ(other.result(), ModalResult::Cancel);
}

// The request's device question is the wizard's; a Japanese request gets
// Japanese controls in the Japanese font.
TEST(SetupGuideRequest, CarriesTheDeviceQuestionAndTheLanguage) {
    platform::GuideRequest request = Request(GuideWizard::TFormGuide3);
    int asked = 0;
    request.devicePresent = [&] { return ++asked > 0; };
    request.japanese = true;
    SetupGuide g(request, Position{640, 400});
    EXPECT_EQ(g.ButtonInstall.text, "インストール");
    EXPECT_EQ(g.ButtonInstall.font, JapaneseFont());
    g.InstallClick();
    EXPECT_EQ(g.Frame.caption, "Modem Update - 使用許諾契約");
    g.AgreeClick();
    g.NextClick();
    g.StartClick();
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(g.result(), ModalResult::Ok);

    request.japanese = false;
    SetupGuide english(request, Position{640, 400});
    EXPECT_EQ(english.ButtonInstall.text, "Install");
    english.InstallClick();
    EXPECT_EQ(english.Frame.caption, "Modem Update - Licence Agreement");
}

}  // namespace
}  // namespace firmora::windows
