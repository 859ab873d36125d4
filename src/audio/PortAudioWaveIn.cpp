#include "audio/PortAudioWaveIn.h"

#include "audio/MSAdpcm.h"

#include <portaudio.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {

// Single-producer single-consumer ring of 16-bit samples: PortAudio's
// callback writes, the pump thread reads. No locks, no allocation after
// construction.
class SampleRing
{
public:
    explicit SampleRing(std::size_t capacityPow2)
        : m_buf(capacityPow2)
        , m_mask(capacityPow2 - 1)
    {
    }

    std::size_t write(const std::int16_t *src, std::size_t n) noexcept
    {
        const std::size_t head = m_head.load(std::memory_order_relaxed);
        const std::size_t tail = m_tail.load(std::memory_order_acquire);
        const std::size_t room = m_buf.size() - (head - tail);
        n = std::min(n, room);
        for (std::size_t i = 0; i < n; ++i)
            m_buf[(head + i) & m_mask] = src[i];
        m_head.store(head + n, std::memory_order_release);
        return n;
    }

    std::size_t read(std::int16_t *dst, std::size_t n) noexcept
    {
        const std::size_t tail = m_tail.load(std::memory_order_relaxed);
        const std::size_t head = m_head.load(std::memory_order_acquire);
        n = std::min(n, head - tail);
        for (std::size_t i = 0; i < n; ++i)
            dst[i] = m_buf[(tail + i) & m_mask];
        m_tail.store(tail + n, std::memory_order_release);
        return n;
    }

    void clear() noexcept { m_tail.store(m_head.load(std::memory_order_acquire), std::memory_order_release); }

private:
    std::vector<std::int16_t> m_buf;
    std::size_t m_mask;
    std::atomic<std::size_t> m_head{0};
    std::atomic<std::size_t> m_tail{0};
};

struct StreamCloser {
    void operator()(PaStream *s) const noexcept { Pa_CloseStream(s); }
};
using PaStreamPtr = std::unique_ptr<PaStream, StreamCloser>;

std::atomic<std::uint64_t> g_framesCaptured{0};
std::atomic<std::uint64_t> g_framesDropped{0};
std::atomic<std::uint64_t> g_bytesDropped{0};

// What a device is asked to deliver.
struct CaptureFormat {
    int channels = 0;
    double rate = 0;
    int bits = 16;           // PCM output bits
    bool adpcm = false;
    int blockAlign = 0;
};

std::optional<CaptureFormat> captureFormatOf(const TWaveFormatEx *f)
{
    if (!f)
        return std::nullopt;
    CaptureFormat c;
    c.channels = f->nChannels;
    c.rate = f->nSamplesPerSec;
    if (f->wFormatTag == WAVE_FORMAT_PCM) {
        if ((f->wBitsPerSample != 8 && f->wBitsPerSample != 16) || f->nChannels < 1 || f->nChannels > 2
            || f->nSamplesPerSec < 4000 || f->nSamplesPerSec > 100000)
            return std::nullopt;
        c.bits = f->wBitsPerSample;
        return c;
    }
    if (f->wFormatTag == WAVE_FORMAT_ADPCM) {
        try {
            const msadpcm::StreamFormat s = msadpcm::parseFormat(f);
            if (s.channels > 2 || s.samplesPerBlock != msadpcm::samplesPerBlock(s.blockAlign, s.channels)
                || f->nSamplesPerSec < 4000 || f->nSamplesPerSec > 100000)
                return std::nullopt;
            // The encoder writes the standard coefficients; a format that
            // names others cannot be honoured.
            for (std::size_t i = 0; i < msadpcm::kStandardCoefficients.size(); ++i)
                if (i >= s.coefficients.size() || s.coefficients[i].c1 != msadpcm::kStandardCoefficients[i].c1
                    || s.coefficients[i].c2 != msadpcm::kStandardCoefficients[i].c2)
                    return std::nullopt;
            c.adpcm = true;
            c.blockAlign = s.blockAlign;
            return c;
        } catch (const msadpcm::FormatError &) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

class Stream
{
public:
    Stream(HWAVEIN handle, const CaptureFormat &fmt, TWaveInCallback cb, void *instance)
        : m_handle(handle)
        , m_fmt(fmt)
        , m_callback(cb)
        , m_instance(instance)
        // About eight seconds of stereo at 44.1 kHz: the pump falls behind
        // only when the UI thread stalls for that long.
        , m_ring(1u << 20)
    {
        if (fmt.adpcm) {
            m_encoder = std::make_unique<msadpcm::Encoder>(fmt.channels, fmt.blockAlign);
            m_block.resize(static_cast<std::size_t>(m_encoder->samplesPerBlock()) * fmt.channels);
            m_encoded.resize(static_cast<std::size_t>(fmt.blockAlign));
        }
        m_scratch.resize(4096 * static_cast<std::size_t>(fmt.channels));
    }

    ~Stream() { stopPump(); }

    PaError open(PaDeviceIndex device)
    {
        PaStreamParameters in{};
        in.device = device;
        in.channelCount = m_fmt.channels;
        in.sampleFormat = paInt16;
        in.suggestedLatency = Pa_GetDeviceInfo(device)->defaultHighInputLatency;
        PaStream *s = nullptr;
        const PaError err = Pa_OpenStream(&s, &in, nullptr, m_fmt.rate, paFramesPerBufferUnspecified, paNoFlag,
                                          &Stream::paCallback, this);
        if (err == paNoError)
            m_stream.reset(s);
        return err;
    }

    PaError start()
    {
        if (m_running)
            return paNoError;
        startPump();
        const PaError err = Pa_StartStream(m_stream.get());
        if (err == paNoError)
            m_running = true;
        return err;
    }

    PaError stop()
    {
        if (!m_running)
            return paNoError;
        m_running = false;
        PaError err = Pa_StopStream(m_stream.get());
        return err;
    }

    void reset()
    {
        stop();
        // Let the pump finish the buffer it may be filling, then hand every
        // queued buffer back.
        std::lock_guard lock(m_pumpMutex);
        m_ring.clear();
        m_blockFill = 0;
        m_pending.clear();
        m_queue.returnAll([&](PWaveHdr h) { report(WIM_DATA, h); });
    }

    void close()
    {
        stop();
        stopPump();
        m_stream.reset();
    }

    void add(PWaveHdr h) { m_queue.add(h); }
    [[nodiscard]] std::size_t queued() const { return m_queue.size(); }
    void report(unsigned msg, PWaveHdr h) const noexcept
    {
        if (m_callback)
            m_callback(m_handle, msg, m_instance, h);
    }
    [[nodiscard]] std::uint32_t position() const { return static_cast<std::uint32_t>(m_bytesOut.load()); }

private:
    static int paCallback(const void *input, void *, unsigned long frames, const PaStreamCallbackTimeInfo *,
                          PaStreamCallbackFlags, void *user) noexcept
    {
        auto *self = static_cast<Stream *>(user);
        if (!input)
            return paContinue;
        const std::size_t samples = frames * static_cast<std::size_t>(self->m_fmt.channels);
        const std::size_t written = self->m_ring.write(static_cast<const std::int16_t *>(input), samples);
        g_framesCaptured.fetch_add(frames, std::memory_order_relaxed);
        if (written < samples)
            g_framesDropped.fetch_add((samples - written) / self->m_fmt.channels, std::memory_order_relaxed);
        return paContinue;
    }

    void startPump()
    {
        if (m_pump.joinable())
            return;
        m_quit = false;
        m_pump = std::thread([this] { pumpLoop(); });
    }

    void stopPump()
    {
        m_quit = true;
        if (m_pump.joinable())
            m_pump.join();
    }

    void pumpLoop()
    {
        while (!m_quit.load()) {
            bool worked;
            {
                std::lock_guard lock(m_pumpMutex);
                worked = pumpOnce();
            }
            if (!worked)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }

    // Moves what the ring holds into the queued buffers; true when anything
    // moved.
    bool pumpOnce()
    {
        bool worked = flushPending();
        const std::size_t got = m_ring.read(m_scratch.data(), m_scratch.size());
        if (got == 0)
            return worked;
        const int ch = m_fmt.channels;
        if (m_fmt.adpcm) {
            std::size_t at = 0;
            while (at < got) {
                const std::size_t take = std::min(got - at, m_block.size() - m_blockFill);
                std::memcpy(m_block.data() + m_blockFill, m_scratch.data() + at, take * sizeof(std::int16_t));
                m_blockFill += take;
                at += take;
                if (m_blockFill == m_block.size()) {
                    m_encoder->encodeBlock(m_block.data(), m_encoder->samplesPerBlock(), m_encoded.data());
                    pushBytes(m_encoded.data(), m_encoded.size());
                    m_blockFill = 0;
                }
            }
        } else if (m_fmt.bits == 16) {
            pushBytes(reinterpret_cast<const std::uint8_t *>(m_scratch.data()), got * 2);
        } else {
            m_bytes8.resize(got);
            for (std::size_t i = 0; i < got; ++i)
                m_bytes8[i] = static_cast<std::uint8_t>((m_scratch[i] >> 8) + 128);
            pushBytes(m_bytes8.data(), got);
        }
        (void)ch;
        return true;
    }

    // Bytes go into the queued buffers; what does not fit waits (up to a
    // limit) for the next buffer the component queues.
    void pushBytes(const std::uint8_t *data, std::size_t size)
    {
        if (!m_pending.empty()) {
            appendPending(data, size);
            flushPending();
            return;
        }
        const std::size_t used = m_queue.fill(data, size, [&](PWaveHdr h) { report(WIM_DATA, h); });
        m_bytesOut += used;
        if (used < size)
            appendPending(data + used, size - used);
    }

    void appendPending(const std::uint8_t *data, std::size_t size)
    {
        constexpr std::size_t kMaxPending = 1 << 20;
        if (m_pending.size() + size > kMaxPending) {
            g_bytesDropped.fetch_add(size, std::memory_order_relaxed);
            return;
        }
        m_pending.insert(m_pending.end(), data, data + size);
    }

    bool flushPending()
    {
        if (m_pending.empty())
            return false;
        const std::size_t used =
            m_queue.fill(m_pending.data(), m_pending.size(), [&](PWaveHdr h) { report(WIM_DATA, h); });
        m_bytesOut += used;
        m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<std::ptrdiff_t>(used));
        return used > 0;
    }

    HWAVEIN m_handle;
    CaptureFormat m_fmt;
    TWaveInCallback m_callback;
    void *m_instance;
    SampleRing m_ring;
    PaStreamPtr m_stream;
    WaveInBufferQueue m_queue;
    std::unique_ptr<msadpcm::Encoder> m_encoder;
    std::vector<std::int16_t> m_block;
    std::size_t m_blockFill = 0;
    std::vector<std::uint8_t> m_encoded;
    std::vector<std::int16_t> m_scratch;
    std::vector<std::uint8_t> m_bytes8;
    std::vector<std::uint8_t> m_pending;
    std::atomic<std::uint64_t> m_bytesOut{0};
    std::mutex m_pumpMutex;
    std::thread m_pump;
    std::atomic<bool> m_quit{false};
    bool m_running = false;
};

class PortAudioTable : public TWaveInDeviceTable
{
public:
    PortAudioTable()
    {
        m_initResult = Pa_Initialize();
        if (m_initResult != paNoError)
            return;
        const PaDeviceIndex count = Pa_GetDeviceCount();
        for (PaDeviceIndex i = 0; i < count; ++i) {
            const PaDeviceInfo *info = Pa_GetDeviceInfo(i);
            if (info && info->maxInputChannels > 0)
                m_inputs.push_back(i);
        }
    }

    // Left initialised on purpose: the table lives as long as the process,
    // and PortAudio's own atexit handling of ALSA is safer than a
    // Pa_Terminate racing static destructors.
    ~PortAudioTable() override = default;

    unsigned waveInGetNumDevs() override { return static_cast<unsigned>(m_inputs.size()); }

    MMRESULT waveInGetDevCaps(TMMDeviceId id, TWaveInCaps &caps) override
    {
        const PaDeviceIndex dev = resolve(id);
        if (dev == paNoDevice)
            return MMSYSERR_BADDEVICEID;
        std::lock_guard lock(m_mutex);
        auto it = m_caps.find(dev);
        if (it == m_caps.end()) {
            TWaveInCaps c{};
            const PaDeviceInfo *info = Pa_GetDeviceInfo(dev);
            std::strncpy(c.szPname, info->name, sizeof c.szPname - 1);
            c.wChannels = static_cast<std::uint16_t>(std::min(info->maxInputChannels, 2));
            c.vDriverVersion = 0x0100;
            const double rates[3] = {11025, 22050, 44100};
            for (int band = 0; band < 3; ++band)
                for (int ch = 1; ch <= c.wChannels; ++ch)
                    if (supported(dev, ch, rates[band]))
                        // 8-bit capture is converted from 16-bit, so both
                        // sample sizes follow the 16-bit answer.
                        c.dwFormats |= (ch == 2 ? (2u | 8u) : (1u | 4u)) << (band * 4);
            it = m_caps.emplace(dev, c).first;
        }
        caps = it->second;
        if (id == MapperId)
            std::strncpy(caps.szPname, "Default input device", sizeof caps.szPname - 1);
        return MMSYSERR_NOERROR;
    }

    bool waveInGetErrorText(MMRESULT err, std::string &text) override
    {
        if (err >= kDeviceErrorBase) {
            const PaError pa = static_cast<PaError>(err - kDeviceErrorBase) + paNotInitialized;
            if (pa == paUnanticipatedHostError) {
                std::lock_guard lock(m_mutex);
                text = m_hostErrorText.empty() ? Pa_GetErrorText(pa) : m_hostErrorText;
            } else {
                text = Pa_GetErrorText(pa);
            }
            return true;
        }
        return standardWaveInErrorText(err, text);
    }

    MMRESULT waveInOpen(HWAVEIN *handle, TMMDeviceId id, const TWaveFormatEx *format, TWaveInCallback callback,
                        void *instance, std::uint32_t flags) override
    {
        if (m_initResult != paNoError)
            return toResult(m_initResult);
        const PaDeviceIndex dev = resolve(id);
        if (dev == paNoDevice)
            return MMSYSERR_BADDEVICEID;
        const std::optional<CaptureFormat> fmt = captureFormatOf(format);
        if (!fmt || !supported(dev, fmt->channels, fmt->rate))
            return WAVERR_BADFORMAT;
        if (flags & WAVE_FORMAT_QUERY)
            return MMSYSERR_NOERROR;
        std::unique_ptr<Stream> s;
        HWAVEIN h;
        {
            std::lock_guard lock(m_mutex);
            h = m_nextHandle++;
        }
        try {
            s = std::make_unique<Stream>(h, *fmt, callback, instance);
        } catch (const std::bad_alloc &) {
            return MMSYSERR_NOMEM;
        }
        const PaError err = s->open(dev);
        if (err != paNoError)
            return toResult(err);
        g_framesCaptured = 0;
        g_framesDropped = 0;
        g_bytesDropped = 0;
        Stream *raw = s.get();
        {
            std::lock_guard lock(m_mutex);
            m_streams.emplace(h, std::move(s));
        }
        if (handle)
            *handle = h;
        raw->report(WIM_OPEN, nullptr);
        return MMSYSERR_NOERROR;
    }

    MMRESULT waveInClose(HWAVEIN h) override
    {
        std::unique_ptr<Stream> s;
        {
            std::lock_guard lock(m_mutex);
            auto it = m_streams.find(h);
            if (it == m_streams.end())
                return MMSYSERR_INVALHANDLE;
            if (it->second->queued() > 0)
                return WAVERR_STILLPLAYING;
            s = std::move(it->second);
            m_streams.erase(it);
        }
        s->close();
        s->report(WIM_CLOSE, nullptr);
        return MMSYSERR_NOERROR;
    }

    MMRESULT waveInPrepareHeader(HWAVEIN h, PWaveHdr hdr) override
    {
        if (!find(h) || !hdr)
            return MMSYSERR_INVALHANDLE;
        hdr->dwFlags |= WHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }

    MMRESULT waveInUnprepareHeader(HWAVEIN h, PWaveHdr hdr) override
    {
        if (!find(h) || !hdr)
            return MMSYSERR_INVALHANDLE;
        if (hdr->dwFlags & WHDR_INQUEUE)
            return WAVERR_STILLPLAYING;
        hdr->dwFlags &= ~WHDR_PREPARED;
        return MMSYSERR_NOERROR;
    }

    MMRESULT waveInAddBuffer(HWAVEIN h, PWaveHdr hdr) override
    {
        Stream *s = find(h);
        if (!s || !hdr)
            return MMSYSERR_INVALHANDLE;
        if (!(hdr->dwFlags & WHDR_PREPARED))
            return WAVERR_UNPREPARED;
        s->add(hdr);
        return MMSYSERR_NOERROR;
    }

    MMRESULT waveInStart(HWAVEIN h) override
    {
        Stream *s = find(h);
        return s ? toResult(s->start()) : MMSYSERR_INVALHANDLE;
    }

    MMRESULT waveInStop(HWAVEIN h) override
    {
        Stream *s = find(h);
        return s ? toResult(s->stop()) : MMSYSERR_INVALHANDLE;
    }

    MMRESULT waveInReset(HWAVEIN h) override
    {
        Stream *s = find(h);
        if (!s)
            return MMSYSERR_INVALHANDLE;
        s->reset();
        return MMSYSERR_NOERROR;
    }

    MMRESULT waveInGetPosition(HWAVEIN h, std::uint32_t &bytes) override
    {
        Stream *s = find(h);
        if (!s)
            return MMSYSERR_INVALHANDLE;
        bytes = s->position();
        return MMSYSERR_NOERROR;
    }

    MMRESULT waveInGetID(HWAVEIN h, TMMDeviceId &id) override
    {
        if (!find(h))
            return MMSYSERR_INVALHANDLE;
        id = MapperId;
        return MMSYSERR_NOERROR;
    }

private:
    PaDeviceIndex resolve(TMMDeviceId id) const
    {
        if (m_initResult != paNoError || m_inputs.empty())
            return paNoDevice;
        if (id == MapperId) {
            const PaDeviceIndex def = Pa_GetDefaultInputDevice();
            return def == paNoDevice ? m_inputs.front() : def;
        }
        if (id < 0 || id >= static_cast<TMMDeviceId>(m_inputs.size()))
            return paNoDevice;
        return m_inputs[static_cast<std::size_t>(id)];
    }

    bool supported(PaDeviceIndex dev, int channels, double rate)
    {
        const PaDeviceInfo *info = Pa_GetDeviceInfo(dev);
        if (!info || info->maxInputChannels < channels)
            return false;
        PaStreamParameters in{};
        in.device = dev;
        in.channelCount = channels;
        in.sampleFormat = paInt16;
        in.suggestedLatency = info->defaultHighInputLatency;
        return Pa_IsFormatSupported(&in, nullptr, rate) == paFormatIsSupported;
    }

    MMRESULT toResult(PaError err)
    {
        if (err == paNoError)
            return MMSYSERR_NOERROR;
        if (err == paUnanticipatedHostError) {
            const PaHostErrorInfo *info = Pa_GetLastHostErrorInfo();
            std::lock_guard lock(m_mutex);
            m_hostErrorText = info && info->errorText ? info->errorText : "";
        }
        return kDeviceErrorBase + static_cast<MMRESULT>(err - paNotInitialized);
    }

    Stream *find(HWAVEIN h)
    {
        std::lock_guard lock(m_mutex);
        auto it = m_streams.find(h);
        return it == m_streams.end() ? nullptr : it->second.get();
    }

    PaError m_initResult = paNotInitialized;
    std::vector<PaDeviceIndex> m_inputs;
    std::mutex m_mutex;
    std::map<PaDeviceIndex, TWaveInCaps> m_caps;
    std::map<HWAVEIN, std::unique_ptr<Stream>> m_streams;
    HWAVEIN m_nextHandle = 0x1000;
    std::string m_hostErrorText;
};

} // namespace

TWaveInDeviceTable &portAudioWaveInDevices()
{
    static PortAudioTable table;
    return table;
}

PortAudioCaptureStats portAudioCaptureStats()
{
    return {g_framesCaptured.load(), g_framesDropped.load(), g_bytesDropped.load()};
}
