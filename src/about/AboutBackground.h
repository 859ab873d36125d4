#pragma once

#include <QImage>

// The About window's background: a lake at sunrise under a clear sky with
// distant hills, 310 x 207 pixels, drawn procedurally so that no picture
// file has to ship with the program. Drawn anew on each call; the result
// depends on nothing but the code (no fonts, no randomness).
[[nodiscard]] QImage makeAboutBackground();

inline constexpr int kAboutBackgroundWidth = 310;
inline constexpr int kAboutBackgroundHeight = 207;
