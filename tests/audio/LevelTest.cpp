#include "audio/MMLevel.h"
#include "audio/MMTimer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr QRgb kAqua = 0xFF00FFFF;
constexpr QRgb kRed = 0xFFFF0000;
constexpr QRgb kTeal = 0xFF008080;
constexpr QRgb kMaroon = 0xFF800000;
constexpr QRgb kBlack = 0xFF000000;

TWaveFormatEx pcm(int bits, int channels, int rate)
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

// A 99-frame 16-bit stereo block whose largest left and right samples are
// the given values (the others are smaller).
std::vector<std::int16_t> stereoBlock(int left, int right)
{
    std::vector<std::int16_t> b(2 * 99, 0);
    for (int i = 0; i < 99; ++i) {
        b[2 * i] = static_cast<std::int16_t>(left * (i % 7) / 7);
        b[2 * i + 1] = static_cast<std::int16_t>(right * (i % 5) / 5);
    }
    b[2 * 40] = static_cast<std::int16_t>(left);
    b[2 * 60 + 1] = static_cast<std::int16_t>(right);
    return b;
}

// The meters run on manual timer ticks so that the peak marker moves only
// when a test says so.
class LevelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(TimerService::ClientCount(), 0);
        TimerService::SetManualTicking(true);
    }
    void TearDown() override
    {
        m_meters.clear();
        EXPECT_EQ(TimerService::ClientCount(), 0);
        TimerService::SetManualTicking(false);
    }

    // A meter set up as the test window's mlvl1 / mlvl2 and shown.
    TMMLevel &windowMeter(TMMChannel channel = chLeft, TMMDecayMode decay = dmStepUp)
    {
        auto m = std::make_unique<TMMLevel>();
        layoutAnswerMeter(*m, channel);
        m->setDecayMode(decay);
        m->show();
        m_meters.push_back(std::move(m));
        return *m_meters.back();
    }

    static void feed(TMMLevel &m, int left, int right = 0)
    {
        const auto b = stereoBlock(left, right);
        m.ProcessBlock(b.data());
    }

    std::vector<std::unique_ptr<TMMLevel>> m_meters;
};

TEST_F(LevelTest, TestWindowMeterGeometry)
{
    TMMLevel &m = windowMeter();
    EXPECT_EQ(m.InnerRect(), QRect(1, 1, 129, 7));
    EXPECT_EQ(m.NumSpots(), 65);
    EXPECT_EQ(m.SpotMargin(), 0);
    EXPECT_EQ(m.Point1Spot(), 32);
    EXPECT_EQ(m.Point2Spot(), 48);
    EXPECT_EQ(m.BlockBytes(), 396);
    EXPECT_FLOAT_EQ(m.DecayFactor(), 0.9821719f);
    EXPECT_EQ(m.RingLength(), 16);
    // Zones 1 ... 32, 33 ... 48, 49 ... 65.
    EXPECT_EQ(m.SpotZone(1), 1);
    EXPECT_EQ(m.SpotZone(32), 1);
    EXPECT_EQ(m.SpotZone(33), 2);
    EXPECT_EQ(m.SpotZone(48), 2);
    EXPECT_EQ(m.SpotZone(49), 3);
    EXPECT_EQ(m.SpotZone(65), 3);
    // Spots start at the inner area's first column, every second column.
    const TMMDIBCanvas &bg = m.BackgroundImage();
    EXPECT_EQ(bg.Width(), 129);
    EXPECT_EQ(bg.Height(), 7);
    for (int x = 0; x < 129; ++x)
        for (int y : {0, 6}) {
            const QRgb expected = x % 2 ? kBlack : (x / 2 + 1 > 48 ? kMaroon : kTeal);
            ASSERT_EQ(bg.Pixel(x, y), expected) << "x=" << x << " y=" << y;
        }
}

TEST_F(LevelTest, WorkedValuesOnTheDecibelScale)
{
    struct Case {
        int amplitude;
        int spots;
    };
    for (const Case c : {Case{32767, 65}, Case{16384, 54}, Case{10000, 46}, Case{3276, 28},
                         Case{1000, 9}, Case{600, 0}, Case{583, 0}}) {
        TMMLevel &m = windowMeter(chLeft, dmNone);
        feed(m, c.amplitude, 0);
        EXPECT_EQ(m.BarValue(), c.spots) << c.amplitude;
        TMMLevel &r = windowMeter(chRight, dmNone);
        feed(r, 5, c.amplitude);
        EXPECT_EQ(r.BarValue(), c.spots) << "right " << c.amplitude;
    }
}

TEST_F(LevelTest, MostNegativeSampleFillsTheBarAndReportsOverflow)
{
    TMMLevel &m = windowMeter();
    int pcmOverflows = 0, gainOverflows = 0;
    m.OnPcmOverflow = [&](TMMCustomLevel *) { ++pcmOverflows; };
    m.OnGainOverflow = [&](TMMCustomLevel *) { ++gainOverflows; };
    feed(m, -32768);
    EXPECT_EQ(m.LastLevel(), 32768);
    EXPECT_EQ(m.BarValue(), 65);
    EXPECT_EQ(pcmOverflows, 1);
    EXPECT_EQ(gainOverflows, 0);
    feed(m, 32000);
    EXPECT_EQ(pcmOverflows, 1);
}

TEST_F(LevelTest, GainBeyondTheBarOverflows)
{
    TMMLevel &m = windowMeter(chLeft, dmNone);
    int gainOverflows = 0;
    m.OnGainOverflow = [&](TMMCustomLevel *) { ++gainOverflows; };
    m.setGain(8);
    feed(m, 32767);
    EXPECT_EQ(gainOverflows, 1);
    EXPECT_EQ(m.BarValue(), 65);
    // Factor 2 doubles the amplitude: 16384 now reads as full scale.
    m.setGain(0);
    feed(m, 16384);
    EXPECT_EQ(m.BarValue(), 54);
    m.setGain(8);
    feed(m, 8192);
    EXPECT_EQ(m.BarValue(), 54);
}

TEST_F(LevelTest, SilenceOnAnEmptyBarTouchesNothing)
{
    TMMLevel &m = windowMeter(chLeft, dmUniform);
    const long long draws = m.ImmediateDraws();
    feed(m, 0, 20000);
    EXPECT_EQ(m.RingCount(), 0);
    EXPECT_EQ(m.BarValue(), 0);
    EXPECT_EQ(m.ImmediateDraws(), draws);
    // A sound block does take part in the decay.
    feed(m, 3000, 0);
    EXPECT_EQ(m.RingCount(), 1);
}

TEST_F(LevelTest, StepUpDecayFallsByAConstantFactorPerBlock)
{
    TMMLevel &m = windowMeter();
    feed(m, 32767);
    ASSERT_EQ(m.BarValue(), 65);
    feed(m, 0);
    EXPECT_FLOAT_EQ(m.DecayLevel(), 32767.0f * 0.9821719f);
    EXPECT_EQ(m.LastLevel(), 0);
    // A louder block jumps up at once.
    feed(m, 32767);
    EXPECT_FLOAT_EQ(m.DecayLevel(), 32767.0f);
    int blocks = 0;
    while (m.BarValue() > 0 && blocks < 1000) {
        feed(m, 0);
        ++blocks;
    }
    // 0.156 dB a block from 0 dB down to the bar's floor near -35 dB.
    EXPECT_GE(blocks, 215);
    EXPECT_LE(blocks, 230);
}

TEST_F(LevelTest, ExponentialAndUniformDecay)
{
    TMMLevel &e = windowMeter(chLeft, dmExponential);
    feed(e, 32767);
    const float f = e.DecayFactor();
    EXPECT_FLOAT_EQ(e.DecayLevel(), (1.0f - f) * 32767.0f);
    // 1.8 % of full scale: -34.9 dB, below the middle of the first spot.
    EXPECT_EQ(e.BarValue(), 0);

    TMMLevel &u = windowMeter(chLeft, dmUniform);
    // The ring averages the last 16 levels.
    for (int i = 0; i < 16; ++i)
        feed(u, 16384);
    EXPECT_EQ(u.BarValue(), 54);
    for (int i = 0; i < 8; ++i)
        feed(u, 0);
    EXPECT_EQ(u.BarValue(), 43); // 8192: 20 log10(0.25) = -12.04 dB
    for (int i = 0; i < 8; ++i)
        feed(u, 0);
    EXPECT_EQ(u.BarValue(), 0);
}

TEST_F(LevelTest, PeakHoldsFortyOneTicksThenFallsOneSpotPerTick)
{
    TMMLevel &m = windowMeter(chLeft, dmNone);
    // 60 spots: (dB + 35) * 65 / 35 = 60 at dB = -2.69.
    m.DisplayLevel(24000);
    ASSERT_EQ(m.BarValue(), 60);
    EXPECT_EQ(m.PeakSpot(), 60);
    EXPECT_EQ(m.PeakHold(), 41);
    m.DisplayLevel(3276); // 28 spots, marker stays above
    for (int t = 1; t <= 40; ++t)
        TimerService::Tick();
    EXPECT_EQ(m.PeakSpot(), 60);
    TimerService::Tick();
    EXPECT_EQ(m.PeakSpot(), 59);
    EXPECT_TRUE(m.NeedsRepaint());
    TimerService::Tick();
    EXPECT_EQ(m.PeakSpot(), 58);
    // The move is drawn with the next block even though the bar is unchanged.
    const long long draws = m.ImmediateDraws();
    m.DisplayLevel(3276);
    EXPECT_EQ(m.ImmediateDraws(), draws + 1);
    EXPECT_FALSE(m.NeedsRepaint());
    // The marker spots 58 and 57 are lit (NumPeaks 2), 59 is dark again.
    const TMMDIBCanvas &w = m.WorkImage();
    EXPECT_EQ(w.Pixel(m.SpotRect(58).x(), 3), kRed);
    EXPECT_EQ(w.Pixel(m.SpotRect(57).x(), 3), kRed);
    EXPECT_EQ(w.Pixel(m.SpotRect(59).x(), 3), kMaroon);
    EXPECT_EQ(w.Pixel(m.SpotRect(28).x(), 3), kAqua);
    EXPECT_EQ(w.Pixel(m.SpotRect(29).x(), 3), kTeal);

    // With PeakSpeed 0 the marker vanishes at once after its hold.
    m.setPeakSpeed(0);
    m.DisplayLevel(32767);
    for (int t = 0; t < 41; ++t)
        TimerService::Tick();
    EXPECT_EQ(m.PeakSpot(), 0);
}

TEST_F(LevelTest, MarkerBelowSpotOneIsNotDrawn)
{
    TMMLevel &m = windowMeter(chLeft, dmNone);
    m.DisplayLevel(630); // -34.3 dB: 1 spot
    ASSERT_EQ(m.BarValue(), 1);
    m.DisplayLevel(0);
    EXPECT_EQ(m.PeakSpot(), 1);
    EXPECT_EQ(m.BarValue(), 0);
    const TMMDIBCanvas &w = m.WorkImage();
    EXPECT_EQ(w.Pixel(0, 0), kAqua);
    EXPECT_EQ(w.Pixel(2, 0), kTeal);
}

TEST_F(LevelTest, PeakTimerFollowsEnabledAndNumPeaks)
{
    TMMLevel &m = windowMeter(chLeft, dmNone);
    // A sequence that, with plain counted suspend/resume, would leave the
    // peak timer suspended for good.
    m.setNumPeaks(0);
    m.setEnabled(false);
    m.setNumPeaks(2);
    m.setEnabled(true);
    m.DisplayLevel(32767);
    ASSERT_EQ(m.PeakSpot(), 65);
    m.DisplayLevel(1000);
    for (int t = 0; t < 42; ++t)
        TimerService::Tick();
    EXPECT_EQ(m.PeakSpot(), 63);

    // While disabled the meter is empty and ignores blocks.
    m.setEnabled(false);
    EXPECT_EQ(m.BarValue(), 0);
    EXPECT_EQ(m.PeakSpot(), 0);
    feed(m, 32767);
    EXPECT_EQ(m.BarValue(), 0);
}

TEST_F(LevelTest, HiddenMeterIgnoresBlocksAndResetEmptiesIt)
{
    TMMLevel &m = windowMeter();
    feed(m, 32767);
    ASSERT_EQ(m.BarValue(), 65);
    m.hide();
    feed(m, 100);
    EXPECT_EQ(m.LastLevel(), 32767);
    m.ResetData();
    EXPECT_EQ(m.BarValue(), 0);
    EXPECT_EQ(m.PeakSpot(), 0);
    EXPECT_EQ(m.DecayLevel(), 0.0f);
    EXPECT_EQ(m.WorkImage().Pixel(0, 0), kTeal);
}

TEST_F(LevelTest, PropertiesClamp)
{
    TMMLevel &m = windowMeter();
    m.setDecay(0);
    EXPECT_EQ(m.Decay(), 1);
    EXPECT_FLOAT_EQ(m.DecayFactor(), 0.01f);
    EXPECT_EQ(m.RingLength(), 1);
    m.setDecay(20);
    EXPECT_EQ(m.Decay(), 16);
    EXPECT_EQ(m.RingLength(), 30);
    m.setNumPeaks(9);
    EXPECT_EQ(m.NumPeaks(), 5);
    m.setSensitivy(-100);
    EXPECT_EQ(m.Sensitivy(), -90);
    m.setSensitivy(0);
    EXPECT_EQ(m.Sensitivy(), -9);
    m.setSamples(0);
    EXPECT_EQ(m.Samples(), 1);
    EXPECT_EQ(m.BlockBytes(), 4);
    m.setGain(40);
    EXPECT_EQ(m.Gain(), 0);
    m.setGain(-9);
    EXPECT_EQ(m.Gain(), 0);
    m.setPoint1(0);
    EXPECT_EQ(m.Point1(), 1);
    m.setPoint2(150);
    EXPECT_EQ(m.Point2(), 100);
    m.setSpotSpace(11);
    EXPECT_EQ(m.SpotSpace(), 10);
    m.setSpotWidth(1000);
    EXPECT_EQ(m.SpotWidth(), 43); // 129 / 3
    m.setPeakDelay(99);
    EXPECT_EQ(m.PeakDelay(), 50);
    m.setPeakSpeed(-1);
    EXPECT_EQ(m.PeakSpeed(), 0);
    EXPECT_EQ(m.NumSpots(), 2); // (129 + 10) div (43 + 10)
    m.setValue(250);
    EXPECT_EQ(m.BarValue(), 2);
}

TEST_F(LevelTest, SetWaveFormatAcceptsOnlyMeterablePcm)
{
    TMMLevel &m = windowMeter();
    TWaveFormatEx adpcm = pcm(4, 2, 44100);
    adpcm.wFormatTag = WAVE_FORMAT_ADPCM;
    for (const TWaveFormatEx &bad :
         {pcm(24, 2, 44100), pcm(16, 3, 44100), pcm(16, 2, 2000), pcm(8, 1, 100001), adpcm}) {
        try {
            m.SetWaveFormat(&bad);
            ADD_FAILURE() << "accepted " << bad.wBitsPerSample << " bits";
        } catch (const EMMLevelError &e) {
            EXPECT_STREQ(e.what(), "Invalid WaveFormat");
        }
        EXPECT_EQ(m.BitLength(), b16Bit);
        EXPECT_EQ(m.Mode(), mStereo);
    }
    EXPECT_THROW(m.SetWaveFormat(nullptr), EMMLevelError);
    const TWaveFormatEx mono8 = pcm(8, 1, 4000);
    m.SetWaveFormat(&mono8);
    EXPECT_EQ(m.BitLength(), b8Bit);
    EXPECT_EQ(m.Mode(), mMono);
    EXPECT_EQ(m.BlockBytes(), 99);
}

TEST_F(LevelTest, EightBitAndBothChannels)
{
    TMMLevel &m = windowMeter(chBoth, dmNone);
    // Both channels: the mean of left and right, truncated toward zero.
    std::vector<std::int16_t> both(2 * 99);
    for (int i = 0; i < 99; ++i) {
        both[2 * i] = 32767;
        both[2 * i + 1] = -32767;
    }
    m.ProcessBlock(both.data());
    EXPECT_EQ(m.LastLevel(), 0);
    both[20] = 20000;
    both[21] = 12769;
    m.ProcessBlock(both.data());
    EXPECT_EQ(m.LastLevel(), 16384);
    both[21] = -12769;
    m.ProcessBlock(both.data());
    EXPECT_EQ(m.LastLevel(), 3615);

    const TWaveFormatEx st8 = pcm(8, 2, 22050);
    m.SetWaveFormat(&st8);
    std::vector<std::uint8_t> b(2 * 99, 128);
    b[10] = 255; // left +127
    b[21] = 0;   // right -128
    m.setChannel(chLeft);
    m.ProcessBlock(b.data());
    EXPECT_EQ(m.LastLevel(), 127 * 256);
    m.setChannel(chRight);
    m.ProcessBlock(b.data());
    EXPECT_EQ(m.LastLevel(), 128 * 256);
    // A DC offset is subtracted before measuring.
    m.setDCOffsetR(-128);
    m.ProcessBlock(b.data());
    EXPECT_EQ(m.LastLevel(), 128 * 256);
    m.setDCOffsetR(1);
    m.ProcessBlock(b.data());
    EXPECT_EQ(m.LastLevel(), 129 * 256);
}

TEST_F(LevelTest, ValueReadsBackOnBothScales)
{
    TMMLevel &m = windowMeter(chLeft, dmNone);
    m.setValue(100);
    EXPECT_EQ(m.BarValue(), 65);
    EXPECT_EQ(m.Value(), 100);
    m.setValue(50); // -6 dB: 54 spots
    EXPECT_EQ(m.BarValue(), 54);
    EXPECT_EQ(m.Value(), 51); // 54 spots read back: 10^(-5.92 / 20) = 0.506
    m.setValue(0);
    m.setLogAmp(false);
    m.setValue(50);
    // Linear: F = 32767 / 10^(35/20) = 582.7; (16384 - F) * 65 / (32767 - F) = 31.9
    EXPECT_EQ(m.BarValue(), 32);
    EXPECT_EQ(m.Value(), 49);
}

TEST_F(LevelTest, ReversedAndVerticalSpotsStartAtTheirEnd)
{
    TMMLevel &m = windowMeter(chLeft, dmNone);
    m.setDirection(dirReversed);
    EXPECT_EQ(m.SpotRect(1), QRect(128, 0, 1, 7));
    m.setKind(lkVertical);
    EXPECT_EQ(m.width(), 9);
    EXPECT_EQ(m.height(), 131);
    EXPECT_EQ(m.NumSpots(), 65);
    EXPECT_EQ(m.SpotRect(1), QRect(0, 0, 7, 1));
    m.setDirection(dirNormal);
    EXPECT_EQ(m.SpotRect(1), QRect(0, 128, 7, 1));
    m.DisplayLevel(32767);
    EXPECT_EQ(m.WorkImage().Pixel(3, 128), kAqua);
    EXPECT_EQ(m.WorkImage().Pixel(3, 0), kRed);
}

TEST_F(LevelTest, DrawBarHandlerReplacesTheDrawing)
{
    TMMLevel &m = windowMeter(chLeft, dmNone);
    int calls = 0, lastValue = -1;
    m.setOnDrawBar([&](TMMCustomLevel *, TMMDIBCanvas &c, int, int value, QRect r) {
        ++calls;
        lastValue = value;
        c.FillRect(r, QColor(255, 255, 0));
    });
    m.DisplayLevel(32767);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(lastValue, 65);
    EXPECT_EQ(m.WorkImage().Pixel(5, 5), 0xFFFFFF00);
}

TEST_F(LevelTest, TrueColourImagesShowTheSameColours)
{
    TMMLevel &m = windowMeter(chLeft, dmNone);
    m.DisplayLevel(32767);
    EXPECT_THROW(m.setBitCount(16), EMMDIBError);
    EXPECT_EQ(m.BitCount(), 8);
    m.setBitCount(24);
    EXPECT_EQ(m.BitCount(), 24);
    EXPECT_EQ(m.BackgroundImage().BitCount(), 24);
    EXPECT_EQ(m.WorkImage().Pixel(m.SpotRect(1).x(), 0), kAqua);
    EXPECT_EQ(m.WorkImage().Pixel(m.SpotRect(65).x(), 6), kRed);
    EXPECT_EQ(m.BackgroundImage().Pixel(m.SpotRect(65).x(), 6), kMaroon);
    EXPECT_EQ(m.BackgroundImage().Pixel(1, 3), kBlack);
}

TEST(DIBCanvasTest, DepthsAndPalette)
{
    EXPECT_THROW(TMMDIBCanvas(16), EMMDIBError);
    try {
        TMMDIBCanvas c(32);
    } catch (const EMMDIBError &e) {
        EXPECT_STREQ(e.what(), "Bitlength not supported yet");
    }
    TMMDIBCanvas c8(8);
    c8.SetSize(4, 2);
    // Off-palette colours land on the nearest standard colour.
    c8.FillRect(QRect(0, 0, 4, 2), QColor(250, 10, 10));
    EXPECT_EQ(c8.Pixel(3, 1), kRed);
    c8.FillRect(QRect(0, 0, 4, 2), QColor(0, 0, 0));
    c8.FillRect(QRect(0, 0, 4, 2), QColor(0, 255, 255), true);
    EXPECT_EQ(c8.Pixel(0, 0), kAqua);
    EXPECT_EQ(c8.Pixel(1, 0), kBlack);
    EXPECT_EQ(c8.Pixel(1, 1), kAqua);
    // Clipped, not written outside.
    c8.FillRect(QRect(-5, -5, 100, 100), QColor(255, 0, 0));
    EXPECT_EQ(c8.Pixel(3, 1), kRed);
    TMMDIBCanvas c24(24);
    c24.SetSize(2, 2);
    c24.FillRect(QRect(0, 0, 2, 2), QColor(1, 2, 3));
    EXPECT_EQ(c24.Pixel(1, 1), qRgb(1, 2, 3));
    EXPECT_THROW(c24.SetBitCount(15), EMMDIBError);
}

} // namespace
