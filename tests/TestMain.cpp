// Shared entry of every test executable: a QApplication on the offscreen
// platform (unless the environment picks one), the program's locale and
// fonts, and no modal boxes: errors and messages land in TestUtil's logs.

#include "TestUtil.h"
#include "platform/AppSetup.h"
#include "ui/Fonts.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    platform::ensureUtf8Locale();
    QApplication app(argc, argv);
    platform::fixNumericLocale();
    ui::setupFonts();
    QApplication::setQuitOnLastWindowClosed(false);
    testutil::installScriptedUi();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
