// TDSTrackBar following and seeking the graph, on the fake engine.
#include "TestUtil.h"
#include "media/FakeBackend.h"
#include "media/TDSTrackBar.h"
#include "media/TFilterGraph.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <gtest/gtest.h>

TEST(TDSTrackBarTest, FollowsThePlayingGraphInWholeSecondsAndSeeksOnRelease)
{
    media::FakeMedia fake;
    fake.addFile(QStringLiteral("/v/long.mp4"), 150'500, true);
    TFilterGraph graph;
    TDSTrackBar bar;
    bar.resize(300, 25);
    bar.setFilterGraph(&graph);
    EXPECT_EQ(bar.tickInterval(), 60);
    EXPECT_EQ(bar.TimerInterval(), 1000);

    graph.setActive(true);
    graph.RenderFile(QStringLiteral("/v/long.mp4"));
    EXPECT_FALSE(bar.following());
    graph.Play();
    EXPECT_TRUE(bar.following());
    auto *engine = static_cast<media::FakeBackend *>(graph.backend());
    engine->setPosition(61'999);
    bar.timerTick();
    EXPECT_EQ(bar.minimum(), 0);
    EXPECT_EQ(bar.maximum(), 150);
    EXPECT_EQ(bar.value(), 61);

    // While the thumb is held the bar does not follow; releasing seeks to the
    // thumb's share of the file.
    const QPointF at(10, 12);
    QMouseEvent press(QEvent::MouseButtonPress, at, bar.mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&bar, &press);
    bar.setValue(75);
    engine->setPosition(90'000);
    bar.timerTick();
    EXPECT_EQ(bar.value(), 75);
    QMouseEvent release(QEvent::MouseButtonRelease, at, bar.mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&bar, &release);
    EXPECT_EQ(engine->calls().back(), QStringLiteral("seek %1").arg(150'500LL * 75 / 150));

    graph.Pause();
    EXPECT_FALSE(bar.following());
    graph.Play();
    graph.Stop();
    EXPECT_FALSE(bar.following());
    graph.Play();
    graph.setActive(false);
    EXPECT_FALSE(bar.following());
    bar.timerTick(); // nothing to read while inactive
}
