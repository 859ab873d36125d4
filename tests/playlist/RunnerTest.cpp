#include "RunnerFixture.h"
#include "media/TFilterGraph.h"
#include "media/TMediaPlayer.h"
#include "audio/MMLevel.h"
#include "media/TDSTrackBar.h"
#include "media/TVideoWindow.h"
#include "platform/Dialogs.h"
#include "platform/TTimer.h"
#include "platform/WinPath.h"
#include "playlist/TreeFunc.h"
#include "ui/ClickLabel.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextEdit>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <gtest/gtest.h>

using manifest::Row;
using runner::Fixture;
using runner::tank;

namespace {

Row rec(const char *item, const char *sub, int type, const char *path, int playTime = 0, const char *desc = "",
        const char *hint = "", const char *font = "")
{
    Row r;
    r.itemId = QString::fromUtf8(item);
    r.subItemId = QString::fromUtf8(sub);
    r.fileType = QString::number(type);
    r.filePath = QString::fromUtf8(path);
    r.playTime = QString::number(playTime);
    r.playDesc = QString::fromUtf8(desc);
    r.playHint = QString::fromUtf8(hint);
    r.font = QString::fromUtf8(font);
    return r;
}

QStringList errors()
{
    QStringList out;
    for (const auto &b : testutil::shownErrors())
        out << b.text;
    return out;
}

class RunnerTest : public ::testing::Test
{
protected:
    void SetUp() override { TForm2::resetRunValues(); }
};

} // namespace

TEST_F(RunnerTest, RunStartsAfterTheSelectedLeafPerformsTheLastRecordTwiceAndEnds)
{
    Fixture f({rec("1", "a", 2, "t0.txt", 0, "D0"), rec("1", "a", 2, "t1.txt", 0, "D1"),
               rec("1", "b", 2, "t2.txt", 0, "D2")});
    ASSERT_TRUE(f.form);
    EXPECT_TRUE(errors().isEmpty()) << errors().join("|").toStdString();
    EXPECT_EQ(f.form->treeview1->currentItem()->text(0), "t0.txt");
    EXPECT_TRUE(f.form->timer->Enabled());

    f.tick();
    EXPECT_EQ(f.form->lbl1->text(), "D1");
    EXPECT_EQ(f.form->mmoContentMemo->toPlainText(), "text of t1.txt");
    EXPECT_TRUE(f.form->mmoContentMemo->isVisibleTo(f.form));
    EXPECT_TRUE(f.form->lblHint->isHidden()) << "a text record leaves the status hidden";
    EXPECT_TRUE(f.form->timer->Enabled());
    f.tick();
    EXPECT_EQ(f.form->lbl1->text(), "D2");
    f.form->mmoContentMemo->clear();
    f.tick();
    EXPECT_EQ(f.form->lbl1->text(), "D2");
    EXPECT_EQ(f.form->mmoContentMemo->toPlainText(), "text of t2.txt") << "the last record is performed twice";
    EXPECT_TRUE(testutil::shownMessages().empty());

    f.mainWindow.hide();
    f.tick();
    ASSERT_EQ(testutil::shownMessages().size(), 1u);
    const auto &box = testutil::shownMessages()[0];
    EXPECT_EQ(box.text, QStringLiteral("英语口试结束，请按确定键返回！"));
    EXPECT_EQ(box.caption, QStringLiteral("Velmora，助您成功！"));
    EXPECT_EQ(box.icon, platform::MsgIcon::Warning);
    EXPECT_TRUE(f.recordings.isVisible()) << "the recordings window follows the end";
    EXPECT_TRUE(f.mainWindow.isVisible()) << "closing the test window shows the main window";
    EXPECT_TRUE(errors().isEmpty()) << errors().join("|").toStdString();
    Fixture::drain();
    EXPECT_FALSE(f.form) << "the test window is released after its close";
}

TEST_F(RunnerTest, SelectingALeafRunsFromTheRecordAfterItAndInnerNodesOnlyStop)
{
    Fixture f({rec("1", "a", 2, "t0.txt", 0, "D0"), rec("1", "a", 2, "t1.txt", 0, "D1"),
               rec("1", "b", 3, "p2.mp3", 0, "D2"), rec("1", "b", 2, "t3.txt", 0, "D3")});
    QTreeWidgetItem *leaf = f.form->treeview1->topLevelItem(0)->child(1)->child(0);
    ASSERT_EQ(leaf->text(0), "p2.mp3");
    f.form->treeview1->setCurrentItem(leaf);
    EXPECT_TRUE(f.form->ds1.Enabled);
    f.tick();
    EXPECT_EQ(f.form->lbl1->text(), "D3");

    f.form->treeview1->setCurrentItem(f.form->treeview1->topLevelItem(0)->child(0)->child(1));
    f.tick();
    ASSERT_NE(f.fake.playing(media::BackendPurpose::Audio), nullptr);
    EXPECT_FALSE(f.form->timer->Enabled());
    // Selecting a section stops the prompt; the run goes on after it.
    f.form->treeview1->setCurrentItem(f.form->treeview1->topLevelItem(0)->child(0));
    EXPECT_FALSE(f.form->ds1.Enabled);
    EXPECT_EQ(f.fake.playing(media::BackendPurpose::Audio), nullptr);
    EXPECT_TRUE(f.form->timer->Enabled());
    f.tick();
    EXPECT_EQ(f.form->lbl1->text(), "D3");
}

TEST_F(RunnerTest, OneRecordIsPerformedOnceAndAnEmptyManifestEndsAtTheFirstTick)
{
    {
        Fixture f({rec("1", "a", 2, "only.txt", 0, "Only")});
        EXPECT_EQ(TreeFunc::NodeCount(f.form->treeview1), 3);
        f.tick();
        EXPECT_EQ(f.form->lbl1->text(), "Only");
        EXPECT_TRUE(testutil::shownMessages().empty());
        f.tick();
        EXPECT_EQ(testutil::shownMessages().size(), 1u);
        EXPECT_TRUE(f.form->closed());
    }
    {
        Fixture f({});
        EXPECT_EQ(errors(), QStringList{"Invalid index."});
        f.tick();
        EXPECT_EQ(testutil::shownMessages().size(), 1u);
        EXPECT_TRUE(f.form->closed());
        EXPECT_FALSE(f.form->dsplaylist.Active());
        EXPECT_FALSE(f.form->timer2->Enabled());
    }
    {
        // No manifest at all: nothing runs until "播放下一项-->" switches the
        // tick on, and that tick ends the run.
        Fixture f({}, false);
        std::filesystem::remove(f.home.driveC() / "testtank" / "information.xml");
        f.create();
        EXPECT_FALSE(f.form->timer->Enabled());
        f.form->lblNext->click();
        EXPECT_TRUE(f.form->timer->Enabled());
        f.tick();
        EXPECT_EQ(testutil::shownMessages().size(), 1u);
    }
}

TEST_F(RunnerTest, RecordingPlaysTheAudioThenRecordsUntilTheAudioEnds)
{
    Fixture f({rec("1", "a", 2, "0.txt"), rec("1", "a", 0, "q1.mp3", 0, "ignored", "ans1.wav", "key1.txt"),
               rec("1", "a", 2, "t2.txt", 0, "D2")});
    f.form->lbl1->setText("title");
    bool audioPlayingAtStart = false;
    f.log.onStart = [&] { audioPlayingAtStart = f.fake.playing(media::BackendPurpose::Audio) != nullptr; };
    f.tick();
    EXPECT_TRUE(audioPlayingAtStart) << "the audio starts before the recording";
    EXPECT_EQ(f.log.calls, (std::vector<QString>{"file c:\\recording\\ans1.wav", "start"}));
    EXPECT_EQ(f.fake.playing(media::BackendPurpose::Audio)->path(), tank("q1.mp3"));
    EXPECT_EQ(f.form->lbl1->text(), "title") << "a recording keeps the title";
    EXPECT_EQ(f.form->lblHint->text(), QStringLiteral("正在录音"));
    EXPECT_FALSE(f.form->lblHint->isHidden());
    EXPECT_FALSE(f.form->mlvl1->isHidden());
    EXPECT_FALSE(f.form->mlvl2->isHidden());
    EXPECT_FALSE(f.form->imgLogo->isHidden());
    EXPECT_TRUE(f.form->Labelprior->isHidden());
    EXPECT_TRUE(f.form->MediaPlayer->isHidden());
    EXPECT_FALSE(f.form->mmoContentMemo->isHidden());
    EXPECT_EQ(f.form->answerMemo->toPlainText(), "text of key1.txt");
    EXPECT_FALSE(f.form->timer->Enabled());

    f.finishAudio();
    EXPECT_EQ(f.log.calls.back(), "stop") << "the end of the audio ends the recording";
    EXPECT_TRUE(f.form->timer->Enabled());
    f.tick();
    EXPECT_EQ(f.form->lbl1->text(), "D2");
    EXPECT_TRUE(f.form->mlvl1->isHidden());
    EXPECT_FALSE(f.form->Labelprior->isHidden());
}

TEST_F(RunnerTest, VideoKindsPlayThroughTheGraphAtTheirVolumes)
{
    Fixture f({rec("1", "a", 2, "0.txt"), rec("1", "a", 1, "v1.mp4", 0, "", "ans.wav"),
               rec("1", "a", 6, "v2.mp4", 0, "Video")});
    f.tick();
    EXPECT_TRUE(f.form->fltrgrph1->Active());
    EXPECT_EQ(f.form->fltrgrph1->Volume(), 1);
    media::FakeBackend *video = f.fake.playing(media::BackendPurpose::Video);
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->path(), tank("v1.mp4"));
    EXPECT_EQ(f.log.calls, (std::vector<QString>{"file c:\\recording\\ans.wav", "start"}));
    EXPECT_FALSE(f.form->vplayer1->isHidden());
    EXPECT_FALSE(f.form->TrackBar->isHidden());
    EXPECT_TRUE(f.form->mmoContentMemo->isHidden());
    f.finishVideo();
    EXPECT_EQ(f.log.calls.back(), "stop");
    EXPECT_TRUE(f.form->timer->Enabled());

    f.tick();
    EXPECT_EQ(f.form->fltrgrph1->Volume(), 10000);
    EXPECT_EQ(f.form->lblHint->text(), QStringLiteral("播放录像"));
    EXPECT_FALSE(f.form->btplay->isHidden());
    EXPECT_FALSE(f.form->btpause->isHidden());
    video = f.fake.playing(media::BackendPurpose::Video);
    ASSERT_NE(video, nullptr);
    EXPECT_EQ(video->path(), tank("v2.mp4"));
    f.form->btpause->click();
    EXPECT_EQ(f.fake.playing(media::BackendPurpose::Video), nullptr);
    EXPECT_FALSE(f.form->timer->Enabled()) << "the video buttons leave the tick alone";
    f.form->btplay->click();
    EXPECT_NE(f.fake.playing(media::BackendPurpose::Video), nullptr);
    EXPECT_EQ(f.log.calls.size(), 3u) << "the video buttons leave the recorder alone";
    EXPECT_TRUE(errors().isEmpty()) << errors().join("|").toStdString();
}

TEST_F(RunnerTest, PreviousReplaysTheCurrentPromptAndNextSkips)
{
    Fixture f({rec("1", "a", 2, "0.txt"), rec("1", "a", 3, "p1.mp3", 0, "P1"), rec("1", "a", 2, "t2.txt", 0, "T2"),
               rec("1", "a", 2, "t3.txt", 0, "T3"), rec("1", "a", 2, "t4.txt", 0, "T4")});
    f.tick();
    media::FakeBackend *audio = f.fake.playing(media::BackendPurpose::Audio);
    ASSERT_NE(audio, nullptr);
    EXPECT_FALSE(f.form->MediaPlayer->isHidden());
    EXPECT_EQ(f.form->lblHint->text(), QStringLiteral("正在播音"));
    f.form->Labelprior->click();
    EXPECT_EQ(f.fake.playing(media::BackendPurpose::Audio), nullptr) << "the prompt stops";
    EXPECT_TRUE(f.form->timer->Enabled());
    f.tick();
    ASSERT_NE(f.fake.playing(media::BackendPurpose::Audio), nullptr);
    EXPECT_EQ(f.fake.playing(media::BackendPurpose::Audio)->path(), tank("p1.mp3")) << "the same prompt again";
    EXPECT_EQ(f.fake.playing(media::BackendPurpose::Audio)->positionMs(), 0);

    // Next while a prompt plays: the record after it, one tick later.
    f.form->lblNext->click();
    EXPECT_EQ(f.fake.playing(media::BackendPurpose::Audio), nullptr);
    EXPECT_TRUE(f.form->timer->Enabled());
    f.tick();
    EXPECT_EQ(f.form->lbl1->text(), "T2");
    // Next while a text shows (the tick is on): one record is skipped.
    f.form->lblNext->click();
    f.tick();
    EXPECT_EQ(f.form->lbl1->text(), "T4");
    // A completion for a stopped prompt stops a recording but does not
    // advance the run.
    f.form->timer->setEnabled(false);
    f.form->MediaPlayerNotify();
    EXPECT_FALSE(f.form->timer->Enabled());
}

TEST_F(RunnerTest, UnknownKindRepeatsThePreviousKindAndStartsAsRecording)
{
    {
        Fixture f({rec("1", "a", 2, "0.txt"), rec("1", "a", 9, "q.mp3", 0, "", "a9.wav", "k.txt")});
        f.tick();
        EXPECT_EQ(TForm2::runValues().fileType, 9);
        EXPECT_EQ(TForm2::runValues().kind, TForm2::RecordAudioTimed);
        EXPECT_EQ(f.log.calls, (std::vector<QString>{"file c:\\recording\\a9.wav", "start"}));
    }
    {
        // The kind carries over between records and between runs.
        Fixture f({rec("1", "a", 2, "0.txt"), rec("1", "a", 2, "t1.txt", 0, "T1"), rec("1", "a", 7, "t2.txt", 0, "T2")});
        f.tick();
        f.tick();
        EXPECT_EQ(f.form->lbl1->text(), "T2");
        EXPECT_EQ(f.form->mmoContentMemo->toPlainText(), "text of t2.txt");
    }
    Fixture f({rec("1", "a", 2, "0.txt"), rec("1", "a", -1, "t1.txt", 0, "again")});
    f.tick();
    EXPECT_EQ(f.form->lbl1->text(), "again") << "performed as the previous run's last kind";
}

TEST_F(RunnerTest, FailuresEndTheTickAndTheRunGoesOn)
{
    Fixture f({rec("1", "a", 2, "0.txt"), rec("1", "a", 3, "missing.mp3", 0, "Bad audio"),
               rec("1", "a", 2, "missing.txt", 0, "Bad text"), rec("1", "a", 0, "q.mp3", 0, "", "r.wav", "missing.k"),
               rec("1", "a", 2, "t4.txt", 0, "T4")});
    f.tick();
    EXPECT_EQ(errors(), QStringList{QString::fromLatin1(TMediaPlayer::kFileNotFound) + "."});
    EXPECT_TRUE(f.form->timer->Enabled()) << "the next record follows a second later";
    testutil::clearShown();
    f.tick();
    EXPECT_EQ(errors(), QStringList{"Cannot open file \"c:\\testtank\\missing.txt\". No such file or directory."});
    EXPECT_TRUE(f.form->timer->Enabled());
    testutil::clearShown();
    // The reference answer is missing: audio and recording carry on, the
    // tick stays on.
    f.tick();
    EXPECT_EQ(errors().size(), 1);
    EXPECT_TRUE(f.log.recording);
    EXPECT_NE(f.fake.playing(media::BackendPurpose::Audio), nullptr);
    EXPECT_TRUE(f.form->timer->Enabled());
    f.tick();
    EXPECT_EQ(f.form->lbl1->text(), "T4");
}

TEST_F(RunnerTest, BadFieldsAndAFailingRecorderAreShown)
{
    Fixture f({rec("1", "a", 2, "0.txt"), rec("1", "a", 2, "t1.txt"), rec("1", "a", 0, "q.mp3", 0, "", "r.wav", "k.txt"),
               rec("1", "a", 2, "t3.txt", 0, "T3")});
    // A non-numeric PlayTime in the second record.
    {
        auto rows = std::vector<Row>{rec("1", "a", 2, "0.txt"), rec("1", "a", 2, "t1.txt", 0, "T1")};
        rows[1].playTime = "soon";
        testutil::writeFile(f.home.driveC() / "testtank" / "information.xml", manifest::packet(rows));
        f.form->dsplaylist.Close();
        f.form->dsplaylist.Open();
        f.tick();
        EXPECT_EQ(errors(), QStringList{"'soon' is not a valid integer value."});
        EXPECT_NE(f.form->lbl1->text(), "T1");
    }
    testutil::clearShown();
    testutil::writeFile(f.home.driveC() / "testtank" / "information.xml",
                        manifest::packet({rec("1", "a", 2, "0.txt"), rec("1", "a", 0, "q.mp3", 0, "", "r.wav", "k.txt"),
                                          rec("1", "a", 2, "t3.txt", 0, "T3")}));
    f.form->dsplaylist.Close();
    f.form->dsplaylist.Open();
    f.log.onStart = [] { throw std::runtime_error("No wave audio recording device found"); };
    f.tick();
    EXPECT_EQ(errors(), QStringList{"No wave audio recording device found."});
    EXPECT_NE(f.fake.playing(media::BackendPurpose::Audio), nullptr) << "the audio plays on";
    EXPECT_TRUE(f.form->timer->Enabled());
    f.tick();
    EXPECT_EQ(f.form->lbl1->text(), "T3");
}

TEST_F(RunnerTest, PreparationCountsDownAndWaitsItsTime)
{
    Fixture f({rec("1", "a", 2, "0.txt"), rec("1", "a", 5, "1p", 500, "Prep"), rec("1", "a", 5, "2p", -5, "Neg"),
               rec("1", "a", 5, "3p", 30000, "Long"), rec("1", "a", 2, "t4.txt", 0, "After")});
    QElapsedTimer t;
    t.start();
    f.tick();
    EXPECT_GE(t.elapsed(), 500);
    EXPECT_EQ(f.form->lbl1->text(), "Prep");
    EXPECT_EQ(f.form->lblHint->text(), QStringLiteral("准备时间"));
    EXPECT_EQ(f.form->dclabel->text(), QStringLiteral("准备时间")) << "a countdown of 0 leaves the label";
    EXPECT_FALSE(f.form->dclabel->isHidden());
    EXPECT_TRUE(f.form->timer->Enabled());
    f.form->timer2->fire();
    EXPECT_FALSE(f.form->timer2->Enabled());

    t.restart();
    f.tick();
    EXPECT_LT(t.elapsed(), 400) << "a negative time ends the wait at once";
    EXPECT_TRUE(f.form->timer->Enabled());

    // Thirty seconds: the countdown ticks run inside the wait; closing the
    // window ends it without waiting the rest.
    QStringList shown;
    QTimer::singleShot(0, f.form, [&] {
        for (int i = 0; i < 31; ++i) {
            f.form->timer2->fire();
            shown << f.form->dclabel->text();
        }
        EXPECT_FALSE(f.form->timer2->Enabled());
        f.form->close();
    });
    t.restart();
    f.tick();
    EXPECT_LT(t.elapsed(), 10000);
    ASSERT_EQ(shown.size(), 31);
    EXPECT_EQ(shown.front(), QStringLiteral("29秒"));
    EXPECT_EQ(shown[29], QStringLiteral("0秒"));
    EXPECT_EQ(shown[30], QStringLiteral("0秒"));
    ASSERT_TRUE(f.form) << "released only once the tick has returned";
    EXPECT_TRUE(f.form->closed());
    EXPECT_FALSE(f.form->timer->Enabled()) << "a closed window's wait leaves the tick off";
    Fixture::drain();
    EXPECT_FALSE(f.form);
}

TEST_F(RunnerTest, NextInsideAPreparationWaitRunsTheNextRecordThere)
{
    Fixture f({rec("1", "a", 2, "0.txt"), rec("1", "a", 5, "1p", 60000, "Prep"), rec("1", "a", 2, "t2.txt", 0, "T2")});
    QTimer::singleShot(0, f.form, [&] {
        f.form->lblNext->click();           // tick off during the wait: switched on
        EXPECT_TRUE(f.form->timer->Enabled());
        f.tick();                           // the next record runs inside the wait
        EXPECT_EQ(f.form->lbl1->text(), "T2");
        f.tick();                           // last record again
        f.tick();                           // the end: the window closes
    });
    QElapsedTimer t;
    t.start();
    f.tick();
    EXPECT_LT(t.elapsed(), 10000);
    EXPECT_EQ(testutil::shownMessages().size(), 1u);
    Fixture::drain();
    EXPECT_FALSE(f.form);
}

TEST_F(RunnerTest, FontChangeRestartsAtTheSecondRecord)
{
    Fixture f({rec("1", "a", 2, "0.txt", 0, "T0"), rec("1", "a", 2, "t1.txt", 0, "T1"),
               rec("1", "a", 3, "p2.mp3", 0, "P2"), rec("1", "a", 2, "t3.txt", 0, "T3")});
    f.tick();
    f.tick();
    media::FakeBackend *audio = f.fake.playing(media::BackendPurpose::Audio);
    ASSERT_NE(audio, nullptr);
    QFont chosen("Arial");
    chosen.setPixelSize(40);
    bool pausedDuringDialog = false;
    platform::TFontDialog::setScript([&](platform::TFontDialog &d) {
        pausedDuringDialog = !audio->isPlaying();
        EXPECT_FALSE(f.form->MediaPlayer->isHidden());
        EXPECT_FALSE(f.form->dsplaylist.Active());
        EXPECT_EQ(d.Color, QColor(Qt::black)) << "the dialog starts from the text's colour";
        d.Font = chosen;
        d.Color = QColor(128, 0, 0);
        return true;
    });
    f.form->Button1->click();
    platform::TFontDialog::setScript(nullptr);
    EXPECT_TRUE(pausedDuringDialog);
    EXPECT_TRUE(audio->isPlaying()) << "the prompt resumes after the dialog";
    EXPECT_TRUE(f.form->MediaPlayer->isHidden());
    EXPECT_EQ(f.form->mmoContentMemo->font().pixelSize(), 40);
    EXPECT_EQ(f.form->mmoContentMemo->palette().color(QPalette::Text), QColor(128, 0, 0));
    EXPECT_TRUE(f.form->timer->Enabled());
    f.tick();
    EXPECT_EQ(f.form->lbl1->text(), "T1");
}

TEST_F(RunnerTest, ReferenceAnswerFollowsTheCheckBox)
{
    Fixture f({rec("1", "a", 2, "0.txt")});
    f.form->RzCheckBox1->show();
    f.form->RzCheckBox1->click();
    EXPECT_FALSE(f.form->answerMemo->isHidden());
    f.form->RzCheckBox1->click();
    EXPECT_TRUE(f.form->answerMemo->isHidden());
}

TEST_F(RunnerTest, ShowingTheWindowDeletesThePreviousAnswersAndHidesTheMainWindow)
{
    Fixture f({rec("1", "a", 2, "0.txt")});
    const auto rec = f.home.driveC() / "recording";
    testutil::writeFile(rec / "old1.wav", "x");
    testutil::writeFile(rec / "old2.txt", "x");
    std::filesystem::create_directories(rec / "keep");
    testutil::writeFile(rec / "keep" / "inner.wav", "x");
    f.mainWindow.show();
    f.form->show();
    EXPECT_FALSE(std::filesystem::exists(rec / "old1.wav"));
    EXPECT_FALSE(std::filesystem::exists(rec / "old2.txt"));
    EXPECT_TRUE(std::filesystem::exists(rec / "keep" / "inner.wav")) << "folders are not deleted";
    EXPECT_FALSE(f.mainWindow.isVisible());
    // Closing the window stops what plays and shows the main window.
    f.form->close();
    EXPECT_TRUE(f.mainWindow.isVisible());
    EXPECT_FALSE(f.form->dsplaylist.Active());
}
