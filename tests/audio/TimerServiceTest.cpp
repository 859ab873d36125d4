#include "audio/MMTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

// Exact tick arithmetic runs on manual ticks so that nothing depends on the
// machine's timing; one test below checks the real thread with wide bounds.
class ManualTicks : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(TimerService::ClientCount(), 0);
        TimerService::SetManualTicking(true);
    }
    void TearDown() override
    {
        for (TimerClient *c : m_clients)
            TimerService::UnregisterTimerClient(c);
        TimerService::SetManualTicking(false);
        EXPECT_EQ(TimerService::ClientCount(), 0);
    }

    TimerClient *add(int period, int *counter, int disable = 0)
    {
        TimerClient *c = TimerService::RegisterTimerClient(
            period, disable, [](TimerClient *, void *obj) { ++*static_cast<int *>(obj); },
            counter);
        m_clients.push_back(c);
        return c;
    }

    // Tick numbers (1-based) at which a counter went up over n ticks.
    static std::vector<int> firings(int *counter, int n)
    {
        std::vector<int> at;
        for (int t = 1; t <= n; ++t) {
            const int before = *counter;
            TimerService::Tick();
            if (*counter != before)
                at.push_back(t);
        }
        return at;
    }

    std::vector<TimerClient *> m_clients;
};

TEST_F(ManualTicks, PeriodsRoundUpToWholeTicks)
{
    int p30 = 0, p10 = 0, p92 = 0, p25 = 0;
    add(30, &p30);
    add(10, &p10);
    add(92, &p92);
    add(25, &p25);
    for (int t = 0; t < 20; ++t)
        TimerService::Tick();
    EXPECT_EQ(p30, 10); // every 50 ms
    EXPECT_EQ(p10, 20); // every 25 ms
    EXPECT_EQ(p92, 5);  // every 100 ms
    EXPECT_EQ(p25, 20);
}

TEST_F(ManualTicks, SuspensionsAreCountedAndRestartElapsedTime)
{
    int n = 0;
    TimerClient *c = add(100, &n);
    // Three ticks in, one short of firing.
    EXPECT_TRUE(firings(&n, 3).empty());
    TimerService::SuspendTimerClient(c);
    TimerService::SuspendTimerClient(c);
    EXPECT_TRUE(firings(&n, 10).empty());
    TimerService::ResumeTimerClient(c);
    EXPECT_TRUE(firings(&n, 10).empty());
    TimerService::ResumeTimerClient(c);
    // Elapsed restarted at 0 with the suspension: four full ticks again.
    EXPECT_EQ(firings(&n, 8), (std::vector<int>{4, 8}));
    // A resumption too many does not make the count negative.
    TimerService::ResumeTimerClient(c);
    TimerService::SuspendTimerClient(c);
    EXPECT_TRUE(firings(&n, 8).empty());
}

TEST_F(ManualTicks, RegisteredDisabledWaitsForResume)
{
    int n = 0;
    TimerClient *c = add(25, &n, 1);
    EXPECT_TRUE(firings(&n, 3).empty());
    TimerService::ResumeTimerClient(c);
    EXPECT_EQ(firings(&n, 2), (std::vector<int>{1, 2}));
}

TEST_F(ManualTicks, CallbackMayUnregisterItselfAndOthersStillRun)
{
    struct Ctx {
        TimerClient *self = nullptr;
        int calls = 0;
    } ctx;
    int other = 0;
    ctx.self = TimerService::RegisterTimerClient(
        25, 0,
        [](TimerClient *c, void *obj) {
            auto *x = static_cast<Ctx *>(obj);
            ++x->calls;
            TimerService::UnregisterTimerClient(c);
        },
        &ctx);
    add(25, &other);
    TimerService::Tick();
    TimerService::Tick();
    EXPECT_EQ(ctx.calls, 1);
    EXPECT_EQ(other, 2);
    EXPECT_EQ(TimerService::ClientCount(), 1);
}

TEST_F(ManualTicks, UnknownClientsAreIgnored)
{
    int n = 0;
    add(25, &n);
    TimerService::SuspendTimerClient(nullptr);
    TimerService::ResumeTimerClient(nullptr);
    TimerService::UnregisterTimerClient(nullptr);
    auto *bogus = reinterpret_cast<TimerClient *>(&n);
    TimerService::SuspendTimerClient(bogus);
    TimerService::UnregisterTimerClient(bogus);
    EXPECT_EQ(TimerService::ClientCount(), 1);
    TimerService::Tick();
    EXPECT_EQ(n, 1);
}

TEST(TimerServiceThread, StopsWithLastClientAndStartsAgain)
{
    using namespace std::chrono_literals;
    ASSERT_EQ(TimerService::ClientCount(), 0);
    EXPECT_FALSE(TimerService::Running());
    for (int round = 0; round < 2; ++round) {
        std::atomic<int> n{0};
        TimerClient *c = TimerService::RegisterTimerClient(
            25, 0, [](TimerClient *, void *o) { ++*static_cast<std::atomic<int> *>(o); }, &n);
        ASSERT_NE(c, nullptr);
        EXPECT_TRUE(TimerService::Running());
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (n < 3 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(5ms);
        EXPECT_GE(n, 3) << "round " << round;
        TimerService::UnregisterTimerClient(c);
        EXPECT_FALSE(TimerService::Running());
        const std::uint64_t ticks = TimerService::TickCount();
        std::this_thread::sleep_for(80ms);
        EXPECT_EQ(TimerService::TickCount(), ticks) << "the thread kept ticking";
    }
}

TEST(MicroTimeTest, IsMonotonicMicroseconds)
{
    using namespace std::chrono_literals;
    const std::uint64_t a = MicroTime();
    std::this_thread::sleep_for(20ms);
    const std::uint64_t b = MicroTime();
    EXPECT_GE(b - a, 20000u);
    EXPECT_LT(b - a, 5000000u);
}

} // namespace
