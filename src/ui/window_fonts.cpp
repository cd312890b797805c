#include "ui/window_fonts.h"

#include <QFont>
#include <QFontDatabase>
#include <QStringList>

namespace firmora::ui {

bool UseWindowFonts() {
    const QStringList japanese = {"Noto Sans CJK JP", "Noto Sans JP", "IPAGothic", "VL Gothic"};
    QFont::insertSubstitutions("MS UI Gothic", japanese);
    QFont::insertSubstitutions("MS PGothic", japanese);
    QFont::insertSubstitutions("MS Sans Serif", {"DejaVu Sans", "Liberation Sans"});
    return !QFontDatabase::families(QFontDatabase::Japanese).isEmpty();
}

QFont FontOf(const windows::Font& font) {
    QFont qfont(QString::fromStdString(font.name));
    qfont.setPixelSize(font.size);
    return qfont;
}

}  // namespace firmora::ui
