#include "platform/AppWindows.h"

namespace app {

QWidget *Form1 = nullptr;
QWidget *Form3 = nullptr;
QWidget *aboutus = nullptr;
QWidget *Form4 = nullptr;
QWidget *CurrentTestWindow = nullptr;

} // namespace app
