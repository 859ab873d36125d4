#pragma once

#include <QColor>
#include <QImage>
#include <QRect>

#include <mutex>
#include <stdexcept>

// Off-screen images for the audio displays. An image has 8 bits per pixel
// (indices into the 20 standard system colours; every drawing colour is
// reduced to the nearest of them) or 24. Drawing into any image of any
// display is serialised by DIBDrawLock(), held from the start to the end of
// a drawing. UI thread only, apart from the lock.

class EMMDIBError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

inline constexpr const char *kBitlengthNotSupported = "Bitlength not supported yet";

// The process-wide drawing lock of the off-screen images.
[[nodiscard]] std::mutex &DIBDrawLock();

// The 20 standard system colours of the 8-bit palette, and the palette
// entry nearest a colour.
[[nodiscard]] const QList<QRgb> &systemPalette();
[[nodiscard]] int nearestPaletteIndex(QRgb color);

class TMMDIBCanvas
{
public:
    // Throws EMMDIBError for a depth other than 8 or 24.
    explicit TMMDIBCanvas(int bitCount = 8);

    [[nodiscard]] int BitCount() const { return m_bitCount; }
    void SetBitCount(int bitCount);

    // Contents are undefined after a resize until drawn.
    void SetSize(int width, int height);
    [[nodiscard]] int Width() const { return m_image.width(); }
    [[nodiscard]] int Height() const { return m_image.height(); }

    // Clipped to the image. Dotted fills only pixels whose x + y is even.
    void FillRect(const QRect &r, QColor color, bool dotted = false);
    // Copies an image of the same size and depth.
    void CopyFrom(const TMMDIBCanvas &other);

    // The colour at a pixel (after palette reduction).
    [[nodiscard]] QRgb Pixel(int x, int y) const { return m_image.pixel(x, y); }
    [[nodiscard]] const QImage &Image() const { return m_image; }

private:
    int m_bitCount;
    QImage m_image;
};
