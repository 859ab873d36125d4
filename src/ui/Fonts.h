#pragma once

#include <QString>

namespace ui {

// Sets the application font to an installed face that has Chinese glyphs
// and maps the face names the windows ask for ("宋体", "黑体", "楷体_GB2312",
// "MS Sans Serif") onto installed families. Call once the QApplication
// exists; the program and window tests both do.
void setupFonts();

// The installed CJK family used for the UI ("WenQuanYi Micro Hei" when
// present).
[[nodiscard]] QString cjkFamily();

} // namespace ui
