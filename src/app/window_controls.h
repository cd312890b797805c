#pragma once
// The main window's controls as data: what a front end draws and what the
// run controller reads and writes. Every control keeps the name the window
// has always given it, so a front end can map them one to one. Nothing here
// draws; a front end renders the values after each handler.

#include <string>
#include <utility>
#include <vector>

namespace firmora::app {

enum class Colour { Default, Black, Red, Green };

struct Font {
    std::string name = "MS Sans Serif";
    int size = 11;                 // character height in pixels
    bool japaneseCharset = false;  // the Shift-JIS character set
    bool operator==(const Font&) const = default;
};

// The Japanese font of the status line and of the texts of the Japanese window.
Font JapaneseFont();

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
    Position position;
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

// A port selector: its entries ("COM" plus a number) and the selected one.
struct Selector {
    std::vector<std::string> items;
    int itemIndex = -1;
    // The selected entry's text, or empty.
    std::string Text() const;
    // Replaces the entries and selects entry 0 (none when empty).
    void SetItems(std::vector<std::string> entries);
};

// The window itself: its caption (also the application's title in the task
// bar), its size, and the compact product's always-on-top dialog frame.
struct WindowFrame {
    std::string caption;
    std::string applicationTitle;
    int width = 513;
    int height = 343;
    bool stayOnTop = false;
    bool dialogBorder = false;
};

// The controls the run controller uses. The pictures of the other window
// styles are held as one control per four-picture set.
struct WindowControls {
    Control StartButton;
    Control StopButton = Disabled();
    Control CloseButton = Disabled();
    Control Label_status = Texted("Not Ready");
    Control Label_version;
    Control Image_gif = Hidden();       // busy picture
    Control Image_progress = Hidden();  // progress picture
    Control GroupBox3 = Hidden();       // the port selectors and the image folder
    Control lvFileList = Hidden();      // the image list
    Control DownloadInfoMemo = Hidden();
    Control ProgressBar = Hidden();
    Control CGauge1 = Hidden();         // the small gauge of the compact layout
    Control Reupdate1 = Texted("Re_update", false);  // the pop-up menu item
    Control Timer1;                             // the 20-second start timer
    Control lblSettings = Hidden();
    // Picture-button sets: standard Start, alternate Start, Finish.
    Control Image_start0;
    Control Image_start0_0;
    Control Image_finish0;
    Control Label_warning_start_japanese = Hidden();
    // The wizard's page: heading, two body lines, the precautions memo and
    // the Cancel, Finish and Next buttons (their labels).
    Control Label13 = Texted("注意事項");
    Control Label14 = Hidden();
    Control Label15 = Hidden();
    Control Memo1;
    Control Label20 = Texted("キャンセル");
    Control Label16 = Texted("終了", false);
    Control Label21 = Texted("次へ");
    // The compact layouts of the small-window product.
    Control GroupBox1 = Hidden();
    Control GroupBox2 = Hidden();
    Control GroupBox4 = Hidden();
    Control Label_CustomVersion = Hidden();
    Control Image_close0;  // the close control's idle picture
    // What start-up sets: the frame, the title, about and warning labels
    // (and the Japanese ones), the status bar, the image folder field and
    // the summary of the selected download items (lblSettings above).
    WindowFrame Frame;
    Control Label_title = Hidden();
    Control Label_about = Hidden();
    Control Label_warning = Texted("Do not unplug USB during upgrading!", false);
    Control Label_title_japannese = Hidden();
    Control StatusBar;
    Control ImageFolderEdit;
};

// The port selectors of GroupBox3. The worker's port scans rewrite them, so
// the window keeps them under a lock and hands out copies.
struct PortSelectors {
    Selector PortCBox;        // Diag port
    Selector AppPortCBox;     // application port
    Selector SerialPortCBox;  // AT port
};

}  // namespace firmora::app
