#include "audio/MMACM.h"
#include "audio/MMACMSup.h"
#include "audio/MSAdpcm.h"

#include "AudioTestUtil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <vector>

namespace {

TWaveFormatEx pcmFormat(int bits, int channels, int rate)
{
    TWaveFormatEx f;
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = static_cast<std::uint16_t>(channels);
    f.nSamplesPerSec = static_cast<std::uint32_t>(rate);
    f.wBitsPerSample = static_cast<std::uint16_t>(bits);
    f.nBlockAlign = static_cast<std::uint16_t>(bits / 8 * channels);
    f.nAvgBytesPerSec = f.nBlockAlign * f.nSamplesPerSec;
    return f;
}

// Four blocks (8192 bytes) of the test window's recording format.
std::vector<std::uint8_t> answerBlocks(std::vector<std::int16_t> *pcm = nullptr)
{
    auto signal = audiotest::chirp(4 * 2036, 44100, 2);
    auto blocks = msadpcm::encode(signal, 2, 2048, 1);
    if (pcm)
        *pcm = signal;
    return blocks;
}

std::vector<std::int16_t> reference(const std::vector<std::uint8_t> &blocks)
{
    auto f = msadpcm::answerFormat();
    return msadpcm::Decoder(msadpcm::parseFormat(f.get())).decode(blocks);
}

// Restores the built-in library after tests that bind another one.
class AcmTest : public ::testing::Test
{
protected:
    void TearDown() override { AcmBind(); }
};

TEST_F(AcmTest, SuggestsSixteenBitPcmForTheAnswerFormat)
{
    auto adpcm = msadpcm::answerFormat();
    const TWaveFormatEx f = SuggestPCMFormat(adpcm.get());
    EXPECT_EQ(f.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(f.wBitsPerSample, 16);
    EXPECT_EQ(f.nChannels, 2);
    EXPECT_EQ(f.nSamplesPerSec, 44100u);
    EXPECT_EQ(f.nBlockAlign, 4);
    EXPECT_EQ(f.nAvgBytesPerSec, 176400u);
    EXPECT_TRUE(CanConvert(adpcm.get(), &f, true));
    // A PCM input is its own suggestion.
    TWaveFormatEx in = pcmFormat(8, 1, 8000);
    in.cbSize = 22;
    const TWaveFormatEx same = SuggestPCMFormat(&in);
    EXPECT_EQ(same.cbSize, 0);
    EXPECT_EQ(same.nSamplesPerSec, 8000u);
    // Something we cannot decode gets no format.
    TWaveFormatEx mp3{};
    mp3.wFormatTag = 0x55;
    mp3.nChannels = 2;
    mp3.nSamplesPerSec = 44100;
    EXPECT_EQ(SuggestPCMFormat(&mp3).wFormatTag, 0);
    EXPECT_EQ(SuggestPCMFormat(nullptr).wFormatTag, 0);
}

TEST_F(AcmTest, OneStageTurns4096BytesInto16288)
{
    auto adpcm = msadpcm::answerFormat();
    const TWaveFormatEx pcm = SuggestPCMFormat(adpcm.get());
    std::vector<std::uint8_t> source(4096, 0);
    auto conv = OpenConversion(adpcm.get(), &pcm, source.data(), true, 4096);
    ASSERT_TRUE(conv);
    EXPECT_EQ(conv->StageCount(), 1);
    EXPECT_EQ(conv->SourceSize(), 4096u);
    EXPECT_EQ(conv->OutputSize(), 16288u);

    const auto blocks = answerBlocks();
    const auto expected = reference(blocks);
    std::vector<std::int16_t> got;
    for (std::size_t at = 0; at < blocks.size(); at += 4096) {
        std::memcpy(source.data(), blocks.data() + at, 4096);
        ASSERT_EQ(Convert(conv.get(), 4096), 16288);
        const auto *out = reinterpret_cast<const std::int16_t *>(conv->Output());
        got.insert(got.end(), out, out + 16288 / 2);
    }
    EXPECT_EQ(got, expected);
    CloseConversion(conv);
    EXPECT_FALSE(conv);
}

TEST_F(AcmTest, MoreThanTheSourceSizeConvertsOnlyTheSourceSize)
{
    auto adpcm = msadpcm::answerFormat();
    const TWaveFormatEx pcm = SuggestPCMFormat(adpcm.get());
    // 5000 bytes of buffer hold two whole blocks: the source size is 4096.
    std::vector<std::uint8_t> source(5000, 0);
    const auto blocks = answerBlocks();
    std::memcpy(source.data(), blocks.data(), 5000);
    auto conv = OpenConversion(adpcm.get(), &pcm, source.data(), true, 5000);
    ASSERT_TRUE(conv);
    EXPECT_EQ(conv->SourceSize(), 4096u);
    EXPECT_EQ(Convert(conv.get(), 100000), 16288);
    // Nothing was carried: the next full buffer converts whole again.
    std::memcpy(source.data(), blocks.data() + 4096, 4096);
    EXPECT_EQ(Convert(conv.get(), 4096), 16288);
    EXPECT_EQ(Convert(conv.get(), 0), 0);
}

TEST_F(AcmTest, IncompleteBlocksAreCarriedToTheNextCall)
{
    auto adpcm = msadpcm::answerFormat();
    const TWaveFormatEx pcm = SuggestPCMFormat(adpcm.get());
    std::vector<std::uint8_t> source(4096, 0);
    auto conv = OpenConversion(adpcm.get(), &pcm, source.data(), true, 4096);
    ASSERT_TRUE(conv);
    const auto blocks = answerBlocks();
    const auto expected = reference(blocks);
    std::vector<std::int16_t> got;
    std::size_t at = 0;
    for (std::size_t chunk : {3000u, 3000u, 100u, 2000u, 92u}) {
        std::memcpy(source.data(), blocks.data() + at, chunk);
        at += chunk;
        const int n = Convert(conv.get(), static_cast<int>(chunk));
        ASSERT_GE(n, 0);
        const auto *out = reinterpret_cast<const std::int16_t *>(conv->Output());
        got.insert(got.end(), out, out + n / 2);
    }
    ASSERT_EQ(at, blocks.size());
    EXPECT_EQ(got, expected);
}

TEST_F(AcmTest, FormatsThatDoNotDifferNeedNoConversion)
{
    TWaveFormatEx a = pcmFormat(16, 2, 44100);
    TWaveFormatEx b = a;
    b.nAvgBytesPerSec = 1;
    b.nBlockAlign = 7;
    EXPECT_FALSE(FormatsDiffer(&a, &b));
    EXPECT_TRUE(CanConvert(&a, &b, true));
    std::vector<std::uint8_t> source(4096);
    EXPECT_FALSE(OpenConversion(&a, &b, source.data(), true, 4096));
    // PCM to PCM with other channels: no converter, no intermediate.
    TWaveFormatEx mono = pcmFormat(16, 1, 44100);
    EXPECT_FALSE(CanConvert(&a, &mono, true));
    EXPECT_FALSE(OpenConversion(&a, &mono, source.data(), true, 4096));
    TWaveFormatEx eight = pcmFormat(8, 2, 44100);
    EXPECT_FALSE(CanConvert(&a, &eight, false));
    EXPECT_FALSE(CanConvert(nullptr, &a, true));
}

TEST_F(AcmTest, BrokenBlockFailsTheConversion)
{
    auto adpcm = msadpcm::answerFormat();
    const TWaveFormatEx pcm = SuggestPCMFormat(adpcm.get());
    std::vector<std::uint8_t> source(4096, 0);
    auto conv = OpenConversion(adpcm.get(), &pcm, source.data(), true, 4096);
    ASSERT_TRUE(conv);
    source[0] = 7; // predictor 7 of a 7-entry table
    EXPECT_EQ(Convert(conv.get(), 4096), -1);
    source[0] = 0;
    EXPECT_EQ(Convert(conv.get(), 4096), 16288);
}

TEST_F(AcmTest, WithoutUsableAcmNothingConverts)
{
    auto adpcm = msadpcm::answerFormat();
    TWaveFormatEx pcm = pcmFormat(16, 2, 44100);
    std::vector<std::uint8_t> source(4096);

    AcmBind(nullptr);
    EXPECT_FALSE(AcmPresent());
    EXPECT_EQ(SuggestPCMFormat(adpcm.get()).wFormatTag, 0);
    EXPECT_FALSE(CanConvert(adpcm.get(), &pcm, true));
    EXPECT_FALSE(OpenConversion(adpcm.get(), &pcm, source.data(), true, 4096));

    static AcmLibrary old;
    old = BuiltinAcmLibrary();
    old.acmGetVersion = [] { return DWORD{0x01F00000}; };
    AcmBind(&old);
    EXPECT_TRUE(AcmPresent());
    EXPECT_FALSE(AcmUsable());
    EXPECT_EQ(SuggestPCMFormat(adpcm.get()).wFormatTag, 0);
    EXPECT_FALSE(CanConvert(adpcm.get(), &pcm, true));
    EXPECT_FALSE(OpenConversion(adpcm.get(), &pcm, source.data(), true, 4096));

    static AcmLibrary noVersion;
    noVersion = BuiltinAcmLibrary();
    noVersion.acmGetVersion = nullptr;
    AcmBind(&noVersion);
    EXPECT_FALSE(AcmPresent());

    AcmBind();
    EXPECT_TRUE(AcmUsable());
    EXPECT_GE(AcmVersion() >> 16, 0x0200u);
}

// A library with one more converter, 16-bit to 8-bit PCM, layered over the
// built-in one, so that a conversion needs an intermediate format. It also
// records the result of every unprepare.
struct EightBitStream {
    int channels = 0;
};
std::set<void *> g_eightBit;
std::vector<MMRESULT> g_unprepareResults;

bool isEightBit(HACMSTREAM h)
{
    return g_eightBit.count(h) != 0;
}

const AcmLibrary &layeredLibrary()
{
    static AcmLibrary lib = [] {
        AcmLibrary l = BuiltinAcmLibrary();
        l.acmStreamOpen = [](HACMSTREAM *phas, HACMDRIVER had, const TWaveFormatEx *src,
                             const TWaveFormatEx *dst, void *filter, std::uintptr_t cb,
                             std::uintptr_t inst, DWORD flags) -> MMRESULT {
            if (src->wFormatTag == WAVE_FORMAT_PCM && dst->wFormatTag == WAVE_FORMAT_PCM
                && src->wBitsPerSample == 16 && dst->wBitsPerSample == 8
                && src->nChannels == dst->nChannels
                && src->nSamplesPerSec == dst->nSamplesPerSec) {
                if (flags & ACM_STREAMOPENF_QUERY)
                    return MMSYSERR_NOERROR;
                auto *s = new EightBitStream{src->nChannels};
                g_eightBit.insert(s);
                *phas = reinterpret_cast<HACMSTREAM>(s);
                return MMSYSERR_NOERROR;
            }
            return BuiltinAcmLibrary().acmStreamOpen(phas, had, src, dst, filter, cb, inst, flags);
        };
        l.acmStreamClose = [](HACMSTREAM h, DWORD f) -> MMRESULT {
            if (isEightBit(h)) {
                g_eightBit.erase(h);
                delete reinterpret_cast<EightBitStream *>(h);
                return MMSYSERR_NOERROR;
            }
            return BuiltinAcmLibrary().acmStreamClose(h, f);
        };
        l.acmStreamSize = [](HACMSTREAM h, DWORD in, DWORD *out, DWORD f) -> MMRESULT {
            if (isEightBit(h)) {
                *out = f == ACM_STREAMSIZEF_SOURCE ? in / 2 : in * 2;
                return MMSYSERR_NOERROR;
            }
            return BuiltinAcmLibrary().acmStreamSize(h, in, out, f);
        };
        l.acmStreamPrepareHeader = [](HACMSTREAM h, ACMSTREAMHEADER *hdr, DWORD f) -> MMRESULT {
            if (isEightBit(h)) {
                hdr->dwReservedDriver[0] = hdr->cbSrcLength;
                hdr->fdwStatus |= ACMSTREAMHEADER_STATUSF_PREPARED;
                return MMSYSERR_NOERROR;
            }
            return BuiltinAcmLibrary().acmStreamPrepareHeader(h, hdr, f);
        };
        l.acmStreamUnprepareHeader = [](HACMSTREAM h, ACMSTREAMHEADER *hdr,
                                        DWORD f) -> MMRESULT {
            MMRESULT r;
            if (isEightBit(h))
                r = hdr->cbSrcLength == hdr->dwReservedDriver[0] ? MMSYSERR_NOERROR
                                                                 : MMSYSERR_INVALPARAM;
            else
                r = BuiltinAcmLibrary().acmStreamUnprepareHeader(h, hdr, f);
            g_unprepareResults.push_back(r);
            return r;
        };
        l.acmStreamConvert = [](HACMSTREAM h, ACMSTREAMHEADER *hdr, DWORD f) -> MMRESULT {
            if (isEightBit(h)) {
                const DWORD n = std::min(hdr->cbSrcLength / 2, hdr->cbDstLength);
                for (DWORD i = 0; i < n; ++i) {
                    std::int16_t v;
                    std::memcpy(&v, hdr->pbSrc + 2 * i, 2);
                    hdr->pbDst[i] = static_cast<std::uint8_t>((v >> 8) + 128);
                }
                hdr->cbSrcLengthUsed = 2 * n;
                hdr->cbDstLengthUsed = n;
                hdr->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
                return MMSYSERR_NOERROR;
            }
            return BuiltinAcmLibrary().acmStreamConvert(h, hdr, f);
        };
        return l;
    }();
    return lib;
}

TEST_F(AcmTest, ConversionThroughAnIntermediateFormatBuildsTwoStages)
{
    AcmBind(&layeredLibrary());
    g_unprepareResults.clear();
    auto adpcm = msadpcm::answerFormat();
    const TWaveFormatEx eight = pcmFormat(8, 2, 44100);
    EXPECT_TRUE(CanConvert(adpcm.get(), &eight, true));
    std::vector<std::uint8_t> source(4096, 0);
    {
        auto conv = OpenConversion(adpcm.get(), &eight, source.data(), true, 4096);
        ASSERT_TRUE(conv);
        EXPECT_EQ(conv->StageCount(), 2);
        EXPECT_EQ(conv->OutputSize(), 8144u);
        const auto blocks = answerBlocks();
        const auto expected = reference(blocks);
        std::memcpy(source.data(), blocks.data(), 4096);
        ASSERT_EQ(Convert(conv.get(), 4096), 8144);
        for (int i = 0; i < 8144; i += 97)
            ASSERT_EQ(conv->Output()[i], static_cast<std::uint8_t>((expected[i] >> 8) + 128)) << i;
    }
    // Both stages' headers went back with the lengths they were prepared
    // with, and every stream was closed.
    EXPECT_EQ(g_unprepareResults.size(), 4u);
    for (MMRESULT r : g_unprepareResults)
        EXPECT_EQ(r, MMSYSERR_NOERROR);
    EXPECT_TRUE(g_eightBit.empty());
}

TEST_F(AcmTest, BuiltinCodecRefusesBadRequests)
{
    const AcmLibrary &acm = BuiltinAcmLibrary();
    auto adpcm = msadpcm::answerFormat();
    TWaveFormatEx pcm = pcmFormat(16, 2, 44100);
    TWaveFormatEx wrongRate = pcmFormat(16, 2, 22050);
    HACMSTREAM h = nullptr;
    EXPECT_EQ(acm.acmStreamOpen(&h, nullptr, adpcm.get(), &wrongRate, nullptr, 0, 0, 0),
              ACMERR_NOTPOSSIBLE);
    EXPECT_EQ(h, nullptr);
    EXPECT_EQ(acm.acmStreamOpen(&h, nullptr, adpcm.get(), &pcm, nullptr, 0, 0, 0x100),
              MMSYSERR_INVALFLAG);
    // A format that claims more coefficients than it carries is refused.
    auto bad = msadpcm::answerFormat();
    bad->cbSize = 2;
    EXPECT_NE(acm.acmStreamOpen(&h, nullptr, bad.get(), &pcm, nullptr, 0, 0,
                                ACM_STREAMOPENF_QUERY),
              MMSYSERR_NOERROR);
    ASSERT_EQ(acm.acmStreamOpen(&h, nullptr, adpcm.get(), &pcm, nullptr, 0, 0, 0),
              MMSYSERR_NOERROR);
    std::vector<std::uint8_t> src(4096), dst(16288);
    ACMSTREAMHEADER hdr;
    hdr.cbStruct = sizeof hdr;
    hdr.pbSrc = src.data();
    hdr.cbSrcLength = 4096;
    hdr.pbDst = dst.data();
    hdr.cbDstLength = 16288;
    EXPECT_EQ(acm.acmStreamConvert(h, &hdr, 0), ACMERR_UNPREPARED);
    ASSERT_EQ(acm.acmStreamPrepareHeader(h, &hdr, 0), MMSYSERR_NOERROR);
    hdr.cbSrcLength = 8192;
    EXPECT_EQ(acm.acmStreamConvert(h, &hdr, 0), MMSYSERR_INVALPARAM);
    hdr.cbSrcLength = 2047;
    EXPECT_EQ(acm.acmStreamConvert(h, &hdr, ACM_STREAMCONVERTF_BLOCKALIGN), MMSYSERR_NOERROR);
    EXPECT_EQ(hdr.cbSrcLengthUsed, 0u);
    EXPECT_EQ(hdr.cbDstLengthUsed, 0u);
    EXPECT_EQ(acm.acmStreamUnprepareHeader(h, &hdr, 0), MMSYSERR_INVALPARAM);
    hdr.cbSrcLength = 4096;
    EXPECT_EQ(acm.acmStreamUnprepareHeader(h, &hdr, 0), MMSYSERR_NOERROR);
    EXPECT_EQ(acm.acmStreamClose(h, 0), MMSYSERR_NOERROR);
    DWORD out = 0;
    EXPECT_EQ(acm.acmStreamSize(nullptr, 4096, &out, 0), MMSYSERR_INVALHANDLE);
}

} // namespace
