#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

namespace platform {

// A window timer. Switching it on while it is on changes nothing; switching
// it on from off starts a full interval; a new interval on a running timer
// starts the interval afresh. OnTimer runs through the error display, so an
// exception in a tick is shown and the timer keeps running. UI thread only.
class TTimer : public QObject
{
    Q_OBJECT
public:
    explicit TTimer(QObject *parent = nullptr, int interval = 1000, bool enabled = true);

    [[nodiscard]] bool Enabled() const { return m_enabled; }
    void setEnabled(bool on);

    [[nodiscard]] int Interval() const { return m_interval; }
    void setInterval(int ms);

    std::function<void()> OnTimer;

    // Runs one tick as the timer would (tests drive timers through this).
    void fire();

private:
    void update();

    QTimer m_timer;
    int m_interval;
    bool m_enabled;
};

} // namespace platform
