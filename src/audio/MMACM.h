#pragma once

#include "audio/WaveInDevice.h"
#include "audio/WaveFormat.h"

#include <cstdint>

// The audio compression manager as the audio components see it: the entry
// points, records and flags of the platform's ACM, bound once at program
// start from a library (our built-in codec library by default). The
// built-in library converts Microsoft ADPCM to 16-bit PCM of the same rate
// and channels, and PCM to PCM where rate, channels and bits agree.
//
// A stream handle and its headers belong to one thread at a time (the
// connector calls them under its buffer lock).

using DWORD = std::uint32_t;

// The shared result codes (MMRESULT, MMSYSERR_*) come from the wave-in table.
constexpr MMRESULT MMSYSERR_INVALFLAG = 10;
constexpr MMRESULT ACMERR_NOTPOSSIBLE = 512;
constexpr MMRESULT ACMERR_BUSY = 513;
constexpr MMRESULT ACMERR_UNPREPARED = 514;

constexpr DWORD ACM_FORMATSUGGESTF_WFORMATTAG = 0x00010000;
constexpr DWORD ACM_FORMATSUGGESTF_NCHANNELS = 0x00020000;
constexpr DWORD ACM_FORMATSUGGESTF_NSAMPLESPERSEC = 0x00040000;
constexpr DWORD ACM_FORMATSUGGESTF_WBITSPERSAMPLE = 0x00080000;

constexpr DWORD ACM_STREAMOPENF_QUERY = 0x00000001;
constexpr DWORD ACM_STREAMOPENF_ASYNC = 0x00000002;
constexpr DWORD ACM_STREAMOPENF_NONREALTIME = 0x00000004;

constexpr DWORD ACM_STREAMSIZEF_SOURCE = 0x00000000;
constexpr DWORD ACM_STREAMSIZEF_DESTINATION = 0x00000001;

constexpr DWORD ACM_STREAMCONVERTF_BLOCKALIGN = 0x00000004;
constexpr DWORD ACM_STREAMCONVERTF_START = 0x00000010;
constexpr DWORD ACM_STREAMCONVERTF_END = 0x00000020;

constexpr DWORD ACMSTREAMHEADER_STATUSF_DONE = 0x00010000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_PREPARED = 0x00020000;
constexpr DWORD ACMSTREAMHEADER_STATUSF_INQUEUE = 0x00100000;

struct AcmStream;
using HACMSTREAM = AcmStream *;
using HACMDRIVER = void *;

// The stream header. cbStruct must hold sizeof(ACMSTREAMHEADER); the driver
// words are the converter's own.
struct ACMSTREAMHEADER {
    DWORD cbStruct = 0;
    DWORD fdwStatus = 0;
    std::uintptr_t dwUser = 0;
    std::uint8_t *pbSrc = nullptr;
    DWORD cbSrcLength = 0;
    DWORD cbSrcLengthUsed = 0;
    std::uintptr_t dwSrcUser = 0;
    std::uint8_t *pbDst = nullptr;
    DWORD cbDstLength = 0;
    DWORD cbDstLengthUsed = 0;
    std::uintptr_t dwDstUser = 0;
    std::uintptr_t dwReservedDriver[10] = {};
};

// The entry points a library exports; a missing one is nullptr, as a failed
// look-up by name would give.
struct AcmLibrary {
    DWORD (*acmGetVersion)() = nullptr;
    MMRESULT (*acmFormatSuggest)(HACMDRIVER had, const TWaveFormatEx *src, TWaveFormatEx *dst,
                                 DWORD cbDst, DWORD flags) = nullptr;
    MMRESULT (*acmStreamOpen)(HACMSTREAM *phas, HACMDRIVER had, const TWaveFormatEx *src,
                              const TWaveFormatEx *dst, void *filter, std::uintptr_t callback,
                              std::uintptr_t instance, DWORD flags) = nullptr;
    MMRESULT (*acmStreamClose)(HACMSTREAM has, DWORD flags) = nullptr;
    MMRESULT (*acmStreamSize)(HACMSTREAM has, DWORD cbInput, DWORD *pdwOutputBytes,
                              DWORD flags) = nullptr;
    MMRESULT (*acmStreamPrepareHeader)(HACMSTREAM has, ACMSTREAMHEADER *hdr,
                                       DWORD flags) = nullptr;
    MMRESULT (*acmStreamUnprepareHeader)(HACMSTREAM has, ACMSTREAMHEADER *hdr,
                                         DWORD flags) = nullptr;
    MMRESULT (*acmStreamConvert)(HACMSTREAM has, ACMSTREAMHEADER *hdr, DWORD flags) = nullptr;
};

// Our codec library: version 4.00, the converters named above.
[[nodiscard]] const AcmLibrary &BuiltinAcmLibrary();

// --- the binding ---

// Binds a library, as loading the DLL at program start did: none (or one
// without acmGetVersion) means there is no ACM; a version below 2.00
// counts as present but binds nothing further. The default is the built-in
// library. Call before any connector exists (tests call it in between).
void AcmBind(const AcmLibrary *library = &BuiltinAcmLibrary());
// Releases the binding (program end): no ACM from then on.
void AcmUnbind();

// Whether an ACM library is bound, and whether it is usable (version 2.00
// or later, all entry points found).
[[nodiscard]] bool AcmPresent();
[[nodiscard]] bool AcmUsable();
[[nodiscard]] DWORD AcmVersion();
// The bound entry points; valid only while AcmUsable().
[[nodiscard]] const AcmLibrary &Acm();
