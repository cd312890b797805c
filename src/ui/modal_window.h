#pragma once
// A secondary window shown modally over the application and waited for; it
// ends with a modal result (1 OK, 2 Cancel) that its model decides. A plain
// widget rather than a QDialog: TFormGuide3 changes its frame while it is
// shown, which re-creates the native window, and a dialog would take that
// hiding as its end.

#include <QWidget>

#include "windows/controls.h"
#include "windows/modal_result.h"

namespace firmora::ui {

class ModalWindow : public QWidget {
    Q_OBJECT
public:
    // Shows the window application-modal and returns once it has ended,
    // with its modal result.
    int exec();
    int result() const { return result_; }
    bool ended() const { return ended_; }
    // The widgets set from the model's controls.
    virtual void Render() = 0;

Q_SIGNALS:
    void finished(int result);

protected:
    ModalWindow(QWidget* parent, Qt::WindowFlags flags);
    // Ends the window with `result`; None keeps it open.
    void EndWith(windows::ModalResult result);
    // The model's result so far.
    virtual windows::ModalResult ModelResult() const = 0;
    // After a handler: draw, and end once the model has decided.
    void Step() {
        Render();
        EndWith(ModelResult());
    }
    // The close box: the result the window ends with, or None to keep it.
    virtual windows::ModalResult CloseQuery() = 0;
    // Each time exec shows the window, before it is shown.
    virtual void Showing() {}
    void closeEvent(QCloseEvent* event) override;

private:
    bool ended_ = false;
    int result_ = 0;
};

// The centre of the primary screen's free area.
windows::Position ScreenCentre();

}  // namespace firmora::ui
