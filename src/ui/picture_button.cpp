#include "ui/picture_button.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>

namespace firmora::ui {

PictureButton::PictureButton(const PictureSet& pictures, QWidget* parent, const QString& text)
    : QWidget(parent), pictures_(pictures), text_(text) {
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
    QPainter painter(this);
    painter.drawPixmap(rect(), pictures_[picture_]);
    if (text_.isEmpty()) return;
    // The label over the picture: a pixel lower while pressed, grey while unavailable.
    painter.setPen(picture_ == Unavailable ? QColor(0x80, 0x80, 0x80) : QColor(Qt::white));
    painter.drawText(rect().translated(0, picture_ == Pressed ? 1 : 0), Qt::AlignCenter, text_);
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

PictureArea::PictureArea(QWidget* parent) : QWidget(parent) { setMouseTracking(true); }

void PictureArea::setPicture(const QPixmap* picture) {
    if (picture == picture_) return;
    picture_ = picture;
    update();
}

void PictureArea::paintEvent(QPaintEvent*) {
    if (picture_ == nullptr) return;
    QPainter painter(this);
    painter.drawPixmap(rect(), *picture_);
}

void PictureArea::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && onPress) onPress();
}

void PictureArea::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && onRelease) onRelease(rect().contains(event->position().toPoint()));
}

void PictureArea::mouseMoveEvent(QMouseEvent*) {
    if (onMove) onMove();
}

}  // namespace firmora::ui
