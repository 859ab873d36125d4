#pragma once

#include <QObject>

#include <chrono>
#include <functional>

// Window messages on Linux: posting runs a function later on the thread of
// a context object (the UI thread for every window and component).
namespace platform {

// Queues fn to run on ctx's thread after the events already queued. Safe to
// call from any thread; nothing runs if ctx is destroyed first.
void postMessage(QObject *ctx, std::function<void()> fn);

// Application.ProcessMessages: handles every pending event, then returns.
void ProcessMessages();

// Waits for events until the deadline, handling each one as it arrives; the
// thread sleeps while nothing is pending, so a long wait costs no processor.
void processMessagesUntil(std::chrono::steady_clock::time_point deadline);

} // namespace platform
