#include "platform/AppSetup.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

// Qt's own texts follow the interface's language, not the user's locale:
// the open and save dialogs say "打开" whatever LANG is.
TEST(AppSetupTest, QtsOwnDialogTextsAreChinese)
{
    ASSERT_TRUE(platform::installChineseQtTexts()) << "qt6-translations-l10n provides qtbase_zh_CN.qm";
    EXPECT_TRUE(platform::installChineseQtTexts()) << "a second call keeps the one translator";
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "&Open"), QStringLiteral("打开(&O)"));
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), QStringLiteral("取消"));
}
