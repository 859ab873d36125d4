#include "platform/TTimer.h"

#include "platform/ErrorDisplay.h"

namespace platform {

TTimer::TTimer(QObject *parent, int interval, bool enabled)
    : QObject(parent), m_interval(interval), m_enabled(enabled)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &TTimer::fire);
    update();
}

void TTimer::setEnabled(bool on)
{
    if (on == m_enabled)
        return;
    m_enabled = on;
    update();
}

void TTimer::setInterval(int ms)
{
    if (ms == m_interval)
        return;
    m_interval = ms;
    update();
}

void TTimer::update()
{
    m_timer.stop();
    // A timer with no interval or no handler never ticks, as a window timer
    // with interval 0 is never created.
    if (m_enabled && m_interval > 0)
        m_timer.start(m_interval);
}

void TTimer::fire()
{
    if (OnTimer)
        guarded(OnTimer);
}

} // namespace platform
