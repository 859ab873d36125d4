#include "audio/MMACMSup.h"

#include <algorithm>
#include <cstring>

struct AcmStage {
    // The library that opened the stream closes it, even if the binding
    // changed in between.
    const AcmLibrary *lib = nullptr;
    HACMSTREAM stream = nullptr;
    DWORD align = 1;
    std::uint8_t *src = nullptr;
    DWORD srcSize = 0;
    std::vector<std::uint8_t> out;
    ACMSTREAMHEADER hdr;
    bool prepared = false;
    // Bytes of an incomplete block kept for the next call, at the start of
    // carryBuf. The carry buffer has room for them plus a full source, so
    // that a carried block never pushes new data out (the caller's source
    // buffer has no such room).
    DWORD carried = 0;
    std::vector<std::uint8_t> carryBuf;
    ACMSTREAMHEADER carryHdr;
    bool carryPrepared = false;

    ~AcmStage()
    {
        if (!stream)
            return;
        const AcmLibrary &acm = *lib;
        // Headers are unprepared with the lengths they were prepared with.
        if (carryPrepared) {
            carryHdr.cbSrcLength = static_cast<DWORD>(carryHdr.dwSrcUser);
            carryHdr.cbDstLength = static_cast<DWORD>(carryHdr.dwDstUser);
            acm.acmStreamUnprepareHeader(stream, &carryHdr, 0);
        }
        if (prepared) {
            hdr.cbSrcLength = static_cast<DWORD>(hdr.dwSrcUser);
            hdr.cbDstLength = static_cast<DWORD>(hdr.dwDstUser);
            acm.acmStreamUnprepareHeader(stream, &hdr, 0);
        }
        acm.acmStreamClose(stream, 0);
    }
};

namespace {

// A fake or broken library could keep suggesting new intermediates; real
// conversions need at most three stages.
constexpr int kMaxStages = 3;

bool query(const TWaveFormatEx *a, const TWaveFormatEx *b, bool realTimeOnly)
{
    DWORD flags = ACM_STREAMOPENF_QUERY;
    if (!realTimeOnly)
        flags |= ACM_STREAMOPENF_NONREALTIME;
    return Acm().acmStreamOpen(nullptr, nullptr, a, b, nullptr, 0, 0, flags) == MMSYSERR_NOERROR;
}

bool suggest(const TWaveFormatEx *in, TWaveFormatEx *m, DWORD flags)
{
    return Acm().acmFormatSuggest(nullptr, in, m, sizeof(TWaveFormatEx), flags)
        == MMSYSERR_NOERROR;
}

bool isPcm(const TWaveFormatEx *f)
{
    return f->wFormatTag == WAVE_FORMAT_PCM;
}

void prepareHeader(ACMSTREAMHEADER &h, std::uint8_t *src, DWORD srcLen, std::uint8_t *dst,
                   DWORD dstLen)
{
    h = ACMSTREAMHEADER{};
    h.cbStruct = sizeof(ACMSTREAMHEADER);
    h.pbSrc = src;
    h.cbSrcLength = srcLen;
    h.dwSrcUser = srcLen;
    h.pbDst = dst;
    h.cbDstLength = dstLen;
    h.dwDstUser = dstLen;
}

// The decision sequence shared by checking and building: with `build`,
// every accepted step adds its stage, and formats that do not differ fail.
bool route(const TWaveFormatEx *from, const TWaveFormatEx *to, bool realTimeOnly,
           AcmConversion *build, int depth)
{
    if (!FormatsDiffer(from, to))
        return build == nullptr;
    if (depth >= kMaxStages)
        return false;
    if (query(from, to, realTimeOnly))
        return build ? addStage(*build, from, to, realTimeOnly) : true;

    TWaveFormatEx m{};
    if (isPcm(from)) {
        if (to->nChannels == from->nChannels && to->nSamplesPerSec == from->nSamplesPerSec)
            return false;
        m.nChannels = to->nChannels;
        m.nSamplesPerSec = to->nSamplesPerSec;
        constexpr DWORD f = ACM_FORMATSUGGESTF_NCHANNELS | ACM_FORMATSUGGESTF_NSAMPLESPERSEC;
        if (!suggest(from, &m, f))
            return false;
        if (!query(&m, to, realTimeOnly)) {
            m.wBitsPerSample = m.wBitsPerSample == 16 ? 8 : 16;
            if (!suggest(from, &m, f | ACM_FORMATSUGGESTF_WBITSPERSAMPLE))
                return false;
        }
    } else {
        m.wFormatTag = WAVE_FORMAT_PCM;
        m.nChannels = to->nChannels;
        m.nSamplesPerSec = to->nSamplesPerSec;
        if (!suggest(from, &m,
                     ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS
                         | ACM_FORMATSUGGESTF_NSAMPLESPERSEC)
            && !suggest(from, &m, ACM_FORMATSUGGESTF_WFORMATTAG))
            return false;
    }
    if (!query(from, &m, realTimeOnly))
        return false;
    if (build && !addStage(*build, from, &m, realTimeOnly))
        return false;
    if (FormatsDiffer(&m, to))
        return route(&m, to, realTimeOnly, build, depth + 1);
    return true;
}

} // namespace

bool addStage(AcmConversion &c, const TWaveFormatEx *a, const TWaveFormatEx *b,
              bool realTimeOnly)
{
    const AcmLibrary &acm = Acm();
    auto stage = std::make_unique<AcmStage>();
    stage->lib = &acm;
    if (acm.acmStreamOpen(&stage->stream, nullptr, a, b, nullptr, 0, 0,
                          realTimeOnly ? 0 : ACM_STREAMOPENF_NONREALTIME)
        != MMSYSERR_NOERROR) {
        stage->stream = nullptr;
        return false;
    }
    if (c.m_stages.empty()) {
        stage->src = c.m_source;
        stage->srcSize = c.m_sourceSize;
    } else {
        stage->src = c.m_output;
        stage->srcSize = c.m_outputSize;
    }
    DWORD outSize = 0;
    if (stage->srcSize == 0
        || acm.acmStreamSize(stage->stream, stage->srcSize, &outSize, ACM_STREAMSIZEF_SOURCE)
            != MMSYSERR_NOERROR
        || outSize == 0)
        return false;
    const DWORD align = std::max<DWORD>(a->nBlockAlign, 1);
    stage->align = align;
    stage->out.assign(outSize, 0);
    stage->carryBuf.assign(static_cast<std::size_t>(stage->srcSize) + align, 0);
    prepareHeader(stage->hdr, stage->src, stage->srcSize, stage->out.data(), outSize);
    if (acm.acmStreamPrepareHeader(stage->stream, &stage->hdr, 0) != MMSYSERR_NOERROR)
        return false;
    stage->prepared = true;
    prepareHeader(stage->carryHdr, stage->carryBuf.data(),
                  static_cast<DWORD>(stage->carryBuf.size()), stage->out.data(), outSize);
    if (acm.acmStreamPrepareHeader(stage->stream, &stage->carryHdr, 0) != MMSYSERR_NOERROR)
        return false;
    stage->carryPrepared = true;
    c.m_output = stage->out.data();
    c.m_outputSize = outSize;
    c.m_stages.push_back(std::move(stage));
    return true;
}

AcmConversion::AcmConversion(std::uint8_t *source, std::uint32_t sourceSize)
    : m_source(source), m_sourceSize(sourceSize)
{
}

AcmConversion::~AcmConversion()
{
    while (!m_stages.empty())
        m_stages.pop_back();
}

bool FormatsDiffer(const TWaveFormatEx *a, const TWaveFormatEx *b)
{
    return a->wFormatTag != b->wFormatTag || a->wBitsPerSample != b->wBitsPerSample
        || a->nChannels != b->nChannels || a->nSamplesPerSec != b->nSamplesPerSec;
}

TWaveFormatEx SuggestPCMFormat(const TWaveFormatEx *in)
{
    TWaveFormatEx none{};
    if (!in)
        return none;
    if (isPcm(in)) {
        TWaveFormatEx copy = *in;
        copy.cbSize = 0;
        return copy;
    }
    if (!AcmUsable())
        return none;
    TWaveFormatEx f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    if (!suggest(in, &f, ACM_FORMATSUGGESTF_WFORMATTAG) || !query(in, &f, true))
        return none;
    return f;
}

bool CanConvert(const TWaveFormatEx *from, const TWaveFormatEx *to, bool realTimeOnly)
{
    if (!AcmUsable() || !from || !to)
        return false;
    return route(from, to, realTimeOnly, nullptr, 0);
}

AcmConversionPtr OpenConversion(const TWaveFormatEx *from, const TWaveFormatEx *to,
                                std::uint8_t *source, bool realTimeOnly, int bufferSize)
{
    if (!AcmUsable() || !from || !to || !source || bufferSize <= 0)
        return nullptr;
    const std::uint32_t align = std::max<std::uint32_t>(from->nBlockAlign, 1);
    auto c = std::make_unique<AcmConversion>(
        source, static_cast<std::uint32_t>(bufferSize) / align * align);
    if (!route(from, to, realTimeOnly, c.get(), 0) || c->StageCount() == 0)
        return nullptr;
    return c;
}

int Convert(AcmConversion *conversion, int count)
{
    if (!conversion || count <= 0 || !AcmUsable())
        return conversion && count == 0 ? 0 : -1;
    const AcmLibrary &acm = Acm();
    DWORD n = std::min<DWORD>(static_cast<DWORD>(count), conversion->m_sourceSize);
    for (auto &sp : conversion->m_stages) {
        AcmStage &s = *sp;
        ACMSTREAMHEADER *h = &s.hdr;
        DWORD len = n;
        if (s.carried > 0) {
            // The carried bytes already sit at the start of the carry buffer.
            std::memcpy(s.carryBuf.data() + s.carried, s.src, n);
            h = &s.carryHdr;
            len = n + s.carried;
        }
        h->cbSrcLength = len;
        h->cbDstLength = static_cast<DWORD>(s.out.size());
        if (acm.acmStreamConvert(s.stream, h, ACM_STREAMCONVERTF_BLOCKALIGN) != MMSYSERR_NOERROR)
            return -1;
        // Our converters finish before returning; a header that is not done
        // would never become done, so it counts as a failure, not a wait.
        if (!(h->fdwStatus & ACMSTREAMHEADER_STATUSF_DONE))
            return -1;
        const DWORD used = std::min(h->cbSrcLengthUsed, len);
        const std::uint8_t *left = h->pbSrc + used;
        s.carried = len - used;
        // Only an incomplete block is worth keeping; a converter that left a
        // whole block behind could otherwise make the carry outgrow its
        // buffer.
        if (s.carried >= s.align)
            s.carried = 0;
        if (s.carried > 0)
            std::memmove(s.carryBuf.data(), left, s.carried);
        n = h->cbDstLengthUsed;
    }
    return static_cast<int>(n);
}

void CloseConversion(AcmConversionPtr &conversion)
{
    conversion.reset();
}
