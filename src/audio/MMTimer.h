#pragma once

#include <cstdint>
#include <functional>

// The audio components' shared clocks: one process-wide 25 ms periodic tick
// (the timer service) that calls registered clients on a thread of its own,
// and a 64-bit microsecond clock.
//
// Clients run on the service thread, one tick at a time and under the
// service lock; a client callback must not wait for the UI thread. Every
// other call may come from any thread.

class TimerClient;

// A client callback receives its client and the object given at registration.
using TimerCallback = std::function<void(TimerClient *client, void *object)>;

class TimerService
{
public:
    // The tick of the service, in milliseconds.
    static constexpr int kTickMs = 25;

    // Adds a client that fires every max(period, 25) ms, counted in whole
    // ticks, while its disable count is 0. The first client starts the
    // service thread; when it cannot be started the answer is nullptr.
    [[nodiscard]] static TimerClient *RegisterTimerClient(int period, int disableCount,
                                                          TimerCallback callback, void *object);
    // Counted: two suspensions need two resumptions. A suspension restarts the
    // client's elapsed time at 0.
    static void SuspendTimerClient(TimerClient *client);
    static void ResumeTimerClient(TimerClient *client);
    // Removes and releases the client (unknown clients change nothing); the
    // last one stops the service thread. Safe from inside a callback.
    static void UnregisterTimerClient(TimerClient *client);

    // Introspection for tests and diagnostics.
    [[nodiscard]] static int ClientCount();
    [[nodiscard]] static bool Running();
    [[nodiscard]] static std::uint64_t TickCount();

    // Tests that need exact tick counts switch the thread off: the service
    // then runs only when Tick() is called. Switch before registering.
    static void SetManualTicking(bool manual);
    // Runs one tick on the calling thread, as the service thread would. A tick
    // that finds another one still running does nothing.
    static void Tick();
};

// Microseconds since an arbitrary origin, monotonic.
[[nodiscard]] std::uint64_t MicroTime();
