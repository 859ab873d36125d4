#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// The wave format record and the buffer header that every audio component
// shares. Both keep the platform layout of the recording world they come
// from: the format is the packed 18-byte WAVEFORMATEX followed by its extra
// bytes, so it can be written into a "fmt " chunk as it is.

#pragma pack(push, 1)
struct TWaveFormatEx {
    std::uint16_t wFormatTag = 0;
    std::uint16_t nChannels = 0;
    std::uint32_t nSamplesPerSec = 0;
    std::uint32_t nAvgBytesPerSec = 0;
    std::uint16_t nBlockAlign = 0;
    std::uint16_t wBitsPerSample = 0;
    std::uint16_t cbSize = 0;
};
#pragma pack(pop)
static_assert(sizeof(TWaveFormatEx) == 18);

using PWaveFormatEx = TWaveFormatEx *;

constexpr std::uint16_t WAVE_FORMAT_PCM = 1;
constexpr std::uint16_t WAVE_FORMAT_ADPCM = 2;

// Size of a format record: 18 bytes for PCM, 18 + extra bytes otherwise.
[[nodiscard]] std::size_t waveFormatSize(const TWaveFormatEx *f);

// An owned format record; the bytes behind the 18-byte head hold the extra
// bytes. Always allocated zero-filled with the size waveFormatSize() gives.
struct WaveFormatDeleter {
    void operator()(TWaveFormatEx *f) const noexcept;
};
using WaveFormatPtr = std::unique_ptr<TWaveFormatEx, WaveFormatDeleter>;

// Copies a format record (none gives none); a PCM copy gets cbSize 0.
// Throws std::bad_alloc when memory runs out.
[[nodiscard]] WaveFormatPtr copyWaveFormat(const TWaveFormatEx *f);

// Builds an owned record from raw bytes as stored in a layout or a file
// ("fmt " chunk). Returns none when the bytes are too short for the head or
// for the extra bytes they announce.
[[nodiscard]] WaveFormatPtr waveFormatFromBytes(const void *bytes, std::size_t size);

// The record's bytes (waveFormatSize() of them).
[[nodiscard]] std::string waveFormatBytes(const TWaveFormatEx *f);

// True when both are none, or both have the same size and bytes.
[[nodiscard]] bool sameWaveFormat(const TWaveFormatEx *a, const TWaveFormatEx *b);

// Extra bytes of a format, right behind the head.
[[nodiscard]] inline const std::uint8_t *waveFormatExtra(const TWaveFormatEx *f)
{
    return reinterpret_cast<const std::uint8_t *>(f) + sizeof(TWaveFormatEx);
}

// The buffer header. The 32-bit layout of the original platform was 32
// bytes; with 64-bit pointers it is 48, still inside the 60-byte header area
// that precedes every capture buffer's data.
struct TWaveHdr {
    char *lpData = nullptr;
    std::uint32_t dwBufferLength = 0;
    std::uint32_t dwBytesRecorded = 0;
    std::uintptr_t dwUser = 0;
    std::uint32_t dwFlags = 0;
    std::uint32_t dwLoops = 0;
    TWaveHdr *lpNext = nullptr;
    std::uintptr_t reserved = 0;
};
using PWaveHdr = TWaveHdr *;

// Bytes reserved in front of each capture buffer's data for its header.
constexpr std::size_t kWaveHdrArea = 60;
static_assert(sizeof(TWaveHdr) <= kWaveHdrArea);

constexpr std::uint32_t WHDR_DONE = 0x01;
constexpr std::uint32_t WHDR_PREPARED = 0x02;
constexpr std::uint32_t WHDR_INQUEUE = 0x10;
