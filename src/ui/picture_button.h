#pragma once
// A picture button: four pictures of one button, one shown at a time
// (0 normal, 1 pressed, 2 hovered, 3 disabled), with the label's text laid
// over it. Hover shows 2 while enabled, a press 1, the release inside the
// button clicks it; a disabled button shows 3 and takes no clicks.

#include <QWidget>

#include <functional>

#include "ui/window_pictures.h"

namespace firmora::ui {

class PictureButton final : public QWidget {
    Q_OBJECT
public:
    enum Picture { Normal = 0, Pressed = 1, Hovered = 2, Unavailable = 3 };

    // `pictures` outlive the button (the window redraws them in place when
    // the screen's pixel ratio changes).
    PictureButton(const PictureSet& pictures, QWidget* parent, const QString& text = QString());
    int picture() const { return picture_; }
    QString text() const { return text_; }
    void setText(const QString& text);

Q_SIGNALS:
    void clicked();

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void Show(int picture);

    const PictureSet& pictures_;
    QString text_;
    int picture_ = Normal;
};

// One picture the window's form switches (or, without one, a bare click
// area): it reports the mouse to the window, which hands it to the form's
// handlers and then shows the picture the form chose.
class PictureArea final : public QWidget {
public:
    explicit PictureArea(QWidget* parent);
    const QPixmap* picture() const { return picture_; }
    // `picture` outlives the area; null shows nothing.
    void setPicture(const QPixmap* picture);

    std::function<void()> onPress;
    // After a press: whether the release was inside the area (a click).
    std::function<void(bool inside)> onRelease;
    std::function<void()> onMove;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    const QPixmap* picture_ = nullptr;
};

}  // namespace firmora::ui
