#pragma once

#include "audio/WaveInDevice.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

// A capture device for tests: it delivers buffers only on command. Install
// it with ScopedWaveInDevice before creating the component (or the recorder)
// that should use it. Its callbacks run synchronously on the thread that
// calls the operation or the command (call deliver() from another thread to
// play a device thread).
class FakeWaveInDevice : public TWaveInDeviceTable
{
public:
    struct Device {
        std::string name;
        std::uint32_t formats = kAllStandardFormats;
        std::uint16_t channels = 2;
    };

    explicit FakeWaveInDevice(int deviceCount = 1);

    std::vector<Device> devices;
    // Decides the format check of open (query or real). The default accepts
    // PCM of 8 or 16 bits, 1 or 2 channels, 4000 to 100000 Hz, and valid
    // MS ADPCM formats.
    std::function<bool(TMMDeviceId, const TWaveFormatEx *)> acceptFormat;
    // When false the device never confirms an open (no WIM_OPEN message).
    bool sendOpenMessage = true;
    // When false the device never confirms a close (no WIM_CLOSE message).
    bool sendCloseMessage = true;
    // Texts for results (beyond the standard ones).
    std::map<MMRESULT, std::string> errorTexts;

    // The next call of the operation named like the platform call
    // ("waveInStart", ...) returns result instead of doing its work.
    void failNext(const std::string &operation, MMRESULT result);

    // Test commands. Fill the queued buffers in order with the bytes while
    // the device is started; every buffer that becomes full is returned
    // through WIM_DATA. Returns the number of buffers returned.
    int deliver(const void *data, std::size_t size);
    int deliver(const std::vector<std::uint8_t> &bytes) { return deliver(bytes.data(), bytes.size()); }
    // Delivers `count` whole buffers (of the first queued buffer's length)
    // of pattern(…) bytes continuing the byte counter.
    int deliverBuffers(int count);
    // The bytes deliverBuffers() sends, from stream offset `from`.
    [[nodiscard]] static std::vector<std::uint8_t> pattern(std::size_t from, std::size_t size);

    [[nodiscard]] std::size_t queuedBuffers() const { return m_queue.size(); }
    [[nodiscard]] bool isOpen() const { return m_open; }
    [[nodiscard]] bool isStarted() const { return m_started; }
    [[nodiscard]] TMMDeviceId openedId() const { return m_openedId; }
    [[nodiscard]] const TWaveFormatEx *openedFormat() const { return m_openedFormat.get(); }
    [[nodiscard]] std::size_t bytesDelivered() const { return m_streamBytes; }
    // Operations called, in order (format queries as "waveInOpen(query)").
    std::vector<std::string> calls;

    unsigned waveInGetNumDevs() override;
    MMRESULT waveInGetDevCaps(TMMDeviceId id, TWaveInCaps &caps) override;
    bool waveInGetErrorText(MMRESULT err, std::string &text) override;
    MMRESULT waveInOpen(HWAVEIN *handle, TMMDeviceId id, const TWaveFormatEx *format,
                        TWaveInCallback callback, void *instance, std::uint32_t flags) override;
    MMRESULT waveInClose(HWAVEIN h) override;
    MMRESULT waveInPrepareHeader(HWAVEIN h, PWaveHdr hdr) override;
    MMRESULT waveInUnprepareHeader(HWAVEIN h, PWaveHdr hdr) override;
    MMRESULT waveInAddBuffer(HWAVEIN h, PWaveHdr hdr) override;
    MMRESULT waveInStart(HWAVEIN h) override;
    MMRESULT waveInStop(HWAVEIN h) override;
    MMRESULT waveInReset(HWAVEIN h) override;
    MMRESULT waveInGetPosition(HWAVEIN h, std::uint32_t &bytes) override;
    MMRESULT waveInGetID(HWAVEIN h, TMMDeviceId &id) override;

private:
    bool takeFailure(const std::string &operation, MMRESULT &result);
    [[nodiscard]] bool validHandle(HWAVEIN h) const { return m_open && h == m_handle; }

    std::map<std::string, MMRESULT> m_failures;
    WaveInBufferQueue m_queue;
    bool m_open = false;
    bool m_started = false;
    HWAVEIN m_handle = 0;
    HWAVEIN m_nextHandle = 0x100;
    TMMDeviceId m_openedId = InvalidId;
    WaveFormatPtr m_openedFormat;
    TWaveInCallback m_callback = nullptr;
    void *m_instance = nullptr;
    std::size_t m_streamBytes = 0;
    std::uint32_t m_position = 0;
};
