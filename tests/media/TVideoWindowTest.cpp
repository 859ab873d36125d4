// TVideoWindow: renderer choice, binding, and drawing with the real engine
// (software renderer on the offscreen platform, OpenGL under Xvfb).
#include "MediaFiles.h"
#include "TestUtil.h"
#include "media/FakeBackend.h"
#include "media/TFilterGraph.h"
#include "media/TVideoWindow.h"

#include <QGuiApplication>
#include <QImage>
#include <gtest/gtest.h>

using mediatest::files;
using mediatest::waitFor;

TEST(TVideoWindowTest, WithoutOpenGLTheWindowFallsBackToTheSoftwareRenderer)
{
    if (QGuiApplication::platformName() != QLatin1String("offscreen"))
        GTEST_SKIP() << "checks the offscreen platform";
    TVideoWindow window;
    window.setMode(vmVMR);
    EXPECT_FALSE(TVideoWindow::openGLAvailable());
    EXPECT_EQ(window.Mode(), vmNormal);
    ASSERT_NE(window.surfaceWidget(), nullptr);
    EXPECT_EQ(window.palette().color(QPalette::Window), QColor(Qt::black));
}

TEST(TVideoWindowTest, RendererStaysBoundAcrossActivationsAndModeChanges)
{
    media::FakeMedia fake;
    TFilterGraph graph;
    {
        TVideoWindow window;
        window.setFilterGraph(&graph);
        graph.setActive(true);
        auto *first = static_cast<media::FakeBackend *>(graph.backend());
        EXPECT_NE(first->videoTarget(), nullptr);
        graph.setActive(false);
        graph.setActive(true);
        auto *second = static_cast<media::FakeBackend *>(graph.backend());
        EXPECT_NE(second->videoTarget(), nullptr);
        window.setMode(vmNormal);
        EXPECT_NE(second->videoTarget(), nullptr);
    }
    // A destroyed window takes its renderer out of the graph.
    EXPECT_EQ(static_cast<media::FakeBackend *>(graph.backend())->videoTarget(), nullptr);
    graph.setActive(false);
}

TEST(TVideoWindowTest, WindowDrawsTheVideoFramesWithTheRendererThePlatformAllows)
{
    mediatest::NullOutputs outputs(false);
    TFilterGraph graph;
    TVideoWindow window;
    window.resize(320, 240);
    window.setFilterGraph(&graph);
    window.setMode(vmVMR);
    window.show();
    graph.setActive(true);
    EXPECT_TRUE(window.isRendering());
    graph.RenderFile(files().mp4);
    int completions = 0;
    graph.OnGraphComplete = [&](QObject *, qint32, qintptr) { ++completions; };
    graph.Play();
    ASSERT_TRUE(waitFor([&] { return window.framesDrawn() > 3; }));
    const QImage shot = window.grab().toImage();
    // The test picture is colourful: a black window means nothing was drawn.
    int coloured = 0;
    for (int y = 0; y < shot.height(); y += 8)
        for (int x = 0; x < shot.width(); x += 8)
            if (qGray(shot.pixel(x, y)) > 40)
                ++coloured;
    EXPECT_GT(coloured, 100);
    ASSERT_TRUE(waitFor([&] { return completions == 1; }));
    graph.setActive(false);
    EXPECT_FALSE(window.isRendering());
}

TEST(TVideoWindowTest, WindowBoundAfterTheFileWasRenderedStillShowsIt)
{
    // The engine loaded and started the file with no video output;
    // attaching the renderer later must bring the picture in.
    mediatest::NullOutputs outputs(false);
    TFilterGraph graph;
    int completions = 0;
    graph.OnGraphComplete = [&](QObject *, qint32, qintptr) { ++completions; };
    graph.setActive(true);
    graph.RenderFile(files().mp4);
    graph.Play();
    testutil::pump(100);
    TVideoWindow window;
    window.resize(320, 240);
    window.show();
    window.setFilterGraph(&graph);
    ASSERT_TRUE(waitFor([&] { return window.framesDrawn() > 3; }));
    // It goes on from where it was and still ends once.
    ASSERT_TRUE(waitFor([&] { return completions > 0; }));
    testutil::pump(100);
    EXPECT_EQ(completions, 1);
    graph.setActive(false);
}
