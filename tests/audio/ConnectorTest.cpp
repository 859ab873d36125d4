#include "audio/FakeWaveInDevice.h"
#include "audio/MMACM.h"
#include "audio/MMWRec.h"
#include "audio/MMConect.h"
#include "audio/MMLevel.h"
#include "audio/MMTimer.h"
#include "audio/MSAdpcm.h"

#include "TestUtil.h"
#include "platform/Messages.h"

#include <QWidget>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

namespace {

TWaveFormatEx pcmFormat(int bits, int channels, int rate)
{
    TWaveFormatEx f;
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = static_cast<std::uint16_t>(channels);
    f.nSamplesPerSec = static_cast<std::uint32_t>(rate);
    f.wBitsPerSample = static_cast<std::uint16_t>(bits);
    f.nBlockAlign = static_cast<std::uint16_t>(bits / 8 * channels);
    f.nAvgBytesPerSec = f.nBlockAlign * f.nSamplesPerSec;
    return f;
}

// Stereo tone: left and right amplitudes per frame.
std::vector<std::int16_t> tone(int frames, double left, double right)
{
    std::vector<std::int16_t> s(2 * static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        const double v = std::sin(2 * M_PI * 441.0 * i / 44100.0);
        s[2 * i] = static_cast<std::int16_t>(std::lround(left * v));
        s[2 * i + 1] = static_cast<std::int16_t>(std::lround(right * v));
    }
    return s;
}

// One 4096-byte ADPCM buffer (two blocks) of a tone.
std::vector<std::uint8_t> adpcmBuffer(double left, double right)
{
    return msadpcm::encode(tone(2 * 2036, left, right), 2, 2048, 1);
}

// The test window's arrangement: an upstream member with the recorder's
// format, the connector with its two meters.
struct Rig {
    QWidget window;
    TMMLevel *mlvl1;
    TMMLevel *mlvl2;
    TMMDSPComponent source;
    TMMConnector connector;
    WaveFormatPtr format;

    explicit Rig(const TWaveFormatEx *f = nullptr)
    {
        window.resize(300, 100);
        mlvl1 = new TMMLevel(&window);
        mlvl2 = new TMMLevel(&window);
        layoutAnswerMeter(*mlvl1, chLeft);
        layoutAnswerMeter(*mlvl2, chRight);
        mlvl2->move(0, 20);
        window.show();
        source.ProvidesOutput = true;
        connector.SetInput(&source);
        connector.SetLevel1(mlvl1);
        connector.SetLevel2(mlvl2);
        format = f ? copyWaveFormat(f) : msadpcm::answerFormat();
        source.SetPWaveFormat(format.get());
        connector.SetBufferSize(4096);
    }

    void start()
    {
        connector.Opened();
        connector.Started();
    }

    void deliver(const std::vector<std::uint8_t> &data)
    {
        std::vector<char> bytes(data.begin(), data.end());
        TWaveHdr hdr;
        hdr.lpData = bytes.data();
        hdr.dwBufferLength = static_cast<std::uint32_t>(bytes.size());
        hdr.dwBytesRecorded = static_cast<std::uint32_t>(bytes.size());
        source.BufferReady(&hdr);
    }

    // Feed steps until nothing more is pending (at most n).
    long long drain(int n = 1000)
    {
        const long long before = connector.LevelBlocksFed();
        for (int i = 0; i < n && connector.LevelPending(); ++i)
            connector.FeedDisplays();
        return connector.LevelBlocksFed() - before;
    }
};

class ConnectorTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        TimerService::SetManualTicking(true);
        testutil::clearShown();
    }
    void TearDown() override
    {
        TMMConnector::SetClockForTesting({});
        AcmBind();
        EXPECT_EQ(TimerService::ClientCount(), 0);
        TimerService::SetManualTicking(false);
        EXPECT_TRUE(testutil::shownErrors().empty());
    }
};

TEST_F(ConnectorTest, AnswerBufferConvertsAndFeeds41Blocks)
{
    Rig rig;
    rig.connector.SetRealTime(false);
    rig.connector.SetAutoTrigger(false);
    rig.connector.SetSynchronize(false);
    rig.start();
    TMMConnector &c = rig.connector;
    ASSERT_TRUE(c.Running());
    EXPECT_TRUE(c.Converting());
    EXPECT_FALSE(c.DirectPCM());
    ASSERT_NE(c.DisplayFormat(), nullptr);
    EXPECT_EQ(c.DisplayFormat()->wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(c.DisplayFormat()->wBitsPerSample, 16);
    EXPECT_EQ(c.DisplayFormat()->nAvgBytesPerSec, 176400u);
    EXPECT_EQ(c.DisplayBufferSize(), 16288);
    EXPECT_EQ(rig.mlvl1->BlockBytes(), 396);

    rig.deliver(adpcmBuffer(30000, 3000));
    EXPECT_EQ(c.ValidBytes(), 16288);
    EXPECT_EQ(rig.drain(), 41);
    EXPECT_EQ(c.LevelPosition(), 42 * 396);
    // Left loud, right quiet: each meter reads its own channel.
    EXPECT_GE(rig.mlvl1->BarValue(), 62);
    EXPECT_GE(rig.mlvl2->BarValue(), 26);
    EXPECT_LE(rig.mlvl2->BarValue(), 30);
}

TEST_F(ConnectorTest, PcmInputIsShownUnconvertedAndShortTailsAreDropped)
{
    const TWaveFormatEx pcm = pcmFormat(16, 2, 44100);
    Rig rig(&pcm);
    rig.connector.SetRealTime(false);
    rig.connector.SetSynchronize(false);
    rig.start();
    TMMConnector &c = rig.connector;
    ASSERT_TRUE(c.Running());
    EXPECT_TRUE(c.DirectPCM());
    EXPECT_FALSE(c.Converting());
    EXPECT_EQ(c.DisplayBuffer(), c.InputBuffer());
    EXPECT_EQ(c.DisplayFormat(), c.PWaveFormat());
    EXPECT_EQ(c.DisplayBufferSize(), 4096);

    // AutoTrigger with RealTime false feeds the first block at once.
    std::vector<std::uint8_t> bytes(1000, 0);
    const auto t = tone(250, 20000, 20000);
    std::memcpy(bytes.data(), t.data(), 1000);
    rig.deliver(bytes);
    EXPECT_EQ(c.LevelBlocksFed(), 1);
    EXPECT_EQ(rig.drain(), 1); // positions 0 and 396; 208 bytes never shown
    EXPECT_FALSE(c.LevelPending());
}

TEST_F(ConnectorTest, BlocksArePacedToTheirPositionInTheBuffer)
{
    std::uint64_t clock = 1'000'000;
    TMMConnector::SetClockForTesting([&] { return clock; });
    Rig rig;
    TMMConnector &c = rig.connector;
    c.SetRealTime(false);
    c.SetAutoTrigger(false);
    rig.start();
    rig.deliver(adpcmBuffer(20000, 20000));
    c.FeedDisplays();
    EXPECT_EQ(c.LevelBlocksFed(), 1);
    // Block 1 (position 396) is due 2244 us after arrival.
    c.FeedDisplays();
    EXPECT_EQ(c.LevelBlocksFed(), 1);
    clock += 2243;
    c.FeedDisplays();
    EXPECT_EQ(c.LevelBlocksFed(), 1);
    clock += 1;
    c.FeedDisplays();
    EXPECT_EQ(c.LevelBlocksFed(), 2);
    // One block per feed step even when several are due.
    clock = 1'000'000 + 22447;
    for (int i = 0; i < 20; ++i)
        c.FeedDisplays();
    EXPECT_EQ(c.LevelBlocksFed(), 10);
    EXPECT_EQ(c.LevelPosition(), 3960);
    EXPECT_EQ(c.MicrosUntilDue(clock), 1);
    clock += 1; // 22,448 us: position 3960
    c.FeedDisplays();
    EXPECT_EQ(c.LevelBlocksFed(), 11);

    // A new buffer restarts at position 0, paced from its own arrival.
    clock += 500;
    rig.deliver(adpcmBuffer(20000, 20000));
    EXPECT_EQ(c.LevelPosition(), 0);
    EXPECT_TRUE(c.LevelPending());
    c.FeedDisplays();
    c.FeedDisplays();
    EXPECT_EQ(c.LevelBlocksFed(), 12);
    EXPECT_EQ(c.LevelPosition(), 396);

    // Without Synchronize every step feeds the next block.
    c.SetSynchronize(false);
    EXPECT_EQ(rig.drain(), 40);
}

TEST_F(ConnectorTest, SlotRules)
{
    Rig rig;
    TMMConnector &c = rig.connector;
    c.SetLevel1(rig.mlvl2);
    EXPECT_EQ(c.Level1(), rig.mlvl1);
    EXPECT_EQ(c.Level2(), rig.mlvl2);
    c.SetLevel2(rig.mlvl1);
    EXPECT_EQ(c.Level2(), rig.mlvl2);
    // A removed display leaves its slot.
    delete rig.mlvl2;
    rig.mlvl2 = nullptr;
    EXPECT_EQ(c.Level2(), nullptr);
    EXPECT_EQ(c.Level1(), rig.mlvl1);
    c.SetLevel1(nullptr);
    c.SetLevel2(rig.mlvl1);
    EXPECT_EQ(c.Level2(), rig.mlvl1);

    c.SetSpeed(0);
    EXPECT_EQ(c.Speed(), 1);
    c.SetSpeed(9999);
    EXPECT_EQ(c.Speed(), 5000);
}

TEST_F(ConnectorTest, StoppingAndDisablingClearTheMeters)
{
    Rig rig;
    TMMConnector &c = rig.connector;
    c.SetRealTime(false);
    c.SetSynchronize(false);
    rig.start();
    rig.deliver(adpcmBuffer(30000, 30000));
    rig.drain();
    ASSERT_GT(rig.mlvl1->BarValue(), 60);
    ASSERT_GT(rig.mlvl2->BarValue(), 60);
    // AutoTrigger false does not clear them.
    c.SetAutoTrigger(false);
    EXPECT_GT(rig.mlvl1->BarValue(), 60);
    c.SetAutoTrigger(true);
    c.Stopped();
    EXPECT_FALSE(c.Running());
    EXPECT_EQ(rig.mlvl1->BarValue(), 0);
    EXPECT_EQ(rig.mlvl2->BarValue(), 0);
    EXPECT_EQ(rig.mlvl1->PeakSpot(), 0);
    EXPECT_EQ(c.DisplayBuffer(), nullptr);

    // Enabled false clears them even when not running.
    rig.mlvl1->setValue(100);
    ASSERT_EQ(rig.mlvl1->BarValue(), 65);
    c.SetEnabled(false);
    EXPECT_EQ(rig.mlvl1->BarValue(), 0);
    // And a disabled connector ignores buffers.
    c.SetEnabled(true);
    c.Opened();
    c.Started();
    c.SetEnabled(false);
    rig.deliver(adpcmBuffer(30000, 30000));
    EXPECT_EQ(c.LevelBlocksFed(), 41);
    EXPECT_EQ(rig.mlvl1->BarValue(), 0);
}

TEST_F(ConnectorTest, WithoutConversionTheMetersStayUntouched)
{
    AcmBind(nullptr);
    {
        Rig rig;
        rig.mlvl1->setValue(50);
        rig.start();
        EXPECT_FALSE(rig.connector.Running());
        EXPECT_FALSE(rig.connector.Converting());
        rig.deliver(adpcmBuffer(30000, 30000));
        EXPECT_EQ(rig.mlvl1->BarValue(), 54);
        EXPECT_EQ(rig.connector.LevelBlocksFed(), 0);
    }
    AcmBind();
    Rig rig;
    rig.connector.SetAutoConvert(false);
    rig.start();
    EXPECT_FALSE(rig.connector.Running());
    rig.deliver(adpcmBuffer(30000, 30000));
    EXPECT_EQ(rig.mlvl1->BarValue(), 0);
}

TEST_F(ConnectorTest, ErrorTexts)
{
    Rig rig;
    rig.connector.SetRealTime(false); // allowed while closed
    rig.connector.Opened();
    try {
        rig.connector.SetRealTime(true);
        ADD_FAILURE() << "no error";
    } catch (const EMMConnectorError &e) {
        EXPECT_STREQ(e.what(), "Change to property while device was open");
    }
    EXPECT_FALSE(rig.connector.RealTime());

    // A format the meters cannot show is refused by them, through the
    // connector's format change.
    rig.connector.Closed();
    const TWaveFormatEx pcm24 = pcmFormat(24, 2, 44100);
    try {
        rig.source.SetPWaveFormat(&pcm24);
        ADD_FAILURE() << "no error";
    } catch (const EMMLevelError &e) {
        EXPECT_STREQ(e.what(), "Invalid WaveFormat");
    }
}

TEST_F(ConnectorTest, PauseShowsSilenceAndRearmsOnTheTimer)
{
    Rig rig;
    TMMConnector &c = rig.connector;
    c.SetSynchronize(false);
    rig.start();
    rig.deliver(adpcmBuffer(30000, 30000));
    c.Paused();
    EXPECT_TRUE(c.Suspended());
    ASSERT_TRUE(c.HasPauseTimer());
    for (int i = 0; i < c.DisplayBufferSize(); ++i)
        ASSERT_EQ(c.DisplayBuffer()[i], 0) << i;
    // Buffers are ignored while paused.
    rig.deliver(adpcmBuffer(30000, 30000));
    EXPECT_FALSE(c.LevelPending());
    // 4096 bytes at 44,359 bytes a second: every 92 ms, i.e. every 4th tick.
    for (int i = 0; i < 3; ++i)
        TimerService::Tick();
    EXPECT_FALSE(c.LevelPending());
    TimerService::Tick();
    EXPECT_TRUE(c.LevelPending());
    EXPECT_EQ(c.LevelPosition(), 0);
    c.Restarted();
    EXPECT_FALSE(c.Suspended());
    EXPECT_FALSE(c.HasPauseTimer());
    c.Stopped();
}

// The whole path in real time: buffers through the chain, the feed loop
// waking itself at the blocks' due times.
TEST_F(ConnectorTest, FeedLoopShowsEveryBlockWithoutSpinning)
{
    Rig rig;
    TMMConnector &c = rig.connector;
    rig.start();
    ASSERT_TRUE(c.Running());
    testutil::pump(20);
    ASSERT_TRUE(c.Active());
    EXPECT_EQ(TMMConnector::ActiveCount(), 1);
    const long long cycles = TMMConnector::LoopCycles();
    rig.deliver(adpcmBuffer(30000, 30000));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (c.LevelPending() && std::chrono::steady_clock::now() < deadline)
        testutil::pump(10);
    EXPECT_EQ(c.LevelBlocksFed(), 41);
    EXPECT_GE(rig.mlvl1->BarValue(), 62);
    // About one wake per block, not one per millisecond of a busy loop.
    EXPECT_LE(TMMConnector::LoopCycles() - cycles, 3 * 41);
    c.Stopped();
    EXPECT_EQ(TMMConnector::ActiveCount(), 0);
    EXPECT_EQ(rig.mlvl1->BarValue(), 0);
}

TEST_F(ConnectorTest, TriggerFeedsOnTheMainThreadOrPostsOneMessage)
{
    Rig rig;
    TMMConnector &c = rig.connector;
    c.SetAutoTrigger(false);
    c.SetSynchronize(false);
    int triggers = 0;
    c.OnTrigger = [&](TMMConnector *) { ++triggers; };
    rig.start();
    testutil::pump(10);
    ASSERT_TRUE(c.Active());
    EXPECT_EQ(TMMConnector::ActiveCount(), 0); // not part of the feed loop
    rig.deliver(adpcmBuffer(20000, 20000));
    testutil::pump(10);
    EXPECT_EQ(c.LevelBlocksFed(), 0);

    c.Trigger();
    EXPECT_EQ(c.LevelBlocksFed(), 1);
    EXPECT_EQ(triggers, 1);
    // From another thread: one message until it has been handled.
    std::thread other([&] {
        c.Trigger();
        c.Trigger();
    });
    other.join();
    EXPECT_EQ(c.LevelBlocksFed(), 1);
    testutil::pump(10);
    EXPECT_EQ(c.LevelBlocksFed(), 2);
    std::thread again([&] { c.Trigger(); });
    again.join();
    testutil::pump(10);
    EXPECT_EQ(c.LevelBlocksFed(), 3);
    // With AutoTrigger the loop feeds and Trigger does nothing.
    c.SetAutoTrigger(true);
    testutil::pump(10);
    const long long fed = c.LevelBlocksFed();
    c.Trigger();
    EXPECT_EQ(c.LevelBlocksFed(), fed);
    c.Stopped();
}

// A tone that steps from silence to full scale and back, delivered at the
// pace it was recorded: the meters' values follow it.
TEST_F(ConnectorTest, MetersFollowAToneThatStepsUpAndDown)
{
    Rig rig;
    TMMConnector &c = rig.connector;
    rig.start();
    testutil::pump(10);
    ASSERT_TRUE(c.Active());
    const auto silent = adpcmBuffer(0, 0);
    const auto loud = adpcmBuffer(32000, 16000);
    std::vector<int> left, right;
    const auto start = std::chrono::steady_clock::now();
    const auto period = std::chrono::microseconds(1'000'000LL * 4072 / 44100); // 92.3 ms
    for (int k = 0; k < 24; ++k) {
        platform::processMessagesUntil(start + k * period);
        left.push_back(rig.mlvl1->Value());
        right.push_back(rig.mlvl2->Value());
        rig.deliver(k >= 6 && k < 12 ? loud : silent);
    }
    // Silence first: nothing lit.
    for (int k = 0; k <= 6; ++k)
        EXPECT_EQ(left[k], 0) << k;
    // Loud: the left meter near full scale, the right one about half.
    for (int k = 8; k <= 12; ++k) {
        EXPECT_GE(left[k], 85) << k;
        EXPECT_GE(right[k], 40) << k;
        EXPECT_LE(right[k], 60) << k;
    }
    // Back to silence: the bars fall (about half a second) and go out.
    EXPECT_LT(left[15], left[12]);
    for (int k = 20; k < 24; ++k) {
        EXPECT_EQ(left[k], 0) << k;
        EXPECT_EQ(right[k], 0) << k;
    }
    c.Stopped();
}

// The test window's chain: wave-in (fake) -> file writer -> recorder ->
// connector, the meters lit while an answer is recorded and empty after.
TEST_F(ConnectorTest, RecorderChainLightsTheMetersWhileRecording)
{
    testutil::TempDataHome home;
    std::filesystem::create_directories(home.driveC() / "recording");
    FakeWaveInDevice dev{1};
    ScopedWaveInDevice scope{dev};
    QWidget window;
    auto *mlvl1 = new TMMLevel(&window);
    auto *mlvl2 = new TMMLevel(&window);
    layoutAnswerMeter(*mlvl1, chLeft);
    layoutAnswerMeter(*mlvl2, chRight);
    window.show();
    TMMWaveRecorder WaveRecorder;
    WaveRecorder.ApplyAnswerLayout();
    TMMConnector mcnctrConnector;
    // Both ends of the link, as the window's layout sets them.
    WaveRecorder.SetOutput(&mcnctrConnector);
    mcnctrConnector.SetInput(&WaveRecorder);
    mcnctrConnector.SetLevel1(mlvl1);
    mcnctrConnector.SetLevel2(mlvl2);
    mcnctrConnector.SetSynchronize(false);
    ASSERT_EQ(WaveRecorder.Output(), &mcnctrConnector);

    for (int answer = 0; answer < 2; ++answer) {
        WaveRecorder.Wave()->SetFileName(answer ? "c:\\recording\\2.wav"
                                                : "c:\\recording\\1.wav");
        WaveRecorder.Start();
        ASSERT_TRUE(mcnctrConnector.Running()) << answer;
        EXPECT_EQ(mcnctrConnector.RealBufferSize(), 4096);
        EXPECT_TRUE(mcnctrConnector.Converting());
        EXPECT_EQ(mlvl1->BarValue(), 0);
        const long long fed = mcnctrConnector.LevelBlocksFed();
        ASSERT_EQ(dev.deliver(adpcmBuffer(30000, 8000)), 1);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (mcnctrConnector.LevelBlocksFed() - fed < 41
               && std::chrono::steady_clock::now() < deadline)
            testutil::pump(5);
        EXPECT_EQ(mcnctrConnector.LevelBlocksFed() - fed, 41);
        EXPECT_GE(mlvl1->BarValue(), 62);
        EXPECT_GE(mlvl2->BarValue(), 38);
        EXPECT_LE(mlvl2->BarValue(), 45);
        WaveRecorder.Stop();
        EXPECT_FALSE(mcnctrConnector.Running());
        EXPECT_EQ(mlvl1->BarValue(), 0);
        EXPECT_EQ(mlvl2->BarValue(), 0);
    }
}

} // namespace
