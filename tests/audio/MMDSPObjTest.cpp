#include "TestUtil.h"
#include "audio/MMDSPObj.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

std::vector<std::string> g_log;

// A passive member that publishes both links and logs its notifications.
class Member : public TMMDSPComponent
{
public:
    explicit Member(std::string name, bool input = true, bool output = true)
        : m_name(std::move(name))
    {
        m_publishesInput = input;
        m_publishesOutput = output;
    }
    void Opened() override
    {
        g_log.push_back(m_name + ".Opened(" + std::to_string(BufferSize()) + ")");
        TMMDSPComponent::Opened();
    }
    void Closed() override
    {
        g_log.push_back(m_name + ".Closed");
        TMMDSPComponent::Closed();
    }
    void Started() override
    {
        g_log.push_back(m_name + ".Started");
        TMMDSPComponent::Started();
    }
    void Stopped() override
    {
        ++stops;
        TMMDSPComponent::Stopped();
    }
    int stops = 0;
    std::string m_name;
};

class Sound : public TMMCustomSoundComponent
{
public:
    explicit Sound(std::string name)
        : m_name(std::move(name))
    {
        m_publishesInput = true;
        m_publishesOutput = true;
    }
    void Opened() override
    {
        g_log.push_back(m_name + ".Opened");
        TMMCustomSoundComponent::Opened();
    }
    void Closed() override
    {
        g_log.push_back(m_name + ".Closed");
        TMMCustomSoundComponent::Closed();
    }
    void SetNumBuffers(std::int32_t) override {}
    std::int32_t NumBuffers() const override { return 0; }
    void SetDeviceID(TMMDeviceId) override {}
    TMMDeviceId DeviceID() const override { return 0; }
    void SetProductName(const QString &) override {}
    QString ProductName() const override { return {}; }
    void SetCallBackMode(TMMCBMode) override {}
    TMMCBMode CallBackMode() const override { return cmWindow; }
    std::string m_name;
};

TWaveFormatEx pcm(std::uint32_t rate, std::uint16_t align = 4)
{
    TWaveFormatEx f;
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 2;
    f.nSamplesPerSec = rate;
    f.nBlockAlign = align;
    f.nAvgBytesPerSec = rate * align;
    f.wBitsPerSample = 16;
    f.cbSize = 7; // a PCM copy must drop it
    return f;
}

std::uint32_t rateOf(const TMMDSPComponent &c)
{
    return c.PWaveFormat() ? c.PWaveFormat()->nSamplesPerSec : 0;
}

} // namespace

TEST(MMDSPObjTest, RefusedLinksChangeNothing)
{
    Member a("a"), b("b"), c("c");
    a.SetOutput(&b);
    b.SetOutput(&c);
    QObject notAComponent;
    TMMComponent notAMember;

    a.SetInput(&a);
    a.SetInput(&notAMember);
    a.SetInput(&c); // c lies downstream of a: a loop
    c.SetOutput(&a);
    EXPECT_EQ(a.Input(), nullptr);
    EXPECT_EQ(a.Output(), &b);
    EXPECT_EQ(b.Output(), &c);
    EXPECT_EQ(c.Output(), nullptr);
    EXPECT_FALSE(a.CanConnectInput(&notAMember));

    // A member that publishes no Output cannot feed anybody unless it says
    // it provides output.
    Member sinkOnly("s", true, false);
    Member d("d");
    d.SetInput(&sinkOnly);
    EXPECT_EQ(d.Input(), nullptr);
    sinkOnly.ProvidesOutput = true;
    d.SetInput(&sinkOnly);
    EXPECT_EQ(d.Input(), &sinkOnly);
}

TEST(MMDSPObjTest, TakingAnotherMembersSourceUnlinksItAndPassesTheFormatOn)
{
    Member a("a"), b("b"), c("c"), below("below");
    const TWaveFormatEx f = pcm(22050);
    b.SetPWaveFormat(&f);
    c.SetInput(&b);
    a.SetOutput(&below);
    ASSERT_EQ(rateOf(c), 22050u);

    a.SetInput(&b);
    EXPECT_EQ(c.Input(), nullptr);
    EXPECT_EQ(rateOf(c), 22050u) << "the dropped member keeps its format";
    EXPECT_EQ(b.Output(), &a);
    EXPECT_EQ(a.Input(), &b);
    EXPECT_EQ(a.InputLinkName(), "Output");
    EXPECT_EQ(b.OutputLinkName(), "Input");
    EXPECT_EQ(rateOf(a), 22050u);
    EXPECT_EQ(rateOf(below), 22050u);
    EXPECT_EQ(a.PWaveFormat()->cbSize, 0) << "PCM copies carry no extra bytes";
    EXPECT_NE(a.PWaveFormat(), b.PWaveFormat()) << "each member holds its own copy";

    // Clearing the link clears the format all the way down.
    a.SetInput(nullptr);
    EXPECT_EQ(b.Output(), nullptr);
    EXPECT_EQ(a.PWaveFormat(), nullptr);
    EXPECT_EQ(below.PWaveFormat(), nullptr);
    EXPECT_EQ(rateOf(b), 22050u);
}

TEST(MMDSPObjTest, ReplacingAnOutputLeavesTheOldOneWithoutFormat)
{
    Member a("a"), b("b"), c("c");
    const TWaveFormatEx f = pcm(8000);
    a.SetPWaveFormat(&f);
    a.SetOutput(&b);
    EXPECT_EQ(rateOf(b), 8000u);
    a.SetOutput(&c);
    EXPECT_EQ(b.Input(), nullptr);
    EXPECT_EQ(b.PWaveFormat(), nullptr);
    EXPECT_EQ(c.Input(), &a);
    EXPECT_EQ(rateOf(c), 8000u);
}

TEST(MMDSPObjTest, AssigningBothEndsOfALinkMakesOneLink)
{
    Member rec("rec", false, true), conn("conn", true, false);
    rec.SetOutput(&conn);
    const int stopsBefore = conn.stops;
    conn.SetInput(&rec);
    EXPECT_EQ(conn.stops, stopsBefore) << "the second assignment must not act";
    EXPECT_EQ(rec.Output(), &conn);
    EXPECT_EQ(conn.Input(), &rec);
}

TEST(MMDSPObjTest, OpenedFixesTheRealBufferSizeFromTheBlockAlignment)
{
    Member m("m");
    m.SetBufferSize(4096);
    m.Opened();
    EXPECT_EQ(m.RealBufferSize(), 4096) << "no format: taken unchanged";
    m.Closed();

    const TWaveFormatEx f = pcm(44100, 2048);
    m.SetPWaveFormat(&f);
    m.Opened();
    EXPECT_EQ(m.BufferSize(), 4096);
    m.Closed();
    m.SetBufferSize(1000);
    m.Opened();
    EXPECT_EQ(m.RealBufferSize(), 2048);
    EXPECT_EQ(m.BufferSize(), 2048) << "the getter reads the real size while opened";
    m.Closed();
    EXPECT_EQ(m.BufferSize(), 1000);
    m.SetBufferSize(5000);
    m.Opened();
    EXPECT_EQ(m.RealBufferSize(), 4096);
}

TEST(MMDSPObjTest, BufferLoadReportsLoadedBuffersOnly)
{
    Member up("up"), down("down");
    down.SetInput(&up);
    int loaded = 0;
    std::uint32_t fill = 0;
    std::vector<std::string> order;
    up.OnBufferLoad = [&](TMMComponent *, PWaveHdr h, bool &) {
        order.push_back("up");
        h->dwBytesRecorded = fill;
    };
    down.OnBufferLoad = [&](TMMComponent *, PWaveHdr, bool &) { order.push_back("down"); };
    down.OnBufferLoaded = [&](TMMComponent *s, PWaveHdr) {
        EXPECT_EQ(s, &down);
        ++loaded;
    };
    TWaveHdr h;
    bool more = true;
    fill = 0;
    down.BufferLoad(&h, more);
    EXPECT_EQ(loaded, 0);
    fill = 100;
    down.BufferLoad(&h, more);
    EXPECT_EQ(loaded, 1);
    EXPECT_EQ(order, (std::vector<std::string>{"down", "up", "down", "up"}));
}

TEST(MMDSPObjTest, BufferReadyTravelsDownByReference)
{
    Member a("a"), b("b"), c("c");
    a.SetOutput(&b);
    b.SetOutput(&c);
    std::vector<PWaveHdr> seen;
    b.OnBufferReady = [&](TMMComponent *, PWaveHdr h) {
        seen.push_back(h);
        h->dwBytesRecorded = 10; // members may shorten a buffer in place
    };
    c.OnBufferReady = [&](TMMComponent *, PWaveHdr h) {
        seen.push_back(h);
        EXPECT_EQ(h->dwBytesRecorded, 10u);
    };
    TWaveHdr h;
    h.dwBytesRecorded = 50;
    a.BufferReady(&h);
    EXPECT_EQ(seen, (std::vector<PWaveHdr>{&h, &h}));
}

TEST(MMDSPObjTest, DestroyingAMiddleMemberUnlinksItsNeighbours)
{
    Member a("a"), c("c");
    const std::size_t before = DSPComponentCount();
    {
        Member b("b");
        EXPECT_EQ(DSPComponentCount(), before + 1);
        EXPECT_EQ(DSPComponentAt(before), &b);
        a.SetOutput(&b);
        b.SetOutput(&c);
    }
    EXPECT_EQ(a.Output(), nullptr);
    EXPECT_EQ(c.Input(), nullptr);
    EXPECT_EQ(DSPComponentCount(), before);
}

TEST(MMDSPObjTest, ComponentListLivesWithItsMembers)
{
    ASSERT_EQ(DSPComponentCount(), 0u);
    {
        auto a = std::make_unique<Member>("a");
        EXPECT_EQ(DSPComponentCount(), 1u);
    }
    EXPECT_EQ(DSPComponentCount(), 0u);
    EXPECT_EQ(DSPComponentAt(0), nullptr);
}

TEST(MMDSPObjTest, SoundDevicesSpreadOpenedAndClosedAlongTheirStretch)
{
    // top -> dev -> a -> b -> dev2 -> tail: dev2 passes what it hears on to
    // its own stretch; Closed reaches the next device before dev's own members.
    Member top("top"), a("a"), b("b"), tail("tail");
    Sound dev("dev"), dev2("dev2");
    dev.SetInput(&top);
    dev.SetOutput(&a);
    a.SetOutput(&b);
    b.SetOutput(&dev2);
    dev2.SetOutput(&tail);
    dev.SetBufferSize(4096);

    g_log.clear();
    dev.Opened();
    EXPECT_EQ(g_log, (std::vector<std::string>{"dev.Opened", "top.Opened(4096)", "a.Opened(4096)",
                                               "b.Opened(4096)", "dev2.Opened",
                                               "tail.Opened(4096)"}));
    EXPECT_TRUE(dev.IsOpened());
    EXPECT_EQ(dev2.BufferSize(), 4096);

    g_log.clear();
    dev.Started();
    EXPECT_EQ(g_log, (std::vector<std::string>{"top.Started", "a.Started", "b.Started", "tail.Started"}));

    g_log.clear();
    dev.Closed();
    EXPECT_EQ(g_log, (std::vector<std::string>{"dev.Closed", "dev2.Closed", "tail.Closed", "top.Closed",
                                               "a.Closed", "b.Closed"}));
    EXPECT_FALSE(dev.IsOpened());
}

TEST(MMDSPObjTest, CallSynchronizedRunsDspThreadEventsOnTheMainThread)
{
    class Worker : public TMMDSPThread
    {
    public:
        using TMMDSPThread::TMMDSPThread;
        QThread *ranOn = nullptr;
        std::atomic<bool> done{false};
        TMMComponent *sender = nullptr;

    protected:
        void Execute() override
        {
            CallSynchronized([this](TMMComponent *s) {
                ranOn = QThread::currentThread();
                sender = s;
            }, Owner());
            done = true;
        }
    };
    Member owner("owner");
    EXPECT_EQ(DSPThreadCount(), 0u);
    {
        Worker w(&owner);
        EXPECT_EQ(DSPThreadCount(), 1u);
        w.Resume();
        while (!w.done)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        w.WaitFor();
        EXPECT_EQ(w.ranOn, QCoreApplication::instance()->thread());
        EXPECT_EQ(w.sender, &owner);
    }
    EXPECT_EQ(DSPThreadCount(), 0u);

    // Called from a thread that is not a DSP thread, the handler runs there.
    QThread *ranOn = nullptr;
    std::thread other([&] { CallSynchronized([&](TMMComponent *) { ranOn = QThread::currentThread(); }, nullptr); });
    other.join();
    EXPECT_NE(ranOn, QCoreApplication::instance()->thread());
}
