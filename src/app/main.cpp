// Program entry: one copy at a time, the long-lived windows in their fixed
// order, then the message loop until the main window closes.

#include "app/Pictures.h"
#include "app/ProgramWindows.h"
#include "platform/AppSetup.h"
#include "platform/Dialogs.h"
#include "platform/SingleInstance.h"
#include "ui/Fonts.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    platform::ensureUtf8Locale();
    QApplication application(argc, argv);
    platform::fixNumericLocale();
    platform::installChineseQtTexts();
    ui::setupFonts();
    // Every window carries the program's icon; desktops match the running
    // program to its menu entry (quenvar.desktop) by this name.
    QApplication::setWindowIcon(app::applicationIcon());
    QGuiApplication::setDesktopFileName(QStringLiteral("quenvar"));
    // Closing the main window ends the program even while the recordings
    // or About window is still open.
    QApplication::setQuitOnLastWindowClosed(false);

    const platform::InstanceLock lock("project1");
    if (lock.alreadyExists()) {
        platform::messageBox(nullptr, QStringLiteral("程序已经运行！"), QStringLiteral("提示！"),
                             platform::MsgIcon::None, platform::MsgButtons::Ok);
        return 0;
    }

    const app::ProgramWindows windows;
    const int rc = QApplication::exec();
    return rc == 0 ? 0 : rc;
}
