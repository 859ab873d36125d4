#include "about/LinkLabel.h"
#include "about/PictureBox.h"
#include "about/usabout.h"

#include "TestUtil.h"

#include <QApplication>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <vector>

namespace {

// Pins the draws of Random: the drop chance (n = 8) answers `drop`,
// every other draw `other`.
class FixedRandom
{
public:
    FixedRandom(int drop, int other)
    {
        setRandomSource([drop, other](int n) { return n == 8 ? drop : other; });
    }
    ~FixedRandom() { setRandomSource({}); }
};

bool isYellow(QRgb c)
{
    return qRed(c) == 255 && qGreen(c) == 255 && qBlue(c) == 0;
}

// Horizontal extent of the yellow ink in rows [top, bottom).
std::pair<int, int> yellowSpan(const QImage &img, int top, int bottom)
{
    int left = img.width(), right = -1;
    for (int y = std::max(top, 0); y < std::min(bottom, img.height()); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (isYellow(img.pixel(x, y))) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
    return {left, right};
}

} // namespace

TEST(TaboutusTest, CreationSizesPictureAndSurfaceToTheBackground)
{
    Taboutus about;
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.img1->geometry(), QRect(0, -4, 310, 207));
    EXPECT_EQ(about.background().size(), QSize(310, 207));
    EXPECT_EQ(about.img1->picture().size(), QSize(310, 207));
    EXPECT_EQ(about.water()->Width(), 310);
    EXPECT_EQ(about.water()->Height(), 207);
    EXPECT_EQ(CreditTop, 207);
}

TEST(TaboutusTest, CreditsScrollFrom206ToMinus100ThenRestartAt217)
{
    FixedRandom random(0, 0);
    Taboutus about;
    std::vector<int> seen;
    for (int i = 0; i < 307 + 318 + 1; ++i) {
        about.tmr1Timer();
        seen.push_back(CreditTop);
    }
    EXPECT_EQ(seen.front(), 206);
    EXPECT_EQ(seen[306], -100);
    EXPECT_EQ(seen[307], 217);
    EXPECT_EQ(seen[307 + 317], -100);
    EXPECT_EQ(seen[307 + 318], 217);
    for (int v : seen)
        EXPECT_GE(v, -100);
}

TEST(TaboutusTest, CreditsAreDrawnCentredOverTheFrameAndLeaveNoTrace)
{
    FixedRandom random(0, 0); // no drops: the water stays still
    Taboutus about;
    CreditTop = 41;
    about.tmr1Timer(); // credits at 40, 90 and 120
    const QImage frame = about.img1->picture().convertToFormat(QImage::Format_RGB32);
    const QImage bg = about.background().convertToFormat(QImage::Format_RGB32);

    // Nothing but the credit bands differs from the clean picture.
    for (int y = 0; y < frame.height(); ++y) {
        const bool inBand = (y >= 40 && y < 40 + 30) || (y >= 90 && y < 90 + 28) ||
                            (y >= 120 && y < 120 + 24);
        if (inBand)
            continue;
        for (int x = 0; x < frame.width(); ++x)
            ASSERT_EQ(frame.pixel(x, y), bg.pixel(x, y)) << x << "," << y;
    }

    // Each line is yellow ink, centred; the title alone has a black
    // shadow two pixels down and right.
    for (auto [top, bottom] : {std::pair{40, 66}, std::pair{90, 116}, std::pair{120, 142}}) {
        const auto [left, right] = yellowSpan(frame, top, bottom);
        ASSERT_LE(left, right) << "no yellow ink at " << top;
        EXPECT_NEAR(left + right, 310, 8) << "line at " << top;
    }
    int blackTitle = 0, blackCopyright = 0;
    for (int x = 0; x < 310; ++x) {
        for (int y = 40; y < 68; ++y)
            blackTitle += frame.pixel(x, y) == qRgb(0, 0, 0);
        for (int y = 90; y < 116; ++y)
            blackCopyright += frame.pixel(x, y) == qRgb(0, 0, 0);
    }
    EXPECT_GT(blackTitle, 20);
    EXPECT_EQ(blackCopyright, 0);

    // Once the credits have scrolled off the top, the next frame is the
    // clean picture again.
    CreditTop = -100;
    about.tmr1Timer();
    EXPECT_EQ(CreditTop, 217);
    EXPECT_EQ(about.img1->picture().convertToFormat(QImage::Format_RGB32), bg);
}

TEST(TaboutusTest, RandomDropFallsOnOneTickInEight)
{
    {
        FixedRandom random(0, 499);
        Taboutus about;
        about.tmr1Timer();
        for (int y = 0; y < 207; ++y)
            for (int x = 0; x < 310; ++x)
                ASSERT_EQ(about.water()->previousHeight(x, y), 0);
    }
    {
        // Random(8) = 1: a drop of Random(500) + 50 = 549 at X = Y = 2
        // (Random(32767) = 499: 499 % 307 + 2 = 194, 499 % 204 + 2 = 93).
        FixedRandom random(1, 499);
        Taboutus about;
        about.tmr1Timer();
        // The step after the drop has made its field the older one.
        EXPECT_EQ(about.water()->previousHeight(194, 93), 549);
        EXPECT_EQ(about.water()->previousHeight(195, 93), 549);
        EXPECT_EQ(about.water()->previousHeight(196, 93), 0);
        EXPECT_NE(about.water()->height(194, 93), 0);
        EXPECT_NE(about.img1->picture().convertToFormat(QImage::Format_RGB32),
                  about.background().convertToFormat(QImage::Format_RGB32));
    }
}

TEST(TaboutusTest, MouseMovingOverThePictureDropsABlobUnderThePointer)
{
    Taboutus about;
    // Picture coordinates: the control sits 4 pixels above the client area.
    QMouseEvent move(QEvent::MouseMove, QPointF(120, 60), QPointF(120, 56), Qt::NoButton,
                     Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(about.img1, &move);
    EXPECT_EQ(about.water()->height(120, 60), 100);
    EXPECT_EQ(about.water()->height(121, 60), 100);
    EXPECT_EQ(about.water()->height(121, 61), 0);
    QApplication::sendEvent(about.img1, &move);
    EXPECT_EQ(about.water()->height(120, 60), 200);

    about.img1MouseMove(0, 206);
    EXPECT_EQ(about.water()->height(0, 206), 100);
    EXPECT_EQ(about.water()->height(1, 206), 100);
}

TEST(TaboutusTest, MailLinkOpensAndTurnsPurpleOnlyWhenAccepted)
{
    Taboutus about;
    std::vector<QUrl> opened;
    bool accept = false;
    about.OpenUrl = [&](const QUrl &url) {
        opened.push_back(url);
        return accept;
    };
    const QColor unvisited = about.RzURLLabel1->linkColour();
    EXPECT_NE(unvisited, QColor(128, 0, 128));

    about.RzURLLabel1Click();
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].scheme(), QStringLiteral("mailto"));
    EXPECT_EQ(opened[0].path(), Taboutus::kMailCaption.mid(QStringLiteral("Mailto: ").size()));
    EXPECT_FALSE(about.RzURLLabel1->visited());
    EXPECT_EQ(about.RzURLLabel1->linkColour(), unvisited);

    // A real click on the label goes the same way.
    accept = true;
    const QPointF at(5, 5);
    QMouseEvent press(QEvent::MouseButtonPress, at, about.RzURLLabel1->mapToGlobal(at),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, about.RzURLLabel1->mapToGlobal(at),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    press.setAccepted(false);
    QApplication::sendEvent(about.RzURLLabel1, &press);
    // Only a label that keeps the press receives the release.
    EXPECT_TRUE(press.isAccepted());
    QApplication::sendEvent(about.RzURLLabel1, &release);
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_TRUE(about.RzURLLabel1->visited());
    EXPECT_EQ(about.RzURLLabel1->linkColour(), QColor(128, 0, 128));
}

TEST(TaboutusTest, AnimationRunsWhileHiddenAndClosingOnlyHides)
{
    Taboutus about;
    about.show();
    about.close();
    EXPECT_FALSE(about.isVisible());
    const int start = CreditTop;
    // Generous: a 50 ms timer needs only to tick once in two seconds.
    for (int i = 0; i < 40 && CreditTop == start; ++i)
        testutil::pump(50);
    EXPECT_LT(CreditTop, start);
    EXPECT_TRUE(testutil::shownErrors().empty());
}
