#pragma once

class QWidget;

namespace ui {

// Gives a top-level window a fixed client size and centres it on the
// primary screen, as a window with a dialog border placed poScreenCenter.
void setFixedClientSize(QWidget *window, int width, int height);
void centreOnScreen(QWidget *window);

} // namespace ui
