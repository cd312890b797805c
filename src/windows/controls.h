#pragma once
// Controls as data: what a front end draws and what the window models read
// and write. Every control keeps the name its window has always given it, so
// a front end can map them one to one. Nothing here draws; a front end
// renders the values after each handler.

#include <string>
#include <utility>

namespace firmora::windows {

enum class Colour { Default, Black, Red, Green };

struct Font {
    std::string name = "MS Sans Serif";
    int size = 11;                 // character height in pixels
    bool japaneseCharset = false;  // the Shift-JIS character set
    bool operator==(const Font&) const = default;
};

// The Japanese font of the status line and of the texts of the Japanese window.
inline Font JapaneseFont() { return Font{.name = "MS PGothic", .size = 11, .japaneseCharset = true}; }

struct Position {
    int left = 0;
    int top = 0;
    bool operator==(const Position&) const = default;
};

struct Control {
    std::string text;
    Font font;
    Colour colour = Colour::Default;
    bool visible = true;
    bool enabled = true;
    // For a picture button (four stacked pictures, one shown at a time):
    // 0 normal, 1 pressed, 2 hovered, 3 disabled.
    int pictureIndex = 0;
    // A check box or radio button: whether it is ticked.
    bool checked = false;
    Position position;
    // Width and height in client pixels (0: the front end's own size).
    int width = 0;
    int height = 0;
    // A label's text: centred rather than left-aligned, and wrapped at word
    // boundaries rather than cut.
    bool centred = false;
    bool wordWrap = false;
    // The progress gauges: maximum and position.
    int maximum = 100;
    int progress = 0;
    bool handCursor = false;
    std::string hint;
};

// Controls that start hidden, disabled, or with a text.
inline Control Hidden() {
    Control c;
    c.visible = false;
    return c;
}
inline Control Disabled() {
    Control c;
    c.enabled = false;
    return c;
}
inline Control Texted(std::string text, bool visible = true) {
    Control c;
    c.text = std::move(text);
    c.visible = visible;
    return c;
}

}  // namespace firmora::windows
