#include "AudioTestUtil.h"
#include "TestUtil.h"
#include "audio/MSAdpcm.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace audiotest;

namespace {

constexpr int kRate = 44100;

std::vector<std::int16_t> ourDecode(const std::vector<std::uint8_t> &blocks,
                                    msadpcm::Rounding r = msadpcm::Rounding::Floor)
{
    auto fmt = msadpcm::answerFormat();
    msadpcm::Decoder dec(msadpcm::parseFormat(fmt.get()), r);
    return dec.decode(blocks);
}

} // namespace

TEST(MSAdpcmTest, AnswerFormatIsTheFiftyByteRecord)
{
    auto f = msadpcm::answerFormat();
    const std::string b = waveFormatBytes(f.get());
    ASSERT_EQ(b.size(), 50u);
    EXPECT_EQ(le16(b, 0), 2);
    EXPECT_EQ(le16(b, 2), 2);
    EXPECT_EQ(le32(b, 4), 44100u);
    EXPECT_EQ(le32(b, 8), 44359u);
    EXPECT_EQ(le16(b, 12), 2048);
    EXPECT_EQ(le16(b, 14), 4);
    EXPECT_EQ(le16(b, 16), 32);
    EXPECT_EQ(le16(b, 18), 2036);
    EXPECT_EQ(le16(b, 20), 7);
    const int coefs[14] = {256, 0, 512, -256, 0, 0, 192, 64, 240, 0, 460, -208, 392, -232};
    for (int i = 0; i < 14; ++i)
        EXPECT_EQ(static_cast<std::int16_t>(le16(b, 22 + 2 * i)), coefs[i]) << i;
}

TEST(MSAdpcmTest, BlockLayoutFollowsBlockAlignAndChannels)
{
    EXPECT_EQ(msadpcm::samplesPerBlock(2048, 2), 2036);
    EXPECT_EQ(msadpcm::samplesPerBlock(256, 1), 500);
    EXPECT_EQ(msadpcm::samplesPerBlock(1024, 2), 1012);
    EXPECT_EQ(msadpcm::samplesPerBlock(10, 2), 0);
    auto mono = msadpcm::makeFormat(22050, 1, 512);
    EXPECT_EQ(mono->nAvgBytesPerSec, 22050u * 512 / 1012);
}

TEST(MSAdpcmTest, KnownSignalsComeBackWithinTheCodecsError)
{
    for (int channels : {1, 2}) {
        for (int align : {256, 512, 2048}) {
            const auto pcm = chirp(kRate, kRate, channels);
            const auto blocks = msadpcm::encode(pcm, channels, align);
            auto fmt = msadpcm::makeFormat(kRate, static_cast<std::uint16_t>(channels),
                                           static_cast<std::uint16_t>(align));
            msadpcm::Decoder dec(msadpcm::parseFormat(fmt.get()));
            const auto back = dec.decode(blocks);
            ASSERT_GE(back.size(), pcm.size());
            EXPECT_GT(snrDb(pcm, back), 30.0) << channels << " ch, block " << align;
            // The verbatim first two frames of every block are exact.
            const int spb = msadpcm::samplesPerBlock(align, channels);
            EXPECT_EQ(back[spb * channels], pcm[spb * channels]);
        }
    }
}

TEST(MSAdpcmTest, QualityHoldsThroughBothKindsOfDecoder)
{
    // The encoder weighs its choices through a shifting and a dividing
    // decoder; neither may hear much more noise than the other.
    const auto pcm = musicLike(kRate, kRate, 2);
    const auto blocks = msadpcm::encode(pcm, 2, 2048);
    const double floorDb = snrDb(pcm, ourDecode(blocks, msadpcm::Rounding::Floor));
    const double zeroDb = snrDb(pcm, ourDecode(blocks, msadpcm::Rounding::TowardZero));
    EXPECT_GT(floorDb, 25.0);
    EXPECT_NEAR(floorDb, zeroDb, 0.5);
}

TEST(MSAdpcmTest, SoxAndFfmpegDecodeOurFilesToOurSamples)
{
    testutil::TempDir tmp;
    const auto pcm = musicLike(kRate / 2, kRate, 2);
    const auto blocks = msadpcm::encode(pcm, 2, 2048);
    auto fmt = msadpcm::answerFormat();
    const auto file = tmp.path() / "ours.wav";
    writeWave(file, fmt.get(), blocks.data(), blocks.size());
    const auto oursFloor = ourDecode(blocks, msadpcm::Rounding::Floor);
    const auto oursZero = ourDecode(blocks, msadpcm::Rounding::TowardZero);
    const auto sox = decodeWithSox(file, tmp.path());
    const auto ff = decodeWithFfmpeg(file, tmp.path());
    ASSERT_FALSE(sox.empty());
    ASSERT_FALSE(ff.empty());
    // The fact chunk may trim the last block's padding in one tool or the
    // other; every sample both give must agree.
    const std::size_t n = pcm.size();
    ASSERT_GE(sox.size(), n);
    ASSERT_GE(ff.size(), n);
    // sox shifts the prediction, ffmpeg (and so the player) divides it.
    EXPECT_TRUE(std::equal(oursFloor.begin(), oursFloor.begin() + n, sox.begin()));
    EXPECT_TRUE(std::equal(oursZero.begin(), oursZero.begin() + n, ff.begin()));
}

TEST(MSAdpcmTest, AtLeastAsGoodAsSoxOnSpeechAndMusic)
{
    testutil::TempDir tmp;
    struct Case {
        const char *name;
        std::vector<std::int16_t> pcm;
    };
    std::vector<Case> cases;
    cases.push_back({"speech", speech(tmp.path(), kRate, 2)});
    cases.push_back({"music", musicLike(kRate * 2, kRate, 2)});
    ASSERT_FALSE(cases[0].pcm.empty()) << "espeak-ng or sox failed";
    for (const Case &c : cases) {
        const auto src = tmp.path() / "src.wav";
        writePcmWave(src, c.pcm, kRate, 2);
        const auto soxFile = tmp.path() / "sox_adpcm.wav";
        ASSERT_EQ(testutil::run("sox -q '" + src.string() + "' -e ms-adpcm '" + soxFile.string() + "'"), 0);
        const auto soxBySox = decodeWithSox(soxFile, tmp.path());
        const auto soxByFf = decodeWithFfmpeg(soxFile, tmp.path());

        const auto blocks = msadpcm::encode(c.pcm, 2, 2048);
        // Each decoder hears ours at least as well as it hears sox's.
        const double soxDb = snrDb(c.pcm, soxBySox);
        const double ffDb = snrDb(c.pcm, soxByFf);
        EXPECT_GE(snrDb(c.pcm, ourDecode(blocks, msadpcm::Rounding::Floor)), soxDb) << c.name;
        EXPECT_GE(snrDb(c.pcm, ourDecode(blocks, msadpcm::Rounding::TowardZero)), ffDb) << c.name;
    }
}

TEST(MSAdpcmTest, BadFormatsAndBlocksAreRefused)
{
    using msadpcm::FormatError;
    EXPECT_THROW((void)msadpcm::parseFormat(nullptr), FormatError);
    auto f = msadpcm::answerFormat();
    std::string bytes = waveFormatBytes(f.get());

    auto parsed = [&](const std::string &b) {
        auto w = waveFormatFromBytes(b.data(), b.size());
        return msadpcm::parseFormat(w.get());
    };
    std::string b = bytes;
    b[18] = static_cast<char>(0xFF); b[19] = 0x7F; // samples per block beyond the block
    EXPECT_THROW((void)parsed(b), FormatError);
    b = bytes;
    b[20] = 9; // more coefficients than the record holds
    EXPECT_THROW((void)parsed(b), FormatError);
    b = bytes;
    b[2] = 0; // no channels
    EXPECT_THROW((void)parsed(b), FormatError);
    b = bytes;
    b[12] = 4; b[13] = 0; // block smaller than its headers
    EXPECT_THROW((void)parsed(b), FormatError);
    b = bytes;
    b[0] = 1;
    EXPECT_THROW((void)parsed(b), FormatError);

    msadpcm::Decoder dec(msadpcm::parseFormat(f.get()));
    std::vector<std::int16_t> out(2036 * 2);
    std::vector<std::uint8_t> block(2048, 0);
    block[1] = 7; // predictor index past the table
    EXPECT_EQ(dec.decodeBlock(block, out.data()), -1);
    EXPECT_EQ(dec.decodeBlock(std::span(block).first(13), out.data()), -1);
    block[1] = 0;
    // Hostile step sizes and a short last block decode without harm.
    block[2] = 0xFF; block[3] = 0x7F; block[4] = 0xFF; block[5] = 0x7F;
    std::memset(block.data() + 14, 0x77, 2034);
    EXPECT_EQ(dec.decodeBlock(block, out.data()), 2036);
    EXPECT_EQ(dec.decodeBlock(std::span(block).first(100), out.data()), 2 + 86);
}
