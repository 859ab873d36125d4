#pragma once

class QWidget;

// The application-wide window references. Long-lived windows are created
// once at start-up; the current test window is set by each mode launch.
// Windows below the application shell reach the others only through these
// (and their controls by object name, e.g. "Btn1"). UI thread only.
namespace app {

extern QWidget *Form1;             // main window
extern QWidget *Form3;             // recordings window
extern QWidget *aboutus;           // About window
extern QWidget *Form4;             // install progress window
extern QWidget *CurrentTestWindow; // test window of the run in progress

} // namespace app
