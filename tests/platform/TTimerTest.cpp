#include "TestUtil.h"
#include "platform/TTimer.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <stdexcept>

using platform::TTimer;

TEST(TTimerTest, TicksWhileEnabledAndStopsWhenDisabled)
{
    TTimer t(nullptr, 20, false);
    int ticks = 0;
    t.OnTimer = [&] { ++ticks; };
    testutil::pump(80);
    EXPECT_EQ(ticks, 0);
    t.setEnabled(true);
    testutil::pump(130);
    EXPECT_GE(ticks, 3);
    t.setEnabled(false);
    const int seen = ticks;
    testutil::pump(80);
    EXPECT_EQ(ticks, seen);
}

TEST(TTimerTest, EnablingAnEnabledTimerDoesNotRestartItsInterval)
{
    TTimer t(nullptr, 100, true);
    int ticks = 0;
    t.OnTimer = [&] { ++ticks; };
    // Re-enabling every 30 ms must not keep pushing the tick away.
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 250) {
        t.setEnabled(true);
        testutil::pump(30);
    }
    EXPECT_GE(ticks, 2);
}

TEST(TTimerTest, EnablingFromOffStartsAFullInterval)
{
    TTimer t(nullptr, 150, false);
    int ticks = 0;
    t.OnTimer = [&] { ++ticks; };
    t.setEnabled(true);
    testutil::pump(100);
    EXPECT_EQ(ticks, 0);
    testutil::pump(120);
    EXPECT_EQ(ticks, 1);
}

TEST(TTimerTest, ExceptionInTickIsShownAndTimerKeepsRunning)
{
    testutil::clearShown();
    TTimer t(nullptr, 20, true);
    int ticks = 0;
    t.OnTimer = [&] {
        ++ticks;
        throw std::runtime_error("tick failed");
    };
    testutil::pump(110);
    EXPECT_GE(ticks, 3);
    EXPECT_TRUE(t.Enabled());
    ASSERT_FALSE(testutil::shownErrors().empty());
    EXPECT_EQ(testutil::shownErrors()[0].text, QStringLiteral("tick failed."));
}
