// TFilterGraph's activation, rendering, volume and events on the fake engine.
#include "TestUtil.h"
#include "media/FakeBackend.h"
#include "media/TFilterGraph.h"
#include "media/VideoTarget.h"

#include <gtest/gtest.h>

#include <vector>

using media::BackendPurpose;
using media::FakeBackend;
using media::FakeMedia;
using media::GraphNotice;

namespace {

struct Listener : media::FilterGraphClient {
    std::vector<GraphNotice> notices;
    std::vector<int> events;
    void graphNotice(TFilterGraph *, GraphNotice notice) override { notices.push_back(notice); }
    void graphEvent(TFilterGraph *, int code, qintptr, qintptr) override { events.push_back(code); }
};

struct Target : media::VideoTarget {
    void bindEngine(mpv_handle *, std::function<void()>) override {}
    bool isRendering() const override { return false; }
};

class TFilterGraphTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        testutil::clearShown();
        fake.addFile(QStringLiteral("/v/a.mp4"), 4000, true);
        fake.addFile(QStringLiteral("/v/b.mp4"), 2000, true);
        graph.OnGraphComplete = [this](QObject *sender, qint32 result, qintptr renderer) {
            EXPECT_EQ(sender, &graph);
            EXPECT_EQ(result, 0);
            EXPECT_EQ(renderer, 0);
            ++completions;
        };
    }
    FakeBackend *engine() { return static_cast<FakeBackend *>(graph.backend()); }

    FakeMedia fake;
    TFilterGraph graph;
    int completions = 0;
};

// What the graph told the engine after it last opened a file.
std::vector<QString> afterOpen(const FakeBackend *engine)
{
    const auto &calls = engine->calls();
    auto it = calls.end();
    while (it != calls.begin() && !(it - 1)->startsWith(QStringLiteral("open ")))
        --it;
    return {it, calls.end()};
}

std::string messageOf(const std::function<void()> &fn)
{
    try {
        fn();
    } catch (const std::exception &e) {
        return e.what();
    }
    return {};
}

} // namespace

TEST(TFilterGraphVolumeTest, LinearMappingMatchesTheDocumentedPoints)
{
    EXPECT_EQ(TFilterGraph::volumeToAttenuation(10000, true), 0);
    EXPECT_EQ(TFilterGraph::volumeToAttenuation(1, true), -9247);
    EXPECT_EQ(TFilterGraph::volumeToAttenuation(0, true), -10000);
    // ln(v + 1) * 1085.73 grows with v and never leaves the range.
    int previous = -10001;
    for (int v = 0; v <= 10000; v += 7) {
        const int a = TFilterGraph::volumeToAttenuation(v, true);
        EXPECT_GE(a, previous);
        EXPECT_LE(a, 0);
        previous = a;
    }
    EXPECT_EQ(TFilterGraph::volumeToAttenuation(10000, false), 0);
    EXPECT_EQ(TFilterGraph::volumeToAttenuation(2500, false), -7500);
    EXPECT_EQ(TFilterGraph::volumeToAttenuation(0, false), -10000);
}

TEST_F(TFilterGraphTest, VolumeIsClampedStoredAndAppliedAfterEveryRender)
{
    graph.setVolume(20000);
    EXPECT_EQ(graph.Volume(), 10000);
    graph.setVolume(-5);
    EXPECT_EQ(graph.Volume(), 0);
    graph.setVolume(1); // stored while inactive
    graph.setActive(true);
    EXPECT_EQ(engine()->attenuation(), -9247);
    graph.RenderFile(QStringLiteral("/v/a.mp4"));
    EXPECT_EQ(afterOpen(engine()),
              (std::vector<QString>{QStringLiteral("attenuation -9247"), QStringLiteral("rate 1")}));
    graph.ClearGraph();
    graph.setVolume(10000); // before rendering
    graph.setRate(1.5);
    graph.RenderFile(QStringLiteral("/v/b.mp4"));
    EXPECT_EQ(afterOpen(engine()),
              (std::vector<QString>{QStringLiteral("attenuation 0"), QStringLiteral("rate 1.5")}));
}

TEST_F(TFilterGraphTest, InactiveGraphIgnoresEveryOperation)
{
    Listener listener;
    graph.bindClient(&listener);
    EXPECT_NO_THROW(graph.Stop());
    EXPECT_NO_THROW(graph.ClearGraph());
    EXPECT_NO_THROW(graph.Play());
    EXPECT_NO_THROW(graph.Pause());
    EXPECT_NO_THROW(graph.RenderFile(QStringLiteral("/v/none.mp4")));
    EXPECT_TRUE(listener.notices.empty());
    EXPECT_TRUE(fake.backends().empty());
    graph.setActive(false);
    EXPECT_TRUE(listener.notices.empty());
    graph.unbindClient(&listener);
}

TEST_F(TFilterGraphTest, EachActivationMakesAFreshEngineThatKeepsTheRenderer)
{
    Target target;
    Listener listener;
    graph.bindClient(&listener);
    graph.addRenderer(&target);
    graph.setActive(true);
    FakeBackend *first = engine();
    EXPECT_EQ(first->videoTarget(), &target);
    graph.setActive(true); // already on: nothing
    EXPECT_EQ(engine(), first);
    graph.setActive(false);
    EXPECT_EQ(graph.backend(), nullptr);
    graph.setActive(true);
    EXPECT_EQ(fake.backends().size(), 2u);
    EXPECT_EQ(engine()->videoTarget(), &target);
    EXPECT_EQ(listener.notices,
              (std::vector<GraphNotice>{GraphNotice::Activated, GraphNotice::Deactivating,
                                        GraphNotice::Activated}));
    graph.removeRenderer(&target);
    EXPECT_EQ(engine()->videoTarget(), nullptr);
    graph.setActive(false);
    graph.unbindClient(&listener);
}

TEST_F(TFilterGraphTest, RenderPlayAndCompleteReachHandlerAndBoundControls)
{
    Listener listener;
    graph.bindClient(&listener);
    std::vector<int> dsEvents;
    graph.OnDSEvent = [&](QObject *, int code, qintptr, qintptr) { dsEvents.push_back(code); };
    graph.setActive(true);
    graph.ClearGraph();
    graph.RenderFile(QStringLiteral("/v/a.mp4"));
    graph.Play();
    EXPECT_TRUE(engine()->isPlaying());
    engine()->finish();
    EXPECT_EQ(completions, 0);
    testutil::pump(10);
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(listener.events, std::vector<int>{media::EC_COMPLETE});
    EXPECT_EQ(dsEvents, std::vector<int>{media::EC_COMPLETE});
    EXPECT_EQ(listener.notices,
              (std::vector<GraphNotice>{GraphNotice::Activated, GraphNotice::Stopping,
                                        GraphNotice::FileRendering, GraphNotice::FileRendered,
                                        GraphNotice::Playing}));
    graph.unbindClient(&listener);
}

TEST_F(TFilterGraphTest, CompletionOfAClearedOrReplacedFileIsDropped)
{
    graph.setActive(true);
    graph.RenderFile(QStringLiteral("/v/a.mp4"));
    graph.Play();
    engine()->finish();
    graph.ClearGraph();
    graph.RenderFile(QStringLiteral("/v/b.mp4"));
    testutil::pump(10);
    EXPECT_EQ(completions, 0);

    graph.Play();
    engine()->finish();
    graph.setActive(false);
    testutil::pump(10);
    EXPECT_EQ(completions, 0);
}

TEST(TFilterGraphFakeTest, GraphOutlivingItsFakeMediaStaysSafe)
{
    TFilterGraph graph;
    {
        FakeMedia fake;
        fake.addFile(QStringLiteral("/v/a.mp4"), 1000, true);
        graph.setActive(true);
        graph.RenderFile(QStringLiteral("/v/a.mp4"));
    }
    EXPECT_NO_THROW(graph.Play());
    EXPECT_THROW(graph.RenderFile(QStringLiteral("/v/a.mp4")), EDirectShowException);
    graph.setActive(false);
}

TEST_F(TFilterGraphTest, HandlerErrorIsShownByTheErrorDisplay)
{
    graph.OnGraphComplete = [](QObject *, qint32, qintptr) {
        throw std::runtime_error("handler failed");
    };
    graph.setActive(true);
    graph.RenderFile(QStringLiteral("/v/a.mp4"));
    graph.Play();
    engine()->finish();
    testutil::pump(10);
    ASSERT_EQ(testutil::shownErrors().size(), 1u);
    EXPECT_EQ(testutil::shownErrors()[0].text, QStringLiteral("handler failed."));
}

TEST_F(TFilterGraphTest, FailuresRaiseTheEngineTextWithTheResultCode)
{
    fake.failOpen(QStringLiteral("/v/bad.mp4"), media::OpenError::Unsupported);
    fake.failOpen(QStringLiteral("/v/locked.mp4"), media::OpenError::AccessDenied);
    graph.setActive(true);
    EXPECT_EQ(messageOf([&] { graph.RenderFile(QStringLiteral("/v/none.mp4")); }),
              "The video file cannot be found ($80070002).");
    EXPECT_EQ(messageOf([&] { graph.RenderFile(QStringLiteral("/v/bad.mp4")); }),
              "The video file cannot be played: it is damaged or its format is not supported "
              "($80040265).");
    EXPECT_EQ(messageOf([&] { graph.RenderFile(QStringLiteral("/v/locked.mp4")); }),
              "The video file cannot be read: access is denied ($80070005).");
    EXPECT_FALSE(graph.rendered());
    // Running an empty graph plays nothing and raises nothing.
    EXPECT_NO_THROW(graph.Play());

    graph.RenderFile(QStringLiteral("/v/a.mp4"));
    engine()->refuseCommands = true;
    EXPECT_EQ(messageOf([&] { graph.Play(); }),
              "The video playback engine refused the command ($80004005).");
    try {
        graph.Pause();
        ADD_FAILURE() << "no error";
    } catch (const EDirectShowException &e) {
        EXPECT_EQ(e.result(), TFilterGraph::kCommandFailed);
    }
}
