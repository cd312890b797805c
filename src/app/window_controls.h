#pragma once
// The main window's controls as data: what a front end draws and what the
// run controller reads and writes. Every control keeps the name the window
// has always given it, so a front end can map them one to one. Nothing here
// draws; a front end renders the values after each handler.

#include <string>
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
