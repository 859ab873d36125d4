#include "audio/MMWavIn.h"

#include "platform/Dialogs.h"
#include "platform/ErrorDisplay.h"
#include "platform/Messages.h"

#include <QCoreApplication>

#include <chrono>
#include <cmath>
#include <limits>
#include <new>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kWaitSteps = 100;
constexpr auto kWaitStep = std::chrono::milliseconds(10);
constexpr int kDonePolls = 65000;
constexpr auto kThreadTimeout = std::chrono::milliseconds(5000);

const char *const kCallbackRefused =
    "\"CallBacks\" are called at interrupt time !\n\rThis is currently only supported under Windows 95";

std::int64_t roundDiv(std::int64_t num, std::int64_t den)
{
    if (den <= 0)
        return 0;
    return (num * 2 + den) / (den * 2);
}

} // namespace

// Applies a thread priority to the calling thread as a nice value. An
// ordinary user may only lower it; a refused raise leaves it as it was.
void applyThreadPriority(TThreadPriority p) noexcept
{
    static constexpr int kNice[] = {19, 10, 5, 0, -5, -10, -19};
    const int index = std::clamp(static_cast<int>(p), 0, 6);
    (void)setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kNice[index]);
}

std::string waveInErrorMessage(const char *call, const std::string &text)
{
    return std::string(call) + ":\n\r" + text;
}

// ---------------------------------------------------------------------------
// Worker thread of cmThread mode: takes buffer messages off its own queue.

class TMMWaveInThread : public TMMDSPThread
{
public:
    explicit TMMWaveInThread(TMMCustomWaveIn *owner)
        : TMMDSPThread(owner)
        , m_waveIn(owner)
    {
        m_priority = owner->Priority();
    }
    ~TMMWaveInThread() override { quit(); }

    void post(HWAVEIN h, PWaveHdr hdr)
    {
        {
            std::lock_guard lock(m_mutex);
            m_messages.emplace_back(h, hdr);
        }
        m_cv.notify_one();
    }

    // Waits for the ready signal (at start, and again when the loop ends).
    bool waitReady(std::chrono::milliseconds timeout)
    {
        std::unique_lock lock(m_mutex);
        const bool ok = m_cv.wait_for(lock, timeout, [&] { return m_ready; });
        m_ready = false;
        return ok;
    }

    // Asks the thread to take a new priority before its next message.
    void setPriority(TThreadPriority p)
    {
        m_priority = p;
        m_priorityChanged = true;
        m_cv.notify_one();
    }

    void quit()
    {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_cv.notify_all();
        WaitFor();
    }

protected:
    void Execute() override
    {
        applyThreadPriority(m_priority.load());
        signalReady();
        for (;;) {
            std::pair<HWAVEIN, PWaveHdr> msg;
            {
                std::unique_lock lock(m_mutex);
                m_cv.wait(lock, [&] { return m_quit || !m_messages.empty() || m_priorityChanged; });
                if (m_quit)
                    break;
                if (m_priorityChanged.exchange(false))
                    applyThreadPriority(m_priority.load());
                if (m_messages.empty())
                    continue;
                msg = m_messages.front();
                m_messages.pop_front();
            }
            if (msg.first != m_waveIn->m_handle)
                continue;
            try {
                m_waveIn->bufferDone(msg.second);
            } catch (const std::exception &e) {
                // The device and the chain belong to the UI thread: closing
                // and showing the error happen there.
                m_waveIn->m_threadFailed = true;
                const QString text = platform::exceptionMessage(e);
                TMMCustomWaveIn *w = m_waveIn;
                platform::postMessage(w->m_window.get(), [w, text] {
                    w->Close();
                    platform::showError(text);
                });
                break;
            }
        }
        signalReady();
    }

private:
    void signalReady()
    {
        {
            std::lock_guard lock(m_mutex);
            m_ready = true;
        }
        m_cv.notify_all();
    }

    TMMCustomWaveIn *m_waveIn;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::pair<HWAVEIN, PWaveHdr>> m_messages;
    bool m_quit = false;
    bool m_ready = false;
    std::atomic<TThreadPriority> m_priority{tpHigher};
    std::atomic<bool> m_priorityChanged{false};
};

// ---------------------------------------------------------------------------

TMMCustomWaveIn::TMMCustomWaveIn(QObject *owner)
    : TMMCustomSoundComponent(owner)
{
    m_publishesOutput = true;
    if (!(ComponentState() & csDesigning))
        m_window = std::make_unique<QObject>();
}

void TMMCustomWaveIn::DeviceBound()
{
    m_deviceCount = static_cast<std::int32_t>(m_device->waveInGetNumDevs());
    rebuildFormat();
    SetDeviceID(0);
}

TMMCustomWaveIn::~TMMCustomWaveIn()
{
    MarkDestroying();
    if (m_handle != 0)
        Close();
    m_workerThread.reset();
    m_window.reset();
    freeBuffers();
    m_pool.FreeAll();
}

void TMMCustomWaveIn::RaiseError(const std::string &message)
{
    fireEvent(OnError);
    throw EMMWaveInError(message);
}

void TMMCustomWaveIn::fireEvent(const TNotifyEvent &e)
{
    if (e)
        e(this);
}

void TMMCustomWaveIn::checkDevice(MMRESULT result, const char *call)
{
    m_lastError = result;
    if (result == MMSYSERR_NOERROR)
        return;
    std::string text;
    if (!m_device->waveInGetErrorText(result, text))
        text = kWaveInUnknownError;
    RaiseError(waveInErrorMessage(call, text));
}

void TMMCustomWaveIn::refuseWhileOpen()
{
    if (hasState(wsOpen))
        RaiseError(kWaveInChangeWhileOpen);
}

void TMMCustomWaveIn::setStateBits(std::uint8_t add, std::uint8_t remove)
{
    TMMWaveInState s = m_state.load();
    s = static_cast<TMMWaveInState>((s | add) & ~remove);
    m_state.store(s);
}

// --- properties -------------------------------------------------------------

void TMMCustomWaveIn::SetNumBuffers(std::int32_t value)
{
    if (value == m_numBuffers || value <= 1)
        return;
    refuseWhileOpen();
    m_numBuffers = std::min(value, kMaxWaveInBuffers);
}

void TMMCustomWaveIn::SetDeviceID(TMMDeviceId value)
{
    refuseWhileOpen();
    m_productName = QString::fromLatin1(kWaveInNoDevice);
    if (m_deviceCount > 0 && value >= MapperId && value < m_deviceCount) {
        m_caps = TWaveInCaps{};
        m_lastError = m_device->waveInGetDevCaps(value, m_caps);
        if (m_lastError == MMSYSERR_NOERROR)
            m_productName = QString::fromLocal8Bit(m_caps.szPname, static_cast<int>(strnlen(m_caps.szPname, sizeof m_caps.szPname)));
    }
    if (value == MapperId)
        m_deviceId = MapperId;
    else if (value < MapperId || value >= m_deviceCount)
        m_deviceId = InvalidId;
    else
        m_deviceId = value;
}

void TMMCustomWaveIn::SetCallBackMode(TMMCBMode value)
{
    refuseWhileOpen();
    if (value == m_callBackMode)
        return;
    if (value == cmCallback) {
        // Buffer completions on the device's own thread would run the whole
        // chain there; that was only ever allowed on one old system.
        platform::messageBox(nullptr, QString::fromLatin1(kCallbackRefused), QStringLiteral("TMMWaveIn"),
                             platform::MsgIcon::None, platform::MsgButtons::Ok);
        return;
    }
    m_callBackMode = value;
}

void TMMCustomWaveIn::SetMode(TMMMode value)
{
    if (value == m_mode || (value != mMono && value != mStereo))
        return;
    refuseWhileOpen();
    m_mode = value;
    rebuildFormat();
}

void TMMCustomWaveIn::SetBitLength(TMMBits value)
{
    if (value == m_bitLength)
        return;
    refuseWhileOpen();
    m_bitLength = value;
    rebuildFormat();
}

void TMMCustomWaveIn::SetSampleRate(std::int32_t value)
{
    if (value == m_sampleRate)
        return;
    refuseWhileOpen();
    m_sampleRate = std::clamp(value, 8000, 100000);
    rebuildFormat();
}

void TMMCustomWaveIn::rebuildFormat()
{
    m_pcmFormat = TWaveFormatEx{};
    m_pcmFormat.wFormatTag = WAVE_FORMAT_PCM;
    m_pcmFormat.nChannels = static_cast<std::uint16_t>(m_mode + 1);
    m_pcmFormat.nSamplesPerSec = static_cast<std::uint32_t>(m_sampleRate);
    m_pcmFormat.wBitsPerSample = static_cast<std::uint16_t>(8 * (m_bitLength + 1));
    m_pcmFormat.nBlockAlign = static_cast<std::uint16_t>(m_pcmFormat.nChannels * m_pcmFormat.wBitsPerSample / 8);
    m_pcmFormat.nAvgBytesPerSec = m_pcmFormat.nSamplesPerSec * m_pcmFormat.nBlockAlign;
    m_pcmFormat.cbSize = 0;
    SetPWaveFormat(&m_pcmFormat);
}

void TMMCustomWaveIn::SetTimeFormat(TMMTimeFormats value)
{
    if (value == m_timeFormat)
        return;
    m_timeFormat = value;
    const TWaveFormatEx *f = PWaveFormat();
    if (m_maxRecordTime < 0 || !f || f->nAvgBytesPerSec == 0)
        return;
    switch (value) {
    case tfMillisecond:
        m_maxRecordTime = static_cast<std::int32_t>(roundDiv(std::int64_t(m_maxBytes) * 1000, f->nAvgBytesPerSec));
        break;
    case tfSample:
        m_maxRecordTime = static_cast<std::int32_t>(
            roundDiv(std::int64_t(m_maxBytes) * f->nSamplesPerSec, f->nAvgBytesPerSec));
        break;
    case tfByte: m_maxRecordTime = m_maxBytes; break;
    }
}

void TMMCustomWaveIn::SetMaxRecordTime(std::int32_t value)
{
    if (value == m_maxRecordTime)
        return;
    m_maxRecordTime = value;
    m_maxBytes = computeMaxBytes();
}

std::int32_t TMMCustomWaveIn::computeMaxBytes() const
{
    constexpr std::int64_t kUnlimited = std::numeric_limits<std::int32_t>::max();
    const TWaveFormatEx *f = PWaveFormat();
    std::int64_t bytes = kUnlimited;
    if (m_maxRecordTime >= 0 && f) {
        const std::int64_t align = std::max<std::int64_t>(f->nBlockAlign, 1);
        auto wholeBlocks = [&](std::int64_t b) { return (b + align - 1) / align * align; };
        switch (m_timeFormat) {
        case tfMillisecond:
            bytes = wholeBlocks(roundDiv(std::int64_t(m_maxRecordTime) * f->nAvgBytesPerSec, 1000));
            break;
        case tfSample:
            bytes = f->nSamplesPerSec == 0
                        ? kUnlimited
                        : wholeBlocks(roundDiv(std::int64_t(m_maxRecordTime) * f->nAvgBytesPerSec, f->nSamplesPerSec));
            break;
        case tfByte: bytes = m_maxRecordTime; break;
        }
        if (bytes > kUnlimited)
            bytes = kUnlimited;
    }
    if (f && f->nBlockAlign > 0)
        bytes -= bytes % f->nBlockAlign;
    return static_cast<std::int32_t>(bytes);
}

void TMMCustomWaveIn::SetPriority(TThreadPriority value)
{
    m_priority = value;
    if (m_workerThread)
        m_workerThread->setPriority(value);
}

void TMMCustomWaveIn::SetPWaveFormat(const TWaveFormatEx *f)
{
    Close();
    if (f && f->wFormatTag == WAVE_FORMAT_PCM && (f->wBitsPerSample == 8 || f->wBitsPerSample == 16)
        && (f->nChannels == 1 || f->nChannels == 2) && f->nSamplesPerSec >= 4000 && f->nSamplesPerSec <= 100000) {
        m_sampleRate = static_cast<std::int32_t>(f->nSamplesPerSec);
        m_bitLength = f->wBitsPerSample == 16 ? b16Bit : b8Bit;
        m_mode = f->nChannels == 2 ? mStereo : mMono;
    }
    TMMCustomSoundComponent::SetPWaveFormat(f);
}

std::int32_t TMMCustomWaveIn::BufferSize() const
{
    return TMMCustomSoundComponent::BufferSize();
}

void TMMCustomWaveIn::SetBufferSize(std::int32_t n)
{
    if (n == BufferSize())
        return;
    refuseWhileOpen();
    m_pool.FreeAll();
    TMMCustomSoundComponent::SetBufferSize(std::max(n, 32));
}

// --- device helpers ---------------------------------------------------------

bool TMMCustomWaveIn::WaveInFormatSupported(TMMDeviceId id, const TWaveFormatEx *f)
{
    if (id < MapperId || id >= m_deviceCount || !f)
        return false;
    if (m_device->waveInOpen(nullptr, id, f, nullptr, nullptr, WAVE_FORMAT_QUERY) != MMSYSERR_NOERROR)
        return false;
    if (f->wFormatTag != WAVE_FORMAT_PCM)
        return true;
    TWaveInCaps caps;
    if (m_device->waveInGetDevCaps(id, caps) != MMSYSERR_NOERROR)
        return false;
    int shift;
    if (f->nSamplesPerSec <= 11025)
        shift = 0;
    else if (f->nSamplesPerSec <= 22050)
        shift = 4;
    else if (f->nSamplesPerSec <= 48000)
        shift = 8;
    else
        return true; // no standard bits above 48 kHz: the query decides
    const int index = (f->nChannels == 2 ? 1 : 0) + (f->wBitsPerSample == 16 ? 2 : 0);
    return (caps.dwFormats & (1u << (shift + index))) != 0;
}

template <typename Pred>
bool TMMCustomWaveIn::waitUntil(Pred done, bool pumpMessages)
{
    for (int i = 0; i < kWaitSteps; ++i) {
        if (done())
            return true;
        if (pumpMessages)
            platform::processMessagesUntil(std::chrono::steady_clock::now() + kWaitStep);
        else
            std::this_thread::sleep_for(kWaitStep);
    }
    return done();
}

void TMMCustomWaveIn::deviceCallback(HWAVEIN h, unsigned msg, void *instance, PWaveHdr hdr) noexcept
{
    auto *self = static_cast<TMMCustomWaveIn *>(instance);
    if (!self)
        return;
    switch (msg) {
    case WIM_OPEN: self->m_state.store(wsOpen); break;
    case WIM_CLOSE: self->m_state.store(wsClosed); break;
    case WIM_DATA:
        switch (self->m_callBackMode) {
        case cmWindow:
            if (self->m_window)
                platform::postMessage(self->m_window.get(), [self, h, hdr] { self->handleBufferMessage(h, hdr); });
            break;
        case cmCallback:
            try {
                self->bufferDone(hdr);
            } catch (const std::exception &e) {
                const QString text = platform::exceptionMessage(e);
                platform::postMessage(self->m_window.get(), [self, text] {
                    self->Close();
                    platform::showError(text);
                });
            }
            break;
        case cmThread:
            if (self->m_workerThread)
                self->m_workerThread->post(h, hdr);
            break;
        }
        break;
    default: break;
    }
}

void TMMCustomWaveIn::handleBufferMessage(HWAVEIN h, PWaveHdr hdr)
{
    if (h != m_handle || h == 0)
        return;
    platform::guarded([&] {
        try {
            bufferDone(hdr);
        } catch (...) {
            Close();
            throw;
        }
    });
}

void TMMCustomWaveIn::handleDeferredStop(HWAVEIN h)
{
    if (h != m_handle || h == 0)
        return;
    platform::guarded([&] {
        try {
            Stop();
        } catch (...) {
            Close();
            throw;
        }
    });
}

void TMMCustomWaveIn::startWorker()
{
    m_workerThread = std::make_unique<TMMWaveInThread>(this);
    m_workerThread->Resume();
    if (!m_workerThread->waitReady(kThreadTimeout)) {
        m_workerThread.reset();
        RaiseError(waveInErrorMessage("WaveIn", kWaveInNoThread));
    }
}

void TMMCustomWaveIn::endWorker()
{
    if (!m_workerThread)
        return;
    m_workerThread->quit();
    m_workerThread.reset();
    m_lockReady = false;
}

void TMMCustomWaveIn::decQueued()
{
    if (usesLock()) {
        std::lock_guard lock(m_lock);
        --m_queued;
    } else {
        --m_queued;
    }
}

// --- buffers ---------------------------------------------------------------

void TMMCustomWaveIn::allocateBuffers()
{
    const std::int32_t size = BufferSize();
    for (int i = 0; i < m_numBuffers; ++i) {
        if (m_bufferTable[i])
            continue;
        void *block = m_pool.AllocBuffer(static_cast<std::size_t>(size) + kWaveHdrArea);
        if (!block)
            RaiseError(kWaveInNoHeaderMemory);
        auto *hdr = new (block) TWaveHdr;
        hdr->lpData = static_cast<char *>(block) + kWaveHdrArea;
        hdr->dwBufferLength = static_cast<std::uint32_t>(size);
        m_bufferTable[i] = hdr;
    }
}

void TMMCustomWaveIn::freeBuffers()
{
    for (PWaveHdr &hdr : m_bufferTable) {
        if (!hdr)
            continue;
        void *block = hdr;
        m_pool.FreeBuffer(block);
        hdr = nullptr;
    }
}

void TMMCustomWaveIn::addBuffer(PWaveHdr hdr)
{
    hdr->dwFlags = (hdr->dwFlags & ~WHDR_DONE) | WHDR_PREPARED;
    checkDevice(m_device->waveInAddBuffer(m_handle, hdr), "WaveInAddBuffer");
    ++m_queued;
}

void TMMCustomWaveIn::unprepareHeader(PWaveHdr hdr)
{
    // The device marks a returned buffer done; a driver that never does
    // must not keep the header prepared for ever.
    int polls = 0;
    while (!(hdr->dwFlags & WHDR_DONE) && polls < kDonePolls)
        ++polls;
    if (!(hdr->dwFlags & WHDR_DONE))
        hdr->dwFlags = WHDR_DONE;
    checkDevice(m_device->waveInUnprepareHeader(m_handle, hdr), "WaveInUnprepareHeader");
}

void TMMCustomWaveIn::bufferDone(PWaveHdr hdr)
{
    if (!(m_state.load() & wsRecording))
        return;
    if (m_resetting || m_stopping) {
        if (!m_resetting && hdr->dwBytesRecorded > 0)
            BufferReady(hdr);
        decQueued();
        if (m_queued.load() <= 0)
            m_resetting = false;
        if (!m_stopRequested)
            return;
    } else {
        ++m_inHandler;
        try {
            decQueued();
            BufferReady(hdr);
            if (!m_stopRequested)
                addBuffer(hdr);
        } catch (...) {
            --m_inHandler;
            fireEvent(OnError);
            throw;
        }
        --m_inHandler;
    }
    if (m_inHandler == 0 && m_stopRequested && !m_stopPosted) {
        m_stopPosted = true;
        m_stopping = true;
        const HWAVEIN h = m_handle;
        platform::postMessage(m_window.get(), [this, h] { handleDeferredStop(h); });
    }
}

void TMMCustomWaveIn::BufferReady(PWaveHdr lpWaveHdr)
{
    m_totalBytes += static_cast<std::int32_t>(lpWaveHdr->dwBytesRecorded);
    bool limitReached = false;
    if (m_maxRecordTime > 0 && m_totalBytes >= m_maxBytes) {
        const std::int32_t excess = m_totalBytes - m_maxBytes;
        lpWaveHdr->dwBytesRecorded -= static_cast<std::uint32_t>(std::min<std::int64_t>(excess, lpWaveHdr->dwBytesRecorded));
        m_totalBytes = m_maxBytes;
        limitReached = true;
    }
    TMMCustomSoundComponent::BufferReady(lpWaveHdr);
    if (limitReached)
        Stop();
}

// --- operations ------------------------------------------------------------

void TMMCustomWaveIn::Open()
{
    if (m_deviceCount == 0)
        RaiseError(kWaveInNoDevice);
    if (m_deviceId == InvalidId)
        RaiseError(kWaveInInvalidDeviceId);
    if (!PWaveFormat())
        RaiseError(kWaveInInvalidFormat);
    if (hasState(wsOpen))
        Close();
    if (m_handle != 0 || m_closing)
        return;
    m_closing = false;
    m_resetting = false;
    m_stopping = false;
    m_stopPosted = false;
    try {
        if (!WaveInFormatSupported(m_deviceId, PWaveFormat()))
            RaiseError(waveInErrorMessage("WaveInOpen", kWaveInCantRecordFormat));
        if (!m_window)
            m_window = std::make_unique<QObject>();
        m_handle = 0;
        m_closePending = false;
        if (m_callBackMode != cmWindow)
            m_lockReady = true;
        if (m_callBackMode == cmThread)
            startWorker();
        HWAVEIN h = 0;
        const MMRESULT r = m_device->waveInOpen(&h, m_deviceId, PWaveFormat(), &TMMCustomWaveIn::deviceCallback,
                                                this, CALLBACK_FUNCTION);
        if (r == MMSYSERR_NOERROR)
            m_handle = h;
        checkDevice(r, "WaveInOpen");

        m_spreadingOpened = true;
        try {
            TMMCustomSoundComponent::Opened();
        } catch (...) {
            m_spreadingOpened = false;
            throw;
        }
        m_spreadingOpened = false;

        // The callback function sets the state on the device's thread.
        if (!waitUntil([&] { return (m_state.load() & wsOpen) != 0; }, false))
            RaiseError(waveInErrorMessage("WaveInOpen", kWaveInUnableToOpen));
        allocateBuffers();
        for (int i = 0; i < m_numBuffers; ++i)
            checkDevice(m_device->waveInPrepareHeader(m_handle, m_bufferTable[i]), "WaveInPrepareHeader");
        fireEvent(OnOpen);
    } catch (...) {
        fireEvent(OnError);
        m_state.store(wsOpen);
        Close();
        m_state.store(wsClosed);
        throw;
    }
}

void TMMCustomWaveIn::Start()
{
    try {
        if (!hasState(wsOpen))
            Open();
        if (m_handle == 0 || !hasState(wsOpen) || hasState(wsRecording))
            return;
        m_totalBytes = 0;
        m_inHandler = 0;
        m_queued = 0;
        m_stopRequested = false;
        m_stopping = false;
        m_resetting = false;
        m_stopPosted = false;
        m_maxBytes = computeMaxBytes();
        for (int i = 0; i < m_numBuffers; ++i)
            addBuffer(m_bufferTable[i]);
        Started();
    } catch (...) {
        fireEvent(OnError);
        setStateBits(wsRecording, 0);
        Close();
        m_state.store(wsClosed);
        throw;
    }
}

void TMMCustomWaveIn::Started()
{
    const bool wasPaused = (m_state.load() & wsPaused) != 0;
    setStateBits(wsRecording, 0);
    if (!wasPaused)
        checkDevice(m_device->waveInStart(m_handle), "WaveInStart");
    TMMCustomSoundComponent::Started();
    fireEvent(OnStart);
}

void TMMCustomWaveIn::Stop()
{
    if (!hasState(wsRecording | wsPaused))
        return;
    try {
        {
            std::unique_lock<std::recursive_mutex> lock(m_lock, std::defer_lock);
            if (usesLock())
                lock.lock();
            m_stopping = true;
            checkDevice(m_device->waveInStop(m_handle), "WaveInStop");
            m_resetting = true;
            checkDevice(m_device->waveInReset(m_handle), "WaveInReset");
        }
        if (m_inHandler == 0)
            waitUntil([&] { return m_queued.load() <= 0; }, m_callBackMode == cmWindow);
        Stopped();
    } catch (...) {
        fireEvent(OnError);
        Close();
        throw;
    }
}

void TMMCustomWaveIn::Stopped()
{
    if (!hasState(wsRecording | wsPaused))
        return;
    if (m_inHandler > 0) {
        m_stopRequested = true;
        return;
    }
    setStateBits(0, wsRecording | wsPaused);
    m_queued = 0;
    m_stopRequested = false;
    TMMCustomSoundComponent::Stopped();
    if (!(ComponentState() & csDestroying))
        fireEvent(OnStop);
    if (m_closePending)
        Close();
}

void TMMCustomWaveIn::Pause()
{
    try {
        if (!hasState(wsOpen))
            Open();
        if (hasState(wsOpen) && !hasState(wsPaused)) {
            if (hasState(wsRecording))
                checkDevice(m_device->waveInStop(m_handle), "WaveInPause");
            Paused();
        }
    } catch (...) {
        fireEvent(OnError);
        Close();
        throw;
    }
}

void TMMCustomWaveIn::Paused()
{
    setStateBits(wsPaused, 0);
    TMMCustomSoundComponent::Paused();
    fireEvent(OnPause);
}

void TMMCustomWaveIn::Restart()
{
    if (!hasState(wsRecording) || !hasState(wsPaused))
        return;
    try {
        checkDevice(m_device->waveInStart(m_handle), "WaveInRestart");
        Restarted();
    } catch (...) {
        fireEvent(OnError);
        Close();
        throw;
    }
}

void TMMCustomWaveIn::Restarted()
{
    setStateBits(0, wsPaused);
    TMMCustomSoundComponent::Restarted();
    fireEvent(OnRestart);
}

void TMMCustomWaveIn::closeStep(const std::function<void()> &step) noexcept
{
    // A failing step is reported through OnError (by RaiseError) and the
    // close goes on: a half-closed device would refuse every later Open.
    try {
        step();
    } catch (...) {
    }
}

void TMMCustomWaveIn::Close()
{
    if (m_spreadingOpened || !(m_state.load() & wsOpen) || (m_closing && !m_closePending))
        return;
    m_closing = true;
    if (hasState(wsRecording | wsPaused))
        closeStep([&] { Stop(); });
    if (m_stopRequested) {
        m_closePending = true;
        return;
    }
    m_closePending = false;
    bool timedOut = false;
    if (m_handle != 0) {
        m_device->waveInStop(m_handle);
        m_device->waveInReset(m_handle);
        for (int i = 0; i < kMaxWaveInBuffers; ++i)
            if (m_bufferTable[i])
                closeStep([&] { unprepareHeader(m_bufferTable[i]); });
        closeStep([&] { checkDevice(m_device->waveInClose(m_handle), "WaveInClose"); });
        timedOut = !waitUntil([&] { return (m_state.load() & wsClosed) != 0; }, false);
        if (timedOut)
            m_state.store(wsClosed);
    } else {
        m_state.store(wsClosed);
    }
    closeStep([&] { spread(Notification::Closed); });
    if (m_callBackMode == cmThread)
        endWorker();
    m_lockReady = false;
    closeStep([&] { Closed(); });
    if (timedOut)
        closeStep([&] { RaiseError(waveInErrorMessage("WaveInOpen", kWaveInUnableToClose)); });
}

void TMMCustomWaveIn::Opened()
{
    fireEvent(OnOpen);
}

void TMMCustomWaveIn::Closed()
{
    m_handle = 0;
    freeBuffers();
    m_closing = false;
    TMMDSPComponent::Closed();
    if (!(ComponentState() & csDestroying))
        fireEvent(OnClose);
}

// ---------------------------------------------------------------------------

TMMWaveIn::TMMWaveIn(QObject *owner)
    : TMMCustomWaveIn(owner)
{
    BindDevice();
    DeviceBound();
}

TMMWaveIn::~TMMWaveIn() = default;

void TMMWaveIn::BindDevice()
{
    m_device = &waveInDevices();
}
