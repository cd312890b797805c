#include "ui/window_pictures.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <functional>

namespace firmora::ui {
namespace {

const QColor kBlue(0x2f, 0x6f, 0xc0);
const QColor kGreen(0x2e, 0x9d, 0x4f);
const QColor kOrange(0xe0, 0x7b, 0x1f);
const QColor kRed(0xc8, 0x3a, 0x32);
const QColor kGrey(0xc8, 0xc8, 0xc8);

// A transparent picture of `size` logical pixels for a screen of `ratio`.
QPixmap Canvas(QSize size, qreal ratio) {
    QPixmap pixmap(size * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// A painter in logical pixels with smooth edges.
class Painter : public QPainter {
public:
    explicit Painter(QPixmap& pixmap) : QPainter(&pixmap) {
        setRenderHint(QPainter::Antialiasing);
        setRenderHint(QPainter::TextAntialiasing);
    }
};

QSize SizeOf(const app::Control& control) { return {std::max(control.width, 1), std::max(control.height, 1)}; }

QPixmap Background(qreal ratio, QSize size) {
    QPixmap pixmap = Canvas(size, ratio);
    Painter p(pixmap);
    const QRectF all(QPointF(0, 0), size);
    QLinearGradient sky(0, 0, 0, all.height());
    sky.setColorAt(0, QColor(0xf4, 0xf8, 0xfd));
    sky.setColorAt(1, QColor(0xdc, 0xe8, 0xf6));
    p.fillRect(all, sky);
    // Soft waves along the bottom, behind the buttons.
    for (int wave = 0; wave < 3; ++wave) {
        QPainterPath path;
        const qreal base = all.height() * 0.76 + wave * 14;
        path.moveTo(0, base);
        path.cubicTo(all.width() * 0.27, base - 26, all.width() * 0.64, base + 26, all.width(), base - 8);
        path.lineTo(all.width(), all.height());
        path.lineTo(0, all.height());
        path.closeSubpath();
        QColor tint = kBlue;
        tint.setAlpha(18 + wave * 10);
        p.fillPath(path, tint);
    }
    // The title band and a frame, since the window has no border of its own.
    QLinearGradient band(0, 0, 0, 32);
    band.setColorAt(0, kBlue.lighter(120));
    band.setColorAt(1, kBlue);
    p.fillRect(QRectF(0, 0, all.width(), 32), band);
    p.setPen(QPen(QColor(0x9a, 0xb4, 0xd6), 1));
    p.drawRect(all.adjusted(0.5, 0.5, -0.5, -0.5));
    return pixmap;
}

// A rounded face in `colour` for `picture` (0 normal, 1 pressed, 2 hovered,
// 3 disabled): lighter under the mouse, darker and a pixel lower when
// pressed, grey when unavailable.
void Face(QPainter& p, QRectF area, QColor colour, int picture, qreal radius) {
    switch (picture) {
    case 1: colour = colour.darker(135); area.translate(0, 1); break;
    case 2: colour = colour.lighter(125); break;
    case 3: colour = kGrey; break;
    default: break;
    }
    QLinearGradient gradient(area.topLeft(), area.bottomLeft());
    gradient.setColorAt(0, colour.lighter(130));
    gradient.setColorAt(0.5, colour);
    gradient.setColorAt(1, colour.darker(110));
    p.setBrush(gradient);
    p.setPen(QPen(colour.darker(140), 1));
    p.drawRoundedRect(area.adjusted(0.5, 0.5, -0.5, -1.5), radius, radius);
}

PictureSet Faces(QSize size, qreal ratio, QColor colour, const QString& text) {
    PictureSet set;
    for (int picture = 0; picture < 4; ++picture) {
        set[picture] = Canvas(size, ratio);
        Painter p(set[picture]);
        Face(p, QRectF(QPointF(0, 0), size), colour, picture, size.height() / 4.0);
        if (text.isEmpty()) continue;
        QFont font("MS UI Gothic");
        font.setPixelSize(size.height() * 2 / 5);
        font.setBold(true);
        p.setFont(font);
        p.setPen(picture == 3 ? QColor(0x80, 0x80, 0x80) : QColor(Qt::white));
        p.drawText(QRectF(QPointF(0, picture == 1 ? 1 : 0), size), Qt::AlignCenter, text);
    }
    return set;
}

std::array<QPixmap, 2> Minimise(qreal ratio, QSize size) {
    std::array<QPixmap, 2> pictures;
    const QRectF area = QRectF(QPointF(0, 0), size).adjusted(0.5, 0.5, -0.5, -0.5);
    for (int pressed = 0; pressed < 2; ++pressed) {
        pictures[pressed] = Canvas(size, ratio);
        Painter p(pictures[pressed]);
        p.setBrush(pressed ? QColor(255, 255, 255, 90) : QColor(255, 255, 255, 40));
        p.setPen(QPen(QColor(255, 255, 255, 160), 1));
        p.drawRoundedRect(area, 3, 3);
        p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
        const qreal line = area.height() * 0.68 + pressed;
        p.drawLine(QPointF(area.width() * 0.25, line), QPointF(area.width() * 0.75, line));
    }
    return pictures;
}

QPixmap Close(qreal ratio, QSize size) {
    QPixmap pixmap = Canvas(size, ratio);
    Painter p(pixmap);
    const QRectF area = QRectF(QPointF(0, 0), size).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setBrush(kRed);
    p.setPen(QPen(kRed.darker(130), 1));
    p.drawRoundedRect(area, 3, 3);
    p.setPen(QPen(Qt::white, 2, Qt::SolidLine, Qt::RoundCap));
    const QPointF centre = area.center();
    const qreal arm = area.height() / 4;
    p.drawLine(centre + QPointF(-arm, -arm), centre + QPointF(arm, arm));
    p.drawLine(centre + QPointF(arm, -arm), centre + QPointF(-arm, arm));
    return pixmap;
}

// The compact product's panel pictures: a round badge with a sign in it,
// drawn on a 64 x 64 grid scaled to the picture's size.
QPixmap Badge(qreal ratio, QSize size, QColor colour, const std::function<void(QPainter&)>& sign) {
    QPixmap pixmap = Canvas(size, ratio);
    Painter p(pixmap);
    p.scale(size.width() / 64.0, size.height() / 64.0);
    p.setBrush(colour);
    p.setPen(QPen(colour.darker(130), 2));
    p.drawEllipse(QRectF(3, 3, 58, 58));
    p.setPen(QPen(Qt::white, 6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    sign(p);
    return pixmap;
}

void UpdateArrow(QPainter& p) {
    // A data card with an arrow down into it.
    p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawRoundedRect(QRectF(18, 34, 28, 14), 2, 2);
    p.drawLine(QPointF(32, 12), QPointF(32, 28));
    p.drawPolyline(QPolygonF({QPointF(25, 22), QPointF(32, 29), QPointF(39, 22)}));
}

void Tick(QPainter& p) { p.drawPolyline(QPolygonF({QPointF(19, 33), QPointF(28, 42), QPointF(45, 22)})); }

void Cross(QPainter& p) {
    p.drawLine(QPointF(22, 22), QPointF(42, 42));
    p.drawLine(QPointF(42, 22), QPointF(22, 42));
}

}  // namespace

PictureSet ButtonFaces(QSize size, qreal ratio) { return Faces(size, ratio, kBlue, QString()); }

WindowPictures::WindowPictures(qreal screenRatio, const app::WindowControls& c)
    : ratio(screenRatio),
      background(Background(screenRatio, SizeOf(c.Image_Big))),
      button(ButtonFaces(SizeOf(c.Image16), screenRatio)),
      minimise(Minimise(screenRatio, SizeOf(c.Image6))),
      close(Close(screenRatio, SizeOf(c.Image7))),
      start(Faces(SizeOf(c.Image_start0), screenRatio, kGreen, "Start")),
      startAlternate(Faces(SizeOf(c.Image_start0_0), screenRatio, kGreen, QString::fromUtf8("スタート"))),
      finish(Faces(SizeOf(c.Image_finish0), screenRatio, kOrange, QString::fromUtf8("終了"))),
      updating(Badge(screenRatio, SizeOf(c.Image_custom_running), kBlue, UpdateArrow)),
      success(Badge(screenRatio, SizeOf(c.Image_custom_success), kGreen, Tick)),
      failure(Badge(screenRatio, SizeOf(c.Image_custom_failure), kRed, Cross)) {}

}  // namespace firmora::ui
