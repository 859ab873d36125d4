#pragma once

#include "audio/WaveInDevice.h"

// The real wave-in device table, over PortAudio. Device numbers are
// PortAudio's input devices in index order; the mapper (-1) is the default
// input device. A device records 8- or 16-bit PCM, or MS ADPCM: the mapper's
// way of recording ADPCM is to capture 16-bit PCM and encode it block by
// block. PortAudio's callback only copies samples into a lock-free ring; a
// pump thread per open device encodes them and fills the queued buffers in
// order, reporting each full one through WIM_DATA.
//
// PortAudio is initialised at the first use and stays so for the life of
// the process; a test that wants a virtual microphone sets ALSA_CONFIG_PATH
// before anything asks for the table.
[[nodiscard]] TWaveInDeviceTable &portAudioWaveInDevices();

// Statistics of the last device opened through the table (for tests and
// benchmarks): frames PortAudio delivered, frames lost because the ring was
// full, bytes lost because no buffer was queued.
struct PortAudioCaptureStats {
    std::uint64_t framesCaptured = 0;
    std::uint64_t framesDropped = 0;
    std::uint64_t bytesDropped = 0;
};
[[nodiscard]] PortAudioCaptureStats portAudioCaptureStats();
