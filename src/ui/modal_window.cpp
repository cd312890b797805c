#include "ui/modal_window.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QScreen>

namespace firmora::ui {

ModalWindow::ModalWindow(QWidget* parent, Qt::WindowFlags flags) : QWidget(parent, flags | Qt::Window) {
    setWindowModality(Qt::ApplicationModal);
}

int ModalWindow::exec() {
    ended_ = false;
    result_ = 0;
    QEventLoop loop;
    connect(this, &ModalWindow::finished, &loop, &QEventLoop::quit);
    Showing();
    show();
    raise();
    activateWindow();
    if (!ended_) loop.exec(QEventLoop::DialogExec);
    return result_;
}

void ModalWindow::EndWith(windows::ModalResult result) {
    if (result == windows::ModalResult::None || ended_) return;
    ended_ = true;
    result_ = static_cast<int>(result);
    hide();
    Q_EMIT finished(result_);
}

void ModalWindow::closeEvent(QCloseEvent* event) {
    if (!ended_) {
        const windows::ModalResult result = CloseQuery();
        if (result == windows::ModalResult::None) {
            event->ignore();
            return;
        }
        EndWith(result);
    }
    event->accept();
}

windows::Position ScreenCentre() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QPoint centre = screen != nullptr ? screen->availableGeometry().center() : QPoint(400, 300);
    return {centre.x(), centre.y()};
}

}  // namespace firmora::ui
