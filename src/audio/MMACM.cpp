#include "audio/MMACM.h"

#include "audio/MSAdpcm.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <optional>

// One open conversion stream of the built-in library.
struct AcmStream {
    enum class Kind { AdpcmToPcm, PcmCopy };
    Kind kind = Kind::PcmCopy;
    TWaveFormatEx src;
    TWaveFormatEx dst;
    std::optional<msadpcm::Decoder> decoder;
    std::uintptr_t magic = kMagic;
    static constexpr std::uintptr_t kMagic = 0x41434D53; // "ACMS"
};

namespace {

constexpr DWORD kBuiltinVersion = 0x04000000; // 4.00

// Driver words of a prepared header: the lengths it was prepared with and
// the stream that prepared it.
constexpr int kPreparedSrc = 0;
constexpr int kPreparedDst = 1;
constexpr int kPreparedBy = 2;

bool isPcm(const TWaveFormatEx *f)
{
    return f->wFormatTag == WAVE_FORMAT_PCM;
}

bool validPcm(const TWaveFormatEx *f)
{
    return isPcm(f) && (f->wBitsPerSample == 8 || f->wBitsPerSample == 16)
        && f->nChannels >= 1 && f->nChannels <= 8 && f->nSamplesPerSec > 0;
}

void fillPcm(TWaveFormatEx *f, int channels, std::uint32_t rate, int bits)
{
    f->wFormatTag = WAVE_FORMAT_PCM;
    f->nChannels = static_cast<std::uint16_t>(channels);
    f->nSamplesPerSec = rate;
    f->wBitsPerSample = static_cast<std::uint16_t>(bits);
    f->nBlockAlign = static_cast<std::uint16_t>(bits / 8 * channels);
    f->nAvgBytesPerSec = f->nBlockAlign * rate;
    f->cbSize = 0;
}

std::optional<msadpcm::StreamFormat> adpcmFormat(const TWaveFormatEx *f)
{
    if (f->wFormatTag != WAVE_FORMAT_ADPCM)
        return std::nullopt;
    try {
        return msadpcm::parseFormat(f);
    } catch (const msadpcm::FormatError &) {
        return std::nullopt;
    }
}

bool validStream(HACMSTREAM has)
{
    return has != nullptr && has->magic == AcmStream::kMagic;
}

DWORD getVersion()
{
    return kBuiltinVersion;
}

MMRESULT formatSuggest(HACMDRIVER, const TWaveFormatEx *src, TWaveFormatEx *dst, DWORD cbDst,
                       DWORD flags)
{
    constexpr DWORD known = ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS
        | ACM_FORMATSUGGESTF_NSAMPLESPERSEC | ACM_FORMATSUGGESTF_WBITSPERSAMPLE;
    if (!src || !dst)
        return MMSYSERR_INVALPARAM;
    if ((flags & ~known) != 0)
        return MMSYSERR_INVALFLAG;
    if (cbDst < sizeof(TWaveFormatEx))
        return MMSYSERR_INVALPARAM;
    int channels = src->nChannels;
    std::uint32_t rate = src->nSamplesPerSec;
    int bits;
    if (isPcm(src)) {
        if (!validPcm(src))
            return ACMERR_NOTPOSSIBLE;
        bits = src->wBitsPerSample;
    } else {
        const auto fmt = adpcmFormat(src);
        if (!fmt)
            return ACMERR_NOTPOSSIBLE;
        bits = 16;
    }
    // Every converter keeps rate and channels, so a restriction the source
    // does not already meet cannot be served.
    if ((flags & ACM_FORMATSUGGESTF_WFORMATTAG) && dst->wFormatTag != WAVE_FORMAT_PCM)
        return ACMERR_NOTPOSSIBLE;
    if ((flags & ACM_FORMATSUGGESTF_NCHANNELS) && dst->nChannels != channels)
        return ACMERR_NOTPOSSIBLE;
    if ((flags & ACM_FORMATSUGGESTF_NSAMPLESPERSEC) && dst->nSamplesPerSec != rate)
        return ACMERR_NOTPOSSIBLE;
    if ((flags & ACM_FORMATSUGGESTF_WBITSPERSAMPLE) && dst->wBitsPerSample != bits)
        return ACMERR_NOTPOSSIBLE;
    fillPcm(dst, channels, rate, bits);
    return MMSYSERR_NOERROR;
}

MMRESULT streamOpen(HACMSTREAM *phas, HACMDRIVER, const TWaveFormatEx *src,
                    const TWaveFormatEx *dst, void *filter, std::uintptr_t callback,
                    std::uintptr_t, DWORD flags)
{
    constexpr DWORD known =
        ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_ASYNC | ACM_STREAMOPENF_NONREALTIME;
    if (phas && !(flags & ACM_STREAMOPENF_QUERY))
        *phas = nullptr;
    if (!src || !dst || filter || callback)
        return MMSYSERR_INVALPARAM;
    if ((flags & ~known) != 0 || (flags & ACM_STREAMOPENF_ASYNC))
        return MMSYSERR_INVALFLAG;
    if (!(flags & ACM_STREAMOPENF_QUERY) && !phas)
        return MMSYSERR_INVALPARAM;
    if (!validPcm(dst))
        return ACMERR_NOTPOSSIBLE;
    auto stream = std::make_unique<AcmStream>();
    std::memcpy(&stream->src, src, sizeof(TWaveFormatEx));
    std::memcpy(&stream->dst, dst, sizeof(TWaveFormatEx));
    if (isPcm(src)) {
        if (!validPcm(src) || src->nChannels != dst->nChannels
            || src->nSamplesPerSec != dst->nSamplesPerSec
            || src->wBitsPerSample != dst->wBitsPerSample)
            return ACMERR_NOTPOSSIBLE;
        stream->kind = AcmStream::Kind::PcmCopy;
    } else {
        auto fmt = adpcmFormat(src);
        if (!fmt || dst->wBitsPerSample != 16 || dst->nChannels != fmt->channels
            || dst->nSamplesPerSec != src->nSamplesPerSec)
            return ACMERR_NOTPOSSIBLE;
        stream->kind = AcmStream::Kind::AdpcmToPcm;
        if (!(flags & ACM_STREAMOPENF_QUERY))
            stream->decoder.emplace(std::move(*fmt));
    }
    if (flags & ACM_STREAMOPENF_QUERY)
        return MMSYSERR_NOERROR;
    *phas = stream.release();
    return MMSYSERR_NOERROR;
}

MMRESULT streamClose(HACMSTREAM has, DWORD)
{
    if (!validStream(has))
        return MMSYSERR_INVALHANDLE;
    has->magic = 0;
    delete has;
    return MMSYSERR_NOERROR;
}

MMRESULT streamSize(HACMSTREAM has, DWORD cbInput, DWORD *out, DWORD flags)
{
    if (!validStream(has))
        return MMSYSERR_INVALHANDLE;
    if (!out || cbInput == 0)
        return MMSYSERR_INVALPARAM;
    if (flags != ACM_STREAMSIZEF_SOURCE && flags != ACM_STREAMSIZEF_DESTINATION)
        return MMSYSERR_INVALFLAG;
    if (has->kind == AcmStream::Kind::PcmCopy) {
        const DWORD align = std::max<DWORD>(has->src.nBlockAlign, 1);
        *out = cbInput / align * align;
    } else {
        const auto &fmt = has->decoder->format();
        const DWORD blockBytes = static_cast<DWORD>(fmt.blockAlign);
        const DWORD pcmBlock = static_cast<DWORD>(fmt.samplesPerBlock * fmt.channels * 2);
        if (flags == ACM_STREAMSIZEF_SOURCE)
            *out = cbInput / blockBytes * pcmBlock;
        else
            *out = cbInput / pcmBlock * blockBytes;
    }
    return *out == 0 ? ACMERR_NOTPOSSIBLE : MMSYSERR_NOERROR;
}

MMRESULT streamPrepareHeader(HACMSTREAM has, ACMSTREAMHEADER *hdr, DWORD)
{
    if (!validStream(has))
        return MMSYSERR_INVALHANDLE;
    if (!hdr || hdr->cbStruct < sizeof(ACMSTREAMHEADER) || !hdr->pbSrc || !hdr->pbDst)
        return MMSYSERR_INVALPARAM;
    if (hdr->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED)
        return MMSYSERR_NOERROR;
    hdr->dwReservedDriver[kPreparedSrc] = hdr->cbSrcLength;
    hdr->dwReservedDriver[kPreparedDst] = hdr->cbDstLength;
    hdr->dwReservedDriver[kPreparedBy] = reinterpret_cast<std::uintptr_t>(has);
    hdr->fdwStatus = ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT streamUnprepareHeader(HACMSTREAM has, ACMSTREAMHEADER *hdr, DWORD)
{
    if (!validStream(has))
        return MMSYSERR_INVALHANDLE;
    if (!hdr || hdr->cbStruct < sizeof(ACMSTREAMHEADER))
        return MMSYSERR_INVALPARAM;
    if (!(hdr->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED))
        return ACMERR_UNPREPARED;
    // As on the platform: the header must carry the lengths it was prepared
    // with, which is why callers keep them in the user words.
    if (hdr->cbSrcLength != hdr->dwReservedDriver[kPreparedSrc]
        || hdr->cbDstLength != hdr->dwReservedDriver[kPreparedDst]
        || hdr->dwReservedDriver[kPreparedBy] != reinterpret_cast<std::uintptr_t>(has))
        return MMSYSERR_INVALPARAM;
    hdr->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT streamConvert(HACMSTREAM has, ACMSTREAMHEADER *hdr, DWORD flags)
{
    constexpr DWORD known =
        ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END;
    if (!validStream(has))
        return MMSYSERR_INVALHANDLE;
    if (!hdr || hdr->cbStruct < sizeof(ACMSTREAMHEADER))
        return MMSYSERR_INVALPARAM;
    if ((flags & ~known) != 0)
        return MMSYSERR_INVALFLAG;
    if (!(hdr->fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED))
        return ACMERR_UNPREPARED;
    if (hdr->cbSrcLength > hdr->dwReservedDriver[kPreparedSrc]
        || hdr->cbDstLength > hdr->dwReservedDriver[kPreparedDst]
        || hdr->dwReservedDriver[kPreparedBy] != reinterpret_cast<std::uintptr_t>(has))
        return MMSYSERR_INVALPARAM;
    hdr->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_DONE;
    DWORD used = 0, produced = 0;
    if (has->kind == AcmStream::Kind::PcmCopy) {
        const DWORD align = std::max<DWORD>(has->src.nBlockAlign, 1);
        const DWORD n = std::min(hdr->cbSrcLength, hdr->cbDstLength) / align * align;
        std::memmove(hdr->pbDst, hdr->pbSrc, n);
        used = produced = n;
    } else {
        // Whole blocks only: a partial block is left for the caller to bring
        // again with the rest of its bytes. The platform's converter does
        // the same with and without the block-align flag for this codec.
        const auto &fmt = has->decoder->format();
        const DWORD blockBytes = static_cast<DWORD>(fmt.blockAlign);
        const DWORD pcmBlock = static_cast<DWORD>(fmt.samplesPerBlock * fmt.channels * 2);
        const DWORD blocks = std::min(hdr->cbSrcLength / blockBytes, hdr->cbDstLength / pcmBlock);
        for (DWORD b = 0; b < blocks; ++b) {
            auto *out = reinterpret_cast<std::int16_t *>(hdr->pbDst + produced);
            const int frames = has->decoder->decodeBlock(
                std::span<const std::uint8_t>(hdr->pbSrc + used, blockBytes), out);
            if (frames < 0) {
                hdr->cbSrcLengthUsed = used;
                hdr->cbDstLengthUsed = produced;
                hdr->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
                return MMSYSERR_ERROR;
            }
            used += blockBytes;
            produced += static_cast<DWORD>(frames * fmt.channels * 2);
        }
    }
    hdr->cbSrcLengthUsed = used;
    hdr->cbDstLengthUsed = produced;
    hdr->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
    return MMSYSERR_NOERROR;
}

struct Binding {
    const AcmLibrary *library = nullptr;
    DWORD version = 0;
    bool usable = false;
};

Binding bindLibrary(const AcmLibrary *lib)
{
    Binding b;
    if (!lib || !lib->acmGetVersion)
        return b;
    b.library = lib;
    b.version = lib->acmGetVersion();
    if ((b.version >> 16) < 0x0200)
        return b;
    b.usable = lib->acmFormatSuggest && lib->acmStreamOpen && lib->acmStreamClose
        && lib->acmStreamSize && lib->acmStreamPrepareHeader && lib->acmStreamUnprepareHeader
        && lib->acmStreamConvert;
    return b;
}

Binding &binding()
{
    static Binding b = bindLibrary(&BuiltinAcmLibrary());
    return b;
}

} // namespace

const AcmLibrary &BuiltinAcmLibrary()
{
    static const AcmLibrary lib{getVersion,      formatSuggest,       streamOpen,
                                streamClose,     streamSize,          streamPrepareHeader,
                                streamUnprepareHeader, streamConvert};
    return lib;
}

void AcmBind(const AcmLibrary *library)
{
    binding() = bindLibrary(library);
}

void AcmUnbind()
{
    binding() = Binding{};
}

bool AcmPresent()
{
    return binding().library != nullptr;
}

bool AcmUsable()
{
    return binding().usable;
}

DWORD AcmVersion()
{
    return binding().version;
}

const AcmLibrary &Acm()
{
    return *binding().library;
}
