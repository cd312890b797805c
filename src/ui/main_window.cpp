#include "ui/main_window.h"

#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QThread>

#include "ui/picture_button.h"
#include "ui/qt_dialogs.h"
#include "ui/window_fonts.h"

namespace firmora::ui {
namespace {

using app::Control;

QString Text(const std::string& text) { return QString::fromStdString(text); }

QColor ColourOf(windows::Colour colour) {
    switch (colour) {
    case windows::Colour::Red: return Qt::red;
    case windows::Colour::Green: return QColor(0, 128, 0);
    default: return Qt::black;
    }
}

app::Position ScreenPosition(const QMouseEvent& event) {
    const QPoint at = event.globalPosition().toPoint();
    return {at.x(), at.y()};
}

// A control the form places: where it says, at the size it says. One it
// leaves unplaced lies outside the window and is not drawn.
void Place(QWidget& widget, const Control& control) {
    if (control.width <= 0 || control.height <= 0) return;
    widget.setGeometry(control.position.left, control.position.top, control.width, control.height);
}

// Placed where the form says and shown as it says.
void Show(QWidget& widget, const Control& control) {
    Place(widget, control);
    widget.setVisible(control.visible);
}

// A compact panel lies over the wizard, the one shown last over the others.
void ShowPanel(QWidget& panel, const Control& control) {
    if (control.visible && panel.isHidden()) panel.raise();
    Show(panel, control);
}

// A label's text, face and colour.
void Write(QLabel& label, const Control& control) {
    if (label.text() != Text(control.text)) label.setText(Text(control.text));
    label.setFont(FontOf(control.font));
    QPalette palette = label.palette();
    palette.setColor(QPalette::WindowText, ColourOf(control.colour));
    label.setPalette(palette);
}

void Apply(QLabel& label, const Control& control) {
    Place(label, control);
    Write(label, control);
    label.setWordWrap(control.wordWrap);
    label.setAlignment(control.centred    ? Qt::AlignCenter
                       : control.wordWrap ? Qt::AlignLeft | Qt::AlignTop
                                          : Qt::AlignLeft | Qt::AlignVCenter);
    label.setCursor(control.handCursor ? Qt::PointingHandCursor : Qt::ArrowCursor);
    label.setVisible(control.visible && control.width > 0);
}

// A wizard button: its picture where the form places it, the label's text,
// enabled state and visibility over it.
void Apply(PictureButton& button, const Control& picture, const Control& label) {
    Place(button, picture);
    button.setText(Text(label.text));
    button.setFont(FontOf(label.font));
    button.setEnabled(label.enabled);
    button.setVisible(label.visible);
}

void Apply(QProgressBar& gauge, const Control& control) {
    Show(gauge, control);
    gauge.setMaximum(control.maximum);
    gauge.setValue(control.progress);
}

void Apply(QPushButton& button, const Control& control) {
    Show(button, control);
    button.setText(Text(control.text));
    button.setFont(FontOf(control.font));
    button.setEnabled(control.enabled);
}

// A picture-button set of the form: the picture the form shows.
void Apply(PictureArea& area, const Control& set, const PictureSet& pictures) {
    Show(area, set);
    area.setPicture(&pictures[std::clamp(set.pictureIndex, 0, 3)]);
}

QLabel* NewLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->hide();
    return label;
}

QLabel* NewPicture(QWidget* parent, const Control& control, const QPixmap& picture) {
    auto* label = new QLabel(parent);
    Place(*label, control);
    label->setPixmap(picture);
    label->setScaledContents(true);
    return label;
}

// A panel of the compact product: an opaque box over the wizard.
QWidget* NewPanel(QWidget* parent) {
    auto* panel = new QWidget(parent);
    panel->setAutoFillBackground(true);
    QPalette palette = panel->palette();
    palette.setColor(QPalette::Window, Qt::white);
    panel->setPalette(palette);
    panel->hide();
    return panel;
}

}  // namespace

// While a handler may wait on this thread for the readiness loop or a run's
// workers (stopping them), a box one of them asks for could never be shown:
// it is answered as its Cancel would be instead of both waiting for ever.
class MainWindow::Waits {
public:
    explicit Waits(QtDialogs* dialogs) : dialogs_(dialogs) {
        if (dialogs_ != nullptr) dialogs_->Hold();
    }
    ~Waits() {
        if (dialogs_ != nullptr) dialogs_->Release();
    }
    Waits(const Waits&) = delete;
    Waits& operator=(const Waits&) = delete;

private:
    QtDialogs* dialogs_;
};

MainWindow::MainWindow(app::FlashApplication& application, QtDialogs* dialogs, QWidget* parent)
    : QWidget(parent), application_(application), dialogs_(dialogs) {
    app::WindowControls& c = application_.form().controls();
    // The compact product has a dialog's frame, the others none.
    Qt::WindowFlags flags = c.Frame.dialogBorder ? Qt::WindowFlags(Qt::Dialog)
                                                 : Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint;
    if (c.Frame.stayOnTop) flags |= Qt::WindowStaysOnTopHint;
    setWindowFlags(flags);
    setMouseTracking(true);  // every move over the background refreshes the Start pictures
    // The right button's press and release reach the background, as any
    // button's do: the menu opens on the release.
    setContextMenuPolicy(Qt::PreventContextMenu);
    pictures_ = std::make_unique<WindowPictures>(devicePixelRatioF(), c);
    Build();

    // The window starts centred on the screen; from then on it stands where
    // the form says (dragging and the compact layouts move it).
    const QRect screenArea = screen()->availableGeometry();
    c.Frame.position = {screenArea.center().x() - c.Frame.width / 2, screenArea.center().y() - c.Frame.height / 2};
    placed_ = {c.Frame.position.left, c.Frame.position.top};
    move(placed_);

    connect(&timer1_, &QTimer::timeout, this, [this] {
        const Waits waits(dialogs_);
        application_.Timer1Timer();
        Render();
    });
    timer1_.setInterval(kStartTimerMs);

    app::TFlashSrcUiForm& form = application_.form();
    // The form decided to close (a confirmed Finish): it has stopped its
    // workers already, so the close below asks nothing more.
    form.onCloseRequested = [this] { QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection); };
    form.onMinimise = [this] { showMinimized(); };
    // The new page painted before a long step: drawn now, without running
    // other events inside the form's handler.
    form.onProcessMessages = [this] {
        Render();
        repaint();
    };
    // Posts from the workers' threads: a drain is queued on this thread.
    form.queue().onPosted = [this] { QMetaObject::invokeMethod(this, &MainWindow::Drain, Qt::QueuedConnection); };
    Drain();  // what start-up posted before the wake-up was set
}

MainWindow::~MainWindow() { PutAway(); }

void MainWindow::Build() {
    title_ = NewLabel(this);
    minimise_ = new PictureArea(this);
    minimise_->onPress = [this] { Handle([](app::TFlashSrcUiForm& f) { f.Image_min0MouseDown(); }); };
    minimise_->onRelease = [this](bool) { Handle([](app::TFlashSrcUiForm& f) { f.Image_min0MouseUp(); }); };
    close_ = new PictureArea(this);
    close_->setPicture(&pictures_->close);
    close_->onRelease = [this](bool inside) {
        if (inside) HandleWaiting([](app::TFlashSrcUiForm& f) { f.Image7Click(); });
    };
    closeArea_ = new PictureArea(this);
    closeArea_->onRelease = [this](bool inside) {
        if (inside) HandleWaiting([](app::TFlashSrcUiForm& f) { f.Label16Click(); });
    };
    heading_ = NewLabel(this);
    memo_ = new QPlainTextEdit(this);
    memo_->setReadOnly(true);
    memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
    line1_ = NewLabel(this);
    line2_ = NewLabel(this);
    progress_ = new QProgressBar(this);
    progress_->setTextVisible(false);
    // The status line of the other window styles: shown small at the bottom
    // edge so that Ready and Not Ready can be seen before the update. Once
    // the update page is up the pages say the rest (the line would go on
    // saying " Upgrading..." over the result).
    status_ = new QLabel(this);
    status_->setGeometry(8, 324, 497, 16);
    cancel_ = new PictureButton(pictures_->button, this);
    finish_ = new PictureButton(pictures_->button, this);
    next_ = new PictureButton(pictures_->button, this);
    connect(cancel_, &PictureButton::clicked, this, [this] { HandleWaiting([](app::TFlashSrcUiForm& f) { f.Label20Click(); }); });
    connect(finish_, &PictureButton::clicked, this, [this] { HandleWaiting([](app::TFlashSrcUiForm& f) { f.Label16Click(); }); });
    connect(next_, &PictureButton::clicked, this, [this] { HandleWaiting([](app::TFlashSrcUiForm& f) { f.nextButtonClick(); }); });

    // The Start and Finish pictures: each hands the mouse to the handler of
    // the picture its set shows (0 idle, 2 hovered) and shows what the form chose.
    const auto pictureSet = [this](void (app::TFlashSrcUiForm::*move)(), void (app::TFlashSrcUiForm::*idleUp)(),
                                   void (app::TFlashSrcUiForm::*down)(), void (app::TFlashSrcUiForm::*hoveredUp)(),
                                   const Control app::WindowControls::*set) {
        auto* area = new PictureArea(this);
        area->setCursor(Qt::PointingHandCursor);
        const auto shows = [this, set] { return (application_.form().controls().*set).pictureIndex; };
        area->onMove = [this, move, shows] {
            if (shows() == 0) Handle([move](app::TFlashSrcUiForm& f) { (f.*move)(); });
        };
        area->onPress = [this, down, shows] {
            if (shows() == 2) Handle([down](app::TFlashSrcUiForm& f) { (f.*down)(); });
        };
        area->onRelease = [this, idleUp, hoveredUp, shows](bool) {
            const auto up = shows() == 0 ? idleUp : hoveredUp;
            HandleWaiting([up](app::TFlashSrcUiForm& f) { (f.*up)(); });
        };
        area->hide();
        return area;
    };
    using Form = app::TFlashSrcUiForm;
    using Controls = app::WindowControls;
    start_ = pictureSet(&Form::Image_start0MouseMove, &Form::Image_start0MouseUp, &Form::Image_start2MouseDown,
                        &Form::Image_start2MouseUp, &Controls::Image_start0);
    startAlternate_ = pictureSet(&Form::Image_start0_0MouseMove, &Form::Image_start0_0MouseUp,
                                 &Form::Image_start2_2MouseDown, &Form::Image_start2_2MouseUp, &Controls::Image_start0_0);
    finishPictures_ = pictureSet(&Form::Image_finish0MouseMove, &Form::Image_finish0MouseUp,
                                 &Form::Image_finish2MouseDown, &Form::Image_finish2MouseUp, &Controls::Image_finish0);
    warning7921_ = NewLabel(this);

    BuildCompactPanels();

    popup_ = new QMenu(this);
    reupdate_ = popup_->addAction(QString());
    connect(reupdate_, &QAction::triggered, this, [this] { HandleWaiting([](Form& f) { f.Reupdate1Click(); }); });
}

void MainWindow::BuildCompactPanels() {
    const app::WindowControls& c = application_.form().controls();
    groupBox1_ = NewPanel(this);
    runningPicture_ = NewPicture(groupBox1_, c.Image_custom_running, pictures_->updating);
    customRunning_ = NewLabel(groupBox1_);
    customWarning_ = NewLabel(groupBox1_);
    smallGauge_ = new QProgressBar(groupBox1_);
    smallGauge_->setTextVisible(false);
    groupBox2_ = NewPanel(this);
    successPicture_ = NewPicture(groupBox2_, c.Image_custom_success, pictures_->success);
    customOperator_ = NewLabel(groupBox2_);
    customClient_ = NewLabel(groupBox2_);
    customNew_ = NewLabel(groupBox2_);
    customVersion_ = NewLabel(groupBox2_);
    customExit_ = NewLabel(groupBox2_);
    speedButton1_ = new QPushButton(groupBox2_);
    connect(speedButton1_, &QPushButton::clicked, this,
            [this] { HandleWaiting([](app::TFlashSrcUiForm& f) { f.SpeedButton1Click(); }); });
    groupBox4_ = NewPanel(this);
    failurePicture_ = NewPicture(groupBox4_, c.Image_custom_failure, pictures_->failure);
    speedButton2_ = new QPushButton(groupBox4_);
    connect(speedButton2_, &QPushButton::clicked, this,
            [this] { HandleWaiting([](app::TFlashSrcUiForm& f) { f.SpeedButton2Click(); }); });
}

template <class Handler>
void MainWindow::Handle(Handler handler) {
    if (putAway_) return;
    handler(application_.form());
    Render();
}

template <class Handler>
void MainWindow::HandleWaiting(Handler handler) {
    const Waits waits(dialogs_);
    Handle(handler);
}

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
        app::TFlashSrcUiForm& form = application_.form();
        form.queue().onPosted = nullptr;
        form.onCloseRequested = nullptr;
        form.onMinimise = nullptr;
        form.onProcessMessages = nullptr;
    }
}

void MainWindow::Drain() {
    ++drains_;
    if (QThread::currentThread() != thread()) drainedOffThread_ = true;
    if (putAway_) return;
    application_.form().queue().Drain();
    Render();
}

void MainWindow::RenderFrame() {
    const app::WindowFrame& frame = application_.form().controls().Frame;
    setWindowTitle(Text(frame.caption));
    if (size() != QSize(frame.width, frame.height)) setFixedSize(frame.width, frame.height);
    // The form moved the window (a drag, a resize about the centre): by as
    // much from where it stands, whatever the system's frame adds.
    const QPoint place(frame.position.left, frame.position.top);
    if (place != placed_) {
        move(pos() + (place - placed_));
        placed_ = place;
    }
}

void MainWindow::Render() {
    if (putAway_) return;
    const app::WindowControls& c = application_.form().controls();
    RenderFrame();
    Apply(*title_, c.Label12);
    Show(*minimise_, c.Image6);
    minimise_->setPicture(&pictures_->minimise[c.Image_min1.visible ? 1 : 0]);
    Show(*close_, c.Image7);
    Show(*closeArea_, c.Label18);
    Apply(*heading_, c.Label13);
    Apply(*line1_, c.Label14);
    Apply(*line2_, c.Label15);
    Show(*memo_, c.Memo1);
    memo_->setFont(FontOf(c.Memo1.font));
    if (memo_->toPlainText() != Text(c.Memo1.text)) memo_->setPlainText(Text(c.Memo1.text));
    Apply(*progress_, c.ProgressBar);
    Write(*status_, c.Label_status);
    status_->setVisible(c.Label_status.visible && c.Label20.visible);
    Apply(*cancel_, c.Image16, c.Label20);
    Apply(*finish_, c.Image4, c.Label16);
    Apply(*next_, c.Image17, c.Label21);
    Apply(*start_, c.Image_start0, pictures_->start);
    Apply(*startAlternate_, c.Image_start0_0, pictures_->startAlternate);
    Apply(*finishPictures_, c.Image_finish0, pictures_->finish);
    Apply(*warning7921_, c.Label_warning_7921);

    ShowPanel(*groupBox1_, c.GroupBox1);
    Apply(*customRunning_, c.Label_custom_running);
    Apply(*customWarning_, c.Label_custom_warning);
    Apply(*smallGauge_, c.CGauge1);
    ShowPanel(*groupBox2_, c.GroupBox2);
    Apply(*customOperator_, c.Label_custom_operator);
    Apply(*customClient_, c.Label_custom_client);
    Apply(*customNew_, c.Label_custom_new);
    Apply(*customVersion_, c.Label_CustomVersion);
    Apply(*customExit_, c.Label_custom_exit);
    Apply(*speedButton1_, c.SpeedButton1);
    ShowPanel(*groupBox4_, c.GroupBox4);
    Apply(*speedButton2_, c.SpeedButton2);

    reupdate_->setText(Text(c.Reupdate1.text));
    reupdate_->setVisible(c.Reupdate1.visible);
    reupdate_->setEnabled(c.Reupdate1.enabled);

    if (c.Timer1.enabled && !timer1_.isActive()) timer1_.start();
    if (!c.Timer1.enabled) timer1_.stop();
    // Start-up's timer found no device, or Start's device check failed: the
    // box has been shown, the program ends.
    if (application_.Ending()) QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

void MainWindow::paintEvent(QPaintEvent*) {
    // A screen of another pixel ratio (the window moved to it): the pictures
    // are drawn again for it, in place, so the widgets keep theirs.
    if (devicePixelRatioF() != pictures_->ratio) {
        *pictures_ = WindowPictures(devicePixelRatioF(), application_.form().controls());
    }
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    const Control& background = application_.form().controls().Image_Big;
    if (background.visible) {
        painter.drawPixmap(QRect(background.position.left, background.position.top, background.width,
                                 background.height),
                           pictures_->background);
    }
}

// The background picture: any button's press starts a drag, every move
// refreshes the Start pictures (and drags), the release ends the drag; the
// right button's release opens the menu.
void MainWindow::mousePressEvent(QMouseEvent* event) {
    const app::Position at = ScreenPosition(*event);
    Handle([at](app::TFlashSrcUiForm& form) { form.Image_BigMouseDown(at); });
}

void MainWindow::mouseMoveEvent(QMouseEvent* event) {
    const app::Position at = ScreenPosition(*event);
    Handle([at](app::TFlashSrcUiForm& form) { form.Image_BigMouseMove(at); });
}

void MainWindow::mouseReleaseEvent(QMouseEvent* event) {
    Handle([](app::TFlashSrcUiForm& form) { form.Image_BigMouseUp(); });
    if (event->button() == Qt::RightButton && reupdate_->isVisible()) {
        popup_->popup(event->globalPosition().toPoint());
    }
}

void MainWindow::moveEvent(QMoveEvent*) {
    // Moved by the system (or first placed by it): the form keeps where the
    // window stands, so that its next drag starts from there.
    // A window with a frame may stand a frame's width from where it was
    // asked to go; it keeps to the form's moves without telling the form.
    if (putAway_ || !(windowFlags() & Qt::FramelessWindowHint)) return;
    placed_ = pos();
    application_.form().controls().Frame.position = {placed_.x(), placed_.y()};
}

void MainWindow::closeEvent(QCloseEvent* event) {
    const Waits waits(dialogs_);
    if (!putAway_ && !application_.form().FormCloseQuery()) {
        event->ignore();
        return;
    }
    PutAway();
    event->accept();
}

}  // namespace firmora::ui
