#include "RunnerFixture.h"
#include "app/Unit1.h"
#include "media/TDSTrackBar.h"
#include "media/TMediaPlayer.h"
#include "platform/AppWindows.h"
#include "platform/TTimer.h"
#include "ui/ClickLabel.h"

#include <QCheckBox>
#include <QLabel>
#include <QTreeWidget>
#include <gtest/gtest.h>

using manifest::Row;
using runner::Fixture;

namespace {

Row rec(const char *path, int type, const char *hint = "")
{
    Row r;
    r.itemId = "1";
    r.subItemId = "a";
    r.filePath = QString::fromUtf8(path);
    r.fileType = QString::number(type);
    r.playHint = QString::fromUtf8(hint);
    r.font = type == 0 ? QStringLiteral("key.txt") : QString();
    return r;
}

} // namespace

TEST(LaunchTest, PracticeAndExamRunsOpenFreshWindowsWithTheirControls)
{
    TForm2::resetRunValues();
    Fixture f({rec("0.txt", 2), rec("q1.mp3", 0, "a1.wav"), rec("t2.txt", 2)}, false);
    TForm1 main;
    app::Form1 = &main;
    main.show();
    testutil::writeFile(f.home.driveC() / "recording" / "old.wav", "x");

    main.btn1Click();
    QPointer<TForm2> practice = qobject_cast<TForm2 *>(app::CurrentTestWindow);
    ASSERT_TRUE(practice);
    EXPECT_EQ(practice->windowTitle(), QStringLiteral("Quenvar【练习模式】"));
    EXPECT_TRUE(practice->isVisible());
    EXPECT_FALSE(main.isVisible()) << "the main window hides during a run";
    EXPECT_FALSE(std::filesystem::exists(f.home.driveC() / "recording" / "old.wav"));
    EXPECT_TRUE(practice->lblNext->isVisible());
    EXPECT_TRUE(practice->Labelprior->isVisible());
    EXPECT_TRUE(practice->treeview1->isVisible());
    EXPECT_TRUE(practice->TrackBar->isVisible());
    EXPECT_FALSE(practice->Image1->isVisible());
    EXPECT_TRUE(practice->RzCheckBox1->isVisible());
    EXPECT_TRUE(practice->MediaPlayer->isVisible());
    EXPECT_TRUE(practice->timer->Enabled());
    practice->close();
    Fixture::drain();
    EXPECT_FALSE(practice);
    EXPECT_EQ(app::CurrentTestWindow, nullptr);
    EXPECT_TRUE(main.isVisible());

    testutil::writeFile(f.home.driveC() / "recording" / "a1.wav", "previous answer");
    main.RzBitBtn4Click();
    QPointer<TForm2> exam = qobject_cast<TForm2 *>(app::CurrentTestWindow);
    ASSERT_TRUE(exam);
    EXPECT_EQ(exam->windowTitle(), QStringLiteral("Quenvar【考试模式】"));
    EXPECT_FALSE(std::filesystem::exists(f.home.driveC() / "recording" / "a1.wav"));
    EXPECT_FALSE(exam->lblNext->isVisible());
    EXPECT_FALSE(exam->Labelprior->isVisible());
    EXPECT_FALSE(exam->treeview1->isVisible());
    EXPECT_FALSE(exam->TrackBar->isVisible());
    EXPECT_TRUE(exam->Image1->isVisible());
    EXPECT_FALSE(exam->RzCheckBox1->isVisible());
    EXPECT_FALSE(exam->MediaPlayer->isVisible());
    // A recording keeps the step-back label hidden; the first record of
    // another kind shows it again.
    exam->timer->fire();
    EXPECT_FALSE(exam->Labelprior->isVisible());
    EXPECT_EQ(f.log.calls.size(), 2u);
    f.finishAudio();
    exam->timer->fire();
    EXPECT_TRUE(exam->Labelprior->isVisible());
    EXPECT_FALSE(exam->lblNext->isVisible()) << "the mode's settings stay";
    EXPECT_FALSE(exam->treeview1->isVisible());
    delete exam.data();
    app::Form1 = nullptr;
}
