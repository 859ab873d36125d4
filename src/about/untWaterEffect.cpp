#include "about/untWaterEffect.h"

#include <algorithm>
#include <random>
#include <stdexcept>
#include <utility>

namespace {

std::function<int(int)> &randomSource()
{
    static std::function<int(int)> source;
    return source;
}

std::mt19937 &defaultEngine()
{
    static std::mt19937 engine{std::random_device{}()};
    return engine;
}

constexpr QImage::Format kPixelFormat = QImage::Format_BGR888;

// A picture is brought to three bytes per pixel (blue, green, red) once;
// later frames find it already there and keep their buffer.
void makeTwentyFourBit(QImage &picture)
{
    if (picture.format() != kPixelFormat)
        picture = picture.convertToFormat(kPixelFormat);
}

inline std::uint8_t shade(int value)
{
    return static_cast<std::uint8_t>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

} // namespace

int Random(int n)
{
    if (n <= 0)
        return 0;
    if (const auto &source = randomSource())
        return std::clamp(source(n), 0, n - 1);
    return std::uniform_int_distribution<int>(0, n - 1)(defaultEngine());
}

void setRandomSource(std::function<int(int n)> source)
{
    randomSource() = std::move(source);
}

void TWaterEffect::SetSize(int Width, int Height)
{
    if (Width <= 0 || Height <= 0)
        Width = Height = 0;
    m_width = Width;
    m_height = Height;
    const auto cells = static_cast<std::size_t>(Width) * static_cast<std::size_t>(Height);
    m_fieldA.assign(cells, 0);
    m_fieldB.assign(cells, 0);
    m_currentRows.assign(static_cast<std::size_t>(Height), nullptr);
    m_previousRows.assign(static_cast<std::size_t>(Height), nullptr);
    m_sourceRows.assign(static_cast<std::size_t>(Height), nullptr);
    m_targetRows.assign(static_cast<std::size_t>(Height), nullptr);
    ClearWater();
    if (Height > 0) {
        m_currentRows[0] = m_fieldA.data();
        m_previousRows[0] = m_fieldB.data();
        for (int y = 1; y < Height; ++y) {
            m_currentRows[y] = m_currentRows[y - 1] + Width;
            m_previousRows[y] = m_previousRows[y - 1] + Width;
        }
    }
}

void TWaterEffect::ClearWater()
{
    std::fill(m_fieldA.begin(), m_fieldA.end(), 0);
    std::fill(m_fieldB.begin(), m_fieldB.end(), 0);
}

void TWaterEffect::Blob(int X, int Y, int Radius, int Height)
{
    // A random place must keep the whole disc inside the surface; on a
    // surface too small for that there is no such place and no drop falls
    // (the modulus would otherwise be zero or negative).
    if (X < 0 || X > m_width - 1) {
        const int range = m_width - 2 * Radius - 1;
        if (range <= 0)
            return;
        X = Random(32767) % range + Radius + 1;
    }
    if (Y < 0 || Y > m_height - 1) {
        const int range = m_height - 2 * Radius - 1;
        if (range <= 0)
            return;
        Y = Random(32767) % range + Radius + 1;
    }
    const long long r2 = static_cast<long long>(Radius) * Radius;
    const int top = -std::min(Y, Radius);
    const int bottom = std::min(m_height - 1 - Y, Radius);
    const int left = -std::min(X, Radius);
    const int right = std::min(m_width - 1 - X, Radius);
    for (int dy = top; dy <= bottom; ++dy) {
        std::int32_t *row = m_currentRows[Y + dy];
        for (int dx = left; dx <= right; ++dx)
            if (static_cast<long long>(dx) * dx + static_cast<long long>(dy) * dy <= r2)
                row[X + dx] += Height;
    }
}

void TWaterEffect::CalcWater()
{
    const int w = m_width;
    const int h = m_height;
    if (w <= 0 || h <= 0)
        return;
    const std::int32_t f = ((100 - m_damping) * 256) / 100;
    // One cell: the eight neighbours, the edge cell standing in for a
    // missing one. Built-in '/' truncates towards zero, which the ripple's
    // shape depends on for negative heights (-7 / 4 is -1, not -2).
    const auto cell = [f](const std::int32_t *a, const std::int32_t *c, const std::int32_t *b,
                          std::int32_t *p, int x, int xl, int xr) {
        const std::int32_t s = a[xl] + a[x] + a[xr] + c[xl] + c[xr] + b[xl] + b[x] + b[xr];
        const std::int32_t avg = s / 4;
        p[x] = ((avg - p[x]) * f) / 256;
    };
    for (int y = 0; y < h; ++y) {
        const std::int32_t *a = m_currentRows[y > 0 ? y - 1 : 0];
        const std::int32_t *c = m_currentRows[y];
        const std::int32_t *b = m_currentRows[y < h - 1 ? y + 1 : h - 1];
        std::int32_t *p = m_previousRows[y];
        if (w == 1) {
            cell(a, c, b, p, 0, 0, 0);
            continue;
        }
        cell(a, c, b, p, 0, 0, 1);
        // The interior runs without edge tests so the compiler can keep it
        // tight; it is the bulk of every frame.
        for (int x = 1; x < w - 1; ++x) {
            const std::int32_t s =
                a[x - 1] + a[x] + a[x + 1] + c[x - 1] + c[x + 1] + b[x - 1] + b[x] + b[x + 1];
            const std::int32_t avg = s / 4;
            p[x] = ((avg - p[x]) * f) / 256;
        }
        cell(a, c, b, p, w - 1, w - 2, w - 1);
    }
    std::swap(m_currentRows, m_previousRows);
}

void TWaterEffect::DrawWater(QImage &Source, QImage &Target)
{
    makeTwentyFourBit(Source);
    makeTwentyFourBit(Target);
    const int w = m_width;
    const int h = m_height;
    if (w <= 0 || h <= 0)
        return;
    // Rows past the end of a smaller picture would be read or written
    // outside its buffer.
    if (Source.width() < w || Source.height() < h || Target.width() < w || Target.height() < h)
        throw std::invalid_argument("Picture is smaller than the water surface");

    const std::uint8_t *source0 = Source.constBits();
    const qsizetype sourceStride = Source.bytesPerLine();
    std::uint8_t *target0 = Target.bits();
    const qsizetype targetStride = Target.bytesPerLine();
    for (int y = 0; y < h; ++y) {
        m_sourceRows[y] = source0 + y * sourceStride;
        m_targetRows[y] = target0 + y * targetStride;
    }

    for (int y = 0; y < h; ++y) {
        const std::int32_t *a = m_currentRows[y > 0 ? y - 1 : 0];
        const std::int32_t *c = m_currentRows[y];
        const std::int32_t *b = m_currentRows[y < h - 1 ? y + 1 : h - 1];
        const std::uint8_t *plain = m_sourceRows[y];
        std::uint8_t *out = m_targetRows[y];
        for (int x = 0; x < w; ++x, plain += 3, out += 3) {
            const std::int32_t dx = c[x > 0 ? x - 1 : 0] - c[x < w - 1 ? x + 1 : w - 1];
            const std::int32_t dy = a[x] - b[x];
            const std::int32_t sx = x + dx;
            const std::int32_t sy = y + dy;
            if (sx >= 0 && sx < w && sy >= 0 && sy < h) {
                const std::uint8_t *in = m_sourceRows[sy] + 3 * sx;
                out[0] = shade(in[0] - dx);
                out[1] = shade(in[1] - dx);
                out[2] = shade(in[2] - dx);
            } else {
                out[0] = plain[0];
                out[1] = plain[1];
                out[2] = plain[2];
            }
        }
    }
}

void TWaterEffect::Render(QImage &Source, QImage &Target)
{
    CalcWater();
    DrawWater(Source, Target);
}
