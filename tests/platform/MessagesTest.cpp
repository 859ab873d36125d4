#include "TestUtil.h"
#include "platform/Messages.h"

#include <QCoreApplication>
#include <QObject>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <thread>

using namespace std::chrono;

TEST(MessagesTest, MessagesPostedFromAnotherThreadRunOnTheUiThreadInOrder)
{
    QObject ctx;
    std::vector<int> seen;
    std::atomic<bool> wrongThread{false};
    std::thread worker([&] {
        for (int i = 0; i < 5; ++i)
            platform::postMessage(&ctx, [&, i] {
                if (QThread::currentThread() != QCoreApplication::instance()->thread())
                    wrongThread = true;
                seen.push_back(i);
            });
    });
    worker.join();
    EXPECT_TRUE(seen.empty());
    platform::ProcessMessages();
    EXPECT_EQ(seen, (std::vector<int>{0, 1, 2, 3, 4}));
    EXPECT_FALSE(wrongThread);
}

TEST(MessagesTest, MessageToADestroyedObjectIsDropped)
{
    int ran = 0;
    {
        QObject ctx;
        platform::postMessage(&ctx, [&] { ++ran; });
    }
    platform::ProcessMessages();
    EXPECT_EQ(ran, 0);
}

TEST(MessagesTest, WaitingUntilADeadlineRunsTimersAndSleepsOtherwise)
{
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(50);
    const auto start = steady_clock::now();
    const std::clock_t cpu0 = std::clock();
    platform::processMessagesUntil(start + milliseconds(400));
    const auto took = steady_clock::now() - start;
    const double cpuSeconds = double(std::clock() - cpu0) / CLOCKS_PER_SEC;
    EXPECT_GE(took, milliseconds(400));
    EXPECT_LT(took, milliseconds(1500));
    EXPECT_GE(ticks, 5);
    // A polling wait would burn the whole 0.4 s; an event wait almost none.
    EXPECT_LT(cpuSeconds, 0.2);
}
