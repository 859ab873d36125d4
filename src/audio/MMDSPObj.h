#pragma once

#include "audio/WaveFormat.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

// The processing chain: a singly linked line of audio components in which
// sound data travel downstream in buffers (BufferReady), formats travel
// downstream whenever they change, and the sound devices at the ends spread
// the lifecycle notifications (opened, started, paused, restarted, stopped,
// closed, reset) along the line.
//
// Threads: every member is built, linked and notified on the UI thread.
// Buffers travel on whichever thread the sound device chooses (the UI thread
// in cmWindow mode); the chain itself holds no locks.

using TMMDeviceId = std::int32_t;
constexpr TMMDeviceId MapperId = -1;
constexpr TMMDeviceId InvalidId = -2;

enum TMMCBMode { cmWindow, cmCallback, cmThread };
enum TMMMode { mMono, mStereo };
enum TMMBits { b8Bit, b16Bit };
enum TMMTimeFormats { tfMillisecond, tfByte, tfSample };

// The runtime component state flags the chain looks at.
enum TComponentStateFlag : unsigned {
    csLoading = 1u << 0,
    csReading = 1u << 1,
    csDestroying = 1u << 2,
    csDesigning = 1u << 3,
};

class TMMComponent;
class TMMDSPComponent;
using TNotifyEvent = std::function<void(TMMComponent *Sender)>;
using TMMBufferEvent = std::function<void(TMMComponent *Sender, PWaveHdr lpWaveHdr)>;
using TMMBufferLoadEvent =
    std::function<void(TMMComponent *Sender, PWaveHdr lpWaveHdr, bool &MoreBuffers)>;

// A component with an owner (the QObject parent) and a component state.
class TMMComponent : public QObject
{
    Q_OBJECT
public:
    explicit TMMComponent(QObject *owner = nullptr);
    ~TMMComponent() override;

    [[nodiscard]] unsigned ComponentState() const { return m_componentState; }

    // Reading a layout: BeginLoading() marks the component as being loaded
    // and read; EndLoading() clears both marks and runs Loaded().
    void BeginLoading();
    void EndLoading();

protected:
    virtual void Loaded() {}
    // Derived destructors call this first, so that virtual steps that run
    // while tearing down know it.
    void MarkDestroying() { m_componentState |= csDestroying; }
    [[nodiscard]] bool loadingReadingOrDestroying() const
    {
        return (m_componentState & (csLoading | csReading | csDestroying)) != 0;
    }

private:
    unsigned m_componentState = 0;
};

class TMMNonVisualComponent : public TMMComponent
{
    Q_OBJECT
public:
    using TMMComponent::TMMComponent;
};

class TMMCustomDSPComponent : public TMMNonVisualComponent
{
    Q_OBJECT
public:
    using TMMNonVisualComponent::TMMNonVisualComponent;
};

// The chain member.
class TMMDSPComponent : public TMMCustomDSPComponent
{
    Q_OBJECT
public:
    explicit TMMDSPComponent(QObject *owner = nullptr);
    ~TMMDSPComponent() override;

    // Links. The setters take any component: one that is not a chain member
    // (or that would close a loop) is silently refused.
    virtual void SetInput(TMMComponent *value);
    [[nodiscard]] virtual TMMDSPComponent *Input() const { return m_input; }
    virtual void SetOutput(TMMComponent *value);
    [[nodiscard]] virtual TMMDSPComponent *Output() const { return m_output; }

    virtual void SetPWaveFormat(const TWaveFormatEx *f);
    [[nodiscard]] virtual const TWaveFormatEx *PWaveFormat() const { return m_pwfx.get(); }

    [[nodiscard]] virtual std::int32_t BufferSize() const;
    virtual void SetBufferSize(std::int32_t n);
    [[nodiscard]] std::int32_t RealBufferSize() const { return m_realBufferSize; }

    virtual void PropagateFormat();
    virtual void LinkNotify(TMMDSPComponent *sender, bool inputSide, const QString &propName);
    virtual void ReceiveWaveFormat(const TWaveFormatEx *f);

    // Lifecycle notifications; the defaults only keep the flags below.
    virtual void Opened();
    virtual void Closed();
    virtual void Started();
    virtual void Paused();
    virtual void Restarted();
    virtual void Stopped();
    virtual void ChainReset();

    virtual void BufferReady(PWaveHdr lpWaveHdr);
    virtual void BufferLoad(PWaveHdr lpWaveHdr, bool &MoreBuffers);

    virtual void SetInputLink(TMMDSPComponent *component, const QString &name);
    virtual void SetOutputLink(TMMDSPComponent *component, const QString &name);
    [[nodiscard]] virtual bool CanConnectInput(TMMComponent *c) const;
    [[nodiscard]] virtual bool CanConnectOutput(TMMComponent *c) const;

    [[nodiscard]] bool IsOpened() const { return m_opened; }
    [[nodiscard]] bool IsStarted() const { return m_started; }
    [[nodiscard]] bool IsPaused() const { return m_paused; }
    [[nodiscard]] const QString &InputLinkName() const { return m_inputLinkName; }
    [[nodiscard]] const QString &OutputLinkName() const { return m_outputLinkName; }

    // Whether the class publishes an "Input" / "Output" link property. Kept
    // as data rather than virtuals so that it still answers while the
    // partner's destructor runs.
    [[nodiscard]] bool PublishesInput() const { return m_publishesInput; }
    [[nodiscard]] bool PublishesOutput() const { return m_publishesOutput; }

    bool AcceptsInput = false;
    bool ProvidesOutput = false;

    TMMBufferEvent OnBufferReady;
    TMMBufferLoadEvent OnBufferLoad;
    TMMBufferEvent OnBufferLoaded;

protected:
    void Loaded() override;
    // Reads a published link property by name; none when not published.
    [[nodiscard]] TMMDSPComponent *publishedLink(const QString &name) const;

    bool m_publishesInput = false;
    bool m_publishesOutput = false;

private:
    TMMDSPComponent *m_input = nullptr;
    TMMDSPComponent *m_output = nullptr;
    WaveFormatPtr m_pwfx;
    std::int32_t m_bufferSize = 2048;
    std::int32_t m_realBufferSize = 2048;
    bool m_opened = false;
    bool m_started = false;
    bool m_paused = false;
    QString m_inputLinkName;
    QString m_outputLinkName;
};

// A chain member that is a sound device: it spreads the lifecycle
// notifications along its stretch of the chain.
class TMMCustomSoundComponent : public TMMDSPComponent
{
    Q_OBJECT
public:
    using TMMDSPComponent::TMMDSPComponent;

    void Opened() override;
    void Closed() override;
    void Started() override;
    void Paused() override;
    void Restarted() override;
    void Stopped() override;
    void ChainReset() override;

    virtual void SetNumBuffers(std::int32_t value) = 0;
    [[nodiscard]] virtual std::int32_t NumBuffers() const = 0;
    virtual void SetDeviceID(TMMDeviceId value) = 0;
    [[nodiscard]] virtual TMMDeviceId DeviceID() const = 0;
    virtual void SetProductName(const QString &value) = 0;
    [[nodiscard]] virtual QString ProductName() const = 0;
    virtual void SetCallBackMode(TMMCBMode value) = 0;
    [[nodiscard]] virtual TMMCBMode CallBackMode() const = 0;

protected:
    enum class Notification { Opened, Closed, Started, Paused, Restarted, Stopped, ChainReset };
    // Delivers a notification to the other members of this device's stretch
    // (not to the device itself).
    void spread(Notification n);
    [[nodiscard]] TMMDSPComponent *stretchStart();
};

// Calls LinkNotify with the same arguments on every live chain member, in
// construction order.
void NotifyLinkChange(TMMDSPComponent *component, bool inputSide, const QString &propName);

// Every live chain member, in construction order (UI thread only).
[[nodiscard]] std::size_t DSPComponentCount();
[[nodiscard]] TMMDSPComponent *DSPComponentAt(std::size_t index);

// Runs handler(sender) on the main thread when called from a DSP thread
// (waiting until it has run), else directly.
void CallSynchronized(const TNotifyEvent &handler, TMMComponent *sender);

// A worker thread that belongs to a chain component. Constructed suspended;
// Resume() starts Execute(). Registered in the process-wide thread list for
// the life of the object.
class TMMDSPThread
{
public:
    explicit TMMDSPThread(TMMDSPComponent *owner);
    virtual ~TMMDSPThread();
    TMMDSPThread(const TMMDSPThread &) = delete;
    TMMDSPThread &operator=(const TMMDSPThread &) = delete;

    void Resume();
    // Waits for Execute() to return.
    void WaitFor();
    // Runs fn on the main thread and waits for it.
    void Synchronize(const std::function<void()> &fn);

    [[nodiscard]] TMMDSPComponent *Owner() const { return m_owner; }
    [[nodiscard]] std::thread::id ThreadId() const { return m_threadId.load(); }

protected:
    virtual void Execute() = 0;

private:
    TMMDSPComponent *m_owner;
    std::thread m_thread;
    std::atomic<std::thread::id> m_threadId{};
};

// Number of live DSP threads (for tests and diagnostics).
[[nodiscard]] std::size_t DSPThreadCount();
