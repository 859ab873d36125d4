// TMediaPlayer on the real engine, with null outputs, on media generated at
// test time.
#include "MediaFiles.h"
#include "TestUtil.h"
#include "media/TMediaPlayer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

using mediatest::files;
using mediatest::waitFor;

namespace {

struct Recorder {
    std::vector<TMPNotifyValues> values;
    std::vector<std::pair<std::int64_t, std::int64_t>> positionAndLength;
    void attach(TMediaPlayer &player)
    {
        player.OnNotify = [this, &player](QObject *sender) {
            EXPECT_EQ(sender, &player);
            values.push_back(player.NotifyValue());
            positionAndLength.emplace_back(player.Position(),
                                           player.DeviceID() ? player.Length() : -1);
        };
    }
};

} // namespace

TEST(TMediaPlayerMpvTest, EveryFormatPlaysToItsEndWithOneSuccessfulNotify)
{
    mediatest::NullOutputs outputs(true);
    const auto &f = files();
    struct Case {
        QString path;
        std::int64_t approxLength;
    } cases[] = {{f.wav, 1500}, {f.mp3, 1000}, {f.ogg, 1000}, {f.mp4, 1000}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        TMediaPlayer player;
        Recorder rec;
        rec.attach(player);
        player.FileName = c.path;
        player.Open();
        EXPECT_NE(player.DeviceID(), 0);
        EXPECT_EQ(player.Mode(), mpStopped);
        EXPECT_EQ(player.Position(), 0);
        EXPECT_NEAR(static_cast<double>(player.Length()), c.approxLength, 120.0);
        EXPECT_EQ(player.Frames(), player.Length() / 10);
        player.Play();
        ASSERT_TRUE(waitFor([&] { return !rec.values.empty(); }));
        testutil::pump(50);
        ASSERT_EQ(rec.values.size(), 1u);
        EXPECT_EQ(rec.values[0], nvSuccessful);
        // The runner tells a finished prompt by this equality.
        EXPECT_EQ(rec.positionAndLength[0].first, rec.positionAndLength[0].second);
        EXPECT_EQ(player.Position(), player.Length());
        EXPECT_EQ(player.Mode(), mpStopped);
        // Playing again at the end ends again at once, still at the end.
        player.Play();
        ASSERT_TRUE(waitFor([&] { return rec.values.size() == 2; }));
        EXPECT_EQ(rec.values[1], nvSuccessful);
        EXPECT_EQ(player.Position(), player.Length());
    }
}

TEST(TMediaPlayerMpvTest, PauseTogglesAndStopAbortsTheWaitingNotify)
{
    mediatest::NullOutputs outputs(false);
    TMediaPlayer player;
    Recorder rec;
    rec.attach(player);
    player.FileName = files().longWav;
    player.Open();
    player.Play();
    EXPECT_EQ(player.Mode(), mpPlaying);
    ASSERT_TRUE(waitFor([&] { return player.Position() > 100; }));

    player.Pause();
    EXPECT_EQ(player.Mode(), mpPaused);
    ASSERT_TRUE(waitFor([&] { return rec.values.size() == 1; }));
    EXPECT_EQ(rec.values[0], nvAborted);
    const std::int64_t held = player.Position();
    testutil::pump(200);
    EXPECT_NEAR(static_cast<double>(player.Position()), static_cast<double>(held), 30.0);

    player.Pause(); // resumes, with a notify of its own
    EXPECT_EQ(player.Mode(), mpPlaying);
    ASSERT_TRUE(waitFor([&] { return player.Position() > held + 100; }));

    player.Stop();
    EXPECT_EQ(player.Mode(), mpStopped);
    ASSERT_TRUE(waitFor([&] { return rec.values.size() == 2; }));
    EXPECT_EQ(rec.values[1], nvAborted);
    EXPECT_LT(player.Position(), player.Length());

    // Pause on a stopped file does nothing.
    player.Pause();
    EXPECT_EQ(player.Mode(), mpStopped);
    testutil::pump(100);
    EXPECT_EQ(rec.values.size(), 2u);
}

TEST(TMediaPlayerMpvTest, PlayWhilePlayingSupersedesTheFirstNotify)
{
    mediatest::NullOutputs outputs(false);
    TMediaPlayer player;
    Recorder rec;
    rec.attach(player);
    player.FileName = files().wav;
    player.Open();
    player.Play();
    player.Play();
    ASSERT_TRUE(waitFor([&] { return rec.values.size() == 2; }));
    EXPECT_EQ(rec.values[0], nvSuperseded);
    EXPECT_EQ(rec.values[1], nvSuccessful);
    EXPECT_EQ(rec.positionAndLength[1].first, rec.positionAndLength[1].second);
}

TEST(TMediaPlayerMpvTest, OpenFailuresRaiseThePlayersTextsAndLeaveItClosed)
{
    mediatest::NullOutputs outputs(true);
    const auto &f = files();
    const struct {
        QString path;
        const char *text;
    } cases[] = {
        {f.missing, TMediaPlayer::kFileNotFound},
        {f.corrupt, TMediaPlayer::kFileUnplayable},
        {f.text, TMediaPlayer::kFileUnplayable},
        {QString::fromStdString(f.folder.string()), TMediaPlayer::kFileNotFound},
    };
    TMediaPlayer player;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        // A file open before is closed by the failing open too.
        player.FileName = f.wav;
        player.Open();
        ASSERT_NE(player.DeviceID(), 0);
        player.FileName = c.path;
        try {
            player.Open();
            ADD_FAILURE() << "no error";
        } catch (const EMCIDeviceError &e) {
            EXPECT_STREQ(e.what(), c.text);
        }
        EXPECT_EQ(player.DeviceID(), 0);
        EXPECT_EQ(player.Mode(), mpNotReady);
        EXPECT_NE(player.Error(), 0u);
    }
}

TEST(TMediaPlayerMpvTest, UnreadableFileIsReportedAsSuch)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file";
    mediatest::NullOutputs outputs(true);
    testutil::TempDir dir;
    const auto path = dir.path() / "locked.wav";
    std::filesystem::copy_file(files().wav.toStdString(), path);
    std::filesystem::permissions(path, std::filesystem::perms::none);
    TMediaPlayer player;
    player.FileName = QString::fromStdString(path.string());
    try {
        player.Open();
        ADD_FAILURE() << "no error";
    } catch (const EMCIDeviceError &e) {
        EXPECT_STREQ(e.what(), TMediaPlayer::kFileUnreadable);
    }
}

TEST(TMediaPlayerMpvTest, OpeningAnotherFileClosesTheFirstAndNamesANewDevice)
{
    mediatest::NullOutputs outputs(true);
    TMediaPlayer player;
    player.FileName = files().wav;
    player.Open();
    const auto first = player.DeviceID();
    player.FileName = files().mp3;
    player.Open();
    EXPECT_NE(player.DeviceID(), 0);
    EXPECT_NE(player.DeviceID(), first);
    EXPECT_NEAR(static_cast<double>(player.Length()), 1000.0, 120.0);
}
