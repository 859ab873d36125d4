// TFilterGraph on the real engine with null outputs.
#include "MediaFiles.h"
#include "TestUtil.h"
#include "media/MpvBackend.h"
#include "media/TFilterGraph.h"

#include <gtest/gtest.h>

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
