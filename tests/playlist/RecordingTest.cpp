#include "RunnerFixture.h"
#include "audio/FakeWaveInDevice.h"
#include "audio/MMLevel.h"
#include "audio/WaveInDevice.h"
#include "platform/TTimer.h"

#include <gtest/gtest.h>

#include <cstring>

using manifest::Row;
using runner::Fixture;

namespace {

std::uint32_t le32(const std::string &b, std::size_t at)
{
    std::uint32_t v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

// Offset of a chunk's data in a RIFF file, or npos.
std::size_t findChunk(const std::string &b, const char *id)
{
    std::size_t at = 12;
    while (at + 8 <= b.size()) {
        if (b.compare(at, 4, id) == 0)
            return at + 8;
        at += 8 + le32(b, at + 4) + (le32(b, at + 4) & 1);
    }
    return std::string::npos;
}

std::string pcmWave(std::uint32_t dataBytes)
{
    std::string b;
    const auto put32 = [&b](std::uint32_t v) { b.append(reinterpret_cast<const char *>(&v), 4); };
    const auto put16 = [&b](std::uint16_t v) { b.append(reinterpret_cast<const char *>(&v), 2); };
    b += "RIFF";
    put32(36 + dataBytes);
    b += "WAVEfmt ";
    put32(16);
    put16(1);
    put16(2);
    put32(44100);
    put32(44100 * 4);
    put16(4);
    put16(16);
    b += "data";
    put32(dataBytes);
    b.append(dataBytes, '\0');
    return b;
}

} // namespace

TEST(RecordingTest, TheAnswerHoldsWhatWasCapturedWhileTheAudioPlayed)
{
    TForm2::resetRunValues();
    FakeWaveInDevice device;
    ScopedWaveInDevice scoped(device);
    Row first;
    first.itemId = "1";
    first.subItemId = "a";
    first.fileType = "2";
    first.filePath = "0.txt";
    Row answer = first;
    answer.fileType = "0";
    answer.filePath = "q.mp3";
    answer.playHint = "part1\\ans.wav";
    answer.font = "key.txt";
    Fixture f({first, answer, first}, false);
    setAnswerRecorderFactory(nullptr);
    std::filesystem::create_directories(f.home.driveC() / "recording" / "part1");
    // An earlier answer of the same name is overwritten.
    testutil::writeFile(f.home.driveC() / "recording" / "part1" / "ans.wav", pcmWave(100000));
    f.create();

    f.tick();
    EXPECT_TRUE(testutil::shownErrors().empty()) << testutil::shownErrors().front().text.toStdString();
    ASSERT_TRUE(device.isStarted());
    EXPECT_TRUE(f.form->WaveRecorder->recording());
    EXPECT_FALSE(f.form->mlvl1->isHidden());
    EXPECT_EQ(device.deliverBuffers(3), 3);
    Fixture::drain();
    f.finishAudio();
    EXPECT_FALSE(device.isOpen()) << "the audio's end stops the recording";
    EXPECT_FALSE(f.form->WaveRecorder->recording());
    EXPECT_TRUE(f.form->timer->Enabled());
    // Whatever the device might still deliver belongs to no answer.
    EXPECT_EQ(device.deliverBuffers(2), 0);
    Fixture::drain();

    const std::string bytes = testutil::readFile(f.home.driveC() / "recording" / "part1" / "ans.wav");
    ASSERT_GE(bytes.size(), 60u);
    EXPECT_EQ(bytes.compare(0, 4, "RIFF"), 0);
    EXPECT_EQ(bytes.compare(8, 4, "WAVE"), 0);
    EXPECT_EQ(le32(bytes, 4), bytes.size() - 8);
    const std::size_t fmt = findChunk(bytes, "fmt ");
    ASSERT_NE(fmt, std::string::npos);
    EXPECT_EQ(static_cast<unsigned char>(bytes[fmt]), 2) << "MS ADPCM";
    const std::size_t data = findChunk(bytes, "data");
    ASSERT_NE(data, std::string::npos);
    EXPECT_EQ(le32(bytes, data - 4), 3u * 4096u);
    const std::vector<std::uint8_t> expected = FakeWaveInDevice::pattern(0, 3 * 4096);
    EXPECT_EQ(std::memcmp(bytes.data() + data, expected.data(), expected.size()), 0);
}
