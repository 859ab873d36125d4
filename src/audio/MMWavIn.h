#pragma once

#include "audio/MMAlloc.h"
#include "audio/MMDSPObj.h"
#include "audio/WaveInDevice.h"

#include <QObject>
#include <QString>

#include <array>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>

// Wave-in capture: keeps a ring of buffers queued at a capture device,
// hands each filled one down the chain with BufferReady and queues it again.
// It is the sound device of the recording chain, so it opens, starts, stops
// and closes the chain.
//
// Threads: properties and operations on the UI thread. Buffer completions
// run on the UI thread (cmWindow), on the device's thread (cmCallback) or on
// a worker thread (cmThread).

inline constexpr const char *kWaveInChangeWhileOpen = "Change to property while device was open";
inline constexpr const char *kWaveInNoDevice = "No wave audio recording device found";
inline constexpr const char *kWaveInInvalidDeviceId = "Invalid DeviceID";
inline constexpr const char *kWaveInInvalidFormat = "Invalid wave format";
inline constexpr const char *kWaveInCantRecordFormat = "The actual device can''t record this format";
inline constexpr const char *kWaveInUnableToOpen = "Unable to open device";
inline constexpr const char *kWaveInUnableToClose = "Unable to close device";
inline constexpr const char *kWaveInNoHeaderMemory = "Unable to allocate memory for wave header";
inline constexpr const char *kWaveInNoThread = "Could not create thread";
inline constexpr const char *kWaveInUnknownError = "Specified error number is out of range (unknown error)";

class EMMWaveInError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// "Name:" + line feed + carriage return + text, the form of device errors.
[[nodiscard]] std::string waveInErrorMessage(const char *call, const std::string &text);

enum TMMWaveInStates : std::uint8_t {
    wsClosed = 1u << 0,
    wsOpen = 1u << 1,
    wsRecording = 1u << 2,
    wsPaused = 1u << 3,
};
using TMMWaveInState = std::uint8_t;

enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

constexpr int kMaxWaveInBuffers = 500;
// The private message that completes a stop asked for inside a hand-over.
constexpr unsigned kDeferredStopMessage = 32770;

class TMMWaveInThread;

class TMMCustomWaveIn : public TMMCustomSoundComponent
{
    Q_OBJECT
public:
    explicit TMMCustomWaveIn(QObject *owner = nullptr);
    ~TMMCustomWaveIn() override;

    // Operations; failures raise EMMWaveInError (after OnError).
    virtual void Open();
    virtual void Close();
    virtual void Start();
    virtual void Pause();
    virtual void Restart();
    virtual void Stop();

    // Reads {wsClosed} while Open spreads Opened along the chain, so that a
    // member reacting to it cannot stop or close the device half-way.
    [[nodiscard]] TMMWaveInState State() const
    {
        return m_spreadingOpened ? TMMWaveInState(wsClosed) : m_state.load();
    }
    [[nodiscard]] HWAVEIN Handle() const { return m_handle; }
    [[nodiscard]] MMRESULT LastError() const { return m_lastError; }
    [[nodiscard]] std::int32_t DeviceCount() const { return m_deviceCount; }
    [[nodiscard]] std::int32_t TotalBytes() const { return m_totalBytes; }
    [[nodiscard]] std::int32_t MaxBytes() const { return m_maxBytes; }
    [[nodiscard]] std::int32_t Queued() const { return m_queued.load(); }
    [[nodiscard]] const TWaveInCaps &Caps() const { return m_caps; }
    // Blocks the buffer pool holds (in use or kept for the next open).
    [[nodiscard]] std::size_t PoolBlocks() const { return m_pool.BlockCount(); }

    // Properties.
    void SetNumBuffers(std::int32_t value) override;
    [[nodiscard]] std::int32_t NumBuffers() const override { return m_numBuffers; }
    void SetDeviceID(TMMDeviceId value) override;
    [[nodiscard]] TMMDeviceId DeviceID() const override { return m_deviceId; }
    void SetProductName(const QString &) override {}
    [[nodiscard]] QString ProductName() const override { return m_productName; }
    void SetCallBackMode(TMMCBMode value) override;
    [[nodiscard]] TMMCBMode CallBackMode() const override { return m_callBackMode; }

    void SetMode(TMMMode value);
    [[nodiscard]] TMMMode Mode() const { return m_mode; }
    void SetBitLength(TMMBits value);
    [[nodiscard]] TMMBits BitLength() const { return m_bitLength; }
    void SetSampleRate(std::int32_t value);
    [[nodiscard]] std::int32_t SampleRate() const { return m_sampleRate; }
    void SetTimeFormat(TMMTimeFormats value);
    [[nodiscard]] TMMTimeFormats TimeFormat() const { return m_timeFormat; }
    void SetMaxRecordTime(std::int32_t value);
    [[nodiscard]] std::int32_t MaxRecordTime() const { return m_maxRecordTime; }
    void SetPriority(TThreadPriority value);
    [[nodiscard]] TThreadPriority Priority() const { return m_priority; }

    void SetPWaveFormat(const TWaveFormatEx *f) override;
    [[nodiscard]] std::int32_t BufferSize() const override;
    void SetBufferSize(std::int32_t n) override;

    void Opened() override;
    void Closed() override;
    void Started() override;
    void Paused() override;
    void Restarted() override;
    void Stopped() override;
    void BufferReady(PWaveHdr lpWaveHdr) override;

    TNotifyEvent OnError;
    TNotifyEvent OnOpen;
    TNotifyEvent OnStart;
    TNotifyEvent OnPause;
    TNotifyEvent OnRestart;
    TNotifyEvent OnStop;
    TNotifyEvent OnClose;

    // True when device `id` can record format f (query-only open, plus the
    // standard format bits for PCM).
    [[nodiscard]] bool WaveInFormatSupported(TMMDeviceId id, const TWaveFormatEx *f);

protected:
    virtual void BindDevice() = 0;
    // Construction steps that need the device table: the derived class
    // calls it once BindDevice has filled the table.
    void DeviceBound();
    [[noreturn]] virtual void RaiseError(const std::string &message);

    TWaveInDeviceTable *m_device = nullptr;

private:
    friend class TMMWaveInThread;
    static void deviceCallback(HWAVEIN h, unsigned msg, void *instance, PWaveHdr hdr) noexcept;
    void checkDevice(MMRESULT result, const char *call);
    void refuseWhileOpen();
    void rebuildFormat();
    void addBuffer(PWaveHdr hdr);
    void bufferDone(PWaveHdr hdr);
    void handleBufferMessage(HWAVEIN h, PWaveHdr hdr);
    void handleDeferredStop(HWAVEIN h);
    void unprepareHeader(PWaveHdr hdr);
    void allocateBuffers();
    void freeBuffers();
    void startWorker();
    void endWorker();
    void fireEvent(const TNotifyEvent &e);
    [[nodiscard]] bool usesLock() const { return m_lockReady && m_callBackMode != cmWindow; }
    void setStateBits(std::uint8_t add, std::uint8_t remove);
    [[nodiscard]] bool hasState(std::uint8_t bits) const { return (State() & bits) != 0; }
    void decQueued();
    void closeStep(const std::function<void()> &step) noexcept;
    [[nodiscard]] std::int32_t computeMaxBytes() const;
    // Waits up to 100 times 10 ms until done() holds; with pumpMessages the
    // message loop runs while waiting.
    template <typename Pred>
    bool waitUntil(Pred done, bool pumpMessages);

    std::unique_ptr<QObject> m_window;
    bool m_spreadingOpened = false;
    TThreadPriority m_priority = tpHigher;
    TMMDeviceId m_deviceId = 0;
    HWAVEIN m_handle = 0;
    std::atomic<TMMWaveInState> m_state{wsClosed};
    std::array<PWaveHdr, kMaxWaveInBuffers> m_bufferTable{};
    TMMCBMode m_callBackMode = cmWindow;
    MMRESULT m_lastError = 0;
    std::int32_t m_deviceCount = 0;
    TWaveInCaps m_caps{};
    QString m_productName;
    std::int32_t m_inHandler = 0;
    bool m_stopRequested = false;
    bool m_closePending = false;
    bool m_stopping = false;
    bool m_closing = false;
    std::atomic<bool> m_resetting{false};
    bool m_stopPosted = false;
    std::int32_t m_totalBytes = 0;
    std::int32_t m_numBuffers = 10;
    std::atomic<std::int32_t> m_queued{0};
    TMMTimeFormats m_timeFormat = tfByte;
    TWaveFormatEx m_pcmFormat{};
    TMMMode m_mode = mMono;
    TMMBits m_bitLength = b8Bit;
    std::int32_t m_sampleRate = 11025;
    std::int32_t m_maxRecordTime = -1;
    std::int32_t m_maxBytes = 2147483647;
    TMMAllocator m_pool;
    std::atomic<bool> m_threadFailed{false};
    std::unique_ptr<TMMWaveInThread> m_workerThread;
    std::recursive_mutex m_lock;
    bool m_lockReady = false;
};

// Capture through the process's device table (PortAudio, or the table a
// test installed).
class TMMWaveIn : public TMMCustomWaveIn
{
    Q_OBJECT
public:
    explicit TMMWaveIn(QObject *owner = nullptr);
    ~TMMWaveIn() override;

protected:
    void BindDevice() override;
};
