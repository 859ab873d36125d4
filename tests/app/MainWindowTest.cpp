#include "TestUtil.h"
#include "app/Unit1.h"
#include "platform/AppWindows.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

namespace fs = std::filesystem;

TEST(MainWindowTest, ButtonsHaveTheirCaptionsPlacesAndInitialStates)
{
    testutil::TempDataHome home;
    TForm1 form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Quenvar"));
    struct Expect {
        QPushButton *button;
        const char *caption;
        int top;
        bool enabled;
    };
    for (const Expect &e : {Expect{form.Btn5, "装入试题", 136, true}, Expect{form.RzBitBtn4, "考试模式", 216, false},
                            Expect{form.Btn1, "练习模式", 296, false}, Expect{form.RzBitBtn2, "录音回放", 376, true},
                            Expect{form.RzBitBtn1, "关于我们", 456, true}}) {
        EXPECT_EQ(e.button->text(), QString::fromUtf8(e.caption));
        EXPECT_EQ(e.button->geometry(), QRect(600, e.top, 169, 41));
        EXPECT_EQ(e.button->isEnabled(), e.enabled) << e.caption;
    }
    // Tab order: 装入试题, 练习模式, 考试模式, 关于我们, 录音回放.
    EXPECT_EQ(form.Btn5->nextInFocusChain(), form.Btn1);
    EXPECT_EQ(form.Btn1->nextInFocusChain(), form.RzBitBtn4);
    EXPECT_EQ(form.RzBitBtn4->nextInFocusChain(), form.RzBitBtn1);
    EXPECT_EQ(form.RzBitBtn1->nextInFocusChain(), form.RzBitBtn2);
}

TEST(MainWindowTest, ShowingTheWindowRunsTheFolderCheck)
{
    testutil::TempDataHome home;
    TForm1 form;
    form.show();
    EXPECT_TRUE(fs::is_directory(home.driveC() / "recording"));
    EXPECT_TRUE(fs::is_directory(home.driveC() / "testtank"));
    // Shown again after a run deleted the test folder: it comes back.
    form.hide();
    fs::remove_all(home.driveC() / "testtank");
    form.show();
    EXPECT_TRUE(fs::is_directory(home.driveC() / "testtank"));
}

TEST(MainWindowTest, PictureStretchesButButtonsStay)
{
    testutil::TempDataHome home;
    TForm1 form;
    form.show();
    form.resize(1600, 900);
    testutil::pump(10);
    EXPECT_EQ(form.img1->geometry(), QRect(0, 0, 1600, 900));
    EXPECT_EQ(form.Btn5->geometry(), QRect(600, 136, 169, 41));
}

TEST(MainWindowTest, TrayMenuHasItsTwoItemsWithShortcuts)
{
    testutil::TempDataHome home;
    TForm1 form;
    EXPECT_EQ(form.Tray->toolTip(), QStringLiteral("Quenvar"));
    EXPECT_EQ(form.Aboutus1->text(), QStringLiteral("关于我们"));
    EXPECT_EQ(form.Aboutus1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_A));
    EXPECT_EQ(form.N1->text(), QStringLiteral("关    闭"));
    EXPECT_EQ(form.N1->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_C));
}

TEST(MainWindowTest, TrayIconAlternatesOnceASecond)
{
    testutil::TempDataHome home;
    TForm1 form;
    EXPECT_EQ(form.trayIconIndex(), 0);
    testutil::pump(1150);
    EXPECT_EQ(form.trayIconIndex(), 1);
    testutil::pump(1000);
    EXPECT_EQ(form.trayIconIndex(), 0);
}

TEST(MainWindowTest, WithoutNotificationAreaTheFrameKeepsItsCloseButton)
{
    testutil::TempDataHome home;
    TForm1 form;
    EXPECT_EQ(form.hasCloseButton(), !QSystemTrayIcon::isSystemTrayAvailable());
    EXPECT_EQ(bool(form.windowFlags() & Qt::WindowCloseButtonHint), form.hasCloseButton());
}

TEST(MainWindowTest, RecordingsAndAboutOpenWithoutModality)
{
    testutil::TempDataHome home;
    TForm1 form;
    QWidget recordings;
    QWidget about;
    app::Form3 = &recordings;
    app::aboutus = &about;
    form.RzBitBtn2Click();
    EXPECT_TRUE(recordings.isVisible());
    EXPECT_FALSE(recordings.isModal());
    form.Aboutus1Click();
    EXPECT_TRUE(about.isVisible());
    about.hide();
    form.RzBitBtn1Click();
    EXPECT_TRUE(about.isVisible());
    app::Form3 = nullptr;
    app::aboutus = nullptr;
}
