#include "audio/MMConect.h"

#include "audio/MMLevel.h"
#include "audio/MMTimer.h"
#include "platform/ErrorDisplay.h"
#include "platform/Messages.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

namespace {

std::function<std::uint64_t()> &testClock()
{
    static std::function<std::uint64_t()> clock;
    return clock;
}

std::uint64_t now()
{
    const auto &clock = testClock();
    return clock ? clock() : MicroTime();
}

std::atomic<bool> g_enterIdle{false};

} // namespace

// The connectors' hidden message window: the list of live connectors and
// the feed loop. The loop does not spin: after each cycle it sleeps on a
// precise timer until the earliest block of any active connector falls due,
// and a new buffer (or a pause tick) wakes it at once. So the meters follow
// the sound at the block rate (a block every 2.2 ms for the answer format)
// while the processor sleeps in between. UI thread only, except wake().
class ConnectorWindow : public QObject
{
public:
    ConnectorWindow()
    {
        m_loop.setSingleShot(true);
        m_loop.setTimerType(Qt::PreciseTimer);
        connect(&m_loop, &QTimer::timeout, this, [this] { loopMessage(); });
    }

    std::vector<TMMConnector *> list;
    long long cycles = 0;

    [[nodiscard]] bool contains(const TMMConnector *c) const
    {
        return std::find(list.begin(), list.end(), c) != list.end();
    }

    [[nodiscard]] int activeCount() const
    {
        int n = 0;
        for (const TMMConnector *c : list)
            if (c->m_active && c->m_autoTrigger)
                ++n;
        return n;
    }

    [[nodiscard]] int maxSpeed() const
    {
        int m = 1;
        for (const TMMConnector *c : list)
            m = std::max(m, c->m_speed);
        return m;
    }

    void postStart(TMMConnector *c)
    {
        QPointer<TMMConnector> p(c);
        QMetaObject::invokeMethod(
            this, [this, p] { startMessage(p); }, Qt::QueuedConnection);
    }

    void postTrigger(TMMConnector *c)
    {
        QPointer<TMMConnector> p(c);
        QMetaObject::invokeMethod(
            this, [this, p] { triggerMessage(p); }, Qt::QueuedConnection);
    }

    // Any thread: makes the loop look at the due times again.
    void wake()
    {
        if (QThread::currentThread() == thread())
            scheduleNext();
        else
            QMetaObject::invokeMethod(this, [this] { scheduleNext(); }, Qt::QueuedConnection);
    }

private:
    void startMessage(const QPointer<TMMConnector> &c)
    {
        if (!c || !contains(c) || !c->m_running)
            return;
        c->m_triggerPending = 0;
        c->m_active = true;
        if (c->m_autoTrigger)
            scheduleNext();
    }

    void triggerMessage(const QPointer<TMMConnector> &c)
    {
        if (!c || !contains(c))
            return;
        if (c->m_enabled && c->m_active) {
            try {
                c->FeedDisplays();
            } catch (const std::exception &e) {
                platform::showError(platform::exceptionMessage(e));
            }
        }
        --c->m_triggerPending;
    }

    void loopMessage()
    {
        if (m_inCycle)
            return;
        m_inCycle = true;
        ++cycles;
        // Speed below the maximum makes each cycle handle more messages,
        // which lowers the loop rate.
        for (int i = 0, extra = 5000 - maxSpeed(); i < extra; ++i)
            platform::ProcessMessages();
        bool failed = false;
        if (activeCount() > 0 && !QCoreApplication::closingDown()) {
            const std::vector<QPointer<TMMConnector>> snapshot(list.begin(), list.end());
            try {
                for (const auto &c : snapshot)
                    if (c && contains(c) && c->m_autoTrigger && c->m_enabled && c->m_active)
                        c->FeedDisplays();
            } catch (const std::exception &e) {
                failed = true;
                platform::showError(platform::exceptionMessage(e));
            }
        }
        m_inCycle = false;
        // A cycle that raised does not go on by itself; the next buffer
        // wakes the loop again.
        if (!failed)
            scheduleNext();
    }

    void scheduleNext()
    {
        if (m_inCycle || activeCount() <= 0 || QCoreApplication::closingDown() || list.empty())
            return;
        long long wait = -1;
        if (g_enterIdle) {
            wait = 1000;
        } else {
            const std::uint64_t t = now();
            for (const TMMConnector *c : list) {
                if (!(c->m_autoTrigger && c->m_enabled && c->m_active))
                    continue;
                const long long w = c->MicrosUntilDue(t);
                if (w >= 0 && (wait < 0 || w < wait))
                    wait = w;
            }
        }
        if (wait < 0)
            return; // nothing due: the next buffer or pause tick wakes the loop
        const int ms = static_cast<int>((wait + 999) / 1000);
        if (!m_loop.isActive() || m_loop.remainingTime() > ms)
            m_loop.start(ms);
    }

    QTimer m_loop;
    bool m_inCycle = false;
};

namespace {

std::unique_ptr<ConnectorWindow> &connectorWindow()
{
    static std::unique_ptr<ConnectorWindow> w;
    return w;
}

} // namespace

// ------------------------------------------------------------ TMMConnector

TMMConnector::TMMConnector(QObject *owner) : TMMDSPComponent(owner)
{
    m_publishesInput = true;
    m_publishesOutput = true;
    auto &w = connectorWindow();
    if (!w)
        w = std::make_unique<ConnectorWindow>();
    w->list.push_back(this);
}

TMMConnector::~TMMConnector()
{
    Stopped();
    auto &w = connectorWindow();
    if (w) {
        std::erase(w->list, this);
        if (w->list.empty())
            w.reset();
    }
}

bool TMMConnector::EnterIdle()
{
    return g_enterIdle;
}

void TMMConnector::SetEnterIdle(bool on)
{
    g_enterIdle = on;
}

int TMMConnector::ActiveCount()
{
    const auto &w = connectorWindow();
    return w ? w->activeCount() : 0;
}

int TMMConnector::MaxSpeed()
{
    const auto &w = connectorWindow();
    return w ? w->maxSpeed() : 0;
}

int TMMConnector::ConnectorCount()
{
    const auto &w = connectorWindow();
    return w ? static_cast<int>(w->list.size()) : 0;
}

long long TMMConnector::LoopCycles()
{
    const auto &w = connectorWindow();
    return w ? w->cycles : 0;
}

void TMMConnector::SetClockForTesting(std::function<std::uint64_t()> clock)
{
    testClock() = std::move(clock);
}

void TMMConnector::postStart()
{
    connectorWindow()->postStart(this);
}

void TMMConnector::deactivate()
{
    m_active = false;
}

// --- properties

void TMMConnector::SetEnabled(bool on)
{
    if (on == m_enabled)
        return;
    m_enabled = on;
    if (!on) {
        deactivate();
        clearDisplays();
    } else if (m_running && m_realTime) {
        postStart();
    }
}

void TMMConnector::SetAutoTrigger(bool on)
{
    if (on == m_autoTrigger)
        return;
    if (!on) {
        deactivate();
        m_autoTrigger = false;
        return;
    }
    m_autoTrigger = true;
    if (m_running && m_enabled && m_realTime)
        postStart();
}

void TMMConnector::SetSpeed(int speed)
{
    m_speed = std::clamp(speed, 1, 5000);
}

void TMMConnector::SetRealTime(bool on)
{
    if (on == m_realTime)
        return;
    if (IsOpened())
        throw EMMConnectorError(kChangeWhileOpen);
    m_realTime = on;
}

void TMMConnector::clearSlotsFor(QObject *display)
{
    if (display == m_level1)
        m_level1 = nullptr;
    if (display == m_level2)
        m_level2 = nullptr;
    m_hasLevels = m_level1 || m_level2;
}

void TMMConnector::SetLevel1(TMMLevel *level)
{
    if (level == m_level1 || (level && level == m_level2))
        return;
    if (m_level1 && m_level1 != m_level2)
        disconnect(m_level1, nullptr, this, nullptr);
    m_level1 = level;
    if (level)
        connect(level, &QObject::destroyed, this, [this](QObject *o) { clearSlotsFor(o); });
    m_hasLevels = m_level1 || m_level2;
    m_levelPending = false;
    if (level)
        UpdateDisplayFormats();
}

void TMMConnector::SetLevel2(TMMLevel *level)
{
    if (level == m_level2 || (level && level == m_level1))
        return;
    if (m_level2 && m_level2 != m_level1)
        disconnect(m_level2, nullptr, this, nullptr);
    m_level2 = level;
    if (level)
        connect(level, &QObject::destroyed, this, [this](QObject *o) { clearSlotsFor(o); });
    m_hasLevels = m_level1 || m_level2;
    m_levelPending = false;
    if (level)
        UpdateDisplayFormats();
}

// --- formats

void TMMConnector::SetPWaveFormat(const TWaveFormatEx *f)
{
    // The display format may be the held record itself; replacing it while
    // running would leave the displays reading a released record. The chain
    // base stops only a started member, so stop here as well.
    if (m_running && f != PWaveFormat())
        Stopped();
    TMMDSPComponent::SetPWaveFormat(f);
    UpdateDisplayFormats();
}

void TMMConnector::UpdateDisplayFormats()
{
    const TWaveFormatEx *in = PWaveFormat();
    if (!in)
        return;
    TWaveFormatEx f{};
    if (m_running && m_displayFormat) {
        f = *m_displayFormat;
    } else {
        m_converting = false;
        if (in->wFormatTag == WAVE_FORMAT_PCM) {
            m_directPCM = true;
            f = *in;
        } else {
            m_directPCM = false;
            if (m_autoConvert) {
                f = SuggestPCMFormat(in);
                if (f.wFormatTag != 0)
                    m_converting = CanConvert(in, &f, true);
            }
        }
    }
    if (!m_directPCM && !m_converting)
        return;
    m_silenceByte = f.wBitsPerSample == 8 ? 128 : 0;
    if (m_level1)
        m_level1->SetWaveFormat(&f);
    if (m_level2)
        m_level2->SetWaveFormat(&f);
}

// --- lifecycle

void TMMConnector::releaseBuffers()
{
    m_conversion.reset();
    m_ownedDisplayFormat.reset();
    m_displayFormat = nullptr;
    m_inputBuffer = {};
    m_displayBuffer = nullptr;
    m_displayBufferSize = 0;
    m_validBytes = 0;
}

void TMMConnector::Started()
{
    TMMDSPComponent::Started();
    const TWaveFormatEx *in = PWaveFormat();
    if (!in || m_running)
        return;
    const int size = bufferBytes();
    if (size <= 0)
        return;
    {
        std::lock_guard lock(m_bufferLock);
        releaseBuffers();
        if (in->wFormatTag == WAVE_FORMAT_PCM) {
            m_directPCM = true;
            m_converting = false;
            m_displayFormat = in;
            m_displayBufferSize = size;
            m_inputBuffer.assign(static_cast<std::size_t>(size), 0);
            m_displayBuffer = m_inputBuffer.data();
        } else {
            m_directPCM = m_converting = false;
            if (m_autoConvert) {
                const TWaveFormatEx suggested = SuggestPCMFormat(in);
                if (suggested.wFormatTag != 0) {
                    m_ownedDisplayFormat = copyWaveFormat(&suggested);
                    m_inputBuffer.assign(static_cast<std::size_t>(size), 0);
                    m_conversion = OpenConversion(in, m_ownedDisplayFormat.get(),
                                                  m_inputBuffer.data(), true, size);
                }
                if (m_conversion) {
                    m_converting = true;
                    m_displayFormat = m_ownedDisplayFormat.get();
                    m_displayBuffer = m_conversion->Output();
                    m_displayBufferSize = static_cast<int>(m_conversion->OutputSize());
                } else {
                    releaseBuffers();
                }
            }
        }
    }
    m_levelPending = false;
    if (!((m_directPCM || m_converting) && m_displayBuffer))
        return;
    m_running = true;
    UpdateDisplayFormats();
    if (m_enabled && m_realTime)
        postStart();
}

void TMMConnector::clearDisplays()
{
    if (m_level1)
        m_level1->ResetData();
    if (m_level2)
        m_level2->ResetData();
}

void TMMConnector::Stopped()
{
    if (m_running) {
        m_running = false;
        deactivate();
        m_suspended = false;
        setPauseTimer(false);
        {
            std::lock_guard lock(m_bufferLock);
            releaseBuffers();
            m_converting = false;
        }
        m_levelPending = false;
        if (m_refreshOnStop)
            clearDisplays();
    }
    TMMDSPComponent::Stopped();
}

void TMMConnector::Paused()
{
    if (m_running && !m_suspended) {
        m_suspended = true;
        {
            std::lock_guard lock(m_bufferLock);
            if (m_displayBuffer)
                std::memset(m_displayBuffer, m_silenceByte,
                            static_cast<std::size_t>(m_displayBufferSize));
        }
        if (m_realTime)
            setPauseTimer(true);
    }
    TMMDSPComponent::Paused();
}

void TMMConnector::Restarted()
{
    if (m_suspended) {
        m_suspended = false;
        if (m_realTime)
            setPauseTimer(false);
    }
    TMMDSPComponent::Restarted();
}

void TMMConnector::ChainReset()
{
    if (m_running) {
        std::lock_guard lock(m_bufferLock);
        if (m_displayBuffer)
            std::memset(m_displayBuffer, m_silenceByte,
                        static_cast<std::size_t>(m_displayBufferSize));
    }
    TMMDSPComponent::ChainReset();
}

void TMMConnector::setPauseTimer(bool on)
{
    m_levelPending = false;
    if (m_pauseTimer) {
        TimerService::UnregisterTimerClient(m_pauseTimer);
        m_pauseTimer = nullptr;
    }
    if (!on)
        return;
    int period = TimerService::kTickMs;
    const int size = bufferBytes();
    const TWaveFormatEx *f = PWaveFormat();
    if (size < 8192 && f && f->nAvgBytesPerSec > 0)
        period = static_cast<int>(std::lround(size * 1000.0 / f->nAvgBytesPerSec));
    m_pauseTimer = TimerService::RegisterTimerClient(
        period, 0, [](TimerClient *, void *obj) { static_cast<TMMConnector *>(obj)->PauseTick(); },
        this);
    if (!m_pauseTimer)
        throw EOutOfResources(kNotEnoughTimers);
}

void TMMConnector::PauseTick()
{
    if (!m_suspended)
        return;
    m_arrivalTime = now();
    armDisplays();
    if (auto &w = connectorWindow())
        w->wake();
}

void TMMConnector::armDisplays()
{
    if (!m_hasLevels)
        return;
    m_levelPosition = 0;
    m_levelPending = true;
}

// --- buffers

void TMMConnector::BufferReady(PWaveHdr lpWaveHdr)
{
    // Our headers never carry a companion header, so the header read is
    // always the one handed down.
    if (lpWaveHdr)
        BufferReceived(reinterpret_cast<const std::uint8_t *>(lpWaveHdr->lpData),
                       static_cast<int>(lpWaveHdr->dwBytesRecorded));
    TMMDSPComponent::BufferReady(lpWaveHdr);
}

void TMMConnector::BufferLoad(PWaveHdr lpWaveHdr, bool &MoreBuffers)
{
    TMMDSPComponent::BufferLoad(lpWaveHdr, MoreBuffers);
    if (lpWaveHdr)
        BufferReceived(reinterpret_cast<const std::uint8_t *>(lpWaveHdr->lpData),
                       static_cast<int>(lpWaveHdr->dwBytesRecorded));
}

void TMMConnector::BufferReceived(const std::uint8_t *data, int bytes)
{
    if (!m_running || !m_enabled || m_suspended || !data)
        return;
    const std::uint64_t arrival = now();
    {
        std::lock_guard lock(m_bufferLock);
        int n = std::min(bytes, static_cast<int>(m_inputBuffer.size()));
        if (n <= 0)
            return;
        std::memcpy(m_inputBuffer.data(), data, static_cast<std::size_t>(n));
        if (m_converting) {
            n = Convert(m_conversion.get(), n);
            // A buffer that does not convert is dropped; the displays go on
            // with what they were showing.
            if (n <= 0)
                return;
        }
        m_validBytes = n;
    }
    // The arrival time moves only with a buffer that replaces the shown
    // one, so that a dropped buffer does not delay the blocks still due.
    m_arrivalTime = arrival;
    armDisplays();
    if (!m_realTime) {
        if (m_autoTrigger)
            FeedDisplays();
    } else if (auto &w = connectorWindow()) {
        w->wake();
    }
}

long long TMMConnector::MicrosUntilDue(std::uint64_t t) const
{
    if (!m_levelPending || !m_hasLevels)
        return -1;
    if (!m_synchronize || !m_displayFormat || m_displayFormat->nAvgBytesPerSec == 0)
        return 0;
    const std::uint64_t due = 1000000ull * static_cast<std::uint64_t>(m_levelPosition)
        / m_displayFormat->nAvgBytesPerSec;
    const std::uint64_t elapsed = t - m_arrivalTime;
    return elapsed >= due ? 0 : static_cast<long long>(due - elapsed);
}

void TMMConnector::FeedDisplays()
{
    if (!m_enabled || !(m_active || (!m_realTime && m_running)) || !m_displayBuffer)
        return;
    {
        std::lock_guard lock(m_bufferLock);
        if (m_levelPending && (m_level1 || m_level2) && m_displayBuffer) {
            int step = 0;
            if (m_level1)
                step = m_level1->BlockBytes();
            if (m_level2)
                step = std::max(step, m_level2->BlockBytes());
            const int pos = m_levelPosition;
            bool due = true;
            if (m_synchronize && m_displayFormat && m_displayFormat->nAvgBytesPerSec > 0) {
                const std::uint64_t at = 1000000ull * static_cast<std::uint64_t>(pos)
                    / m_displayFormat->nAvgBytesPerSec;
                due = now() - m_arrivalTime >= at;
            }
            if (due) {
                m_levelPosition = pos + step;
                if (step <= 0 || static_cast<long long>(pos) + step > m_validBytes) {
                    // A tail shorter than a block is never shown.
                    m_levelPending = false;
                } else {
                    const std::uint8_t *block = m_displayBuffer + pos;
                    if (m_level1)
                        m_level1->ProcessBlock(block);
                    if (m_level2)
                        m_level2->ProcessBlock(block);
                    ++m_levelBlocksFed;
                }
            }
        }
    }
    if (OnTrigger)
        OnTrigger(this);
}

void TMMConnector::Trigger()
{
    if (!m_enabled || !(m_active || (!m_realTime && m_running)) || m_autoTrigger
        || m_triggerPending != 0)
        return;
    auto &w = connectorWindow();
    if (!w)
        return;
    if (QThread::currentThread() == w->thread()) {
        FeedDisplays();
        return;
    }
    ++m_triggerPending;
    w->postTrigger(this);
}
