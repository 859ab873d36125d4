// Capture through the real PortAudio path from a virtual microphone:
// alsa-lib's "file" plugin as the default PCM reads a raw file we generate.
// It runs in its own executable because ALSA_CONFIG_PATH must be set before
// PortAudio (and alsa-lib) first start in the process.

#include "AudioTestUtil.h"
#include "TestUtil.h"
#include "audio/MMWRec.h"
#include "audio/MSAdpcm.h"
#include "audio/PortAudioWaveIn.h"
#include "platform/Messages.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>

using namespace audiotest;
namespace fs = std::filesystem;

namespace {

// A signal whose every stretch differs from every other: a slow chirp with
// an amplitude wobble, so a lost or repeated piece cannot hide.
std::vector<std::int16_t> microphoneSignal(int frames)
{
    std::vector<std::int16_t> out(static_cast<std::size_t>(frames) * 2);
    double phase = 0;
    for (int i = 0; i < frames; ++i) {
        const double t = i / 44100.0;
        const double f = 200.0 + 40.0 * t;
        phase += 2 * M_PI * f / 44100.0;
        const double a = 9000.0 * (0.6 + 0.4 * std::sin(2 * M_PI * 0.7 * t));
        out[2 * static_cast<std::size_t>(i)] = static_cast<std::int16_t>(a * std::sin(phase));
        out[2 * static_cast<std::size_t>(i) + 1] = static_cast<std::int16_t>(0.5 * a * std::sin(1.5 * phase));
    }
    return out;
}

} // namespace

TEST(PortAudioCaptureTest, VirtualMicrophoneIsRecordedIntoTheAnswerFile)
{
    testutil::TempDataHome home;
    fs::create_directories(home.driveC() / "recording");
    const fs::path raw = home.path() / "mic.raw";
    const int sourceFrames = 44100 * 20;
    const auto signal = microphoneSignal(sourceFrames);
    testutil::writeFile(raw, std::string_view(reinterpret_cast<const char *>(signal.data()), signal.size() * 2));
    const fs::path conf = home.path() / "asound.conf";
    testutil::writeFile(conf, "pcm.!default { type file slave { pcm { type null } } file \"/dev/null\" infile \""
                                  + raw.string() + "\" format \"raw\" }\n");
    setenv("ALSA_CONFIG_PATH", conf.c_str(), 1);

    TMMWaveRecorder recorder;
    recorder.ApplyAnswerLayout();
    ASSERT_GE(recorder.WaveIn()->DeviceCount(), 1) << "the virtual microphone is PortAudio's input";
    recorder.Wave()->SetFileName("c:\\recording\\mic.wav");
    recorder.Start();
    ASSERT_TRUE(recorder.State() & wsRecording);
    // The plugin delivers faster than real time: count bytes, not seconds.
    const std::int32_t want = 33 * 4096; // about three seconds
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (recorder.WaveIn()->TotalBytes() < want && std::chrono::steady_clock::now() < deadline)
        platform::processMessagesUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(20));
    recorder.Stop();
    EXPECT_EQ(recorder.State(), wsClosed);
    // The plugin goes on delivering (stale data past the end of its file)
    // far faster than any device, so the ring overflows behind the part we
    // recorded; what counts is that the recorded part is whole.
    const PortAudioCaptureStats stats = portAudioCaptureStats();
    EXPECT_GE(stats.framesCaptured, static_cast<std::uint64_t>(want / 2048 * 2036));

    const std::string file = testutil::readFile(home.driveC() / "recording" / "mic.wav");
    ASSERT_GT(file.size(), 90u);
    const std::uint32_t n = le32(file, 74);
    EXPECT_GE(n, static_cast<std::uint32_t>(want));
    EXPECT_EQ(n % 4096, 0u) << "whole buffers only";
    EXPECT_EQ(le32(file, 4), file.size() - 8);
    ASSERT_EQ(file.size(), 90u + n);

    auto fmt = msadpcm::answerFormat();
    msadpcm::Decoder dec(msadpcm::parseFormat(fmt.get()));
    const std::vector<std::uint8_t> data(file.begin() + 78, file.begin() + 78 + n);
    const auto decoded = dec.decode(data);
    ASSERT_EQ(decoded.size(), n / 2048 * 2036 * 2);
    // The recording is the microphone's signal from its first frame on.
    const std::vector<std::int16_t> reference(signal.begin(), signal.begin() + static_cast<std::ptrdiff_t>(decoded.size()));
    EXPECT_GT(snrDb(reference, decoded), 30.0);

    testutil::TempDir tmp;
    const auto sox = decodeWithSox(home.driveC() / "recording" / "mic.wav", tmp.path());
    EXPECT_EQ(sox, decoded);
}
