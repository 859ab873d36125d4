#include "audio/WaveInDevice.h"

#include "audio/PortAudioWaveIn.h"

namespace {

TWaveInDeviceTable *g_override = nullptr;

} // namespace

TWaveInDeviceTable &waveInDevices()
{
    return g_override ? *g_override : portAudioWaveInDevices();
}

void setWaveInDeviceOverride(TWaveInDeviceTable *table)
{
    g_override = table;
}

bool standardWaveInErrorText(MMRESULT err, std::string &text)
{
    switch (err) {
    case MMSYSERR_ERROR: text = "Unspecified error."; return true;
    case MMSYSERR_BADDEVICEID: text = "The device ID is out of range."; return true;
    case MMSYSERR_NOTENABLED: text = "The driver failed enable."; return true;
    case MMSYSERR_ALLOCATED: text = "The specified device is already in use."; return true;
    case MMSYSERR_INVALHANDLE: text = "The device handle is invalid."; return true;
    case MMSYSERR_NODRIVER: text = "There is no driver installed on your system."; return true;
    case MMSYSERR_NOMEM: text = "There is not enough memory available for this task."; return true;
    case MMSYSERR_NOTSUPPORTED: text = "This function is not supported."; return true;
    case MMSYSERR_INVALPARAM: text = "An invalid parameter was passed to a system function."; return true;
    case WAVERR_BADFORMAT: text = "The specified format is not supported or cannot be translated."; return true;
    case WAVERR_STILLPLAYING: text = "Cannot perform this operation while media data is still playing."; return true;
    case WAVERR_UNPREPARED: text = "The wave header was not prepared."; return true;
    default: return false;
    }
}

void WaveInBufferQueue::add(PWaveHdr hdr)
{
    std::lock_guard lock(m_mutex);
    hdr->dwBytesRecorded = 0;
    hdr->dwFlags = (hdr->dwFlags & ~WHDR_DONE) | WHDR_INQUEUE;
    m_queue.push_back(hdr);
}

std::size_t WaveInBufferQueue::size() const
{
    std::lock_guard lock(m_mutex);
    return m_queue.size();
}

std::size_t WaveInBufferQueue::room() const
{
    std::lock_guard lock(m_mutex);
    std::size_t n = 0;
    for (PWaveHdr h : m_queue)
        n += h->dwBufferLength - h->dwBytesRecorded;
    return n;
}

std::size_t WaveInBufferQueue::frontRoom() const
{
    std::lock_guard lock(m_mutex);
    if (m_queue.empty())
        return 0;
    return m_queue.front()->dwBufferLength - m_queue.front()->dwBytesRecorded;
}
