#pragma once
// The main window's controls as data: what a front end draws and what the
// run controller reads and writes. Every control keeps the name the window
// has always given it, so a front end can map them one to one. Nothing here
// draws; a front end renders the values after each handler.

#include <string>
#include <utility>
#include <vector>

#include "windows/controls.h"

namespace firmora::app {

// The control types live with the secondary windows, which share them.
using windows::Colour;
using windows::Control;
using windows::Disabled;
using windows::Font;
using windows::Hidden;
using windows::JapaneseFont;
using windows::Position;
using windows::Texted;

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
// bar), its place on the screen and its size, and the compact product's
// always-on-top dialog frame. The front end sets the position when it first
// shows the window (centred on the screen) and moves the window to it after
// every handler: dragging and the compact layouts change it.
struct WindowFrame {
    std::string caption;
    std::string applicationTitle;
    Position position;
    int width = 513;
    int height = 343;
    bool stayOnTop = false;
    bool dialogBorder = false;
};

// Where a control lies and how large it is, in client pixels.
struct Place {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

inline Control Placed(Place place, Control c = {}) {
    c.position = {place.left, place.top};
    c.width = place.width;
    c.height = place.height;
    return c;
}
inline Control Label(std::string text, Font font, Place place) {
    Control c = Placed(place, Texted(std::move(text)));
    c.font = std::move(font);
    return c;
}
// The same control, changed in one respect.
inline Control Hidden(Control c) {
    c.visible = false;
    return c;
}
inline Control Centred(Control c) {
    c.centred = true;
    return c;
}
inline Control Wrapped(Control c) {
    c.wordWrap = true;
    return c;
}
inline Control HandCursor(Control c) {
    c.handCursor = true;
    return c;
}
inline Font ChineseFont(int size) { return Font{.name = "MS Sans Serif", .size = size, .japaneseCharset = false}; }

// Two Japanese products' warning: close every other application, keep the
// power adapter connected, never suspend or shut down.
inline constexpr const char* kWarning7921 =
    "アップデート中は、他のアプリケーションを終了し電源アダプタを接続した状態で絶対にPCをサスペンド又は、"
    "シャットダウンしないで下さい。起動しなくなったり故障になる可能性があります。";

// The window's Japanese face: the title line, heading and body lines.
inline Font UiGothic(int size) { return Font{.name = "MS UI Gothic", .size = size, .japaneseCharset = true}; }

// The precautions the wizard's first page shows, one line each.
inline constexpr const char* kPrecautions =
    "(1) ソフトウェア更新中に本ツールを終了しないでください。\n"
    "(2) ソフトウェア更新中にKQ302TR-Mをパソコンから取り外さないでください。\n"
    "(3) ソフトウェア更新中に、パソコンの再起動、休止モード、スリープモード、\n"
    "    電源オフをしないでください。\n"
    "(4) ソフトウェア更新中は他のソフトウェアを起動しないでください。\n"
    "(5) 接続先設定の情報は、あらかじめ控えておいてください。\n"
    "(6) ソフトウェアの更新に約10～20分程度かかります。あらかじめご了承ください。\n"
    "(7) ソフトウェアの更新に失敗した場合、KQ302TR-Mを再度パソコンに接続し、最初\n"
    "    から実行してください。";

// The controls of the window, with the place (client pixels; a group box's
// members relative to the group box), size, font and text each starts with.
// The window shows a wizard on a 513 x 343 picture; the controls of the tool's
// other window styles are hidden or lie below the visible area, and hold the
// texts and states the run controller reads and writes. A picture-button set
// of the other styles (four stacked pictures) is one control.
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
    Control ProgressBar = Hidden(Placed({48, 200, 417, 26}));
    Control Reupdate1 = Texted("Re_update", false);  // the background's pop-up menu item
    Control Timer1;                             // the 20-second start timer
    Control lblSettings = Hidden();
    // Picture-button sets: standard Start, alternate Start, Finish. Below the
    // visible area, except where the Japanese products move them up.
    Control Image_start0 = Placed({120, 360, 120, 40});
    Control Image_start0_0 = Placed({120, 360, 120, 40});
    Control Image_finish0 = Placed({272, 360, 120, 40});
    Control Label_warning_start_japanese = Hidden();

    // The frame: the background picture (dragging it moves the window), the
    // title line, the minimise control (its idle and pressed pictures) and
    // the close control with the click area over it.
    Control Image_Big = HandCursor(Placed({0, 0, 513, 345}));
    Control Label12 =
        HandCursor(Centred(Label("KQ302TR-Mソフトウェアアップデートツール ", UiGothic(12), {128, 8, 249, 17})));
    Control Image6 = Placed({440, 8, 17, 17});
    Control Image_min0 = Placed({440, 8, 17, 17});
    Control Image_min1 = Hidden(Placed({440, 8, 17, 17}));
    Control Image7 = Placed({464, 8, 41, 17});
    Control Label18 = Placed({472, 8, 25, 25});
    Control Image_close0;  // the close control's idle picture (other styles)

    // The wizard's page: heading, two body lines, the precautions memo, and
    // the Cancel, Finish and Next buttons: a picture each (Image16, Image4,
    // Image17) under the label that carries the text and takes the click.
    Control Label13 = HandCursor(Centred(Label("注意事項", UiGothic(12), {72, 40, 369, 25})));
    Control Label14 = Hidden(Centred(Label("", UiGothic(19), {88, 96, 353, 25})));
    Control Label15 = Hidden(Centred(Label("", UiGothic(19), {88, 136, 361, 19})));
    Control Memo1 = Label(kPrecautions, UiGothic(16), {8, 80, 497, 201});
    Control Image16 = Placed({88, 296, 89, 25});
    Control Label20 = Centred(Label("キャンセル", UiGothic(12), {88, 296, 89, 25}));
    Control Image4 = Hidden(Placed({224, 296, 89, 25}));
    Control Label16 = Hidden(Centred(Label("終了", UiGothic(12), {224, 296, 89, 25})));
    Control Image17 = Placed({352, 296, 89, 25});
    Control Label21 = Centred(Label("次へ", UiGothic(12), {352, 296, 89, 25}));

    // The compact layouts of the small-window product: the running panel
    // (GroupBox1, shown at start-up), the success panel (GroupBox2) and the
    // failure panel (GroupBox4), each placed at the window's top left corner.
    Control GroupBox1 = Hidden(Placed({0, 0, 480, 185}));
    Control Image_custom_running = Placed({16, 24, 64, 64});
    Control Label_custom_running = Label("上网卡固件版本升级中，请稍候", ChineseFont(12), {96, 32, 368, 20});
    Control Label_custom_warning =
        Wrapped(Label("上网卡升级过程中切勿切断上网卡电源，否则将引起上网卡损坏", ChineseFont(12), {96, 60, 368, 34}));
    Control CGauge1 = Hidden(Placed({96, 120, 368, 20}));  // the small gauge
    Control GroupBox2 = Hidden(Placed({0, 0, 510, 395}));
    Control Image_custom_success = Placed({16, 24, 96, 96});
    Control Label_custom_operator = Label("本上网卡软件由您的运营商提供", ChineseFont(12), {128, 32, 366, 20});
    Control Label_custom_client = Label("请使用运营商的连接客户端程序上网", ChineseFont(12), {128, 64, 366, 20});
    Control Label_custom_new = Label("新的版本为:", ChineseFont(12), {128, 120, 100, 20});
    Control Label_CustomVersion = Hidden(Label("", ChineseFont(12), {232, 120, 262, 20}));
    Control Label_custom_exit = Label("点击完成退出升级程序", ChineseFont(12), {128, 160, 366, 20});
    Control SpeedButton1 = Label("完成", ChineseFont(12), {400, 340, 90, 30});
    Control GroupBox4 = Hidden(Placed({0, 0, 300, 165}));
    Control Image_custom_failure = Placed({16, 24, 64, 64});
    Control SpeedButton2 = Label("退出", ChineseFont(12), {190, 120, 90, 30});

    // What start-up sets: the frame, the title, about and warning labels
    // (and the Japanese ones), the status bar, the image folder field and
    // the summary of the selected download items (lblSettings above).
    WindowFrame Frame;
    Control Label_title = Hidden();
    Control Label_about = Hidden();
    Control Label_warning = Texted("Do not unplug USB during upgrading!", false);
    Control Image_warning = Hidden();
    Control Label_title_japannese = Hidden();
    // The warning of two Japanese products, below the visible area.
    Control Label_warning_7921 = Hidden(Wrapped(Label(kWarning7921, Font{.name = "MS PGothic", .size = 12,
                                                                           .japaneseCharset = true},
                                                      {8, 400, 497, 36})));
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
