#include "audio/FakeWaveInDevice.h"

#include "audio/MSAdpcm.h"

#include <algorithm>
#include <cstring>

FakeWaveInDevice::FakeWaveInDevice(int deviceCount)
{
    for (int i = 0; i < deviceCount; ++i)
        devices.push_back({"Fake Microphone " + std::to_string(i + 1), kAllStandardFormats, 2});
    acceptFormat = [](TMMDeviceId, const TWaveFormatEx *f) {
        if (!f)
            return false;
        if (f->wFormatTag == WAVE_FORMAT_PCM)
            return (f->wBitsPerSample == 8 || f->wBitsPerSample == 16) && (f->nChannels == 1 || f->nChannels == 2)
                   && f->nSamplesPerSec >= 4000 && f->nSamplesPerSec <= 100000;
        if (f->wFormatTag == WAVE_FORMAT_ADPCM) {
            try {
                (void)msadpcm::parseFormat(f);
                return true;
            } catch (const msadpcm::FormatError &) {
                return false;
            }
        }
        return false;
    };
}

void FakeWaveInDevice::failNext(const std::string &operation, MMRESULT result)
{
    m_failures[operation] = result;
}

bool FakeWaveInDevice::takeFailure(const std::string &operation, MMRESULT &result)
{
    calls.push_back(operation);
    auto it = m_failures.find(operation);
    if (it == m_failures.end())
        return false;
    result = it->second;
    m_failures.erase(it);
    return true;
}

unsigned FakeWaveInDevice::waveInGetNumDevs()
{
    return static_cast<unsigned>(devices.size());
}

MMRESULT FakeWaveInDevice::waveInGetDevCaps(TMMDeviceId id, TWaveInCaps &caps)
{
    MMRESULT r;
    if (takeFailure("waveInGetDevCaps", r))
        return r;
    if (devices.empty() || id < MapperId || id >= static_cast<TMMDeviceId>(devices.size()))
        return MMSYSERR_BADDEVICEID;
    const Device &d = devices[id == MapperId ? 0 : static_cast<std::size_t>(id)];
    caps = TWaveInCaps{};
    const std::string name = id == MapperId ? std::string("Fake Sound Mapper") : d.name;
    std::strncpy(caps.szPname, name.c_str(), sizeof caps.szPname - 1);
    caps.dwFormats = d.formats;
    caps.wChannels = d.channels;
    return MMSYSERR_NOERROR;
}

bool FakeWaveInDevice::waveInGetErrorText(MMRESULT err, std::string &text)
{
    auto it = errorTexts.find(err);
    if (it != errorTexts.end()) {
        text = it->second;
        return true;
    }
    return standardWaveInErrorText(err, text);
}

MMRESULT FakeWaveInDevice::waveInOpen(HWAVEIN *handle, TMMDeviceId id, const TWaveFormatEx *format,
                                      TWaveInCallback callback, void *instance, std::uint32_t flags)
{
    const bool query = (flags & WAVE_FORMAT_QUERY) != 0;
    MMRESULT r;
    if (takeFailure(query ? "waveInOpen(query)" : "waveInOpen", r))
        return r;
    if (devices.empty() || id < MapperId || id >= static_cast<TMMDeviceId>(devices.size()))
        return MMSYSERR_BADDEVICEID;
    if (!format || !acceptFormat(id, format))
        return WAVERR_BADFORMAT;
    if (query)
        return MMSYSERR_NOERROR;
    if (m_open)
        return MMSYSERR_ALLOCATED;
    m_open = true;
    m_started = false;
    m_handle = m_nextHandle++;
    m_openedId = id;
    m_openedFormat = copyWaveFormat(format);
    m_callback = callback;
    m_instance = instance;
    m_position = 0;
    if (handle)
        *handle = m_handle;
    if (sendOpenMessage && m_callback)
        m_callback(m_handle, WIM_OPEN, m_instance, nullptr);
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveInDevice::waveInClose(HWAVEIN h)
{
    MMRESULT r;
    if (takeFailure("waveInClose", r))
        return r;
    if (!validHandle(h))
        return MMSYSERR_INVALHANDLE;
    if (m_queue.size() > 0)
        return WAVERR_STILLPLAYING;
    m_open = false;
    m_started = false;
    if (sendCloseMessage && m_callback)
        m_callback(h, WIM_CLOSE, m_instance, nullptr);
    m_callback = nullptr;
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveInDevice::waveInPrepareHeader(HWAVEIN h, PWaveHdr hdr)
{
    MMRESULT r;
    if (takeFailure("waveInPrepareHeader", r))
        return r;
    if (!validHandle(h) || !hdr)
        return MMSYSERR_INVALHANDLE;
    hdr->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveInDevice::waveInUnprepareHeader(HWAVEIN h, PWaveHdr hdr)
{
    MMRESULT r;
    if (takeFailure("waveInUnprepareHeader", r))
        return r;
    if (!validHandle(h) || !hdr)
        return MMSYSERR_INVALHANDLE;
    if (hdr->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLPLAYING;
    hdr->dwFlags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveInDevice::waveInAddBuffer(HWAVEIN h, PWaveHdr hdr)
{
    MMRESULT r;
    if (takeFailure("waveInAddBuffer", r))
        return r;
    if (!validHandle(h) || !hdr)
        return MMSYSERR_INVALHANDLE;
    if (!(hdr->dwFlags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    m_queue.add(hdr);
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveInDevice::waveInStart(HWAVEIN h)
{
    MMRESULT r;
    if (takeFailure("waveInStart", r))
        return r;
    if (!validHandle(h))
        return MMSYSERR_INVALHANDLE;
    m_started = true;
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveInDevice::waveInStop(HWAVEIN h)
{
    MMRESULT r;
    if (takeFailure("waveInStop", r))
        return r;
    if (!validHandle(h))
        return MMSYSERR_INVALHANDLE;
    m_started = false;
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveInDevice::waveInReset(HWAVEIN h)
{
    MMRESULT r;
    if (takeFailure("waveInReset", r))
        return r;
    if (!validHandle(h))
        return MMSYSERR_INVALHANDLE;
    m_started = false;
    TWaveInCallback cb = m_callback;
    void *inst = m_instance;
    m_queue.returnAll([&](PWaveHdr done) {
        if (cb)
            cb(h, WIM_DATA, inst, done);
    });
    m_position = 0;
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveInDevice::waveInGetPosition(HWAVEIN h, std::uint32_t &bytes)
{
    if (!validHandle(h))
        return MMSYSERR_INVALHANDLE;
    bytes = m_position;
    return MMSYSERR_NOERROR;
}

MMRESULT FakeWaveInDevice::waveInGetID(HWAVEIN h, TMMDeviceId &id)
{
    if (!validHandle(h))
        return MMSYSERR_INVALHANDLE;
    id = m_openedId;
    return MMSYSERR_NOERROR;
}

int FakeWaveInDevice::deliver(const void *data, std::size_t size)
{
    if (!m_open || !m_started)
        return 0;
    int returned = 0;
    const HWAVEIN h = m_handle;
    TWaveInCallback cb = m_callback;
    void *inst = m_instance;
    const std::size_t used = m_queue.fill(static_cast<const std::uint8_t *>(data), size, [&](PWaveHdr full) {
        ++returned;
        if (cb)
            cb(h, WIM_DATA, inst, full);
    });
    m_streamBytes += used;
    m_position += static_cast<std::uint32_t>(used);
    return returned;
}

std::vector<std::uint8_t> FakeWaveInDevice::pattern(std::size_t from, std::size_t size)
{
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t k = from + i;
        bytes[i] = static_cast<std::uint8_t>((k * 7 + k / 251) & 0xFF);
    }
    return bytes;
}

int FakeWaveInDevice::deliverBuffers(int count)
{
    int returned = 0;
    for (int i = 0; i < count; ++i) {
        const std::size_t need = m_queue.frontRoom();
        if (need == 0)
            break;
        const auto chunk = pattern(m_streamBytes, need);
        const int n = deliver(chunk.data(), chunk.size());
        if (n == 0)
            break;
        returned += n;
    }
    return returned;
}
