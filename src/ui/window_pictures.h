#pragma once
// The main window's pictures, drawn with QPainter when the window is built
// rather than read from files. Each is drawn at the screen's device pixel
// ratio: its logical size is the control's, its pixels are as many as the
// screen shows, so a scaled window stays sharp instead of stretching 1x
// pictures.

#include <QPixmap>

#include <array>

namespace firmora::ui {

// A picture button's four pictures: 0 normal, 1 pressed, 2 hovered, 3 disabled.
using PictureSet = std::array<QPixmap, 4>;

struct WindowPictures {
    // Draws every picture for a screen of `ratio` device pixels per logical pixel.
    explicit WindowPictures(qreal ratio);

    qreal ratio;
    QPixmap background;         // Image_Big, 513 x 345
    PictureSet button;          // the Cancel, Finish and Next buttons' face, 89 x 25
    std::array<QPixmap, 2> minimise;  // Image_min0 at rest, Image_min1 pressed, 17 x 17
    QPixmap close;              // Image7, 41 x 17
    PictureSet start;           // Image_start0 ... Image_start3
    PictureSet startAlternate;  // Image_start0_0 ... Image_start3_3
    PictureSet finish;          // Image_finish0 ... Image_finish3
    // The compact product's panels: a data card being updated, a tick, a cross.
    QPixmap updating;
    QPixmap success;
    QPixmap failure;
};

// The logical sizes the pictures are drawn for.
inline constexpr QSize kBackgroundSize{513, 345};
inline constexpr QSize kButtonSize{89, 25};
inline constexpr QSize kStartSize{121, 41};
inline constexpr QSize kPanelPictureSize{64, 64};

}  // namespace firmora::ui
