#pragma once
// The window's fonts by the names the controls give them, mapped to fonts
// the system has: the Japanese faces to Noto Sans CJK JP.

namespace firmora::ui {

// Sets the substitutions; false when no font on the system writes Japanese.
bool UseWindowFonts();

}  // namespace firmora::ui
