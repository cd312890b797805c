#include "windows/message_box.h"

#include <gtest/gtest.h>

#include "package/project_table.h"

namespace firmora::windows {
namespace {

using Button = MessageBoxModel::Button;
using Key = MessageBoxModel::Key;

constexpr int kNormal = MessageBoxModel::kNormal;
constexpr int kHighlighted = MessageBoxModel::kHighlighted;

class MessageBoxTest : public ::testing::Test {
protected:
    MessageBoxModel box{package::kProjectDO78_21};
};

TEST_F(MessageBoxTest, OpensWithItsTextsAndCancelHighlightedSoEnterCancels) {
    EXPECT_EQ(box.Label_message.text,
              "他のアプリケーションをすべて終了して下さい。電源アダプタを接続し、PCのサスペンド又は、シャットダウンを"
              "絶対にしないで下さい。ソフトウェアのアップデートを開始しますか？");
    EXPECT_EQ(box.Label_message.font, (Font{"MS PGothic", 9, true}));
    EXPECT_EQ(box.Label_ok.text, "OK");
    EXPECT_EQ(box.Label_cancel.text, "キャンセル");
    EXPECT_EQ(box.Label_cancel.font, (Font{"MS PGothic", 11, true}));
    EXPECT_EQ(box.Image_ok.pictureIndex, kNormal);
    EXPECT_EQ(box.Image_cancel.pictureIndex, kHighlighted);
    EXPECT_EQ(box.selection(), 2);

    box.KeyDown(Key::Enter);
    EXPECT_EQ(box.result(), ModalResult::Cancel);
}

TEST_F(MessageBoxTest, TitleIsTheProductsToolNameInItsOwnFontForTheCompactProduct) {
    EXPECT_EQ(box.Label_title.text, package::JapaneseToolCaption(package::kProjectDO78_21));
    MessageBoxModel compact{package::kProjectDI79_21};
    EXPECT_EQ(compact.Label_title.text, "KQ004TR Software Update Tool");
    EXPECT_EQ(compact.Label_title.font, (Font{"MS PGothic", 10, true}));
    EXPECT_NE(box.Label_title.text, compact.Label_title.text);
}

TEST_F(MessageBoxTest, MouseOverOkAndOffLeavesNothingHighlightedSoEnterWaitsAndEscapeCancels) {
    box.MouseEnter(Button::Ok);
    EXPECT_EQ(box.selection(), 1);
    EXPECT_EQ(box.Image_ok.pictureIndex, kHighlighted);
    EXPECT_EQ(box.Image_cancel.pictureIndex, kNormal);
    box.MouseLeave(Button::Ok);
    EXPECT_EQ(box.selection(), 0);
    EXPECT_EQ(box.Image_ok.pictureIndex, kNormal);
    EXPECT_EQ(box.Image_cancel.pictureIndex, kNormal);

    box.KeyDown(Key::Enter);
    EXPECT_EQ(box.result(), ModalResult::None);
    box.KeyDown(Key::Escape);
    EXPECT_EQ(box.result(), ModalResult::Cancel);
}

TEST_F(MessageBoxTest, PressAndReleaseEndWithTheButtonsResult) {
    box.MouseEnter(Button::Ok);
    box.MouseDown(Button::Ok);
    EXPECT_EQ(box.Image_ok.pictureIndex, MessageBoxModel::kPressed);
    EXPECT_EQ(box.result(), ModalResult::None);
    box.MouseUp(Button::Ok);
    EXPECT_EQ(box.Image_ok.pictureIndex, kNormal);
    EXPECT_EQ(box.result(), ModalResult::Ok);

    box.Show();
    box.MouseEnter(Button::Cancel);
    box.MouseDown(Button::Cancel);
    box.MouseUp(Button::Cancel);
    EXPECT_EQ(box.result(), ModalResult::Cancel);
}

TEST_F(MessageBoxTest, ArrowKeysMoveTheHighlightAndEnterTakesIt) {
    for (Key toOk : {Key::Left, Key::Up}) {
        box.Show();
        box.KeyDown(toOk);
        EXPECT_EQ(box.selection(), 1);
        EXPECT_EQ(box.Image_ok.pictureIndex, kHighlighted);
        EXPECT_EQ(box.Image_cancel.pictureIndex, kNormal);
    }
    for (Key toCancel : {Key::Right, Key::Down}) {
        box.KeyDown(Key::Left);
        box.KeyDown(toCancel);
        EXPECT_EQ(box.selection(), 2);
        EXPECT_EQ(box.Image_cancel.pictureIndex, kHighlighted);
        EXPECT_EQ(box.Image_ok.pictureIndex, kNormal);
    }
    box.KeyDown(Key::Up);
    box.KeyDown(Key::Enter);
    EXPECT_EQ(box.result(), ModalResult::Ok);
}

TEST_F(MessageBoxTest, TabAlternatesTheHighlightAndStartsAtOkWhenNothingIsHighlighted) {
    box.KeyDown(Key::Tab);
    EXPECT_EQ(box.selection(), 1);
    box.KeyDown(Key::Tab);
    EXPECT_EQ(box.selection(), 2);
    EXPECT_EQ(box.Image_cancel.pictureIndex, kHighlighted);
    box.KeyDown(Key::Tab);
    EXPECT_EQ(box.selection(), 1);

    box.MouseEnter(Button::Cancel);
    box.MouseLeave(Button::Cancel);
    box.KeyDown(Key::Tab);
    EXPECT_EQ(box.selection(), 1);
    EXPECT_EQ(box.Image_ok.pictureIndex, kHighlighted);
}

TEST_F(MessageBoxTest, EachShowStartsAgainAtCancel) {
    box.KeyDown(Key::Left);
    box.KeyDown(Key::Enter);
    ASSERT_EQ(box.result(), ModalResult::Ok);
    box.Show();
    EXPECT_EQ(box.result(), ModalResult::None);
    EXPECT_EQ(box.selection(), 2);
    EXPECT_EQ(box.Image_ok.pictureIndex, kNormal);
    EXPECT_EQ(box.Image_cancel.pictureIndex, kHighlighted);
}

}  // namespace
}  // namespace firmora::windows
