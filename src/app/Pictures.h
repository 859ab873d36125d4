#pragma once

#include <QIcon>
#include <QImage>

// The main window's pictures, drawn by the program itself so that they
// scale cleanly and need no binary assets.
namespace app {

// Background of img1: a light sky with a desk computer, headset and a title
// line, at the window's design size 1024 × 708.
[[nodiscard]] QImage mainBackground();

// The two 16 × 16 tray icons (a microphone, lit and unlit) and the
// application icon.
[[nodiscard]] QIcon trayIcon(int index);
[[nodiscard]] QIcon applicationIcon();

} // namespace app
