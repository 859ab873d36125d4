#include "AudioTestUtil.h"
#include "TestUtil.h"
#include "audio/FakeWaveInDevice.h"
#include "audio/MMWRec.h"
#include "audio/MSAdpcm.h"
#include "platform/Messages.h"

#include <QLocale>

#include <gtest/gtest.h>

#include <filesystem>

using namespace audiotest;
namespace fs = std::filesystem;

namespace {

void pumpMessages()
{
    for (int i = 0; i < 5; ++i)
        platform::ProcessMessages();
}

std::string errorOf(const std::function<void()> &fn)
{
    try {
        fn();
    } catch (const std::exception &e) {
        return e.what();
    }
    return "(no error)";
}

// Stands for the connector: the recorder's Output.
class Tail : public TMMDSPComponent
{
public:
    Tail()
    {
        m_publishesInput = true;
    }
    void BufferReady(PWaveHdr h) override
    {
        bytes += h->dwBytesRecorded;
        TMMDSPComponent::BufferReady(h);
    }
    std::uint64_t bytes = 0;
};

class MMWRecTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testutil::clearShown();
        fs::create_directories(home.driveC() / "recording");
        recorder.ApplyAnswerLayout();
    }
    void TearDown() override { setFreeSpaceQuery(nullptr); }

    // Delivers whole 4096-byte buffers, letting the message loop hand each
    // round over before the next.
    void deliver(int buffers)
    {
        while (buffers > 0) {
            const int n = std::min(buffers, static_cast<int>(dev.queuedBuffers()));
            ASSERT_GT(n, 0);
            ASSERT_EQ(dev.deliverBuffers(n), n);
            pumpMessages();
            buffers -= n;
        }
    }

    fs::path answer(const char *name) const { return home.driveC() / "recording" / name; }

    testutil::TempDataHome home;
    FakeWaveInDevice dev{1};
    ScopedWaveInDevice scope{dev};
    TMMWaveRecorder recorder;
};

void checkLayout(const std::string &file, std::uint32_t n)
{
    const std::uint32_t p = n & 1;
    ASSERT_EQ(file.size(), 90u + n + p);
    EXPECT_EQ(file.substr(0, 4), "RIFF");
    EXPECT_EQ(le32(file, 4), file.size() - 8);
    EXPECT_EQ(file.substr(8, 8), "WAVEfmt ");
    EXPECT_EQ(le32(file, 16), 50u);
    auto fmt = msadpcm::answerFormat();
    EXPECT_EQ(file.substr(20, 50), waveFormatBytes(fmt.get()));
    EXPECT_EQ(file.substr(70, 4), "data");
    EXPECT_EQ(le32(file, 74), n);
    EXPECT_EQ(file.substr(78 + n + p, 4), "fact");
    EXPECT_EQ(le32(file, 82 + n + p), 4u);
    const std::uint64_t samples = (std::uint64_t(n) * 44100 * 2 + 44359) / (2 * 44359);
    EXPECT_EQ(le32(file, 86 + n + p), samples);
}

} // namespace

TEST_F(MMWRecTest, LayoutSettingsRecordAdpcmFromTheMapper)
{
    EXPECT_EQ(recorder.BufferSize(), 4096);
    EXPECT_EQ(recorder.NumBuffers(), 20);
    EXPECT_EQ(recorder.DeviceID(), MapperId);
    EXPECT_EQ(recorder.Mode(), mStereo);
    EXPECT_EQ(recorder.SampleRate(), 44100);
    EXPECT_EQ(recorder.Wave()->TimeFormat(), tfMillisecond);
    EXPECT_EQ(recorder.WaveFormatEx().size(), 50u);
    ASSERT_NE(recorder.PWaveFormat(), nullptr);
    EXPECT_EQ(recorder.PWaveFormat()->wFormatTag, WAVE_FORMAT_ADPCM);
    EXPECT_EQ(recorder.WaveIn()->PWaveFormat()->nBlockAlign, 2048);
    const QString dec = QLocale::system().decimalPoint();
    EXPECT_EQ(recorder.InputFormat(), "Microsoft ADPCM 44" + dec + "100 kHz, 4 Bit, Stereo");

    Tail tail;
    recorder.SetOutput(&tail);
    EXPECT_EQ(tail.PWaveFormat()->wFormatTag, WAVE_FORMAT_ADPCM) << "the format reaches the connector";
    tail.SetInput(&recorder);
    EXPECT_EQ(recorder.Output(), &tail);

    recorder.SetInputFormat("PCM");
    ASSERT_EQ(testutil::shownMessages().size(), 1u);
    EXPECT_EQ(testutil::shownMessages()[0].text, "This is a read-only property, please use SelectFormat.");
    EXPECT_EQ(recorder.PWaveFormat()->wFormatTag, WAVE_FORMAT_ADPCM);

    TMMWaveRecorder pcm;
    EXPECT_EQ(pcm.WaveFormatEx(), "") << "no layout value for PCM";
}

TEST_F(MMWRecTest, NoBufferGivesA94ByteFile)
{
    recorder.Wave()->SetFileName("c:\\recording\\empty.wav");
    recorder.Start();
    EXPECT_TRUE(recorder.State() & wsRecording);
    EXPECT_TRUE(fs::exists(answer("empty.wav"))) << "the file exists from the start";
    recorder.Stop();
    EXPECT_EQ(recorder.State(), wsClosed);
    const std::string file = testutil::readFile(answer("empty.wav"));
    checkLayout(file, 4);
    EXPECT_EQ(file.substr(78, 4), std::string(4, '\0'));
    EXPECT_EQ(file.size(), 94u);
}

TEST_F(MMWRecTest, TenBuffersGiveFactValue40721)
{
    Tail tail;
    recorder.SetOutput(&tail);
    int data = 0, starts = 0, stops = 0;
    recorder.OnData = [&](TMMComponent *s, PWaveHdr) {
        EXPECT_EQ(s, &recorder);
        ++data;
    };
    recorder.OnStart = [&](TMMComponent *) { ++starts; };
    recorder.OnStop = [&](TMMComponent *) {
        ++stops;
        EXPECT_FALSE(recorder.WaveFile()->FileOpen()) << "OnStop comes after the file is closed";
    };
    recorder.Wave()->SetFileName("c:\\recording\\a1.wav");
    recorder.Start();
    recorder.Start();
    deliver(10);
    // A partly filled buffer is lost at stop, as the device returns it.
    dev.deliver(FakeWaveInDevice::pattern(40960, 1000));
    recorder.Stop();
    recorder.Stop();
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(data, 10);
    EXPECT_EQ(tail.bytes, 40960u);

    const std::string file = testutil::readFile(answer("a1.wav"));
    EXPECT_EQ(file.size(), 41050u);
    checkLayout(file, 40960);
    EXPECT_EQ(le32(file, 86 + 40960), 40721u);
    const auto expected = FakeWaveInDevice::pattern(0, 40960);
    EXPECT_EQ(file.substr(78, 40960), std::string(expected.begin(), expected.end()));
    EXPECT_EQ(recorder.Wave()->FileSize(), 41050);
    EXPECT_EQ(recorder.Wave()->DataSize(), 923) << "40721 samples in milliseconds";
}

TEST_F(MMWRecTest, KnownSignalDecodesBackThroughSoxAndFfmpeg)
{
    // The device delivers what the wave mapper would: ADPCM blocks of a
    // known signal.
    const int frames = 2036 * 24;
    const auto pcm = chirp(frames, 44100, 2);
    const auto blocks = msadpcm::encode(pcm, 2, 2048);
    ASSERT_EQ(blocks.size(), 24u * 2048);
    recorder.Wave()->SetFileName("c:\\recording\\signal.wav");
    recorder.Start();
    for (std::size_t off = 0; off < blocks.size(); off += 4096) {
        dev.deliver(blocks.data() + off, 4096);
        pumpMessages();
    }
    recorder.Stop();
    const fs::path file = answer("signal.wav");
    auto fmt = msadpcm::answerFormat();
    const std::string bytes = testutil::readFile(file);
    const std::vector<std::uint8_t> stored(bytes.begin() + 78, bytes.begin() + 78 + 24 * 2048);
    EXPECT_EQ(stored, blocks);

    msadpcm::Decoder floorDec(msadpcm::parseFormat(fmt.get()), msadpcm::Rounding::Floor);
    msadpcm::Decoder zeroDec(msadpcm::parseFormat(fmt.get()), msadpcm::Rounding::TowardZero);
    const auto ours = floorDec.decode(stored);
    EXPECT_GT(snrDb(pcm, ours), 30.0);
    testutil::TempDir tmp;
    const auto sox = decodeWithSox(file, tmp.path());
    const auto ff = decodeWithFfmpeg(file, tmp.path());
    ASSERT_EQ(sox.size(), pcm.size());
    ASSERT_EQ(ff.size(), pcm.size());
    EXPECT_EQ(sox, ours);
    EXPECT_EQ(ff, zeroDec.decode(stored));
}

TEST_F(MMWRecTest, StartingOverAFinishedRecordingReplacesIt)
{
    recorder.Wave()->SetFileName("c:\\recording\\again.wav");
    recorder.Start();
    deliver(3);
    recorder.Stop();
    EXPECT_EQ(fs::file_size(answer("again.wav")), 90u + 3 * 4096);

    // The name of a finished recording reads its header; Start replaces it.
    TMMWaveRecorder other;
    other.ApplyAnswerLayout();
    other.Wave()->SetFileName("c:\\recording\\again.wav");
    EXPECT_EQ(other.Wave()->FormatTag(), WAVE_FORMAT_ADPCM);
    EXPECT_EQ(other.Wave()->DataSize(), wioSamplesToTime(recorder.Wave()->PWaveFormat(), 12217));
    other.Start();
    deliver(1);
    other.Stop();
    const std::string file = testutil::readFile(answer("again.wav"));
    checkLayout(file, 4096);
}

TEST_F(MMWRecTest, NearlyFullDiskStopsQuietlyWithACompleteFile)
{
    std::uintmax_t free = 47103;
    setFreeSpaceQuery([&](const fs::path &) { return free; });
    int stops = 0;
    recorder.OnStop = [&](TMMComponent *) { ++stops; };
    recorder.Wave()->SetFileName("c:\\recording\\full.wav");
    recorder.Start();
    deliver(1);
    pumpMessages();
    EXPECT_EQ(recorder.State(), wsClosed);
    EXPECT_EQ(stops, 1);
    EXPECT_TRUE(testutil::shownErrors().empty());
    const std::string file = testutil::readFile(answer("full.wav"));
    checkLayout(file, 4);

    // Exactly enough room: IOBufferSize + buffer + 10240.
    free = 47104;
    recorder.Wave()->SetFileName("c:\\recording\\fits.wav");
    recorder.Start();
    deliver(2);
    recorder.Stop();
    checkLayout(testutil::readFile(answer("fits.wav")), 8192);
}

TEST_F(MMWRecTest, StartWithoutNameOrDeviceCreatesNothing)
{
    recorder.Start();
    EXPECT_EQ(recorder.State(), wsClosed) << "no file name: nothing happens";
    EXPECT_FALSE(dev.isOpen());

    FakeWaveInDevice none(0);
    ScopedWaveInDevice noScope(none);
    TMMWaveRecorder lonely;
    lonely.ApplyAnswerLayout();
    lonely.Wave()->SetFileName("c:\\recording\\x.wav");
    EXPECT_EQ(errorOf([&] { lonely.Start(); }), "No wave audio recording device found");
    EXPECT_FALSE(fs::exists(answer("x.wav")));
}

TEST_F(MMWRecTest, DeviceThatCannotRecordAdpcmCreatesNoFile)
{
    dev.acceptFormat = [](TMMDeviceId, const TWaveFormatEx *f) { return f->wFormatTag == WAVE_FORMAT_PCM; };
    recorder.Wave()->SetFileName("c:\\recording\\y.wav");
    EXPECT_EQ(errorOf([&] { recorder.Start(); }),
              "WaveInOpen:\n\rThe actual device can''t record this format");
    EXPECT_FALSE(fs::exists(answer("y.wav")));
    EXPECT_EQ(recorder.State(), wsClosed);
}

TEST_F(MMWRecTest, FileThatCannotBeCreatedClosesTheDevice)
{
    recorder.Wave()->SetFileName("c:\\nofolder\\z.wav");
    try {
        recorder.Start();
        FAIL() << "no error";
    } catch (const EMMWaveError &e) {
        EXPECT_STREQ(e.what(), "Unable to create wave file");
    }
    EXPECT_FALSE(dev.isOpen());
    EXPECT_EQ(recorder.State(), wsClosed);
    // The recorder recovers on the next answer.
    recorder.Wave()->SetFileName("c:\\recording\\z.wav");
    recorder.Start();
    deliver(1);
    recorder.Stop();
    checkLayout(testutil::readFile(answer("z.wav")), 4096);
}

TEST_F(MMWRecTest, FileNameOfABadFileIsRefusedAndKeepsThePrevious)
{
    testutil::writeFile(answer("junk.wav"), "this is not a wave file at all");
    EXPECT_EQ(errorOf([&] { recorder.Wave()->SetFileName("c:\\recording\\junk.wav"); }), "Invalid wave file...");
    EXPECT_TRUE(recorder.Wave()->FileName().isEmpty());

    recorder.Wave()->SetFileName("c:\\recording\\good.wav");
    recorder.Start();
    deliver(1);
    recorder.Stop();
    const QString good = recorder.Wave()->FileName();
    EXPECT_TRUE(good.endsWith("good.wav"));
    // A readable file is attached now: the other text.
    std::string riff = "RIFF\x10\0\0\0WAVEfmt \xff\xff\xff\x7f";
    testutil::writeFile(answer("bad.wav"), riff);
    EXPECT_EQ(errorOf([&] { recorder.Wave()->SetFileName("c:\\recording\\bad.wav"); }), "Error reading wave file");
    EXPECT_EQ(recorder.Wave()->FileName(), good);
    EXPECT_EQ(recorder.Wave()->FormatTag(), WAVE_FORMAT_ADPCM);
}

TEST_F(MMWRecTest, DamagedHeadersNeverCrashTheReader)
{
    // A finished answer, cut and bent in every way a reader can meet.
    recorder.Wave()->SetFileName("c:\\recording\\src.wav");
    recorder.Start();
    deliver(1);
    recorder.Stop();
    const std::string good = testutil::readFile(answer("src.wav"));
    std::vector<std::string> variants;
    for (std::size_t cut : {0, 4, 11, 12, 20, 40, 70, 77, 78, 1000})
        variants.push_back(good.substr(0, cut));
    for (std::size_t at : {4, 16, 74, 18 + 20, 20 + 20}) {
        std::string v = good;
        v[at] = '\xff';
        v[at + 1] = '\xff';
        v[at + 2] = '\xff';
        v[at + 3] = '\xff';
        variants.push_back(v);
    }
    int i = 0;
    for (const std::string &v : variants) {
        const std::string name = "damaged" + std::to_string(i++) + ".wav";
        testutil::writeFile(answer(name.c_str()), v);
        TMMWave w;
        try {
            w.SetFileName(QString::fromStdString(answer(name.c_str()).string()));
            // Accepted: whatever it reports must lie inside the file.
            EXPECT_LE(w.DataSize(), 1000000) << name;
        } catch (const EMMWaveError &e) {
            EXPECT_TRUE(std::string(e.what()) == "Invalid wave file..." || std::string(e.what()) == "Error reading wave file");
        }
    }
}

TEST_F(MMWRecTest, NewFileNameWhileRecordingStopsFirst)
{
    recorder.Wave()->SetFileName("c:\\recording\\first.wav");
    recorder.Start();
    deliver(2);
    int changes = 0;
    recorder.OnChange = [&](TMMComponent *) { ++changes; };
    recorder.Wave()->SetFileName("c:\\recording\\second.wav");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(recorder.State(), wsClosed);
    checkLayout(testutil::readFile(answer("first.wav")), 8192);
    EXPECT_FALSE(fs::exists(answer("second.wav")));
    recorder.Start();
    deliver(1);
    recorder.Stop();
    checkLayout(testutil::readFile(answer("second.wav")), 4096);
}

TEST_F(MMWRecTest, DestroyingWhileRecordingFinalisesTheFile)
{
    {
        TMMWaveRecorder r;
        r.ApplyAnswerLayout();
        r.Wave()->SetFileName("c:\\recording\\gone.wav");
        r.Start();
        deliver(2);
    }
    checkLayout(testutil::readFile(answer("gone.wav")), 8192);
    EXPECT_FALSE(dev.isOpen());
}
