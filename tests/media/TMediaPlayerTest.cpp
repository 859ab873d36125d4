// TMediaPlayer's commands, states and completions on the fake engine.
#include "TestUtil.h"
#include "media/FakeBackend.h"
#include "media/TMediaPlayer.h"
#include "platform/WinPath.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QToolButton>
#include <gtest/gtest.h>

#include <vector>

using media::BackendPurpose;
using media::FakeBackend;
using media::FakeMedia;

namespace {

class TMediaPlayerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testutil::clearShown();
        fake.addFile(QStringLiteral("/media/a.wav"), 3000);
        fake.addFile(QStringLiteral("/media/b.mp3"), 5000);
        player.OnNotify = [this](QObject *sender) {
            EXPECT_EQ(sender, &player);
            notes.push_back(player.NotifyValue());
            atEnd.push_back(player.DeviceID() != 0 && player.Position() == player.Length());
        };
    }

    void open(const char *path)
    {
        player.FileName = QString::fromLatin1(path);
        player.Open();
    }
    FakeBackend *engine() { return static_cast<FakeBackend *>(player.backend()); }

    FakeMedia fake;
    TMediaPlayer player;
    std::vector<TMPNotifyValues> notes;
    std::vector<bool> atEnd;
};

std::string messageOf(const std::function<void()> &fn)
{
    try {
        fn();
    } catch (const std::exception &e) {
        return e.what();
    }
    return {};
}

} // namespace

TEST_F(TMediaPlayerTest, WithoutAnOpenFileOnlyCloseModeAndPositionAreQuiet)
{
    EXPECT_EQ(player.DeviceID(), 0);
    EXPECT_NO_THROW(player.Close());
    EXPECT_EQ(player.Mode(), mpNotReady);
    EXPECT_EQ(player.Position(), 0);
    for (const auto &op : std::vector<std::function<void()>>{
             [&] { player.Play(); }, [&] { player.Stop(); }, [&] { player.Pause(); },
             [&] { (void)player.Length(); }})
        EXPECT_EQ(messageOf(op), "No MCI device open");
    testutil::pump(10);
    EXPECT_TRUE(notes.empty());
}

TEST_F(TMediaPlayerTest, PlayButtonBeforeAnyPromptShowsTheErrorBox)
{
    player.button(btPlay)->click();
    ASSERT_EQ(testutil::shownErrors().size(), 1u);
    EXPECT_EQ(testutil::shownErrors()[0].text, QStringLiteral("No MCI device open."));
}

TEST_F(TMediaPlayerTest, NaturalEndGivesOneSuccessfulNotifyWithPositionAtLength)
{
    open("/media/a.wav");
    EXPECT_EQ(player.Length(), 3000);
    EXPECT_EQ(player.Frames(), 300);
    player.Play();
    EXPECT_EQ(player.Mode(), mpPlaying);
    engine()->setPosition(1200);
    EXPECT_EQ(player.Position(), 1200);
    engine()->finish();
    // Completions arrive as posted messages, never inside the command.
    EXPECT_TRUE(notes.empty());
    testutil::pump(10);
    ASSERT_EQ(notes, std::vector<TMPNotifyValues>{nvSuccessful});
    EXPECT_EQ(atEnd, std::vector<bool>{true});
    EXPECT_EQ(player.Mode(), mpStopped);
}

TEST_F(TMediaPlayerTest, OutcomesOfSupersededAbortedAndFailedCommands)
{
    open("/media/a.wav");
    player.Play();
    player.Play();          // supersedes the first
    player.Stop();          // aborts the second
    testutil::pump(10);
    EXPECT_EQ(notes, (std::vector<TMPNotifyValues>{nvSuperseded, nvAborted}));
    EXPECT_EQ(atEnd, (std::vector<bool>{false, false}));

    notes.clear();
    player.Play();
    engine()->fail();
    testutil::pump(10);
    EXPECT_EQ(notes, std::vector<TMPNotifyValues>{nvFailure});

    notes.clear();
    engine()->refuseCommands = true;
    player.Play();
    testutil::pump(10);
    EXPECT_EQ(notes, std::vector<TMPNotifyValues>{nvFailure});
    EXPECT_NE(player.Error(), 0u);
}

TEST_F(TMediaPlayerTest, NotifyHandlerErrorsGoToTheErrorDisplay)
{
    player.OnNotify = [](QObject *) { throw EMCIDeviceError("handler failed"); };
    open("/media/a.wav");
    player.Play();
    player.Stop();
    testutil::pump(10);
    ASSERT_EQ(testutil::shownErrors().size(), 1u);
    EXPECT_EQ(testutil::shownErrors()[0].text, QStringLiteral("handler failed."));
    EXPECT_EQ(player.NotifyValue(), nvAborted);
}

TEST_F(TMediaPlayerTest, PauseTogglesAndOnlyTheResumeNotifies)
{
    open("/media/a.wav");
    player.Pause(); // stopped: nothing
    EXPECT_EQ(player.Mode(), mpStopped);
    EXPECT_TRUE(engine()->calls().back().startsWith(QStringLiteral("open")));

    player.Play();
    player.Pause();
    EXPECT_EQ(player.Mode(), mpPaused);
    testutil::pump(10);
    player.Pause();
    EXPECT_EQ(player.Mode(), mpPlaying);
    engine()->finish();
    testutil::pump(10);
    // The pause ended the play's wait; the resume's own wait succeeded.
    EXPECT_EQ(notes, (std::vector<TMPNotifyValues>{nvAborted, nvSuccessful}));
    EXPECT_EQ(atEnd, (std::vector<bool>{false, true}));
}

TEST_F(TMediaPlayerTest, ResumeThatTheEngineRefusesFallsBackToPlay)
{
    open("/media/a.wav");
    player.Play();
    player.Pause();
    engine()->refuseCommands = true;
    player.Pause();
    testutil::pump(10);
    const auto &calls = engine()->calls();
    ASSERT_GE(calls.size(), 2u);
    EXPECT_EQ(calls[calls.size() - 1], QStringLiteral("play"));
    EXPECT_EQ(calls[calls.size() - 2], QStringLiteral("play"));
    // The resume's wait is superseded by the play's, which then fails.
    EXPECT_EQ(notes, (std::vector<TMPNotifyValues>{nvAborted, nvSuperseded, nvFailure}));
}

TEST_F(TMediaPlayerTest, OpenClosesTheFileBeforeAndNamesANewDevice)
{
    open("/media/a.wav");
    const auto first = player.DeviceID();
    FakeBackend *engineBefore = engine();
    open("/media/b.mp3");
    EXPECT_NE(player.DeviceID(), 0);
    EXPECT_NE(player.DeviceID(), first);
    EXPECT_EQ(player.Length(), 5000);
    const auto &calls = engineBefore->calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[calls.size() - 2], QStringLiteral("close"));
    EXPECT_EQ(calls.back(), QStringLiteral("open /media/b.mp3"));
}

TEST_F(TMediaPlayerTest, FailedOpenRaisesAndLeavesThePlayerClosed)
{
    fake.failOpen(QStringLiteral("/media/bad.wav"), media::OpenError::Unsupported);
    open("/media/a.wav");
    EXPECT_EQ(messageOf([&] { open("/media/bad.wav"); }), TMediaPlayer::kFileUnplayable);
    EXPECT_EQ(player.DeviceID(), 0);
    EXPECT_EQ(messageOf([&] { open("/media/none.wav"); }), TMediaPlayer::kFileNotFound);
    fake.failOpen(QStringLiteral("/media/locked.wav"), media::OpenError::AccessDenied);
    EXPECT_EQ(messageOf([&] { open("/media/locked.wav"); }), TMediaPlayer::kFileUnreadable);
    fake.failOpen(QStringLiteral("/media/nodev.wav"), media::OpenError::NoDevice);
    EXPECT_EQ(messageOf([&] { open("/media/nodev.wav"); }), TMediaPlayer::kNoDevice);
    EXPECT_EQ(messageOf([&] { player.Play(); }), "No MCI device open");
    // A broken engine is replaced at the next open.
    open("/media/a.wav");
    EXPECT_NE(player.DeviceID(), 0);
}

TEST_F(TMediaPlayerTest, ClosingDropsTheWaitingNotifySoTheNextFileIsNotDisturbed)
{
    // The runner closes a prompt that may still be playing, opens the next
    // and starts a recording: no stale completion may follow.
    open("/media/a.wav");
    player.Play();
    player.Close();
    EXPECT_EQ(player.DeviceID(), 0);
    open("/media/b.mp3");
    player.Play();
    testutil::pump(10);
    EXPECT_TRUE(notes.empty());
}

TEST_F(TMediaPlayerTest, WindowsPathsAreMappedToDriveC)
{
    testutil::TempDataHome home;
    const QString host = platform::hostPathString(QStringLiteral("c:\\testtank\\x.wav"));
    fake.addFile(QStringLiteral("c:\\testtank\\x.wav"), 1000);
    player.FileName = QStringLiteral("c:\\testtank\\x.wav");
    player.Open();
    EXPECT_EQ(engine()->path(), host);
}

TEST_F(TMediaPlayerTest, ControlHasPlayAndPauseButtonsWithArrowKeyFocus)
{
    EXPECT_EQ(player.size(), QSize(57, 24));
    ASSERT_NE(player.button(btPlay), nullptr);
    ASSERT_NE(player.button(btPause), nullptr);
    EXPECT_EQ(player.button(btStop), nullptr);
    EXPECT_TRUE(player.button(btPlay)->isEnabled());
    EXPECT_TRUE(player.button(btPause)->isEnabled());

    QWidget window;
    player.setParent(&window);
    window.show();
    player.button(btPlay)->setFocus();
    QKeyEvent right(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
    QCoreApplication::sendEvent(player.button(btPlay), &right);
    EXPECT_EQ(window.focusWidget(), player.button(btPause));
    QKeyEvent left(QEvent::KeyPress, Qt::Key_Left, Qt::NoModifier);
    QCoreApplication::sendEvent(player.button(btPause), &left);
    EXPECT_EQ(window.focusWidget(), player.button(btPlay));
    player.setParent(nullptr);

    open("/media/a.wav");
    player.button(btPlay)->click();
    EXPECT_EQ(player.Mode(), mpPlaying);
    player.button(btPause)->click();
    EXPECT_EQ(player.Mode(), mpPaused);
}
