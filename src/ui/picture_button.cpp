#include "ui/picture_button.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

namespace firmora::ui {

PictureButton::PictureButton(const QString& text, QWidget* parent) : QWidget(parent), text_(text) {
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
}

void PictureButton::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    update();
}

void PictureButton::Show(int picture) {
    if (picture == picture_) return;
    picture_ = picture;
    update();
}

void PictureButton::paintEvent(QPaintEvent*) {
    // One face per picture: blue at rest, lighter under the mouse, darker and
    // shifted down a pixel when pressed, grey when unavailable.
    QColor face(0x2f, 0x6f, 0xc0);
    QColor label(Qt::white);
    int shift = 0;
    switch (picture_) {
    case Hovered: face = QColor(0x4a, 0x8c, 0xe0); break;
    case Pressed: face = QColor(0x1e, 0x4f, 0x90); shift = 1; break;
    case Unavailable: face = QColor(0xc8, 0xc8, 0xc8); label = QColor(0x80, 0x80, 0x80); break;
    default: break;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient gradient(0, 0, 0, height());
    gradient.setColorAt(0, face.lighter(125));
    gradient.setColorAt(1, face);
    painter.setBrush(gradient);
    painter.setPen(face.darker(130));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 5, 5);
    painter.setPen(label);
    painter.drawText(rect().translated(0, shift), Qt::AlignCenter, text_);
}

void PictureButton::enterEvent(QEnterEvent*) {
    if (isEnabled() && picture_ == Normal) Show(Hovered);
}

void PictureButton::leaveEvent(QEvent*) {
    if (isEnabled() && picture_ == Hovered) Show(Normal);
}

void PictureButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && isEnabled()) Show(Pressed);
}

void PictureButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || picture_ != Pressed) return;
    const bool inside = rect().contains(event->position().toPoint());
    Show(inside ? Hovered : Normal);
    if (inside) Q_EMIT clicked();
}

void PictureButton::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange) Show(isEnabled() ? Normal : Unavailable);
    QWidget::changeEvent(event);
}

}  // namespace firmora::ui
