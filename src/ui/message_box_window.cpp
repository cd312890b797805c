#include "ui/message_box_window.h"

#include <QEnterEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include "ui/window_fonts.h"

namespace firmora::ui {
namespace {

using windows::MessageBoxModel;

constexpr int kWidth = 380;
constexpr int kHeight = 176;

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

BoxButton::BoxButton(QWidget* parent, const char* name) : QWidget(parent) {
    setObjectName(name);
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::NoFocus);
}

void BoxButton::Set(const windows::Control& picture, const windows::Control& label) {
    picture_ = picture.pictureIndex;
    text_ = Text(label.text);
    setFont(FontOf(label.font));
    setVisible(picture.visible);
    update();
}

void BoxButton::paintEvent(QPaintEvent*) {
    // The four pictures: grey at rest, darker and a pixel lower when pressed,
    // a warm glow with a blue ring when highlighted, faded when unused.
    QColor top(0xfa, 0xfa, 0xfa);
    QColor bottom(0xd6, 0xd9, 0xde);
    QColor edge(0x8a, 0x90, 0x99);
    QColor ink(0x20, 0x20, 0x20);
    int shift = 0;
    switch (picture_) {
    case MessageBoxModel::kPressed:
        top = QColor(0xc4, 0xc9, 0xd1);
        bottom = QColor(0xe6, 0xe8, 0xec);
        shift = 1;
        break;
    case MessageBoxModel::kHighlighted:
        top = QColor(0xff, 0xf6, 0xdc);
        bottom = QColor(0xf6, 0xd3, 0x7c);
        edge = QColor(0x2f, 0x6f, 0xc0);
        break;
    case 3:
        ink = QColor(0xa0, 0xa0, 0xa0);
        edge = QColor(0xc0, 0xc0, 0xc0);
        break;
    default: break;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    painter.setBrush(gradient);
    painter.setPen(QPen(edge, picture_ == MessageBoxModel::kHighlighted ? 2 : 1));
    painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 4, 4);
    painter.setPen(ink);
    painter.drawText(rect().translated(0, shift), Qt::AlignCenter, text_);
}

void BoxButton::enterEvent(QEnterEvent*) { Q_EMIT entered(); }

void BoxButton::leaveEvent(QEvent*) { Q_EMIT left(); }

void BoxButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) Q_EMIT pressed();
}

void BoxButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) Q_EMIT released(rect().contains(event->position().toPoint()));
}

MessageBoxWindow::MessageBoxWindow(int projectIndex, QWidget* parent)
    : ModalWindow(parent, Qt::Dialog | Qt::FramelessWindowHint),
      model_(std::make_unique<MessageBoxModel>(projectIndex)) {
    setFixedSize(kWidth, kHeight);
    setFocusPolicy(Qt::StrongFocus);
    title_ = new QLabel(this);
    title_->setObjectName("Label_title");
    title_->setGeometry(14, 6, kWidth - 28, 22);
    title_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    title_->setStyleSheet("color: white");
    message_ = new QLabel(this);
    message_->setObjectName("Label_message");
    message_->setGeometry(72, 42, kWidth - 88, 78);
    message_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    message_->setWordWrap(true);
    ok_ = new BoxButton(this, "Label_ok");
    ok_->setGeometry(kWidth / 2 - 104, 130, 92, 30);
    cancel_ = new BoxButton(this, "Label_cancel");
    cancel_->setGeometry(kWidth / 2 + 12, 130, 92, 30);
    Forward(MessageBoxModel::Button::Ok, *ok_);
    Forward(MessageBoxModel::Button::Cancel, *cancel_);

    const QRect around = parent != nullptr ? parent->frameGeometry() : QRect();
    const windows::Position centre = parent != nullptr ? windows::Position{around.center().x(), around.center().y()}
                                                       : ScreenCentre();
    move(centre.left - kWidth / 2, centre.top - kHeight / 2);
    Render();
}

MessageBoxWindow::~MessageBoxWindow() = default;

void MessageBoxWindow::Forward(MessageBoxModel::Button which, BoxButton& button) {
    connect(&button, &BoxButton::entered, this, [this, which] { model_->MouseEnter(which); Step(); });
    connect(&button, &BoxButton::left, this, [this, which] { model_->MouseLeave(which); Step(); });
    connect(&button, &BoxButton::pressed, this, [this, which] { model_->MouseDown(which); Step(); });
    connect(&button, &BoxButton::released, this, [this, which](bool inside) {
        // A press dragged off the label and let go there is dropped.
        if (inside) {
            model_->MouseUp(which);
        } else {
            model_->MouseLeave(which);
        }
        Step();
    });
}

void MessageBoxWindow::Render() {
    const MessageBoxModel& m = *model_;
    title_->setText(Text(m.Label_title.text));
    title_->setFont(FontOf(m.Label_title.font));
    message_->setText(Text(m.Label_message.text));
    message_->setFont(FontOf(m.Label_message.font));
    ok_->Set(m.Image_ok, m.Label_ok);
    cancel_->Set(m.Image_cancel, m.Label_cancel);
    setWindowTitle(title_->text());
    update();
}

windows::ModalResult MessageBoxWindow::CloseQuery() { return windows::ModalResult::Cancel; }

void MessageBoxWindow::Showing() {
    // Each showing starts again with Cancel highlighted.
    model_->Show();
    Render();
    setFocus();
}

bool MessageBoxWindow::event(QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab && key->modifiers() == Qt::NoModifier) {
            model_->KeyDown(MessageBoxModel::Key::Tab);
            Step();
            return true;
        }
    }
    return ModalWindow::event(event);
}

void MessageBoxWindow::keyPressEvent(QKeyEvent* event) {
    using Key = MessageBoxModel::Key;
    Key key{};
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: key = Key::Enter; break;
    case Qt::Key_Left: key = Key::Left; break;
    case Qt::Key_Up: key = Key::Up; break;
    case Qt::Key_Right: key = Key::Right; break;
    case Qt::Key_Down: key = Key::Down; break;
    case Qt::Key_Escape: key = Key::Escape; break;
    default: ModalWindow::keyPressEvent(event); return;
    }
    model_->KeyDown(key);
    Step();
}

void MessageBoxWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    // The background picture: a title band over a soft body, framed.
    QLinearGradient body(0, 0, 0, height());
    body.setColorAt(0, QColor(0xfd, 0xfd, 0xfe));
    body.setColorAt(1, QColor(0xe4, 0xea, 0xf2));
    painter.fillRect(rect(), body);
    QLinearGradient band(0, 0, 0, 34);
    band.setColorAt(0, QColor(0x3a, 0x7b, 0xd0));
    band.setColorAt(1, QColor(0x1f, 0x4f, 0x8f));
    painter.fillRect(QRect(0, 0, width(), 34), band);
    painter.setPen(QColor(0x1f, 0x4f, 0x8f));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    if (!model_->Image_warning.visible) return;
    // The warning sign: a yellow triangle with an exclamation mark.
    QPainterPath triangle;
    triangle.moveTo(40, 46);
    triangle.lineTo(62, 86);
    triangle.lineTo(18, 86);
    triangle.closeSubpath();
    painter.setPen(QPen(QColor(0x9a, 0x6b, 0x00), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(QColor(0xff, 0xcc, 0x1f));
    painter.drawPath(triangle);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x20, 0x20, 0x20));
    painter.drawRoundedRect(QRectF(38, 58, 4, 16), 2, 2);
    painter.drawEllipse(QPointF(40, 79), 2.5, 2.5);
}

}  // namespace firmora::ui
