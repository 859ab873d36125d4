// The whole input path with a virtual microphone: alsa-lib's file plugin
// plays a raw tone through PortAudio into the recorder, whose buffers reach
// the connector and the two meters. A separate executable, because the
// microphone must be chosen (ALSA_CONFIG_PATH) before PortAudio starts.

#include "TestUtil.h"
#include "audio/MMConect.h"
#include "audio/MMLevel.h"
#include "audio/MMTimer.h"
#include "audio/MMWRec.h"
#include "audio/PortAudioWaveIn.h"
#include "platform/Messages.h"

#include <QWidget>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <filesystem>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Silence, a full-scale tone on the left (half on the right), silence.
void writeSteppedTone(const fs::path &p, int silentFrames, int loudFrames, int tailFrames)
{
    std::ofstream out(p, std::ios::binary);
    auto put = [&](double l, double r) {
        const std::int16_t s[2] = {static_cast<std::int16_t>(std::lround(l)),
                                   static_cast<std::int16_t>(std::lround(r))};
        out.write(reinterpret_cast<const char *>(s), sizeof s);
    };
    for (int i = 0; i < silentFrames; ++i)
        put(0, 0);
    for (int i = 0; i < loudFrames; ++i) {
        const double v = std::sin(2 * M_PI * 441.0 * i / 44100.0);
        put(32000 * v, 16000 * v);
    }
    for (int i = 0; i < tailFrames; ++i)
        put(0, 0);
}

TEST(MicMetersTest, MetersFollowTheVirtualMicrophone)
{
    testutil::TempDir dir;
    const fs::path raw = dir.path() / "in.raw";
    // In buffers of 4072 frames (4096 ADPCM bytes): 12 silent, 12 loud, then
    // silence well past the end of the capture (the plugin repeats stale
    // data after the end of its file).
    writeSteppedTone(raw, 12 * 4072, 12 * 4072, 200 * 4072);
    const fs::path conf = dir.path() / "asound.conf";
    {
        std::ofstream c(conf);
        c << "pcm.!default { type file slave { pcm { type null } } file \"/dev/null\" infile \""
          << raw.string() << "\" format \"raw\" }\n";
    }
    setenv("ALSA_CONFIG_PATH", conf.c_str(), 1);

    testutil::TempDataHome home;
    fs::create_directories(home.driveC() / "recording");

    QWidget window;
    window.resize(200, 60);
    auto *mlvl1 = new TMMLevel(&window);
    auto *mlvl2 = new TMMLevel(&window);
    layoutAnswerMeter(*mlvl1, chLeft);
    layoutAnswerMeter(*mlvl2, chRight);
    mlvl2->move(0, 20);
    window.show();

    TMMWaveRecorder WaveRecorder;
    WaveRecorder.ApplyAnswerLayout();
    TMMConnector mcnctrConnector;
    WaveRecorder.SetOutput(&mcnctrConnector);
    mcnctrConnector.SetInput(&WaveRecorder);
    mcnctrConnector.SetLevel1(mlvl1);
    mcnctrConnector.SetLevel2(mlvl2);

    // The virtual microphone delivers about fifteen times faster than real
    // time, so the meters are read per buffer of sound, not per second.
    struct Reading {
        int buffer, left, right;
    };
    std::vector<Reading> readings;
    int buffers = 0;
    WaveRecorder.OnData = [&](TMMComponent *, PWaveHdr) { ++buffers; };
    WaveRecorder.Wave()->SetFileName("c:\\recording\\mic.wav");
    WaveRecorder.Start();
    ASSERT_TRUE(mcnctrConnector.Running());
    EXPECT_TRUE(mcnctrConnector.Converting());
    const auto t0 = std::chrono::steady_clock::now();
    int seen = 0;
    while (buffers < 40 && std::chrono::steady_clock::now() - t0 < std::chrono::seconds(30)) {
        platform::processMessagesUntil(std::chrono::steady_clock::now()
                                       + std::chrono::milliseconds(2));
        if (buffers != seen) {
            seen = buffers;
            readings.push_back({buffers, mlvl1->Value(), mlvl2->Value()});
        }
    }
    ASSERT_GE(buffers, 40) << "the virtual microphone delivered too little";
    const auto stats = portAudioCaptureStats();
    std::string trace;
    for (const Reading &r : readings)
        trace += std::to_string(r.buffer) + ":" + std::to_string(r.left) + "/"
            + std::to_string(r.right) + " ";
    SCOPED_TRACE("readings " + trace + " dropped bytes " + std::to_string(stats.bytesDropped));

    // Silence at first: nothing lit. Lost buffers (when the test machine
    // lags) can only move the tone earlier, by whole buffers.
    const int lost = static_cast<int>(stats.bytesDropped / 4096) + 1;
    for (const Reading &r : readings)
        if (r.buffer <= 12 - lost) {
            EXPECT_EQ(r.left, 0) << r.buffer;
            EXPECT_EQ(r.right, 0) << r.buffer;
        }
    // The tone: left near full scale, right about half (-6 dB).
    bool loud = false;
    std::size_t peakAt = 0;
    for (std::size_t i = 0; i < readings.size(); ++i)
        if (readings[i].left >= 85 && readings[i].right >= 35 && readings[i].right <= 60) {
            loud = true;
            peakAt = i;
        }
    EXPECT_TRUE(loud);
    // Silence again: the bars fall.
    EXPECT_LT(readings.back().left, readings[peakAt].left);
    EXPECT_LT(readings.back().right, readings[peakAt].right);
    WaveRecorder.Stop();
    EXPECT_FALSE(mcnctrConnector.Running());
    EXPECT_EQ(mlvl1->BarValue(), 0);
    EXPECT_EQ(mlvl2->BarValue(), 0);
}

} // namespace
