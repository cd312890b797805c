#pragma once
// TFormMessagebox: the picture confirmation box of the two Japanese products,
// shown before an update begins. The update starts only on OK. Pure model: a
// front end draws the pictures and labels and feeds mouse and key events.

#include "windows/controls.h"
#include "windows/modal_result.h"

namespace firmora::windows {

class MessageBoxModel {
public:
    enum class Button { Ok, Cancel };
    enum class Key { Enter, Left, Up, Right, Down, Escape, Tab };

    // Picture indices of a button's four stacked pictures.
    static constexpr int kNormal = 0;
    static constexpr int kPressed = 1;
    static constexpr int kHighlighted = 2;

    // Selection values.
    static constexpr int kNothing = 0;
    static constexpr int kOkSelected = 1;
    static constexpr int kCancelSelected = 2;

    explicit MessageBoxModel(int projectIndex);

    // Each time the box is shown: texts and fonts, Cancel highlighted and
    // the default, the result cleared.
    void Show();

    void MouseEnter(Button button);
    void MouseLeave(Button button);
    void MouseDown(Button button);
    void MouseUp(Button button);
    void KeyDown(Key key);

    int selection() const { return selection_; }
    ModalResult result() const { return result_; }

    Control Image_background;
    Control Image_warning;
    Control Image_ok;      // pictureIndex selects one of its four pictures
    Control Image_cancel;
    Control Label_title;
    Control Label_message;
    Control Label_ok;
    Control Label_cancel;

private:
    Control& Picture(Button button) { return button == Button::Ok ? Image_ok : Image_cancel; }
    Control& Other(Button button) { return button == Button::Ok ? Image_cancel : Image_ok; }
    void Highlight(Button button);

    int selection_ = kCancelSelected;
    ModalResult result_ = ModalResult::None;
};

}  // namespace firmora::windows
