#include "windows/message_box.h"

#include "package/project_table.h"

namespace firmora::windows {
namespace {

Font PGothic(int size) { return Font{.name = "MS PGothic", .size = size, .japaneseCharset = true}; }

}  // namespace

MessageBoxModel::MessageBoxModel(int projectIndex) {
    // The title is the product's tool name; the compact product's is set
    // in a smaller font than the laid-out one.
    Label_title = Texted(package::JapaneseToolCaption(projectIndex));
    Label_title.font = projectIndex == package::kProjectDI79_21 ? PGothic(10) : JapaneseFont();
    Show();
}

void MessageBoxModel::Show() {
    Label_message.text =
        "他のアプリケーションをすべて終了して下さい。電源アダプタを接続し、PCのサスペンド又は、"
        "シャットダウンを絶対にしないで下さい。ソフトウェアのアップデートを開始しますか？";
    Label_message.font = PGothic(9);
    Label_ok.text = "OK";
    Label_cancel.text = "キャンセル";
    Label_ok.font = PGothic(11);
    Label_cancel.font = PGothic(11);
    Highlight(Button::Cancel);
    result_ = ModalResult::None;
}

void MessageBoxModel::Highlight(Button button) {
    Picture(button).pictureIndex = kHighlighted;
    Other(button).pictureIndex = kNormal;
    selection_ = button == Button::Ok ? kOkSelected : kCancelSelected;
}

void MessageBoxModel::MouseEnter(Button button) { Highlight(button); }

void MessageBoxModel::MouseLeave(Button button) {
    Picture(button).pictureIndex = kNormal;
    selection_ = kNothing;
}

void MessageBoxModel::MouseDown(Button button) { Picture(button).pictureIndex = kPressed; }

void MessageBoxModel::MouseUp(Button button) {
    Picture(button).pictureIndex = kNormal;
    result_ = button == Button::Ok ? ModalResult::Ok : ModalResult::Cancel;
}

void MessageBoxModel::KeyDown(Key key) {
    switch (key) {
        case Key::Enter:
            if (selection_ == kOkSelected) result_ = ModalResult::Ok;
            if (selection_ == kCancelSelected) result_ = ModalResult::Cancel;
            break;
        case Key::Left:
        case Key::Up:
            if (selection_ != kOkSelected) Highlight(Button::Ok);
            break;
        case Key::Right:
        case Key::Down:
            if (selection_ != kCancelSelected) Highlight(Button::Cancel);
            break;
        case Key::Escape:
            result_ = ModalResult::Cancel;
            break;
        case Key::Tab:
            Highlight(selection_ == kOkSelected ? Button::Cancel : Button::Ok);
            break;
    }
}

}  // namespace firmora::windows
