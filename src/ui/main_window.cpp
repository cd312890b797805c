#include "ui/main_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QThread>

#include "ui/picture_button.h"
#include "ui/qt_dialogs.h"

namespace firmora::ui {
namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

QFont FontOf(const windows::Font& font) {
    QFont qfont(Text(font.name));
    qfont.setPixelSize(font.size);
    return qfont;
}

QColor ColourOf(windows::Colour colour) {
    switch (colour) {
    case windows::Colour::Red: return Qt::red;
    case windows::Colour::Green: return QColor(0, 128, 0);
    default: return Qt::black;
    }
}

void Apply(QLabel& label, const app::Control& control) {
    label.setText(Text(control.text));
    label.setFont(FontOf(control.font));
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, ColourOf(control.colour));
    label.setPalette(palette);
    label.setVisible(control.visible);
}

void Apply(PictureButton& button, const app::Control& label) {
    button.setText(Text(label.text));
    button.setEnabled(label.enabled);
    button.setVisible(label.visible);
}

QLabel* Place(QWidget* parent, QRect where, int pixels) {
    auto* label = new QLabel(parent);
    label->setGeometry(where);
    label->setAlignment(Qt::AlignCenter);
    QFont font("MS UI Gothic");
    font.setPixelSize(pixels);
    label->setFont(font);
    return label;
}

}  // namespace

MainWindow::MainWindow(app::FlashApplication& application, QtDialogs* dialogs, QWidget* parent)
    : QWidget(parent, Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint),
      application_(application),
      dialogs_(dialogs) {
    setFixedSize(513, 343);
    pictures_ = std::make_unique<WindowPictures>(devicePixelRatioF());
    setCursor(Qt::PointingHandCursor);  // the background picture's hand cursor
    title_ = Place(this, {128, 8, 249, 17}, 12);
    heading_ = Place(this, {72, 40, 369, 25}, 12);
    memo_ = new QPlainTextEdit(this);
    memo_->setGeometry(8, 80, 497, 201);
    memo_->setReadOnly(true);
    memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
    line1_ = Place(this, {88, 96, 353, 25}, 19);
    line2_ = Place(this, {88, 136, 361, 19}, 19);
    progress_ = new QProgressBar(this);
    progress_->setGeometry(48, 200, 417, 26);
    progress_->setTextVisible(false);
    // The status line of the other window styles: shown small at the bottom
    // edge so that Ready and Not Ready can be seen.
    status_ = new QLabel(this);
    status_->setGeometry(8, 324, 497, 16);
    cancel_ = new PictureButton(pictures_->button, this);
    cancel_->setGeometry(88, 296, 89, 25);
    finish_ = new PictureButton(pictures_->button, this);
    finish_->setGeometry(224, 296, 89, 25);
    next_ = new PictureButton(pictures_->button, this);
    next_->setGeometry(352, 296, 89, 25);

    connect(cancel_, &PictureButton::clicked, this, &QWidget::close);
    connect(finish_, &PictureButton::clicked, this, &MainWindow::Finish);
    connect(next_, &PictureButton::clicked, this, &MainWindow::Next);
    connect(&timer1_, &QTimer::timeout, this, [this] {
        application_.Timer1Timer();
        Render();
    });
    timer1_.setInterval(kStartTimerMs);

    application_.onReadiness = [this](const package::ReadinessDecision&) { Render(); };
    // The form decided to close (a confirmed Finish): it has stopped its
    // workers already, so the close below asks nothing more.
    application_.form().onCloseRequested = [this] {
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    };
    // Posts from the workers' threads: a drain is queued on this thread.
    application_.form().queue().onPosted = [this] {
        QMetaObject::invokeMethod(this, &MainWindow::Drain, Qt::QueuedConnection);
    };
    Drain();  // what start-up posted before the wake-up was set
}

MainWindow::~MainWindow() { PutAway(); }

void MainWindow::PutAway() {
    if (putAway_) return;
    putAway_ = true;
    timer1_.stop();
    // This thread shows no box while it waits below; one the readiness loop
    // asks for meanwhile is answered as its Cancel.
    if (dialogs_ != nullptr) dialogs_->Close();
    // Waits for every worker; none posts afterwards, so the wake-up can go.
    application_.Destroy();
    if (application_.HasForm()) {
        application_.form().queue().onPosted = nullptr;
        application_.form().onCloseRequested = nullptr;
    }
    application_.onReadiness = nullptr;
}

void MainWindow::Drain() {
    ++drains_;
    if (QThread::currentThread() != thread()) drainedOffThread_ = true;
    if (putAway_) return;
    application_.form().queue().Drain();
    Render();
}

void MainWindow::Render() {
    const app::WindowControls& c = application_.form().controls();
    setWindowTitle(Text(c.Frame.caption));
    title_->setText(Text(c.Frame.caption));
    Apply(*heading_, c.Label13);
    Apply(*line1_, c.Label14);
    Apply(*line2_, c.Label15);
    Apply(*status_, c.Label_status);
    status_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    memo_->setVisible(c.Memo1.visible);
    if (memo_->toPlainText() != Text(c.Memo1.text)) memo_->setPlainText(Text(c.Memo1.text));
    // The compact layout moves its own small gauge.
    const app::Control& gauge = (c.CGauge1.progress != 0 || c.CGauge1.maximum != 100) ? c.CGauge1 : c.ProgressBar;
    progress_->setMaximum(gauge.maximum);
    progress_->setValue(gauge.progress);
    progress_->setVisible(c.ProgressBar.visible || c.CGauge1.visible);
    Apply(*cancel_, c.Label20);
    Apply(*finish_, c.Label16);
    Apply(*next_, c.Label21);
    if (c.Timer1.enabled && !timer1_.isActive()) timer1_.start();
    if (!c.Timer1.enabled) timer1_.stop();
    // Start-up's timer found no device, or Start's device check failed: the
    // box has been shown, the program ends.
    if (application_.Ending() && !putAway_) QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void MainWindow::Next() {
    // The wizard's pages are not in the form yet: Next starts the update.
    application_.form().StartClick();
    Render();
}

void MainWindow::Finish() {
    // Asks during a run; a confirmed close comes back through onCloseRequested.
    application_.form().FinishButtonClick();
    Render();
}

void MainWindow::paintEvent(QPaintEvent*) {
    // A screen of another pixel ratio (the window moved to it): the pictures
    // are drawn again for it, in place, so the buttons keep theirs.
    if (devicePixelRatioF() != pictures_->ratio) *pictures_ = WindowPictures(devicePixelRatioF());
    QPainter painter(this);
    painter.drawPixmap(QRect(QPoint(0, 0), kBackgroundSize), pictures_->background);
}

void MainWindow::mousePressEvent(QMouseEvent* event) {
    dragging_ = true;
    dragCursor_ = event->globalPosition().toPoint();
    dragWindow_ = pos();
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) return;
    move(dragWindow_ + (event->globalPosition().toPoint() - dragCursor_));
}

void MainWindow::mouseReleaseEvent(QMouseEvent*) { dragging_ = false; }

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!putAway_ && !application_.form().FormCloseQuery()) {
        event->ignore();
        return;
    }
    PutAway();
    event->accept();
}

}  // namespace firmora::ui
