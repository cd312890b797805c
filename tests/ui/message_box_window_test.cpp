// The picture message box on the desktop: mouse and keys reach the model
// through the real widgets, its pictures follow, and the box ends with the
// model's result.

#include <gtest/gtest.h>

#include <QLabel>
#include <QTest>

#include "modal_driver.h"
#include "package/project_table.h"
#include "ui/message_box_window.h"

namespace firmora::ui {
namespace {

using windows::MessageBoxModel;

// The OK and Cancel pictures shown: 0 normal, 1 pressed, 2 highlighted.
std::pair<int, int> Pictures(MessageBoxWindow& box) { return {box.okButton().picture(), box.cancelButton().picture()}; }

constexpr std::pair<int, int> kCancelHighlighted{MessageBoxModel::kNormal, MessageBoxModel::kHighlighted};
constexpr std::pair<int, int> kOkHighlighted{MessageBoxModel::kHighlighted, MessageBoxModel::kNormal};

void Key(MessageBoxWindow& box, Qt::Key key) { QTest::keyClick(&box, key); }

// Moves the mouse over the box's message, then onto a button, and off it
// again, as the window system reports it: moves over the box's native window.
void Unhover(MessageBoxWindow& box) { QTest::mouseMove(box.windowHandle(), QPoint(200, 60)); }
void Hover(MessageBoxWindow& box, BoxButton& button) {
    Unhover(box);
    QTest::mouseMove(box.windowHandle(), button.mapTo(&box, button.rect().center()));
}

TEST(MessageBoxWindow, OpensWithItsTextsAndCancelHighlightedSoEnterCancels) {
    MessageBoxWindow box(package::kProjectDO78_21);
    const int result = RunModal(box, [&] {
        EXPECT_EQ(box.size(), QSize(380, 176));
        EXPECT_TRUE(box.windowFlags().testFlag(Qt::FramelessWindowHint));
        EXPECT_EQ(box.okButton().text(), "OK");
        EXPECT_EQ(box.cancelButton().text(), QString::fromUtf8("キャンセル"));
        const auto* message = box.findChild<QLabel*>("Label_message");
        ASSERT_NE(message, nullptr);
        EXPECT_TRUE(message->text().startsWith(QString::fromUtf8("他のアプリケーション")));
        EXPECT_EQ(Pictures(box), kCancelHighlighted);
        Key(box, Qt::Key_Return);
    });
    EXPECT_EQ(result, kCancel);
}

TEST(MessageBoxWindow, HoverOnOkThenOffLeavesNothingSoEnterWaitsAndEscapeCancels) {
    MessageBoxWindow box(package::kProjectDI79_21);
    const int result = RunModal(box, [&] {
        Hover(box, box.okButton());
        EXPECT_EQ(Pictures(box), kOkHighlighted);
        EXPECT_EQ(box.model().selection(), MessageBoxModel::kOkSelected);
        Unhover(box);
        EXPECT_EQ(Pictures(box), std::pair(MessageBoxModel::kNormal, MessageBoxModel::kNormal));
        EXPECT_EQ(box.model().selection(), MessageBoxModel::kNothing);
        Key(box, Qt::Key_Enter);
        EXPECT_TRUE(box.isVisible()) << "Enter with nothing highlighted does nothing";
        Key(box, Qt::Key_Escape);
    });
    EXPECT_EQ(result, kCancel);
}

TEST(MessageBoxWindow, PressShowsThePressedPictureAndReleaseOnTheLabelEndsWithItsResult) {
    for (const bool ok : {true, false}) {
        MessageBoxWindow box(package::kProjectDO78_21);
        const int result = RunModal(box, [&] {
            BoxButton& button = ok ? box.okButton() : box.cancelButton();
            Hover(box, button);
            QTest::mousePress(&button, Qt::LeftButton);
            EXPECT_EQ(button.picture(), MessageBoxModel::kPressed);
            QTest::mouseRelease(&button, Qt::LeftButton);
        });
        EXPECT_EQ(result, ok ? kOk : kCancel);
    }
}

TEST(MessageBoxWindow, AReleaseOffTheLabelDropsThePress) {
    MessageBoxWindow box(package::kProjectDO78_21);
    const int result = RunModal(box, [&] {
        QTest::mousePress(&box.okButton(), Qt::LeftButton);
        QTest::mouseRelease(&box.okButton(), Qt::LeftButton, {}, QPoint(-20, -20));
        EXPECT_TRUE(box.isVisible());
        EXPECT_EQ(box.okButton().picture(), MessageBoxModel::kNormal);
        Key(box, Qt::Key_Escape);
    });
    EXPECT_EQ(result, kCancel);
}

TEST(MessageBoxWindow, TabAlternatesTheHighlightBeforeFocusHandlingAndArrowsMoveIt) {
    MessageBoxWindow box(package::kProjectDO78_21);
    const int result = RunModal(box, [&] {
        Key(box, Qt::Key_Tab);
        EXPECT_EQ(Pictures(box), kOkHighlighted);
        Key(box, Qt::Key_Tab);
        EXPECT_EQ(Pictures(box), kCancelHighlighted);
        Key(box, Qt::Key_Up);
        EXPECT_EQ(Pictures(box), kOkHighlighted);
        Key(box, Qt::Key_Down);
        EXPECT_EQ(Pictures(box), kCancelHighlighted);
        Key(box, Qt::Key_Left);
        EXPECT_EQ(Pictures(box), kOkHighlighted);
        Key(box, Qt::Key_Return);
    });
    EXPECT_EQ(result, kOk);
}

TEST(MessageBoxWindow, EachShowingStartsAgainAtCancelCentredOnTheMainWindow) {
    QWidget main;
    main.setGeometry(100, 100, 513, 343);
    MessageBoxWindow box(package::kProjectDO78_21, &main);
    EXPECT_LE((box.geometry().center() - main.frameGeometry().center()).manhattanLength(), 2);
    EXPECT_EQ(RunModal(box, [&] { Key(box, Qt::Key_Left); Key(box, Qt::Key_Return); }), kOk);
    EXPECT_EQ(RunModal(box, [&] {
                  EXPECT_EQ(Pictures(box), kCancelHighlighted);
                  Key(box, Qt::Key_Return);
              }),
              kCancel);
}

}  // namespace
}  // namespace firmora::ui
