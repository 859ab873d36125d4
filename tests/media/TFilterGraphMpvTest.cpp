// TFilterGraph on the real engine with null outputs.
#include "MediaFiles.h"
#include "TestUtil.h"
#include "media/MpvBackend.h"
#include "media/TFilterGraph.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

using mediatest::files;
using mediatest::waitFor;

TEST(TFilterGraphMpvTest, RenderedVideoPlaysToCompletion)
{
    mediatest::NullOutputs outputs(true);
    for (const QString &path : {files().mp4, files().silentMp4}) {
        SCOPED_TRACE(path.toStdString());
        TFilterGraph graph;
        int completions = 0;
        graph.OnGraphComplete = [&](QObject *, qint32, qintptr) { ++completions; };
        graph.setActive(true);
        graph.ClearGraph();
        graph.setVolume(10000);
        graph.RenderFile(path);
        ASSERT_TRUE(graph.backend()->hasVideo());
        EXPECT_NEAR(static_cast<double>(graph.backend()->lengthMs()), 1000.0, 120.0);
        graph.Play();
        ASSERT_TRUE(waitFor([&] { return completions > 0; }));
        testutil::pump(50);
        EXPECT_EQ(completions, 1);
        // The graph stays rendered: playing again completes again.
        graph.Stop();
        graph.ClearGraph();
        graph.RenderFile(path);
        graph.Play();
        ASSERT_TRUE(waitFor([&] { return completions == 2; }));
        graph.setActive(false);
    }
}

TEST(TFilterGraphMpvTest, RenderFailuresCarryTheResultCode)
{
    mediatest::NullOutputs outputs(true);
    TFilterGraph graph;
    graph.setActive(true);
    const auto message = [&](const QString &path) -> std::string {
        try {
            graph.RenderFile(path);
        } catch (const EDirectShowException &e) {
            return e.what();
        }
        return "no error";
    };
    EXPECT_EQ(message(files().missing), "The video file cannot be found ($80070002).");
    EXPECT_EQ(message(files().corrupt),
              "The video file cannot be played: it is damaged or its format is not supported "
              "($80040265).");
    // The graph stays usable after a failure.
    graph.RenderFile(files().mp4);
    EXPECT_TRUE(graph.rendered());
}

TEST(TFilterGraphMpvTest, VolumeReachesTheEngineOnTheCubicScale)
{
    mediatest::NullOutputs outputs(true);
    EXPECT_DOUBLE_EQ(media::MpvBackend::mpvVolumeFor(0), 100.0);
    EXPECT_DOUBLE_EQ(media::MpvBackend::mpvVolumeFor(-10000), 0.0);
    // -60 dB is a gain of 1/1000, the cube of 1/10.
    EXPECT_NEAR(media::MpvBackend::mpvVolumeFor(-6000), 10.0, 1e-9);

    TFilterGraph graph;
    graph.setVolume(1);
    graph.setActive(true);
    graph.RenderFile(files().mp4);
    auto *engine = static_cast<media::MpvBackend *>(graph.backend());
    EXPECT_EQ(engine->attenuation(), -9247);
}

namespace {

// RMS amplitude of a WAVE file as sox measures it.
double rmsOf(const std::filesystem::path &wav)
{
    std::string out;
    testutil::run("sox '" + wav.string() + "' -n stat 2>&1", &out);
    const auto at = out.find("RMS     amplitude:");
    if (at == std::string::npos)
        return -1;
    return std::stod(out.substr(at + 18));
}

// The audio of a rendered file as the engine outputs it at a volume,
// written to a WAVE file instead of the sound card.
double playedRms(int volume, const std::filesystem::path &out)
{
    media::MpvBackend::setExtraOptions(
        {{"ao", "pcm"}, {"ao-pcm-file", out.string()}, {"ao-pcm-waveheader", "yes"}, {"vo", "null"}});
    TFilterGraph graph;
    bool done = false;
    graph.OnGraphComplete = [&](QObject *, qint32, qintptr) { done = true; };
    graph.setVolume(volume);
    graph.setActive(true);
    graph.RenderFile(files().mp4);
    graph.Play();
    EXPECT_TRUE(waitFor([&] { return done; }));
    graph.setActive(false); // closes the output file
    media::MpvBackend::setExtraOptions({});
    return rmsOf(out);
}

} // namespace

TEST(TFilterGraphMpvTest, VolumeAttenuatesTheOutputByTheMappedDecibels)
{
    testutil::TempDir dir;
    const double full = playedRms(10000, dir.path() / "full.wav");
    const double half = playedRms(5000, dir.path() / "half.wav");
    const double quiet = playedRms(1, dir.path() / "quiet.wav");
    ASSERT_GT(full, 0.05);
    // 5000 maps to -752 hundredths of a decibel: an amplitude of 0.42.
    EXPECT_NEAR(half / full, std::pow(10.0, -7.52 / 20.0), 0.02);
    // 1 maps to -92.47 dB: far below anything audible.
    EXPECT_LT(quiet / full, 1e-3);
}
