#include "audio/MMTimer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

class TimerClient
{
public:
    int period = TimerService::kTickMs;
    int disableCount = 0;
    int elapsed = 0;
    TimerCallback callback;
    void *object = nullptr;
};

namespace {

using Clock = std::chrono::steady_clock;

struct Service {
    // Recursive like the critical section it stands for: a callback may
    // suspend or unregister clients, its own included.
    std::recursive_mutex lock;
    std::vector<std::unique_ptr<TimerClient>> clients;
    std::jthread thread;
    std::atomic<bool> tickRunning{false};
    std::atomic<bool> manual{false};
    std::atomic<bool> running{false};
    std::atomic<std::uint64_t> ticks{0};

    ~Service()
    {
        // A timer still running at program end is stopped here; jthread's
        // destructor requests the stop and joins.
        running = false;
    }
};

Service &service()
{
    static Service s;
    return s;
}

void runTick()
{
    Service &s = service();
    // An overlapping tick is skipped, not queued: the meters only need the
    // latest peak position, and a backlog would make the markers jump.
    if (s.tickRunning.exchange(true))
        return;
    {
        std::lock_guard guard(s.lock);
        ++s.ticks;
        // Index loop: a callback may unregister clients (its own included).
        for (std::size_t i = 0; i < s.clients.size(); ++i) {
            TimerClient *c = s.clients[i].get();
            if (c->disableCount != 0)
                continue;
            c->elapsed += TimerService::kTickMs;
            if (c->elapsed >= c->period) {
                c->elapsed = 0;
                // Copy: the callback may release its own client.
                TimerCallback cb = c->callback;
                void *object = c->object;
                if (cb)
                    cb(c, object);
                // Step back if the list shrank at or before this position.
                if (i < s.clients.size() && s.clients[i].get() != c) {
                    if (i == 0)
                        i = static_cast<std::size_t>(-1);
                    else
                        --i;
                }
            }
        }
    }
    s.tickRunning = false;
}

void threadMain(std::stop_token stop)
{
    std::mutex m;
    std::condition_variable_any cv;
    const auto tick = std::chrono::milliseconds(TimerService::kTickMs);
    auto next = Clock::now() + tick;
    while (!stop.stop_requested()) {
        {
            std::unique_lock lk(m);
            if (cv.wait_until(lk, stop, next, [] { return false; }))
                break;
            if (stop.stop_requested())
                break;
        }
        runTick();
        next += tick;
        const auto now = Clock::now();
        // Ticks that fell due while a slow tick ran are dropped: the next
        // tick keeps the 25 ms grid but lies in the future.
        if (next <= now)
            next += tick * ((now - next) / tick + 1);
    }
}

bool isClient(Service &s, TimerClient *client)
{
    for (auto &c : s.clients)
        if (c.get() == client)
            return true;
    return false;
}

} // namespace

TimerClient *TimerService::RegisterTimerClient(int period, int disableCount,
                                               TimerCallback callback, void *object)
{
    Service &s = service();
    std::lock_guard guard(s.lock);
    if (s.clients.empty() && !s.running) {
        if (!s.manual) {
            try {
                s.thread = std::jthread(threadMain);
            } catch (const std::system_error &) {
                return nullptr;
            }
        }
        s.running = true;
    }
    auto c = std::make_unique<TimerClient>();
    c->period = std::max(period, kTickMs);
    c->disableCount = disableCount;
    c->callback = std::move(callback);
    c->object = object;
    s.clients.push_back(std::move(c));
    return s.clients.back().get();
}

void TimerService::SuspendTimerClient(TimerClient *client)
{
    Service &s = service();
    std::lock_guard guard(s.lock);
    if (!client || !isClient(s, client))
        return;
    ++client->disableCount;
    client->elapsed = 0;
}

void TimerService::ResumeTimerClient(TimerClient *client)
{
    Service &s = service();
    std::lock_guard guard(s.lock);
    if (!client || !isClient(s, client))
        return;
    if (client->disableCount > 0)
        --client->disableCount;
}

void TimerService::UnregisterTimerClient(TimerClient *client)
{
    Service &s = service();
    std::jthread stopping;
    {
        std::lock_guard guard(s.lock);
        if (!client)
            return;
        auto it = std::find_if(s.clients.begin(), s.clients.end(),
                               [&](const auto &c) { return c.get() == client; });
        if (it == s.clients.end())
            return;
        s.clients.erase(it);
        if (!s.clients.empty())
            return;
        s.running = false;
        stopping = std::move(s.thread);
        stopping.request_stop();
    }
    // Joined outside the lock, so that a tick waiting for the lock can end.
    // From inside a callback the service thread cannot join itself; it sees
    // its stop request when the tick returns.
    if (stopping.joinable() && stopping.get_id() == std::this_thread::get_id())
        stopping.detach();
}

int TimerService::ClientCount()
{
    Service &s = service();
    std::lock_guard guard(s.lock);
    return static_cast<int>(s.clients.size());
}

bool TimerService::Running()
{
    return service().running;
}

std::uint64_t TimerService::TickCount()
{
    return service().ticks;
}

void TimerService::SetManualTicking(bool manual)
{
    service().manual = manual;
}

void TimerService::Tick()
{
    runTick();
}

std::uint64_t MicroTime()
{
    // steady_clock is the monotonic high-resolution counter; its period is
    // fixed at compile time, so there is no frequency to validate.
    const auto now = Clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(now).count());
}
