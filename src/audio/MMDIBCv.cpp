#include "audio/MMDIBCv.h"

#include <algorithm>
#include <cstring>

std::mutex &DIBDrawLock()
{
    static std::mutex lock;
    return lock;
}

const QList<QRgb> &systemPalette()
{
    static const QList<QRgb> palette = {
        qRgb(0, 0, 0),       qRgb(128, 0, 0),     qRgb(0, 128, 0),     qRgb(128, 128, 0),
        qRgb(0, 0, 128),     qRgb(128, 0, 128),   qRgb(0, 128, 128),   qRgb(192, 192, 192),
        qRgb(192, 220, 192), qRgb(166, 202, 240), qRgb(255, 251, 240), qRgb(160, 160, 164),
        qRgb(128, 128, 128), qRgb(255, 0, 0),     qRgb(0, 255, 0),     qRgb(255, 255, 0),
        qRgb(0, 0, 255),     qRgb(255, 0, 255),   qRgb(0, 255, 255),   qRgb(255, 255, 255),
    };
    return palette;
}

int nearestPaletteIndex(QRgb color)
{
    const auto &pal = systemPalette();
    int best = 0;
    long bestDist = -1;
    for (int i = 0; i < pal.size(); ++i) {
        const long dr = qRed(pal[i]) - qRed(color);
        const long dg = qGreen(pal[i]) - qGreen(color);
        const long db = qBlue(pal[i]) - qBlue(color);
        const long d = dr * dr + dg * dg + db * db;
        if (bestDist < 0 || d < bestDist) {
            best = i;
            bestDist = d;
        }
    }
    return best;
}

namespace {

QImage makeImage(int bitCount, int w, int h)
{
    w = std::max(w, 1);
    h = std::max(h, 1);
    if (bitCount == 8) {
        QImage img(w, h, QImage::Format_Indexed8);
        img.setColorTable(systemPalette());
        img.fill(0);
        return img;
    }
    QImage img(w, h, QImage::Format_RGB888);
    img.fill(Qt::black);
    return img;
}

} // namespace

TMMDIBCanvas::TMMDIBCanvas(int bitCount) : m_bitCount(0)
{
    SetBitCount(bitCount);
}

void TMMDIBCanvas::SetBitCount(int bitCount)
{
    if (bitCount != 8 && bitCount != 24)
        throw EMMDIBError(kBitlengthNotSupported);
    if (bitCount == m_bitCount)
        return;
    const int w = m_image.isNull() ? 1 : m_image.width();
    const int h = m_image.isNull() ? 1 : m_image.height();
    m_bitCount = bitCount;
    m_image = makeImage(bitCount, w, h);
}

void TMMDIBCanvas::SetSize(int width, int height)
{
    if (width == m_image.width() && height == m_image.height())
        return;
    m_image = makeImage(m_bitCount, width, height);
}

void TMMDIBCanvas::FillRect(const QRect &r, QColor color, bool dotted)
{
    const QRect c = r.intersected(m_image.rect());
    if (c.isEmpty())
        return;
    if (m_bitCount == 8) {
        const auto index = static_cast<uchar>(nearestPaletteIndex(color.rgb()));
        for (int y = c.top(); y <= c.bottom(); ++y) {
            uchar *line = m_image.scanLine(y);
            if (!dotted) {
                std::memset(line + c.left(), index, static_cast<std::size_t>(c.width()));
                continue;
            }
            for (int x = c.left(); x <= c.right(); ++x)
                if (((x + y) & 1) == 0)
                    line[x] = index;
        }
        return;
    }
    const uchar rgb[3] = {static_cast<uchar>(color.red()), static_cast<uchar>(color.green()),
                          static_cast<uchar>(color.blue())};
    for (int y = c.top(); y <= c.bottom(); ++y) {
        uchar *line = m_image.scanLine(y);
        for (int x = c.left(); x <= c.right(); ++x)
            if (!dotted || ((x + y) & 1) == 0)
                std::memcpy(line + 3 * x, rgb, 3);
    }
}

void TMMDIBCanvas::CopyFrom(const TMMDIBCanvas &other)
{
    if (other.m_bitCount != m_bitCount || other.m_image.size() != m_image.size()) {
        m_bitCount = other.m_bitCount;
        m_image = other.m_image.copy();
        return;
    }
    // Same geometry: copy rows into the existing buffer instead of
    // reallocating, which the meters do hundreds of times a second.
    const auto bytes = static_cast<std::size_t>(m_image.bytesPerLine());
    for (int y = 0; y < m_image.height(); ++y)
        std::memcpy(m_image.scanLine(y), other.m_image.constScanLine(y), bytes);
}
