#include "platform/Messages.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>

namespace platform {

void postMessage(QObject *ctx, std::function<void()> fn)
{
    QMetaObject::invokeMethod(ctx, std::move(fn), Qt::QueuedConnection);
}

void ProcessMessages()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void processMessagesUntil(std::chrono::steady_clock::time_point deadline)
{
    using namespace std::chrono;
    for (;;) {
        const auto now = steady_clock::now();
        if (now >= deadline)
            break;
        const auto left = duration_cast<milliseconds>(deadline - now).count() + 1;
        // A single-shot timer wakes the wait at the deadline; the event loop
        // otherwise sleeps until an event arrives.
        QTimer wake;
        wake.setSingleShot(true);
        wake.setTimerType(Qt::PreciseTimer);
        wake.start(static_cast<int>(std::min<long long>(left, 1'000'000)));
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

} // namespace platform
