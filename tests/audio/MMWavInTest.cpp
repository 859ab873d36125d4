#include "TestUtil.h"
#include "audio/FakeWaveInDevice.h"
#include "audio/MMWavIn.h"
#include "audio/MSAdpcm.h"
#include "platform/Messages.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include <sys/resource.h>
#include <unistd.h>

namespace {

// Counts what reaches the end of the chain.
class Sink : public TMMDSPComponent
{
public:
    Sink()
    {
        m_publishesInput = true;
        m_publishesOutput = true;
    }
    void BufferReady(PWaveHdr h) override
    {
        ++buffers;
        bytes += h->dwBytesRecorded;
        data.insert(data.end(), h->lpData, h->lpData + h->dwBytesRecorded);
        threads.push_back(QThread::currentThread());
        if (onBuffer)
            onBuffer(h);
        TMMDSPComponent::BufferReady(h);
    }
    int buffers = 0;
    std::uint64_t bytes = 0;
    std::vector<std::uint8_t> data;
    std::vector<QThread *> threads;
    std::function<void(PWaveHdr)> onBuffer;
};

std::string errorOf(const std::function<void()> &fn)
{
    try {
        fn();
    } catch (const EMMWaveInError &e) {
        return e.what();
    }
    return "(no error)";
}

void pumpMessages()
{
    for (int i = 0; i < 5; ++i)
        platform::ProcessMessages();
}

class MMWavInTest : public ::testing::Test
{
protected:
    void SetUp() override { testutil::clearShown(); }
    FakeWaveInDevice dev{2};
    ScopedWaveInDevice scope{dev};
};

} // namespace

TEST_F(MMWavInTest, PropertySettersClampAndIgnore)
{
    TMMWaveIn w;
    EXPECT_EQ(w.NumBuffers(), 10);
    w.SetNumBuffers(1);
    w.SetNumBuffers(0);
    EXPECT_EQ(w.NumBuffers(), 10);
    w.SetNumBuffers(600);
    EXPECT_EQ(w.NumBuffers(), 500);

    w.SetSampleRate(200000);
    EXPECT_EQ(w.SampleRate(), 100000);
    w.SetSampleRate(1000);
    EXPECT_EQ(w.SampleRate(), 8000);
    EXPECT_EQ(w.PWaveFormat()->nSamplesPerSec, 8000u) << "the rate rebuilds the format";

    w.SetMode(mStereo);
    w.SetBitLength(b16Bit);
    const TWaveFormatEx *f = w.PWaveFormat();
    EXPECT_EQ(f->nChannels, 2);
    EXPECT_EQ(f->wBitsPerSample, 16);
    EXPECT_EQ(f->nBlockAlign, 4);
    EXPECT_EQ(f->nAvgBytesPerSec, 32000u);

    // A non-PCM format is kept as it is and leaves the PCM settings alone.
    auto adpcm = msadpcm::answerFormat();
    w.SetPWaveFormat(adpcm.get());
    EXPECT_EQ(w.SampleRate(), 8000);
    EXPECT_EQ(w.Mode(), mStereo);
    EXPECT_TRUE(sameWaveFormat(w.PWaveFormat(), adpcm.get()));

    w.SetBufferSize(10);
    EXPECT_EQ(w.BufferSize(), 32);
    w.Open();
    EXPECT_EQ(w.BufferSize(), 2048) << "whole blocks once opened";
    w.Close();
}

TEST_F(MMWavInTest, SettersAreRefusedWhileOpen)
{
    TMMWaveIn w;
    int errors = 0;
    w.OnError = [&](TMMComponent *) { ++errors; };
    w.Open();
    const std::string refused = "Change to property while device was open";
    EXPECT_EQ(errorOf([&] { w.SetNumBuffers(20); }), refused);
    EXPECT_EQ(errorOf([&] { w.SetSampleRate(22050); }), refused);
    EXPECT_EQ(errorOf([&] { w.SetMode(mStereo); }), refused);
    EXPECT_EQ(errorOf([&] { w.SetBitLength(b16Bit); }), refused);
    EXPECT_EQ(errorOf([&] { w.SetBufferSize(4096); }), refused);
    EXPECT_EQ(errorOf([&] { w.SetDeviceID(1); }), refused);
    EXPECT_EQ(errors, 6);
    EXPECT_EQ(errorOf([&] { w.SetNumBuffers(10); }), "(no error)") << "an unchanged value is ignored first";
    w.Close();
    EXPECT_EQ(w.State(), wsClosed);
    w.SetNumBuffers(20);
    EXPECT_EQ(w.NumBuffers(), 20);
}

TEST_F(MMWavInTest, DeviceNumbersAndTheirErrors)
{
    TMMWaveIn w;
    EXPECT_EQ(w.DeviceCount(), 2);
    EXPECT_EQ(w.ProductName(), "Fake Microphone 1");
    w.SetDeviceID(5);
    EXPECT_EQ(w.DeviceID(), InvalidId);
    EXPECT_EQ(w.ProductName(), "No wave audio recording device found");
    EXPECT_EQ(errorOf([&] { w.Open(); }), "Invalid DeviceID");
    w.SetDeviceID(-7);
    EXPECT_EQ(w.DeviceID(), InvalidId);
    w.SetDeviceID(MapperId);
    EXPECT_EQ(w.DeviceID(), MapperId);
    EXPECT_EQ(w.ProductName(), "Fake Sound Mapper");
    w.Open();
    EXPECT_EQ(dev.openedId(), MapperId);
    w.Close();

    FakeWaveInDevice none(0);
    ScopedWaveInDevice noScope(none);
    TMMWaveIn lonely;
    lonely.SetDeviceID(MapperId);
    EXPECT_EQ(lonely.DeviceID(), MapperId) << "the mapper stays even without devices";
    EXPECT_EQ(errorOf([&] { lonely.Open(); }), "No wave audio recording device found");
    EXPECT_EQ(errorOf([&] { lonely.Start(); }), "No wave audio recording device found");
    EXPECT_EQ(lonely.State(), wsClosed);
}

TEST_F(MMWavInTest, OpenFailuresCloseAgainWithTheDescribedTexts)
{
    TMMWaveIn w;
    Sink sink;
    w.SetOutput(&sink);
    dev.acceptFormat = [](TMMDeviceId, const TWaveFormatEx *) { return false; };
    EXPECT_EQ(errorOf([&] { w.Open(); }), "WaveInOpen:\n\rThe actual device can''t record this format");
    EXPECT_EQ(w.State(), wsClosed);
    EXPECT_FALSE(dev.isOpen());

    dev.acceptFormat = [](TMMDeviceId, const TWaveFormatEx *) { return true; };
    dev.failNext("waveInOpen", MMSYSERR_ALLOCATED);
    EXPECT_EQ(errorOf([&] { w.Open(); }), "WaveInOpen:\n\rThe specified device is already in use.");
    EXPECT_EQ(w.State(), wsClosed);

    dev.failNext("waveInStart", 0x77);
    EXPECT_EQ(errorOf([&] { w.Start(); }), "WaveInStart:\n\rSpecified error number is out of range (unknown error)");
    EXPECT_EQ(w.State(), wsClosed);
    EXPECT_FALSE(dev.isOpen()) << "a failed start closes the device";
    EXPECT_FALSE(sink.IsOpened()) << "and the chain";

    dev.errorTexts[0x1234] = "Device unplugged";
    dev.failNext("waveInAddBuffer", 0x1234);
    EXPECT_EQ(errorOf([&] { w.Start(); }), "WaveInAddBuffer:\n\rDevice unplugged");
    EXPECT_FALSE(dev.isOpen());

    // A device that never confirms the open gives up after about a second.
    dev.sendOpenMessage = false;
    EXPECT_EQ(errorOf([&] { w.Open(); }), "WaveInOpen:\n\rUnable to open device");
    EXPECT_EQ(w.State(), wsClosed);
    dev.sendOpenMessage = true;
    w.Start();
    EXPECT_EQ(w.State(), wsOpen | wsRecording) << "nothing is left stuck";
    w.Close();
}

TEST_F(MMWavInTest, StateMachineIgnoresRepeatedCalls)
{
    TMMWaveIn w;
    Sink sink;
    w.SetOutput(&sink);
    int starts = 0, stops = 0, opens = 0, closes = 0;
    w.OnStart = [&](TMMComponent *) { ++starts; };
    w.OnStop = [&](TMMComponent *) { ++stops; };
    w.OnOpen = [&](TMMComponent *) { ++opens; };
    w.OnClose = [&](TMMComponent *) { ++closes; };

    w.Close();
    EXPECT_EQ(closes, 0);
    w.Open();
    w.Stop();
    EXPECT_EQ(stops, 0) << "stop on an open, idle device does nothing";
    w.Start();
    w.Start();
    EXPECT_EQ(starts, 1);
    EXPECT_EQ(dev.queuedBuffers(), 10u);
    EXPECT_TRUE(sink.IsStarted());
    w.Stop();
    w.Stop();
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(w.State(), wsOpen);
    EXPECT_FALSE(sink.IsStarted());
    w.Close();
    w.Close();
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(w.State(), wsClosed);
    EXPECT_FALSE(sink.IsOpened());
}

TEST_F(MMWavInTest, BuffersTravelInOrderAndAreQueuedAgain)
{
    TMMWaveIn w;
    Sink sink;
    w.SetOutput(&sink);
    w.SetBufferSize(1000);
    w.SetNumBuffers(4);
    w.Start();
    EXPECT_EQ(dev.deliverBuffers(9), 4) << "only the queued buffers can be filled";
    EXPECT_EQ(sink.buffers, 0) << "cmWindow hands buffers over from the message loop";
    pumpMessages();
    EXPECT_EQ(sink.buffers, 4);
    EXPECT_EQ(dev.deliverBuffers(4), 4);
    pumpMessages();
    EXPECT_EQ(dev.deliverBuffers(1), 1);
    pumpMessages();
    EXPECT_EQ(sink.buffers, 9);
    EXPECT_EQ(sink.data, FakeWaveInDevice::pattern(0, 9000));
    EXPECT_EQ(w.TotalBytes(), 9000);
    EXPECT_EQ(w.Queued(), 4);
    EXPECT_EQ(sink.threads.front(), QCoreApplication::instance()->thread());

    // Stopping drops what the device returns: it holds no complete buffer.
    dev.deliver(FakeWaveInDevice::pattern(9000, 500));
    w.Stop();
    EXPECT_EQ(sink.buffers, 9);
    EXPECT_EQ(w.Queued(), 0);
    w.Close();
}

TEST_F(MMWavInTest, TimeLimitStopsAtTheEleventhBuffer)
{
    TMMWaveIn w;
    Sink sink;
    w.SetOutput(&sink);
    auto adpcm = msadpcm::answerFormat();
    w.SetPWaveFormat(adpcm.get());
    w.SetBufferSize(4096);
    w.SetTimeFormat(tfMillisecond);
    w.SetMaxRecordTime(1000);
    EXPECT_EQ(w.MaxBytes(), 45056) << "44359 bytes raised to 22 whole blocks";
    w.Start();
    dev.deliverBuffers(10);
    pumpMessages();
    EXPECT_EQ(w.State() & wsRecording, wsRecording);
    dev.deliverBuffers(1);
    pumpMessages();
    EXPECT_EQ(w.State(), wsOpen);
    EXPECT_EQ(sink.bytes, 45056u);
    EXPECT_EQ(sink.buffers, 11);
    EXPECT_EQ(dev.deliverBuffers(1), 0) << "capture has stopped";
    w.Close();

    // The limit expressed in the other units.
    w.SetTimeFormat(tfByte);
    EXPECT_EQ(w.MaxRecordTime(), 45056);
    w.SetTimeFormat(tfSample);
    EXPECT_EQ(w.MaxRecordTime(), 44793); // 45056 * 44100 / 44359
}

TEST_F(MMWavInTest, TimeLimitShortensTheCrossingBuffer)
{
    TMMWaveIn w;
    Sink sink;
    w.SetOutput(&sink);
    w.SetMode(mStereo);
    w.SetBitLength(b16Bit);
    w.SetSampleRate(44100);
    w.SetBufferSize(10000);
    w.SetTimeFormat(tfMillisecond);
    w.SetMaxRecordTime(1000);
    EXPECT_EQ(w.MaxBytes(), 176400);
    w.Start();
    for (int i = 0; i < 30 && (w.State() & wsRecording); ++i) {
        dev.deliverBuffers(1);
        pumpMessages();
    }
    EXPECT_EQ(sink.bytes, 176400u);
    EXPECT_EQ(sink.buffers, 18);
    EXPECT_FALSE(w.State() & wsRecording);
    w.Close();
}

TEST_F(MMWavInTest, StopFromInsideAHandOverCompletesLater)
{
    TMMWaveIn w;
    Sink sink;
    w.SetOutput(&sink);
    w.SetNumBuffers(3);
    int stops = 0;
    w.OnStop = [&](TMMComponent *) { ++stops; };
    sink.onBuffer = [&](PWaveHdr) {
        if (sink.buffers == 2) {
            w.Stop();
            EXPECT_TRUE(w.State() & wsRecording) << "deferred while the buffer is handed over";
        }
    };
    w.Start();
    dev.deliverBuffers(2);
    pumpMessages();
    EXPECT_EQ(stops, 1);
    EXPECT_FALSE(w.State() & wsRecording);
    EXPECT_EQ(w.Queued(), 0);
    EXPECT_EQ(sink.buffers, 2);

    // Close asked for while the stop is pending waits for it.
    w.Start();
    sink.buffers = 0;
    sink.onBuffer = [&](PWaveHdr) {
        w.Stop();
        w.Close();
        EXPECT_TRUE(w.State() & wsOpen);
    };
    dev.deliverBuffers(1);
    pumpMessages();
    EXPECT_EQ(w.State(), wsClosed);
    EXPECT_FALSE(dev.isOpen());
}

TEST_F(MMWavInTest, ErrorInAHandOverClosesAndIsShown)
{
    TMMWaveIn w;
    Sink sink;
    w.SetOutput(&sink);
    sink.onBuffer = [&](PWaveHdr) { throw std::runtime_error("Disk trouble"); };
    w.Start();
    dev.deliverBuffers(1);
    pumpMessages();
    EXPECT_EQ(w.State(), wsClosed);
    EXPECT_FALSE(dev.isOpen());
    ASSERT_EQ(testutil::shownErrors().size(), 1u);
    EXPECT_EQ(testutil::shownErrors()[0].text, "Disk trouble.");
}

TEST_F(MMWavInTest, CallbackModeIsRefusedWithAMessage)
{
    TMMWaveIn w;
    w.SetCallBackMode(cmCallback);
    EXPECT_EQ(w.CallBackMode(), cmWindow);
    ASSERT_EQ(testutil::shownMessages().size(), 1u);
    EXPECT_EQ(testutil::shownMessages()[0].caption, "TMMWaveIn");
    EXPECT_EQ(testutil::shownMessages()[0].text,
              "\"CallBacks\" are called at interrupt time !\n\rThis is currently only supported under Windows 95");
    w.SetCallBackMode(cmThread);
    EXPECT_EQ(w.CallBackMode(), cmThread);
}

TEST_F(MMWavInTest, ThreadModeHandsBuffersOverOnItsWorker)
{
    TMMWaveIn w;
    Sink sink;
    w.SetOutput(&sink);
    w.SetCallBackMode(cmThread);
    w.SetBufferSize(512);
    // Priorities become nice values; lowering is always allowed.
    w.SetPriority(tpLowest);
    std::atomic<int> niceSeen{-100};
    sink.onBuffer = [&](PWaveHdr) { niceSeen = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid())); };
    w.Start();
    EXPECT_EQ(DSPThreadCount(), 1u);
    // The device's own thread reports the buffers.
    std::thread device([&] { dev.deliverBuffers(6); });
    device.join();
    for (int i = 0; i < 5000 && w.TotalBytes() < 3072; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    w.Stop();
    w.Close();
    EXPECT_EQ(sink.bytes, 3072u);
    EXPECT_EQ(sink.data, FakeWaveInDevice::pattern(0, 3072));
    for (QThread *t : sink.threads)
        EXPECT_NE(t, QCoreApplication::instance()->thread());
    EXPECT_EQ(DSPThreadCount(), 0u);
    EXPECT_EQ(niceSeen.load(), 10);
}

TEST_F(MMWavInTest, BufferBlocksAreKeptAcrossOpens)
{
    TMMWaveIn w;
    w.SetBufferSize(1024);
    w.Open();
    w.Close();
    w.Open();
    w.Close();
    EXPECT_EQ(w.PoolBlocks(), 10u);
    w.SetNumBuffers(12);
    w.Open();
    w.Close();
    EXPECT_EQ(w.PoolBlocks(), 12u);
    w.SetBufferSize(2048);
    EXPECT_EQ(w.PoolBlocks(), 0u) << "a new size frees the old blocks";
    w.Open();
    EXPECT_EQ(w.PoolBlocks(), 12u);
    w.Close();
}
