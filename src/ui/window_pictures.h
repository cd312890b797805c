#pragma once
// The main window's pictures, drawn with QPainter when the window is built
// rather than read from files. Each is drawn at the size of the control that
// shows it and at the screen's device pixel ratio: a scaled window stays
// sharp instead of stretching 1x pictures.

#include <QPixmap>

#include <array>

#include "app/window_controls.h"

namespace firmora::ui {

// A picture button's four pictures: 0 normal, 1 pressed, 2 hovered, 3 disabled.
using PictureSet = std::array<QPixmap, 4>;

// The plain blue button face in its four states, without text (a
// PictureButton lays its label over it), at `size` for a screen of `ratio`.
PictureSet ButtonFaces(QSize size, qreal ratio);

struct WindowPictures {
    // Draws every picture for a screen of `ratio` device pixels per logical
    // pixel, each at the size its control has in `controls`.
    WindowPictures(qreal ratio, const app::WindowControls& controls);

    qreal ratio;
    QPixmap background;               // Image_Big
    PictureSet button;                // the Cancel, Finish and Next buttons' face (Image16)
    std::array<QPixmap, 2> minimise;  // Image_min0 at rest, Image_min1 pressed
    QPixmap close;                    // Image7
    PictureSet start;           // Image_start0 ... Image_start3
    PictureSet startAlternate;  // Image_start0_0 ... Image_start3_3
    PictureSet finish;          // Image_finish0 ... Image_finish3
    // The compact product's panels: a data card being updated, a tick, a cross.
    QPixmap updating;
    QPixmap success;
    QPixmap failure;
};

}  // namespace firmora::ui
