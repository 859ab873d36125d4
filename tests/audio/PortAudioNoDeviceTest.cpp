// The real device table on a machine without a sound card: PortAudio starts
// with no input device. Its own process, for the reason given in
// PortAudioCaptureTest.cpp.

#include "TestUtil.h"
#include "audio/MMWRec.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

TEST(PortAudioNoDeviceTest, StartReportsThatThereIsNoRecordingDevice)
{
    testutil::TempDataHome home;
    std::filesystem::create_directories(home.driveC() / "recording");
    // The default PCM names a card that does not exist.
    const auto conf = home.path() / "asound.conf";
    testutil::writeFile(conf, "pcm.!default { type hw card 9 }\n");
    setenv("ALSA_CONFIG_PATH", conf.c_str(), 1);

    TMMWaveRecorder recorder;
    recorder.ApplyAnswerLayout();
    EXPECT_EQ(recorder.WaveIn()->DeviceCount(), 0);
    EXPECT_EQ(recorder.DeviceID(), MapperId);
    EXPECT_EQ(recorder.ProductName(), "No wave audio recording device found");
    recorder.Wave()->SetFileName("c:\\recording\\none.wav");
    try {
        recorder.Start();
        FAIL() << "no error";
    } catch (const EMMWaveInError &e) {
        EXPECT_STREQ(e.what(), "No wave audio recording device found");
    }
    EXPECT_FALSE(std::filesystem::exists(home.driveC() / "recording" / "none.wav"));
}
