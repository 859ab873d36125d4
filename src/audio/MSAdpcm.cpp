#include "audio/MSAdpcm.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace msadpcm {

namespace {

constexpr int kAdaptation[16] = {230, 230, 230, 230, 307, 409, 512, 614,
                                 768, 614, 512, 409, 307, 230, 230, 230};
constexpr int kMinDelta = 16;

// Initial step sizes tried at the start of each block, roughly 1.5 apart.
constexpr int kDeltaCandidates[] = {16,  24,  36,   54,   81,   122,  183,  274,  411,
                                    617, 925, 1388, 2082, 3123, 4685, 7027, 10541};
constexpr int kDeltaProbeSamples = 24;
constexpr int kMaxTrellisWidth = 16;

inline int clamp16(long long v)
{
    return static_cast<int>(std::clamp<long long>(v, -32768, 32767));
}

inline int nextDelta(int delta, int nibble)
{
    const int d = static_cast<int>((static_cast<long long>(kAdaptation[nibble & 15]) * delta) >> 8);
    return d < kMinDelta ? kMinDelta : d;
}

inline int predictFloor(int s1, int s2, const Coefficient &c)
{
    const long long sum = static_cast<long long>(s1) * c.c1 + static_cast<long long>(s2) * c.c2;
    return static_cast<int>(sum >> 8);
}

inline int predictTowardZero(int s1, int s2, const Coefficient &c)
{
    const long long sum = static_cast<long long>(s1) * c.c1 + static_cast<long long>(s2) * c.c2;
    return static_cast<int>(sum / 256);
}

// Nibble nearest to the residual, in -8..7.
inline int nearestNibble(int residual, int delta)
{
    int q;
    if (residual >= 0)
        q = (residual + delta / 2) / delta;
    else
        q = -((-residual + delta / 2) / delta);
    return std::clamp(q, -8, 7);
}

inline std::uint16_t rd16(const std::uint8_t *p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline void wr16(std::uint8_t *p, int v)
{
    const auto u = static_cast<std::uint16_t>(v);
    p[0] = static_cast<std::uint8_t>(u & 0xFF);
    p[1] = static_cast<std::uint8_t>(u >> 8);
}

// The encoder follows both kinds of decoder at once: one that shifts the
// prediction (floor) and one that divides it (toward zero). They drift apart
// only with predictors whose prediction is not a multiple of 256, and the
// cost of a choice is its squared error in both, so the stream sounds as
// good in either.
struct DualState {
    int f1, f2; // floor decoder: last and second-to-last sample
    int t1, t2; // dividing decoder
    int delta;
    long long cost;
};

inline DualState advance(const DualState &p, const Coefficient &c, int x, int nib)
{
    const int pf = predictFloor(p.f1, p.f2, c);
    const int pt = predictTowardZero(p.t1, p.t2, c);
    const long long m = static_cast<long long>(nib) * p.delta;
    const int yf = clamp16(pf + m);
    const int yt = clamp16(pt + m);
    const long long ef = x - yf;
    const long long et = x - yt;
    return {yf, p.f1, yt, p.t1, nextDelta(p.delta, nib), p.cost + ef * ef + et * et};
}

inline DualState startState(const std::int16_t *x, int n, int delta)
{
    const int s2 = x[0];
    const int s1 = n > 1 ? x[1] : x[0];
    return {s1, s2, s1, s2, delta, 0};
}

// Greedy encoding of one channel's samples x[0..n): each nibble is the best
// of the three around the nearest one. Gives up (returning `bound`) once the
// cost reaches bound. Writes nibbles when out is given.
long long encodeGreedy(const std::int16_t *x, int n, const Coefficient &c, int delta,
                       std::uint8_t *out, long long bound)
{
    DualState s = startState(x, n, delta);
    for (int i = 2; i < n; ++i) {
        const int nb = nearestNibble(x[i] - predictFloor(s.f1, s.f2, c), s.delta);
        DualState best{};
        int bestNib = nb;
        bool first = true;
        for (int nib = std::max(-8, nb - 1); nib <= std::min(7, nb + 1); ++nib) {
            const DualState t = advance(s, c, x[i], nib);
            if (first || t.cost < best.cost) {
                best = t;
                bestNib = nib;
                first = false;
            }
        }
        s = best;
        if (out)
            out[i] = static_cast<std::uint8_t>(bestNib & 15);
        if (s.cost >= bound)
            return bound;
    }
    return s.cost;
}

struct Candidate {
    DualState state;
    std::uint8_t parent;
    std::uint8_t nibble;
};

inline bool sameDecoderState(const DualState &a, const DualState &b)
{
    return a.f1 == b.f1 && a.f2 == b.f2 && a.t1 == b.t1 && a.t2 == b.t2 && a.delta == b.delta;
}

// Trellis search over the nibbles of one channel: keeps the `width` paths
// with the least cost so far, each extended by the nibbles around its
// nearest one. Writes the best path's nibbles to out[2..n).
long long encodeTrellis(const std::int16_t *x, int n, const Coefficient &c, int delta0, int width,
                        std::uint8_t *out, std::vector<std::uint8_t> &backtrack)
{
    if (n <= 2)
        return 0;
    width = std::clamp(width, 1, kMaxTrellisWidth);
    backtrack.assign(static_cast<std::size_t>(n) * width * 2, 0);
    DualState cur[kMaxTrellisWidth];
    DualState next[kMaxTrellisWidth];
    Candidate cand[kMaxTrellisWidth * 3];
    int curCount = 1;
    cur[0] = startState(x, n, delta0);
    for (int i = 2; i < n; ++i) {
        int count = 0;
        for (int k = 0; k < curCount; ++k) {
            const DualState &p = cur[k];
            const int nb = nearestNibble(x[i] - predictFloor(p.f1, p.f2, c), p.delta);
            for (int nib = std::max(-8, nb - 1); nib <= std::min(7, nb + 1); ++nib) {
                Candidate cd{advance(p, c, x[i], nib), static_cast<std::uint8_t>(k),
                             static_cast<std::uint8_t>(nib & 15)};
                // Insertion into the sorted candidate list: it is short.
                int j = count++;
                while (j > 0 && cand[j - 1].state.cost > cd.state.cost) {
                    cand[j] = cand[j - 1];
                    --j;
                }
                cand[j] = cd;
            }
        }
        int nextCount = 0;
        std::uint8_t *bt = backtrack.data() + static_cast<std::size_t>(i) * width * 2;
        for (int j = 0; j < count && nextCount < width; ++j) {
            // Two paths that reach the same decoder state have the same
            // future: keep only the cheaper one.
            bool dup = false;
            for (int q = 0; q < nextCount && !dup; ++q)
                dup = sameDecoderState(next[q], cand[j].state);
            if (dup)
                continue;
            bt[nextCount * 2] = cand[j].parent;
            bt[nextCount * 2 + 1] = cand[j].nibble;
            next[nextCount++] = cand[j].state;
        }
        std::copy(next, next + nextCount, cur);
        curCount = nextCount;
    }
    // cur[0] is the cheapest path; follow its parents back.
    std::size_t k = 0;
    for (int i = n - 1; i >= 2; --i) {
        const std::uint8_t *bt = backtrack.data() + static_cast<std::size_t>(i) * width * 2;
        out[i] = bt[k * 2 + 1];
        k = bt[k * 2];
    }
    return cur[0].cost;
}

} // namespace

WaveFormatPtr makeFormat(std::uint32_t sampleRate, std::uint16_t channels, std::uint16_t blockAlign)
{
    constexpr std::uint16_t kExtra = 4 + 4 * static_cast<std::uint16_t>(kStandardCoefficients.size());
    std::vector<std::uint8_t> bytes(sizeof(TWaveFormatEx) + kExtra, 0);
    TWaveFormatEx head;
    head.wFormatTag = WAVE_FORMAT_ADPCM;
    head.nChannels = channels;
    head.nSamplesPerSec = sampleRate;
    const int spb = samplesPerBlock(blockAlign, channels);
    // Bytes per second as the platform's codec states them: whole bytes
    // for the blocks that one second needs, fractional blocks included.
    head.nAvgBytesPerSec =
        spb > 0 ? static_cast<std::uint32_t>(static_cast<std::uint64_t>(sampleRate) * blockAlign / spb)
                : 0;
    head.nBlockAlign = blockAlign;
    head.wBitsPerSample = 4;
    head.cbSize = kExtra;
    std::memcpy(bytes.data(), &head, sizeof head);
    std::uint8_t *extra = bytes.data() + sizeof head;
    wr16(extra, spb);
    wr16(extra + 2, static_cast<int>(kStandardCoefficients.size()));
    for (std::size_t i = 0; i < kStandardCoefficients.size(); ++i) {
        wr16(extra + 4 + i * 4, kStandardCoefficients[i].c1);
        wr16(extra + 6 + i * 4, kStandardCoefficients[i].c2);
    }
    return waveFormatFromBytes(bytes.data(), bytes.size());
}

WaveFormatPtr answerFormat()
{
    return makeFormat(44100, 2, 2048);
}

StreamFormat parseFormat(const TWaveFormatEx *f)
{
    if (!f || f->wFormatTag != WAVE_FORMAT_ADPCM)
        throw FormatError("Not a Microsoft ADPCM format");
    if (f->nChannels < 1 || f->nChannels > 8)
        throw FormatError("Unsupported channel count in Microsoft ADPCM format");
    if (f->nBlockAlign < kHeaderBytesPerChannel * f->nChannels + f->nChannels)
        throw FormatError("Block too small in Microsoft ADPCM format");
    if (f->cbSize < 4)
        throw FormatError("Microsoft ADPCM format without coefficients");
    const std::uint8_t *extra = waveFormatExtra(f);
    StreamFormat s;
    s.channels = f->nChannels;
    s.blockAlign = f->nBlockAlign;
    const int declared = rd16(extra);
    const int fits = samplesPerBlock(s.blockAlign, s.channels);
    if (declared < 2 || declared > fits)
        throw FormatError("Invalid samples per block in Microsoft ADPCM format");
    s.samplesPerBlock = declared;
    const int count = rd16(extra + 2);
    if (count < 1 || count > 256 || 4 + 4 * count > f->cbSize)
        throw FormatError("Invalid coefficient table in Microsoft ADPCM format");
    for (int i = 0; i < count; ++i)
        s.coefficients.push_back({static_cast<std::int16_t>(rd16(extra + 4 + i * 4)),
                                  static_cast<std::int16_t>(rd16(extra + 6 + i * 4))});
    return s;
}

// ---------------------------------------------------------------------------

Decoder::Decoder(StreamFormat format, Rounding rounding)
    : m_format(std::move(format))
    , m_rounding(rounding)
{
}

int Decoder::decodeBlock(std::span<const std::uint8_t> block, std::int16_t *out) const
{
    const int ch = m_format.channels;
    const std::size_t header = static_cast<std::size_t>(kHeaderBytesPerChannel) * ch;
    if (ch <= 0 || ch > 8 || block.size() < header)
        return -1;
    const std::size_t size = std::min<std::size_t>(block.size(), m_format.blockAlign);
    const std::uint8_t *p = block.data();

    int pred[8], delta[8], s1[8], s2[8];
    for (int c = 0; c < ch; ++c) {
        pred[c] = p[c];
        if (pred[c] >= static_cast<int>(m_format.coefficients.size()))
            return -1;
        delta[c] = static_cast<std::int16_t>(rd16(p + ch + 2 * c));
        s1[c] = static_cast<std::int16_t>(rd16(p + 3 * ch + 2 * c));
        s2[c] = static_cast<std::int16_t>(rd16(p + 5 * ch + 2 * c));
    }
    const long long nibbleCount = static_cast<long long>(size - header) * 2;
    const int frames = static_cast<int>(
        std::min<long long>(2 + nibbleCount / ch, m_format.samplesPerBlock));
    for (int c = 0; c < ch; ++c) {
        out[c] = static_cast<std::int16_t>(s2[c]);
        if (frames > 1)
            out[ch + c] = static_cast<std::int16_t>(s1[c]);
    }
    const std::uint8_t *nib = p + header;
    long long k = 0;
    for (int i = 2; i < frames; ++i) {
        for (int c = 0; c < ch; ++c, ++k) {
            const std::uint8_t byte = nib[k >> 1];
            const int code = (k & 1) ? (byte & 15) : (byte >> 4);
            const int signedCode = code >= 8 ? code - 16 : code;
            const Coefficient &co = m_format.coefficients[pred[c]];
            const int prediction = m_rounding == Rounding::Floor ? predictFloor(s1[c], s2[c], co)
                                                                 : predictTowardZero(s1[c], s2[c], co);
            const int y = clamp16(static_cast<long long>(prediction)
                                  + static_cast<long long>(signedCode) * delta[c]);
            out[i * ch + c] = static_cast<std::int16_t>(y);
            // A hostile step size must not overflow: the largest useful step
            // already spans the whole sample range.
            delta[c] = std::min(nextDelta(delta[c], code), 1 << 20);
            s2[c] = s1[c];
            s1[c] = y;
        }
    }
    return frames;
}

std::vector<std::int16_t> Decoder::decode(std::span<const std::uint8_t> data) const
{
    std::vector<std::int16_t> pcm;
    const std::size_t align = static_cast<std::size_t>(m_format.blockAlign);
    std::vector<std::int16_t> frame(static_cast<std::size_t>(m_format.samplesPerBlock) * m_format.channels);
    for (std::size_t off = 0; off < data.size(); off += align) {
        const auto block = data.subspan(off, std::min(align, data.size() - off));
        const int frames = decodeBlock(block, frame.data());
        if (frames < 0)
            break;
        pcm.insert(pcm.end(), frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(frames) * m_format.channels);
    }
    return pcm;
}

// ---------------------------------------------------------------------------

Encoder::Encoder(int channels, int blockAlign)
    : m_channels(channels)
    , m_blockAlign(blockAlign)
    , m_samplesPerBlock(msadpcm::samplesPerBlock(blockAlign, channels))
{
    if (channels < 1 || channels > 8 || m_samplesPerBlock < 3)
        throw FormatError("Unsupported Microsoft ADPCM block layout");
    m_channelBuf.resize(m_samplesPerBlock);
    m_nibbles.resize(static_cast<std::size_t>(m_samplesPerBlock) * channels);
    m_trialNibbles.resize(m_samplesPerBlock);
}

void Encoder::setTrellisWidth(int width)
{
    m_trellisWidth = std::clamp(width, 1, 16);
}

void Encoder::encodeBlock(const std::int16_t *frames, int frameCount, std::uint8_t *out)
{
    const int ch = m_channels;
    const int n = m_samplesPerBlock;
    frameCount = std::clamp(frameCount, 0, n);
    std::memset(out, 0, static_cast<std::size_t>(m_blockAlign));
    for (int c = 0; c < ch; ++c) {
        for (int i = 0; i < n; ++i) {
            const int src = frameCount == 0 ? -1 : std::min(i, frameCount - 1);
            m_channelBuf[i] = src < 0 ? 0 : frames[static_cast<std::size_t>(src) * ch + c];
        }
        const std::int16_t *x = m_channelBuf.data();

        int bestPred = 0;
        int bestDelta = kMinDelta;
        long long bestErr = std::numeric_limits<long long>::max();
        for (int p = 0; p < static_cast<int>(kStandardCoefficients.size()); ++p) {
            const Coefficient &co = kStandardCoefficients[p];
            // The step size only matters until it has adapted: judge the
            // candidates on the first samples, then the predictor on all.
            int delta = kMinDelta;
            long long probeBest = std::numeric_limits<long long>::max();
            const int probe = std::min(n, kDeltaProbeSamples);
            for (int d : kDeltaCandidates) {
                const long long e = encodeGreedy(x, probe, co, d, nullptr, probeBest);
                if (e < probeBest) {
                    probeBest = e;
                    delta = d;
                }
            }
            const long long e = encodeGreedy(x, n, co, delta, nullptr, bestErr);
            if (e < bestErr) {
                bestErr = e;
                bestPred = p;
                bestDelta = delta;
            }
        }
        const Coefficient &co = kStandardCoefficients[bestPred];
        if (m_trellisWidth > 1)
            encodeTrellis(x, n, co, bestDelta, m_trellisWidth, m_trialNibbles.data(), m_backtrack);
        else
            encodeGreedy(x, n, co, bestDelta, m_trialNibbles.data(),
                         std::numeric_limits<long long>::max());

        out[c] = static_cast<std::uint8_t>(bestPred);
        wr16(out + ch + 2 * c, bestDelta);
        wr16(out + 3 * ch + 2 * c, x[1]);
        wr16(out + 5 * ch + 2 * c, x[0]);
        for (int i = 2; i < n; ++i)
            m_nibbles[static_cast<std::size_t>(i - 2) * ch + c] = m_trialNibbles[i];
    }

    std::uint8_t *nib = out + kHeaderBytesPerChannel * ch;
    const std::size_t count = static_cast<std::size_t>(n - 2) * ch;
    for (std::size_t k = 0; k < count; ++k) {
        if (k & 1)
            nib[k >> 1] |= m_nibbles[k];
        else
            nib[k >> 1] = static_cast<std::uint8_t>(m_nibbles[k] << 4);
    }
}

std::vector<std::uint8_t> encode(std::span<const std::int16_t> pcm, int channels, int blockAlign,
                                 int trellisWidth)
{
    Encoder enc(channels, blockAlign);
    enc.setTrellisWidth(trellisWidth);
    const std::size_t frames = pcm.size() / static_cast<std::size_t>(channels);
    const std::size_t spb = static_cast<std::size_t>(enc.samplesPerBlock());
    std::vector<std::uint8_t> out;
    for (std::size_t f = 0; f < frames; f += spb) {
        const std::size_t take = std::min(spb, frames - f);
        const std::size_t at = out.size();
        out.resize(at + static_cast<std::size_t>(blockAlign));
        enc.encodeBlock(pcm.data() + f * channels, static_cast<int>(take), out.data() + at);
    }
    return out;
}

} // namespace msadpcm
