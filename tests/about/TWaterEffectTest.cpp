#include "about/untWaterEffect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <deque>
#include <stdexcept>
#include <vector>

namespace {

using Rows = std::vector<std::vector<int>>;

Rows current(const TWaterEffect &w)
{
    Rows rows(w.Height(), std::vector<int>(w.Width()));
    for (int y = 0; y < w.Height(); ++y)
        for (int x = 0; x < w.Width(); ++x)
            rows[y][x] = w.height(x, y);
    return rows;
}

Rows previous(const TWaterEffect &w)
{
    Rows rows(w.Height(), std::vector<int>(w.Width()));
    for (int y = 0; y < w.Height(); ++y)
        for (int x = 0; x < w.Width(); ++x)
            rows[y][x] = w.previousHeight(x, y);
    return rows;
}

int nonZeroCells(const TWaterEffect &w)
{
    int n = 0;
    for (const auto &row : current(w))
        for (int v : row)
            n += v != 0;
    return n;
}

// Replaces the random source with a script of answers; records each n.
class ScriptedRandom
{
public:
    explicit ScriptedRandom(std::deque<int> answers) : m_answers(std::move(answers))
    {
        setRandomSource([this](int n) {
            asked.push_back(n);
            if (m_answers.empty())
                return 0;
            const int v = m_answers.front();
            m_answers.pop_front();
            return v;
        });
    }
    ~ScriptedRandom() { setRandomSource({}); }
    std::vector<int> asked;

private:
    std::deque<int> m_answers;
};

// A picture whose every byte differs from its neighbours', so a sample
// from the wrong place shows.
QImage patterned(int w, int h)
{
    QImage img(w, h, QImage::Format_BGR888);
    for (int y = 0; y < h; ++y) {
        uchar *row = img.scanLine(y);
        for (int x = 0; x < w * 3; ++x)
            row[x] = static_cast<uchar>(40 + (x * 7 + y * 13) % 170);
    }
    return img;
}

QImage uniform(int w, int h, int byte)
{
    QImage img(w, h, QImage::Format_BGR888);
    img.fill(QColor(byte, byte, byte));
    return img;
}

const uchar *pixel(const QImage &img, int x, int y)
{
    return img.constScanLine(y) + 3 * x;
}

} // namespace

TEST(TWaterEffectTest, FiveByFiveBlobSpreadsAsWorkedOut)
{
    TWaterEffect w;
    w.SetSize(5, 5);
    w.Blob(2, 2, 1, 100);
    const Rows blob = current(w);
    EXPECT_EQ(nonZeroCells(w), 5);

    w.CalcWater();
    EXPECT_EQ(current(w), (Rows{{0, 19, 19, 19, 0},
                                {19, 59, 59, 59, 19},
                                {19, 59, 79, 59, 19},
                                {19, 59, 59, 59, 19},
                                {0, 19, 19, 19, 0}}));
    // The fields swap roles: the blob's field is now the older one.
    EXPECT_EQ(previous(w), blob);

    // The -5 cells need truncating division: (93 - 100) * 204 = -1428,
    // and -1428 / 256 is -5 where flooring would give -6.
    w.CalcWater();
    EXPECT_EQ(current(w), (Rows{{26, 38, 54, 38, 26},
                                {38, 54, -5, 54, 38},
                                {54, -5, 14, -5, 54},
                                {38, 54, -5, 54, 38},
                                {26, 38, 54, 38, 26}}));
}

TEST(TWaterEffectTest, NegativeSumsTruncateTowardsZeroInBothDivisions)
{
    TWaterEffect w;
    w.SetSize(3, 3);
    // Centre cell: S = -7, so A = -1 (not -2); with P = 4 the product is
    // (-1 - 4) * 204 = -1020, and -1020 / 256 = -3 (not -4).
    w.setHeight(0, 0, -7);
    w.setPreviousHeight(1, 1, 4);
    w.CalcWater();
    EXPECT_EQ(w.height(1, 1), -3);
}

TEST(TWaterEffectTest, BlobsAreClippedAtEveryCorner)
{
    TWaterEffect w;
    w.SetSize(6, 4);
    w.Blob(0, 0, 1, 100);
    EXPECT_EQ(nonZeroCells(w), 3);
    EXPECT_EQ(w.height(0, 0), 100);
    EXPECT_EQ(w.height(1, 0), 100);
    EXPECT_EQ(w.height(0, 1), 100);

    w.ClearWater();
    w.Blob(5, 3, 1, 7);
    EXPECT_EQ(nonZeroCells(w), 3);
    EXPECT_EQ(w.height(5, 3), 7);
    EXPECT_EQ(w.height(4, 3), 7);
    EXPECT_EQ(w.height(5, 2), 7);

    // Heights add up; a radius-2 disc at an edge keeps only its inside part.
    w.ClearWater();
    w.Blob(0, 1, 2, 10);
    w.Blob(0, 1, 2, 10);
    EXPECT_EQ(w.height(0, 1), 20);
    EXPECT_EQ(w.height(2, 1), 20);
    EXPECT_EQ(w.height(1, 3), 0); // 1 + 4 > 4: outside the disc
    EXPECT_EQ(w.height(0, 3), 20);
    EXPECT_EQ(nonZeroCells(w), 8);
}

TEST(TWaterEffectTest, BlobOutsideTheSurfaceLandsAtARandomPlaceKeepingTheDiscInside)
{
    TWaterEffect w;
    w.SetSize(20, 10);
    {
        // X inside, Y outside: only Y is drawn, from 2 to H - 2.
        ScriptedRandom random({32766});
        w.Blob(4, 10, 1, 50);
        EXPECT_EQ(random.asked, std::vector<int>{32767});
        const int y = 32766 % (10 - 3) + 2;
        EXPECT_EQ(w.height(4, y), 50);
        EXPECT_EQ(w.height(4, y - 1), 50);
        EXPECT_EQ(w.height(3, y), 50);
        EXPECT_EQ(nonZeroCells(w), 5);
    }
    w.ClearWater();
    {
        // Both outside: X is drawn before Y; the extremes of the draw stay
        // one cell clear of the edges.
        ScriptedRandom random({16, 0});
        w.Blob(-1, -1, 1, 9);
        EXPECT_EQ(random.asked, (std::vector<int>{32767, 32767}));
        EXPECT_EQ(w.height(18, 2), 9); // 16 % 17 + 2 = 18 = W - 2
        EXPECT_EQ(w.height(19, 2), 9);
        EXPECT_EQ(w.height(18, 1), 9);
        EXPECT_EQ(nonZeroCells(w), 5);
    }
}

TEST(TWaterEffectTest, RandomDropOnASurfaceTooSmallForItDoesNothing)
{
    TWaterEffect w;
    w.SetSize(3, 30);
    ScriptedRandom random({5, 5});
    w.Blob(-1, 4, 1, 100); // no X keeps a radius-1 disc inside 3 columns
    w.Blob(1, -1, 1, 100); // Y can be drawn: 30 rows are enough
    EXPECT_EQ(w.height(1, 7), 100);
    EXPECT_EQ(nonZeroCells(w), 5);

    TWaterEffect empty;
    empty.Blob(-1, -1, 1, 100);
    empty.CalcWater();
    EXPECT_EQ(empty.Width(), 0);
}

TEST(TWaterEffectTest, SetSizeWithNoAreaLeavesAnEmptySurface)
{
    TWaterEffect w;
    w.SetSize(8, 8);
    w.Blob(3, 3, 1, 100);
    w.SetSize(0, 8);
    EXPECT_EQ(w.Width(), 0);
    EXPECT_EQ(w.Height(), 0);
    w.CalcWater();
    w.SetSize(8, -1);
    EXPECT_EQ(w.Width(), 0);
    EXPECT_EQ(w.Height(), 0);
    w.CalcWater();
    QImage source = patterned(4, 4), target = uniform(4, 4, 0);
    w.DrawWater(source, target);
    EXPECT_EQ(target, uniform(4, 4, 0));

    // Growing again gives still water, not what the old fields held.
    w.SetSize(9, 7);
    w.CalcWater();
    EXPECT_EQ(nonZeroCells(w), 0);
    EXPECT_EQ(w.height(8, 6), 0);
}

TEST(TWaterEffectTest, ShrinkingKeepsRowTablesInsideTheFields)
{
    TWaterEffect w;
    w.SetSize(40, 30);
    w.SetSize(7, 5);
    w.Blob(6, 4, 3, 100);
    for (int i = 0; i < 3; ++i)
        w.CalcWater();
    QImage source = patterned(7, 5), target = uniform(7, 5, 0);
    w.DrawWater(source, target);
    EXPECT_NE(w.height(6, 4), 0);
}

TEST(TWaterEffectTest, StillWaterDrawsTheSourceUnchanged)
{
    TWaterEffect w;
    w.SetSize(13, 9); // 39 bytes per row: the rows carry padding
    w.CalcWater();
    QImage source = patterned(13, 9);
    QImage target = uniform(13, 9, 0);
    w.DrawWater(source, target);
    EXPECT_EQ(target, source);
}

TEST(TWaterEffectTest, SlopeDisplacesAndShadesTheSample)
{
    TWaterEffect w;
    w.SetSize(12, 6);
    // Cell (4, 2): left neighbour 3, right 0 -> dx = 3; rows above and
    // below: 2 and 0 at column 4 -> dy = 2.
    w.setHeight(3, 2, 3);
    w.setHeight(4, 1, 2);
    QImage source = patterned(12, 6);
    QImage target = uniform(12, 6, 0);
    w.DrawWater(source, target);
    const uchar *out = pixel(target, 4, 2);
    const uchar *in = pixel(source, 7, 4);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(out[c], in[c] - 3) << "byte " << c;
}

TEST(TWaterEffectTest, ShadingClampsAtBlackAndWhite)
{
    TWaterEffect w;
    w.SetSize(80, 3);
    w.setHeight(9, 1, 30);  // (10, 1): dx = 30 -> 10 - 30 clamps to 0
    w.setHeight(61, 1, 30); // (60, 1): dx = -30 -> 250 + 30 clamps to 255
    QImage dark = uniform(80, 3, 10), light = uniform(80, 3, 250);
    QImage target = uniform(80, 3, 128);
    w.DrawWater(dark, target);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(pixel(target, 10, 1)[c], 0);
    w.DrawWater(light, target);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(pixel(target, 60, 1)[c], 255);
}

TEST(TWaterEffectTest, SampleOutsideThePictureCopiesTheSourcePixelUnshaded)
{
    TWaterEffect w;
    w.SetSize(6, 4);
    // Column 0: dx = C[0] - C[1] = -5 -> x + dx < 0. Row 3 (last): dy =
    // C[2] - C[3] = 9 -> y + dy past the bottom.
    w.setHeight(1, 1, 5);
    w.setHeight(4, 2, 9);
    QImage source = patterned(6, 4);
    QImage target = uniform(6, 4, 0);
    w.DrawWater(source, target);
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(pixel(target, 0, 1)[c], pixel(source, 0, 1)[c]);
        EXPECT_EQ(pixel(target, 4, 3)[c], pixel(source, 4, 3)[c]);
    }
}

TEST(TWaterEffectTest, PicturesAreBroughtToTwentyFourBitsOnce)
{
    TWaterEffect w;
    w.SetSize(5, 4);
    QImage source(5, 4, QImage::Format_RGB32);
    source.fill(QColor(10, 20, 30));
    QImage target(5, 4, QImage::Format_ARGB32);
    w.DrawWater(source, target);
    EXPECT_EQ(source.format(), QImage::Format_BGR888);
    EXPECT_EQ(target.format(), QImage::Format_BGR888);
    EXPECT_EQ(target.pixelColor(2, 2), QColor(10, 20, 30));
    const uchar *bits = target.constBits();
    w.DrawWater(source, target);
    EXPECT_EQ(target.constBits(), bits);
}

TEST(TWaterEffectTest, PictureSmallerThanTheSurfaceIsRefused)
{
    TWaterEffect w;
    w.SetSize(10, 10);
    QImage small = patterned(10, 9), target = uniform(10, 10, 0);
    EXPECT_THROW(w.DrawWater(small, target), std::invalid_argument);
    QImage source = patterned(10, 10), narrow = uniform(9, 10, 0);
    EXPECT_THROW(w.DrawWater(source, narrow), std::invalid_argument);
    // A larger picture is fine: the surface covers its top-left part.
    QImage big = patterned(12, 11), bigTarget = uniform(12, 11, 0);
    w.DrawWater(big, bigTarget);
    EXPECT_EQ(bigTarget.pixelColor(3, 3), big.pixelColor(3, 3));
    EXPECT_EQ(bigTarget.pixelColor(11, 10), QColor(0, 0, 0));
}

TEST(TWaterEffectTest, SingleRowAndSingleColumnSurfacesStepAndDraw)
{
    // Every neighbour of a lone cell is the cell itself: S = 8 * 40,
    // A = 80, and 80 * 204 / 256 = 63.
    TWaterEffect one;
    one.SetSize(1, 1);
    one.Blob(0, 0, 1, 40);
    one.CalcWater();
    EXPECT_EQ(one.height(0, 0), 63);

    for (auto [cw, ch] : {std::pair{1, 6}, std::pair{6, 1}}) {
        TWaterEffect w;
        w.SetSize(cw, ch);
        w.Blob(0, 0, 1, 40);
        QImage source = patterned(cw, ch), target = uniform(cw, ch, 0);
        w.Render(source, target);
        w.Render(source, target);
        EXPECT_EQ(target.size(), QSize(cw, ch));
    }
}

TEST(TWaterEffectTest, HeightsStayBoundedUnderEndlessStirring)
{
    // Far more than a user or the random drops can add: a full-height drop
    // every step and ten pointer blobs on one cell. The damping must keep
    // the heights far from the 32-bit range.
    TWaterEffect w;
    w.SetSize(40, 30);
    int worst = 0;
    for (int step = 0; step < 5000; ++step) {
        w.Blob(-1, -1, 1, 549);
        for (int i = 0; i < 10; ++i)
            w.Blob(step % 40, (step / 40) % 30, 1, 100);
        w.CalcWater();
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 40; ++x)
                worst = std::max(worst, std::abs(w.height(x, y)));
    }
    EXPECT_LT(worst, 100000);
}
