#include "ui/guide_window.h"

#include <QCheckBox>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>

#include "ui/picture_button.h"
#include "ui/window_fonts.h"

namespace firmora::ui {
namespace {

using windows::Control;

QString Text(const std::string& text) { return QString::fromStdString(text); }

// The page wizards' layout: pages fill the area above a rule, the buttons
// sit in a row under it.
constexpr int kPageHeight = 270;
constexpr int kButtonTop = 288;
constexpr int kButtonWidth = 82;
constexpr int kButtonHeight = 25;
constexpr int kBannerWidth = 140;

// A small modem with its signal arcs, the wizards' picture.
void PaintModem(QPainter& painter, QPointF centre, double scale) {
    painter.save();
    painter.translate(centre);
    painter.scale(scale, scale);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x1b, 0x3d, 0x6e), 2));
    painter.setBrush(QColor(0xf4, 0xf7, 0xfb));
    painter.drawRoundedRect(QRectF(-14, -30, 28, 60), 6, 6);
    painter.setBrush(QColor(0x9a, 0xa7, 0xb8));
    painter.drawRect(QRectF(-8, 30, 16, 12));  // the USB plug
    painter.setBrush(QColor(0x3c, 0xb3, 0x71));
    painter.drawEllipse(QPointF(0, -18), 3, 3);  // the status light
    painter.setBrush(Qt::NoBrush);
    for (int arc = 1; arc <= 3; ++arc) {
        const double r = 10.0 * arc;
        painter.drawArc(QRectF(-r, -48 - r, 2 * r, 2 * r), 45 * 16, 90 * 16);
    }
    painter.restore();
}

void Apply(QPushButton& button, const Control& control) {
    button.setText(Text(control.text));
    button.setFont(FontOf(control.font));
    button.setVisible(control.visible);
    button.setEnabled(control.enabled);
}

void Apply(QLabel& label, const Control& control) {
    label.setText(Text(control.text));
    label.setFont(FontOf(control.font));
    label.setVisible(control.visible);
}

void Apply(PictureButton& button, const Control& control) {
    button.setText(Text(control.text));
    button.setFont(FontOf(control.font));
    button.setVisible(control.visible);
    button.setEnabled(control.enabled);
}

QPushButton* MakeButton(QWidget* parent, const char* name, int left) {
    auto* button = new QPushButton(parent);
    button->setObjectName(name);
    button->setGeometry(left, kButtonTop, kButtonWidth, kButtonHeight);
    return button;
}

PictureButton* MakePictureButton(QWidget* parent, const char* name, QRect where, const PictureSet& faces) {
    auto* button = new PictureButton(faces, parent);
    button->setObjectName(name);
    button->setGeometry(where);
    return button;
}

QLabel* MakeWrappedLabel(QWidget* parent, const char* name, QRect where) {
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setGeometry(where);
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

}  // namespace

// One page of a page wizard: its text, and on the welcome-like pages the
// wizard's picture in a banner down the left side.
class GuidePanel final : public QWidget {
public:
    GuidePanel(QWidget* parent, const char* name, int width, bool banner) : QWidget(parent), banner_(banner) {
        setObjectName(name);
        setGeometry(0, 0, width, kPageHeight);
        const int left = banner ? kBannerWidth + 16 : 16;
        text_ = MakeWrappedLabel(this, "", QRect(left, 16, width - left - 16, banner ? 236 : 196));
    }
    void Set(const Control& control) {
        Apply(*text_, control);
        setVisible(control.visible);
    }
    QString text() const { return text_->text(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::white);
        if (banner_) {
            QLinearGradient gradient(0, 0, 0, height());
            gradient.setColorAt(0, QColor(0x2f, 0x6f, 0xc0));
            gradient.setColorAt(1, QColor(0x14, 0x36, 0x6a));
            painter.fillRect(QRect(0, 0, kBannerWidth, height()), gradient);
            PaintModem(painter, QPointF(kBannerWidth / 2.0, height() / 2.0), 1.4);
        }
    }

private:
    bool banner_;
    QLabel* text_;
};

PageGuideWindow::PageGuideWindow(const platform::GuideRequest& request, platform::Dialogs& dialogs, QWidget* parent)
    : ModalWindow(parent, Qt::Dialog | Qt::WindowCloseButtonHint | Qt::WindowTitleHint),
      model_(std::make_unique<windows::PageGuide>(request, windows::ProductOf(request), dialogs)) {
    const int width = model_->Frame.width;
    setFixedSize(width, model_->Frame.height);
    welcome_ = new GuidePanel(this, "GroupBox1", width, true);
    licence_ = new GuidePanel(this, "GroupBox3", width, false);
    notes_ = new GuidePanel(this, "GroupBox4", width, false);
    confirmation_ = new GuidePanel(this, "GroupBox6", width, true);
    secondLicence_ = new GuidePanel(this, "GroupBox8", width, false);
    notice_ = new GuidePanel(this, "GroupBox10", width, true);
    // One agreement box serves both licence pages.
    agreement_ = new QCheckBox(this);
    agreement_->setObjectName("CheckBox1");
    agreement_->setGeometry(16, 228, width - 32, 24);

    const int cancelLeft = width - 12 - kButtonWidth;
    const int nextLeft = cancelLeft - 12 - kButtonWidth;
    back_ = MakeButton(this, "ButtonBack", nextLeft - kButtonWidth);
    next_ = MakeButton(this, "ButtonNext", nextLeft);
    finish_ = MakeButton(this, "ButtonFinish", nextLeft);
    cancel_ = MakeButton(this, "ButtonCancel", cancelLeft);
    next_->setDefault(true);

    connect(back_, &QPushButton::clicked, this, [this] { model_->BackClick(); Step(); });
    connect(next_, &QPushButton::clicked, this, [this] { model_->NextClick(); Step(); });
    connect(finish_, &QPushButton::clicked, this, [this] { model_->FinishClick(); Step(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { model_->CancelClick(); Step(); });
    connect(agreement_, &QCheckBox::clicked, this, [this](bool ticked) { model_->AgreementClick(ticked); Step(); });
    Render();
}

PageGuideWindow::~PageGuideWindow() = default;

void PageGuideWindow::Render() {
    const windows::PageGuide& g = *model_;
    setWindowTitle(Text(g.Frame.caption));
    welcome_->Set(g.GroupBox1);
    licence_->Set(g.GroupBox3);
    notes_->Set(g.GroupBox4);
    confirmation_->Set(g.GroupBox6);
    secondLicence_->Set(g.GroupBox8);
    notice_->Set(g.GroupBox10);
    {
        const QSignalBlocker quiet(agreement_);
        agreement_->setText(Text(g.CheckBox1.text));
        agreement_->setFont(FontOf(g.CheckBox1.font));
        agreement_->setChecked(g.CheckBox1.checked);
    }
    agreement_->setVisible(g.CheckBox1.visible && (g.GroupBox3.visible || g.GroupBox8.visible));
    agreement_->raise();
    Apply(*back_, g.ButtonBack);
    Apply(*next_, g.ButtonNext);
    Apply(*cancel_, g.ButtonCancel);
    Apply(*finish_, g.ButtonFinish);
    update();
}

windows::ModalResult PageGuideWindow::CloseQuery() {
    const bool closes = model_->CloseQuery();
    Render();
    return closes ? model_->result() : windows::ModalResult::None;
}

SetupGuideWindow::SetupGuideWindow(const platform::GuideRequest& request, QWidget* parent)
    : ModalWindow(parent, Qt::Dialog | Qt::WindowCloseButtonHint | Qt::WindowTitleHint),
      model_(std::make_unique<windows::SetupGuide>(request, ScreenCentre())),
      faces_(ButtonFaces(QSize(96, 28), devicePixelRatioF())) {
    // Welcome (480 x 250).
    welcome_ = MakeWrappedLabel(this, "Label_welcome", QRect(24, 72, 432, 104));
    install_ = MakePictureButton(this, "ButtonInstall", QRect(256, 200, 96, 28), faces_);
    exit_ = MakePictureButton(this, "ButtonExit", QRect(364, 200, 96, 28), faces_);
    // Licence and steps (510 x 395).
    licence_ = new QPlainTextEdit(this);
    licence_->setObjectName("Memo_licence");
    licence_->setGeometry(16, 16, 478, 256);
    licence_->setReadOnly(true);
    agree_ = new QRadioButton(this);
    agree_->setObjectName("RadioAgree");
    agree_->setGeometry(16, 284, 478, 22);
    disagree_ = new QRadioButton(this);
    disagree_->setObjectName("RadioDisagree");
    disagree_->setGeometry(16, 310, 478, 22);
    // The model decides which one is chosen.
    agree_->setAutoExclusive(false);
    disagree_->setAutoExclusive(false);
    const QRect nextPlace(290, 350, 96, 28);
    const QRect cancelPlace(398, 350, 96, 28);
    next_ = MakePictureButton(this, "ButtonNext", nextPlace, faces_);
    nextInactive_ = MakePictureButton(this, "Image_next_inactive", nextPlace, faces_);
    nextInactive_->setEnabled(false);
    steps_ = MakeWrappedLabel(this, "Label_steps", QRect(16, 16, 478, 300));
    start_ = MakePictureButton(this, "ButtonStart", nextPlace, faces_);
    cancel_ = MakePictureButton(this, "ButtonCancel", cancelPlace, faces_);
    // Device missing (300 x 165).
    missing_ = MakeWrappedLabel(this, "Label_device_missing", QRect(16, 16, 268, 90));
    missingOk_ = MakePictureButton(this, "ButtonDeviceMissing", QRect(102, 122, 96, 28), faces_);

    connect(install_, &PictureButton::clicked, this, [this] { model_->InstallClick(); Step(); });
    connect(exit_, &PictureButton::clicked, this, [this] { model_->ExitClick(); Step(); });
    connect(agree_, &QRadioButton::clicked, this, [this] { model_->AgreeClick(); Step(); });
    connect(disagree_, &QRadioButton::clicked, this, [this] { model_->DisagreeClick(); Step(); });
    connect(next_, &PictureButton::clicked, this, [this] { model_->NextClick(); Step(); });
    connect(start_, &PictureButton::clicked, this, [this] { model_->StartClick(); Step(); });
    connect(cancel_, &PictureButton::clicked, this, [this] { model_->CancelClick(); Step(); });
    connect(missingOk_, &PictureButton::clicked, this, [this] { model_->DeviceMissingClick(); Step(); });
    Render();
}

SetupGuideWindow::~SetupGuideWindow() = default;

void SetupGuideWindow::Render() {
    const windows::SetupGuide& g = *model_;
    const windows::GuideFrame& frame = g.Frame;
    // A change of border re-creates the native window, which hides it.
    const bool frameless = !frame.bordered;
    if (windowFlags().testFlag(Qt::FramelessWindowHint) != frameless) {
        const bool shown = isVisible();
        setWindowFlag(Qt::FramelessWindowHint, frameless);
        if (shown && !ended()) show();
    }
    // The frame's rectangle is the window's inside, so that its centre stays
    // put whatever border the window system adds.
    setWindowTitle(Text(frame.caption));
    setFixedSize(frame.width, frame.height);
    setGeometry(frame.position.left, frame.position.top, frame.width, frame.height);

    Apply(*welcome_, g.Label_welcome);
    Apply(*install_, g.ButtonInstall);
    Apply(*exit_, g.ButtonExit);
    licence_->setPlainText(Text(g.Memo_licence.text));
    licence_->setFont(FontOf(g.Memo_licence.font));
    licence_->setVisible(g.Memo_licence.visible);
    for (auto [radio, control] : {std::pair{agree_, &g.RadioAgree}, std::pair{disagree_, &g.RadioDisagree}}) {
        const QSignalBlocker quiet(radio);
        radio->setText(Text(control->text));
        radio->setFont(FontOf(control->font));
        radio->setChecked(control->checked);
        radio->setVisible(control->visible);
    }
    Apply(*next_, g.ButtonNext);
    nextInactive_->setText(next_->text());
    nextInactive_->setVisible(g.Image_next_inactive.visible);
    Apply(*steps_, g.Label_steps);
    Apply(*start_, g.ButtonStart);
    Apply(*cancel_, g.ButtonCancel);
    Apply(*missing_, g.Label_device_missing);
    Apply(*missingOk_, g.ButtonDeviceMissing);
    update();
}

windows::ModalResult SetupGuideWindow::CloseQuery() {
    model_->Close();
    return model_->result();
}

void SetupGuideWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (model_->page() != windows::SetupGuide::Page::Welcome) {
        painter.fillRect(rect(), palette().window());
        return;
    }
    // The borderless welcome: its own picture, with the title and a frame.
    QLinearGradient gradient(0, 0, width(), height());
    gradient.setColorAt(0, QColor(0xe9, 0xf1, 0xfb));
    gradient.setColorAt(1, QColor(0xb9, 0xcf, 0xeb));
    painter.fillRect(rect(), gradient);
    painter.fillRect(QRect(0, 0, width(), 56), QColor(0x1f, 0x4f, 0x8f));
    PaintModem(painter, QPointF(34, 38), 0.36);
    painter.setPen(Qt::white);
    QFont title = font();
    title.setPixelSize(18);
    title.setBold(true);
    painter.setFont(title);
    painter.drawText(QRect(64, 0, width() - 80, 56), Qt::AlignLeft | Qt::AlignVCenter, Text(model_->Frame.caption));
    painter.setPen(QColor(0x1f, 0x4f, 0x8f));
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace firmora::ui
