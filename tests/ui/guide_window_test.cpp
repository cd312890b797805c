// The guide wizards on the desktop: each one's way to OK and to Cancel,
// played with mouse clicks on the real widgets while the window runs modally.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include "modal_driver.h"
#include "package/project_table.h"
#include "ui/guide_window.h"
#include "ui/picture_button.h"

namespace firmora::ui {
namespace {

using platform::DialogAnswer;
using platform::GuideWizard;

platform::GuideRequest Request(GuideWizard wizard, int projectIndex = 0) {
    platform::GuideRequest request;
    request.wizard = wizard;
    request.title = "Modem Update";
    request.pages = {"welcome", "licence", "notes", "confirm"};
    request.projectIndex = projectIndex;
    return request;
}

template <class Widget>
Widget& Child(QWidget& window, const char* name) {
    auto* child = window.findChild<Widget*>(name);
    if (child == nullptr) throw std::runtime_error(std::string("no widget ") + name);
    return *child;
}

// The page panels shown, by name.
QStringList ShownPages(QWidget& window) {
    QStringList shown;
    for (const char* name : {"GroupBox1", "GroupBox3", "GroupBox4", "GroupBox6", "GroupBox8", "GroupBox10"}) {
        if (Child<QWidget>(window, name).isVisible()) shown << name;
    }
    return shown;
}

void Click(QWidget& widget) { QTest::mouseClick(&widget, Qt::LeftButton); }

// Check boxes and radio buttons take a click on their mark.
void ClickMark(QWidget& widget) { QTest::mouseClick(&widget, Qt::LeftButton, {}, QPoint(6, widget.height() / 2)); }

class PageGuideWindowTest : public ::testing::Test {
protected:
    platform::ScriptedDialogs dialogs;
};

TEST_F(PageGuideWindowTest, WalksThePagesToFinishAndEndsWithOk) {
    PageGuideWindow window(Request(GuideWizard::TFormGuide), dialogs);
    EXPECT_EQ(window.size(), QSize(443, 326));
    const int result = RunModal(window, [&] {
        auto& next = Child<QPushButton>(window, "ButtonNext");
        auto& back = Child<QPushButton>(window, "ButtonBack");
        auto& finish = Child<QPushButton>(window, "ButtonFinish");
        auto& agreement = Child<QCheckBox>(window, "CheckBox1");
        EXPECT_EQ(ShownPages(window), QStringList{"GroupBox1"});
        EXPECT_FALSE(back.isVisible());
        EXPECT_FALSE(finish.isVisible());

        Click(next);
        EXPECT_EQ(ShownPages(window), QStringList{"GroupBox3"});
        EXPECT_TRUE(agreement.isVisible());
        EXPECT_FALSE(next.isEnabled()) << "Next waits for the agreement";
        Click(next);
        EXPECT_EQ(ShownPages(window), QStringList{"GroupBox3"});
        ClickMark(agreement);
        EXPECT_TRUE(agreement.isChecked());
        EXPECT_TRUE(next.isEnabled());

        Click(next);
        EXPECT_EQ(ShownPages(window), QStringList{"GroupBox4"});
        EXPECT_FALSE(agreement.isVisible());
        Click(back);
        EXPECT_TRUE(agreement.isChecked()) << "Back keeps the agreement";
        EXPECT_TRUE(next.isEnabled());
        Click(next);
        Click(next);
        EXPECT_EQ(ShownPages(window), QStringList{"GroupBox6"});
        EXPECT_FALSE(next.isVisible());
        ASSERT_TRUE(finish.isVisible());
        Click(finish);
    });
    EXPECT_EQ(result, kOk);
    EXPECT_TRUE(dialogs.shown().empty()) << "Finish asks nothing";
}

TEST_F(PageGuideWindowTest, CancelAndTheCloseBoxAskTheExitQuestionNoKeepsTheWizardYesCancels) {
    PageGuideWindow window(Request(GuideWizard::TFormGuide1), dialogs);
    dialogs.QueueAnswer(DialogAnswer::No);
    dialogs.QueueAnswer(DialogAnswer::No);
    dialogs.QueueAnswer(DialogAnswer::Yes);
    const int result = RunModal(window, [&] {
        auto& next = Child<QPushButton>(window, "ButtonNext");
        Click(next);
        ClickMark(Child<QCheckBox>(window, "CheckBox1"));
        Click(next);
        Click(next);
        ASSERT_EQ(ShownPages(window), QStringList{"GroupBox6"});

        window.close();
        EXPECT_TRUE(window.isVisible()) << "No keeps the wizard";
        EXPECT_EQ(ShownPages(window), QStringList{"GroupBox6"});
        Click(Child<QPushButton>(window, "ButtonCancel"));
        EXPECT_TRUE(window.isVisible());
        EXPECT_EQ(dialogs.shown().size(), 2U);
        Click(Child<QPushButton>(window, "ButtonCancel"));
    });
    EXPECT_EQ(result, kCancel);
    ASSERT_EQ(dialogs.shown().size(), 3U);
    EXPECT_EQ(dialogs.shown()[0].caption, "Exit");
    EXPECT_EQ(dialogs.shown()[0].text, "Are you sure you want to exit?");
    EXPECT_EQ(dialogs.shown()[0].buttons, platform::DialogButtons::YesNo);
}

TEST_F(PageGuideWindowTest, TheCompactJapaneseProductShowsOneNoticeThatEndsWithOkOrCancelsWithoutAQuestion) {
    for (const auto& [press, expected] : {std::pair{"ButtonFinish", kOk}, std::pair{"ButtonCancel", kCancel}}) {
        PageGuideWindow window(Request(GuideWizard::TFormGuide2, package::kProjectDI79_21), dialogs);
        EXPECT_EQ(window.size(), QSize(445, 326));
        const int result = RunModal(window, [&, press = press] {
            EXPECT_EQ(ShownPages(window), QStringList{"GroupBox10"});
            EXPECT_FALSE(Child<QPushButton>(window, "ButtonNext").isVisible());
            auto& finish = Child<QPushButton>(window, "ButtonFinish");
            EXPECT_TRUE(finish.isVisible());
            EXPECT_EQ(finish.text(), "OK");
            Click(Child<QPushButton>(window, press));
        });
        EXPECT_EQ(result, expected) << press;
    }
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(PageGuideWindowTest, TheSecondLicencePageOfVariantCTakesTheAgreement) {
    platform::GuideRequest request = Request(GuideWizard::TFormGuide2, package::kProjectRE78_51);
    request.versionVariant = 'C';
    PageGuideWindow window(request, dialogs);
    window.show();
    Click(Child<QPushButton>(window, "ButtonNext"));
    EXPECT_EQ(ShownPages(window), QStringList{"GroupBox8"});
    auto& agreement = Child<QCheckBox>(window, "CheckBox1");
    ASSERT_TRUE(agreement.isVisible());
    ClickMark(agreement);
    EXPECT_TRUE(Child<QPushButton>(window, "ButtonNext").isEnabled());
}

// TFormGuide3: welcome, licence, steps and, without a device, the notice.
class SetupGuideWindowTest : public ::testing::Test {
protected:
    platform::GuideRequest request = Request(GuideWizard::TFormGuide3, package::kProjectZQ65_Custom);
    int asked = 0;
    bool device = true;
    void SetUp() override {
        request.devicePresent = [this] {
            ++asked;
            return device;
        };
    }
};

TEST_F(SetupGuideWindowTest, InstallAgreeNextAndStartWithADeviceEndWithOk) {
    SetupGuideWindow window(request);
    const int result = RunModal(window, [&] {
        EXPECT_EQ(window.size(), QSize(480, 250));
        EXPECT_TRUE(window.windowFlags().testFlag(Qt::FramelessWindowHint));
        const QPoint centre = window.geometry().center();
        Click(Child<PictureButton>(window, "ButtonInstall"));

        EXPECT_TRUE(window.isVisible());
        EXPECT_EQ(window.size(), QSize(510, 395));
        EXPECT_FALSE(window.windowFlags().testFlag(Qt::FramelessWindowHint)) << "the licence has a border";
        EXPECT_EQ(QApplication::activeModalWidget(), &window) << "still modal with its new frame";
        EXPECT_LE((window.geometry().center() - centre).manhattanLength(), 2) << "kept its centre";
        auto& next = Child<PictureButton>(window, "ButtonNext");
        EXPECT_FALSE(next.isVisible());
        EXPECT_TRUE(Child<PictureButton>(window, "Image_next_inactive").isVisible());
        EXPECT_TRUE(Child<QRadioButton>(window, "RadioDisagree").isChecked());
        ClickMark(Child<QRadioButton>(window, "RadioAgree"));
        EXPECT_TRUE(next.isVisible());
        EXPECT_FALSE(Child<QRadioButton>(window, "RadioDisagree").isChecked());
        Click(next);

        EXPECT_TRUE(Child<QWidget>(window, "Label_steps").isVisible());
        Click(Child<PictureButton>(window, "ButtonStart"));
    });
    EXPECT_EQ(result, kOk);
    EXPECT_EQ(asked, 1);
}

TEST_F(SetupGuideWindowTest, WithoutADeviceStartShowsTheNoticeWhoseButtonCancels) {
    device = false;
    SetupGuideWindow window(request);
    const int result = RunModal(window, [&] {
        Click(Child<PictureButton>(window, "ButtonInstall"));
        ClickMark(Child<QRadioButton>(window, "RadioAgree"));
        Click(Child<PictureButton>(window, "ButtonNext"));
        const QPoint centre = window.geometry().center();
        Click(Child<PictureButton>(window, "ButtonStart"));
        EXPECT_TRUE(window.isVisible());
        EXPECT_EQ(window.size(), QSize(300, 165));
        EXPECT_LE((window.geometry().center() - centre).manhattanLength(), 2) << "re-centred";
        EXPECT_TRUE(Child<QWidget>(window, "Label_device_missing").isVisible());
        EXPECT_FALSE(Child<PictureButton>(window, "ButtonStart").isVisible());
        Click(Child<PictureButton>(window, "ButtonDeviceMissing"));
    });
    EXPECT_EQ(result, kCancel);
    EXPECT_EQ(asked, 1);
}

TEST_F(SetupGuideWindowTest, ExitOnTheWelcomeAndCancelOnTheLicenceEndWithCancel) {
    SetupGuideWindow welcome(request);
    EXPECT_EQ(RunModal(welcome, [&] { Click(Child<PictureButton>(welcome, "ButtonExit")); }), kCancel);
    SetupGuideWindow licence(request);
    EXPECT_EQ(RunModal(licence,
                       [&] {
                           Click(Child<PictureButton>(licence, "ButtonInstall"));
                           Click(Child<PictureButton>(licence, "ButtonCancel"));
                       }),
              kCancel);
    EXPECT_EQ(asked, 0);
}

}  // namespace
}  // namespace firmora::ui
