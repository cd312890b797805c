#pragma once
// The window's fonts by the names the controls give them, mapped to fonts
// the system has: the Japanese faces to Noto Sans CJK JP.

#include <QFont>

#include "windows/controls.h"

namespace firmora::ui {

// Sets the substitutions; false when no font on the system writes Japanese.
bool UseWindowFonts();

// The Qt font of a control's font (pixel sizes; the names are mapped to
// installed fonts by UseWindowFonts).
QFont FontOf(const windows::Font& font);

}  // namespace firmora::ui
