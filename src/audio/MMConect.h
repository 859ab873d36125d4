#pragma once

#include "audio/MMACMSup.h"
#include "audio/MMDSPObj.h"
#include "audio/WaveFormat.h"

#include <QPointer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <vector>

// The connector: the last member of the recording chain. It watches every
// buffer that passes, turns it into PCM when it is not PCM already, and
// hands it block by block, paced to real time, to the level meters assigned
// to it. Recording stopping clears the meters.
//
// Threads: properties, lifecycle notifications and the feed loop run on the
// UI thread. BufferReceived runs on whichever thread hands buffers down the
// chain; the buffer lock guards the buffers and the conversion against the
// feed. PauseTick runs on the timer service thread and only arms the
// displays (atomics) and wakes the feed loop.

class TMMLevel;
class TimerClient;

class EMMConnectorError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

class EOutOfResources : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char *kChangeWhileOpen = "Change to property while device was open";
inline constexpr const char *kNotEnoughTimers = "Not enough timers available";

enum TMMTriggerMode { tmNone, tmUpFlank, tmDownFlank };

class TMMConnector : public TMMDSPComponent
{
    Q_OBJECT
public:
    explicit TMMConnector(QObject *owner = nullptr);
    ~TMMConnector() override;

    // --- properties ---
    [[nodiscard]] bool Enabled() const { return m_enabled; }
    void SetEnabled(bool on);
    [[nodiscard]] bool AutoConvert() const { return m_autoConvert; }
    void SetAutoConvert(bool on) { m_autoConvert = on; }
    [[nodiscard]] bool AutoTrigger() const { return m_autoTrigger; }
    void SetAutoTrigger(bool on);
    [[nodiscard]] bool Synchronize() const { return m_synchronize; }
    void SetSynchronize(bool on) { m_synchronize = on; }
    [[nodiscard]] int Speed() const { return m_speed; }
    void SetSpeed(int speed);
    [[nodiscard]] TMMTriggerMode TriggerMode() const { return m_triggerMode; }
    void SetTriggerMode(TMMTriggerMode m) { m_triggerMode = m; }
    [[nodiscard]] int TriggerLevel() const { return m_triggerLevel; }
    void SetTriggerLevel(int level) { m_triggerLevel = level; }
    [[nodiscard]] bool RefreshOnStop() const { return m_refreshOnStop; }
    void SetRefreshOnStop(bool on) { m_refreshOnStop = on; }
    [[nodiscard]] bool RealTime() const { return m_realTime; }
    // Raises EMMConnectorError while the chain is open.
    void SetRealTime(bool on);
    // Process-wide: every connector shares it.
    [[nodiscard]] static bool EnterIdle();
    static void SetEnterIdle(bool on);

    [[nodiscard]] TMMLevel *Level1() const { return m_level1; }
    void SetLevel1(TMMLevel *level);
    [[nodiscard]] TMMLevel *Level2() const { return m_level2; }
    void SetLevel2(TMMLevel *level);

    // Fired after every feed step.
    std::function<void(TMMConnector *sender)> OnTrigger;

    // --- the chain ---
    void SetPWaveFormat(const TWaveFormatEx *f) override;
    void Started() override;
    void Paused() override;
    void Restarted() override;
    void Stopped() override;
    void ChainReset() override;
    void BufferReady(PWaveHdr lpWaveHdr) override;
    void BufferLoad(PWaveHdr lpWaveHdr, bool &MoreBuffers) override;

    virtual void BufferReceived(const std::uint8_t *data, int bytes);
    virtual void Trigger();

    void UpdateDisplayFormats();
    // One feed step: at most one block per display kind.
    void FeedDisplays();

    // --- state, for the feed loop, tests and diagnostics ---
    [[nodiscard]] bool Running() const { return m_running; }
    [[nodiscard]] bool Active() const { return m_active; }
    [[nodiscard]] bool Suspended() const { return m_suspended; }
    [[nodiscard]] bool DirectPCM() const { return m_directPCM; }
    [[nodiscard]] bool Converting() const { return m_converting; }
    [[nodiscard]] const TWaveFormatEx *DisplayFormat() const { return m_displayFormat; }
    [[nodiscard]] const std::uint8_t *DisplayBuffer() const { return m_displayBuffer; }
    [[nodiscard]] const std::uint8_t *InputBuffer() const { return m_inputBuffer.data(); }
    [[nodiscard]] int DisplayBufferSize() const { return m_displayBufferSize; }
    [[nodiscard]] int ValidBytes() const { return m_validBytes; }
    [[nodiscard]] std::uint8_t SilenceByte() const { return m_silenceByte; }
    [[nodiscard]] bool LevelPending() const { return m_levelPending; }
    [[nodiscard]] int LevelPosition() const { return m_levelPosition; }
    [[nodiscard]] bool HasPauseTimer() const { return m_pauseTimer != nullptr; }
    // Blocks handed to the level meters so far.
    [[nodiscard]] long long LevelBlocksFed() const { return m_levelBlocksFed; }
    // Microseconds until the next block falls due; -1 when nothing waits.
    [[nodiscard]] long long MicrosUntilDue(std::uint64_t now) const;

    [[nodiscard]] static int ActiveCount();
    [[nodiscard]] static int MaxSpeed();
    [[nodiscard]] static int ConnectorCount();
    // The clock that paces blocks (MicroTime unless a test sets its own;
    // an empty function restores MicroTime).
    static void SetClockForTesting(std::function<std::uint64_t()> clock);
    // Periodic wake-ups of the feed loop so far (for the benchmark).
    [[nodiscard]] static long long LoopCycles();

private:
    friend class ConnectorWindow;

    void clearDisplays();
    void setPauseTimer(bool on);
    void PauseTick();
    void armDisplays();
    void releaseBuffers();
    void postStart();
    void deactivate();
    void clearSlotsFor(QObject *display);
    [[nodiscard]] int bufferBytes() const { return BufferSize(); }

    bool m_enabled = true;
    bool m_autoConvert = true;
    bool m_autoTrigger = true;
    bool m_synchronize = true;
    int m_speed = 5000;
    TMMTriggerMode m_triggerMode = tmNone;
    int m_triggerLevel = 0;
    bool m_refreshOnStop = true;
    bool m_realTime = true;

    TMMLevel *m_level1 = nullptr;
    TMMLevel *m_level2 = nullptr;
    // Read by PauseTick on the timer thread.
    std::atomic<bool> m_hasLevels{false};

    bool m_running = false;
    bool m_active = false;
    std::atomic<bool> m_suspended{false};
    bool m_directPCM = false;
    bool m_converting = false;
    const TWaveFormatEx *m_displayFormat = nullptr;
    WaveFormatPtr m_ownedDisplayFormat;
    std::vector<std::uint8_t> m_inputBuffer;
    std::uint8_t *m_displayBuffer = nullptr;
    int m_displayBufferSize = 0;
    int m_validBytes = 0;
    std::atomic<std::uint64_t> m_arrivalTime{0};
    std::uint8_t m_silenceByte = 0;
    std::atomic<int> m_triggerPending{0};
    std::atomic<bool> m_levelPending{false};
    std::atomic<int> m_levelPosition{0};
    long long m_levelBlocksFed = 0;
    AcmConversionPtr m_conversion;
    TimerClient *m_pauseTimer = nullptr;
    std::mutex m_bufferLock;
};
