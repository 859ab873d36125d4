#pragma once

#include "audio/MMDSPObj.h"
#include "audio/WaveFormat.h"

#include <cstdint>
#include <algorithm>
#include <deque>
#include <mutex>
#include <string>

// The device-operation table of wave-in capture: the thirteen operations a
// capture component calls, in the shape of the platform's wave-in API. The
// real table captures through PortAudio (PortAudioWaveIn.h); tests install
// a FakeWaveInDevice. A device reports through a callback function that it
// may call on any thread: WIM_OPEN and WIM_CLOSE when it opens and closes,
// WIM_DATA with a filled (or, on reset, returned) buffer header.

using MMRESULT = std::uint32_t;
using HWAVEIN = std::uintptr_t;

constexpr MMRESULT MMSYSERR_NOERROR = 0;
constexpr MMRESULT MMSYSERR_ERROR = 1;
constexpr MMRESULT MMSYSERR_BADDEVICEID = 2;
constexpr MMRESULT MMSYSERR_NOTENABLED = 3;
constexpr MMRESULT MMSYSERR_ALLOCATED = 4;
constexpr MMRESULT MMSYSERR_INVALHANDLE = 5;
constexpr MMRESULT MMSYSERR_NODRIVER = 6;
constexpr MMRESULT MMSYSERR_NOMEM = 7;
constexpr MMRESULT MMSYSERR_NOTSUPPORTED = 8;
constexpr MMRESULT MMSYSERR_INVALPARAM = 11;
constexpr MMRESULT WAVERR_BADFORMAT = 32;
constexpr MMRESULT WAVERR_STILLPLAYING = 33;
constexpr MMRESULT WAVERR_UNPREPARED = 34;
// Results from this number up carry a text of the device's own (PortAudio's).
constexpr MMRESULT kDeviceErrorBase = 0x1000;

constexpr unsigned WIM_OPEN = 0x3BE;
constexpr unsigned WIM_CLOSE = 0x3BF;
constexpr unsigned WIM_DATA = 0x3C0;

constexpr std::uint32_t CALLBACK_FUNCTION = 0x00030000;
constexpr std::uint32_t WAVE_FORMAT_QUERY = 0x0001;

// Standard format bits of the capability record: rate band, channels, bits.
constexpr std::uint32_t WAVE_FORMAT_1M08 = 0x00000001;
constexpr std::uint32_t WAVE_FORMAT_1S08 = 0x00000002;
constexpr std::uint32_t WAVE_FORMAT_1M16 = 0x00000004;
constexpr std::uint32_t WAVE_FORMAT_1S16 = 0x00000008;
constexpr std::uint32_t WAVE_FORMAT_2M08 = 0x00000010;
constexpr std::uint32_t WAVE_FORMAT_2S08 = 0x00000020;
constexpr std::uint32_t WAVE_FORMAT_2M16 = 0x00000040;
constexpr std::uint32_t WAVE_FORMAT_2S16 = 0x00000080;
constexpr std::uint32_t WAVE_FORMAT_4M08 = 0x00000100;
constexpr std::uint32_t WAVE_FORMAT_4S08 = 0x00000200;
constexpr std::uint32_t WAVE_FORMAT_4M16 = 0x00000400;
constexpr std::uint32_t WAVE_FORMAT_4S16 = 0x00000800;
constexpr std::uint32_t kAllStandardFormats = 0x00000FFF;

#pragma pack(push, 1)
struct TWaveInCaps {
    std::uint16_t wMid = 0;
    std::uint16_t wPid = 0;
    std::uint32_t vDriverVersion = 0;
    char szPname[32] = {};
    std::uint32_t dwFormats = 0;
    std::uint16_t wChannels = 0;
    std::uint16_t wReserved1 = 0;
};
#pragma pack(pop)
static_assert(sizeof(TWaveInCaps) == 48);

// instance is the value given to waveInOpen; param1 is the header of a
// WIM_DATA message. Must not throw.
using TWaveInCallback = void (*)(HWAVEIN h, unsigned msg, void *instance, PWaveHdr param1) noexcept;

class TWaveInDeviceTable
{
public:
    virtual ~TWaveInDeviceTable() = default;

    [[nodiscard]] virtual unsigned waveInGetNumDevs() = 0;
    virtual MMRESULT waveInGetDevCaps(TMMDeviceId id, TWaveInCaps &caps) = 0;
    // False when the result has no text.
    virtual bool waveInGetErrorText(MMRESULT err, std::string &text) = 0;
    virtual MMRESULT waveInOpen(HWAVEIN *handle, TMMDeviceId id, const TWaveFormatEx *format,
                                TWaveInCallback callback, void *instance, std::uint32_t flags) = 0;
    virtual MMRESULT waveInClose(HWAVEIN h) = 0;
    virtual MMRESULT waveInPrepareHeader(HWAVEIN h, PWaveHdr hdr) = 0;
    virtual MMRESULT waveInUnprepareHeader(HWAVEIN h, PWaveHdr hdr) = 0;
    virtual MMRESULT waveInAddBuffer(HWAVEIN h, PWaveHdr hdr) = 0;
    virtual MMRESULT waveInStart(HWAVEIN h) = 0;
    virtual MMRESULT waveInStop(HWAVEIN h) = 0;
    virtual MMRESULT waveInReset(HWAVEIN h) = 0;
    virtual MMRESULT waveInGetPosition(HWAVEIN h, std::uint32_t &bytes) = 0;
    virtual MMRESULT waveInGetID(HWAVEIN h, TMMDeviceId &id) = 0;
};

// The table that TMMWaveIn binds: the override when one is installed (tests),
// else the PortAudio table.
[[nodiscard]] TWaveInDeviceTable &waveInDevices();

// Installs a table for every TMMWaveIn created while it is set (nullptr
// restores the real one). Not thread-safe: tests call it on the UI thread.
void setWaveInDeviceOverride(TWaveInDeviceTable *table);

// RAII form of the override, for tests.
class ScopedWaveInDevice
{
public:
    explicit ScopedWaveInDevice(TWaveInDeviceTable &table) { setWaveInDeviceOverride(&table); }
    ~ScopedWaveInDevice() { setWaveInDeviceOverride(nullptr); }
    ScopedWaveInDevice(const ScopedWaveInDevice &) = delete;
    ScopedWaveInDevice &operator=(const ScopedWaveInDevice &) = delete;
};

// Default texts of the platform results (None for unknown ones).
[[nodiscard]] bool standardWaveInErrorText(MMRESULT err, std::string &text);

// The queue of buffers added to a device, filled in order from a stream of
// bytes. Shared by the real and the fake device; guarded by its own mutex,
// never touched by an audio callback.
class WaveInBufferQueue
{
public:
    void add(PWaveHdr hdr);
    // Appends bytes to the queued buffers in order; each buffer that becomes
    // full is taken off the queue, marked done and passed to `done`.
    // Returns how many bytes found room.
    template <typename Done>
    std::size_t fill(const std::uint8_t *data, std::size_t size, Done &&done);
    // Takes every queued buffer off the queue (a partly filled one keeps its
    // bytes recorded), marks it done and passes it to `done`, in order.
    template <typename Done>
    void returnAll(Done &&done);
    [[nodiscard]] std::size_t size() const;
    // Free room in the queued buffers / in the first of them.
    [[nodiscard]] std::size_t room() const;
    [[nodiscard]] std::size_t frontRoom() const;

private:
    mutable std::mutex m_mutex;
    std::deque<PWaveHdr> m_queue;
};

template <typename Done>
std::size_t WaveInBufferQueue::fill(const std::uint8_t *data, std::size_t size, Done &&done)
{
    std::size_t used = 0;
    while (used < size) {
        PWaveHdr full = nullptr;
        {
            std::lock_guard lock(m_mutex);
            if (m_queue.empty())
                break;
            PWaveHdr h = m_queue.front();
            const std::size_t room = h->dwBufferLength - h->dwBytesRecorded;
            const std::size_t take = std::min(room, size - used);
            std::copy(data + used, data + used + take, h->lpData + h->dwBytesRecorded);
            h->dwBytesRecorded += static_cast<std::uint32_t>(take);
            used += take;
            if (h->dwBytesRecorded >= h->dwBufferLength) {
                m_queue.pop_front();
                h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
                full = h;
            }
        }
        if (full)
            done(full);
    }
    return used;
}

template <typename Done>
void WaveInBufferQueue::returnAll(Done &&done)
{
    std::deque<PWaveHdr> taken;
    {
        std::lock_guard lock(m_mutex);
        taken.swap(m_queue);
    }
    for (PWaveHdr h : taken) {
        h->dwFlags = (h->dwFlags & ~WHDR_INQUEUE) | WHDR_DONE;
        done(h);
    }
}
