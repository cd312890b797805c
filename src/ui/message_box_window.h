#pragma once
// TFormMessagebox on the desktop: the picture confirmation box of the two
// Japanese products, drawn over MessageBoxModel. Its pictures (background,
// warning sign, the OK and Cancel buttons' four pictures each) are painted
// here. Mouse events on a button's label and the keys go to the model; the
// widgets are drawn again after each one and the box ends once the model has
// a result. Tab is taken before focus handling sees it.

#include <memory>

#include "ui/modal_window.h"
#include "windows/message_box.h"

class QLabel;

namespace firmora::ui {

// One picture button of the box: shows the picture its control selects and
// the label over it, and reports the mouse on the label.
class BoxButton final : public QWidget {
    Q_OBJECT
public:
    BoxButton(QWidget* parent, const char* name);
    void Set(const windows::Control& picture, const windows::Control& label);
    int picture() const { return picture_; }
    QString text() const { return text_; }

Q_SIGNALS:
    void entered();
    void left();
    void pressed();
    // The release; `inside` when the mouse is still over the label.
    void released(bool inside);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int picture_ = 0;
    QString text_;
};

class MessageBoxWindow final : public ModalWindow {
    Q_OBJECT
public:
    // The box of `projectIndex`, centred on `parent` (the main window) when
    // there is one, else on the screen.
    explicit MessageBoxWindow(int projectIndex, QWidget* parent = nullptr);
    ~MessageBoxWindow() override;

    windows::MessageBoxModel& model() { return *model_; }
    BoxButton& okButton() { return *ok_; }
    BoxButton& cancelButton() { return *cancel_; }
    void Render() override;

protected:
    windows::ModalResult CloseQuery() override;
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void Showing() override;

private:
    windows::ModalResult ModelResult() const override { return model_->result(); }
    void Forward(windows::MessageBoxModel::Button which, BoxButton& button);

    std::unique_ptr<windows::MessageBoxModel> model_;
    QLabel* title_;
    QLabel* message_;
    BoxButton* ok_;
    BoxButton* cancel_;
};

}  // namespace firmora::ui
