#include "about/AboutBackground.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

namespace {

constexpr int kW = kAboutBackgroundWidth;
constexpr int kH = kAboutBackgroundHeight;
constexpr int kShore = 128;             // first row of open water
constexpr QPointF kSun{224.0, 64.0};

// A ridge line made of a few sines, so the hills look natural but come out
// the same on every run.
QPainterPath ridge(double base, double amplitude, double phase, double bottom)
{
    QPainterPath path;
    path.moveTo(0, bottom);
    for (int x = 0; x <= kW; x += 2) {
        const double t = x / double(kW) * 2 * M_PI;
        const double y = base - amplitude * (0.55 * std::sin(1.3 * t + phase) +
                                             0.30 * std::sin(3.1 * t + 2 * phase) +
                                             0.15 * std::sin(7.7 * t + 0.5 * phase));
        path.lineTo(x, y);
    }
    path.lineTo(kW, bottom);
    path.closeSubpath();
    return path;
}

void drawSky(QPainter &p)
{
    QLinearGradient sky(0, 0, 0, kShore);
    sky.setColorAt(0.0, QColor(62, 118, 196));
    sky.setColorAt(0.55, QColor(140, 186, 232));
    sky.setColorAt(1.0, QColor(250, 222, 186));
    p.fillRect(QRect(0, 0, kW, kShore), sky);

    QRadialGradient glow(kSun, 90);
    glow.setColorAt(0.0, QColor(255, 250, 220, 230));
    glow.setColorAt(0.25, QColor(255, 236, 180, 120));
    glow.setColorAt(1.0, QColor(255, 220, 170, 0));
    p.fillRect(QRect(0, 0, kW, kShore), glow);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 252, 236));
    p.drawEllipse(kSun, 13, 13);

    // Soft clouds: overlapping translucent ellipses.
    p.setBrush(QColor(255, 255, 255, 70));
    for (const QRectF &r : {QRectF(24, 22, 70, 16), QRectF(44, 16, 50, 18), QRectF(70, 24, 56, 13),
                            QRectF(132, 40, 54, 11), QRectF(150, 35, 36, 12)})
        p.drawEllipse(r);
}

void drawHills(QPainter &p)
{
    p.setPen(Qt::NoPen);
    QLinearGradient far(0, 80, 0, kShore);
    far.setColorAt(0.0, QColor(128, 146, 192));
    far.setColorAt(1.0, QColor(170, 176, 204));
    p.setBrush(far);
    p.drawPath(ridge(104, 18, 0.7, kShore));

    QLinearGradient near(0, 100, 0, kShore);
    near.setColorAt(0.0, QColor(70, 112, 104));
    near.setColorAt(1.0, QColor(96, 132, 118));
    p.setBrush(near);
    p.drawPath(ridge(120, 10, 2.4, kShore + 1));
}

void drawLake(QPainter &p)
{
    QLinearGradient water(0, kShore, 0, kH);
    water.setColorAt(0.0, QColor(150, 172, 206));
    water.setColorAt(0.35, QColor(70, 130, 184));
    water.setColorAt(1.0, QColor(24, 74, 128));
    p.fillRect(QRect(0, kShore, kW, kH - kShore), water);

    // The sun's path on the water: short bright strokes, narrowing towards
    // the shore.
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 16; ++i) {
        const double y = kShore + 3 + i * 4.8;
        const double half = 4 + i * 1.6 + (i % 3) * 2.0;
        const int alpha = 190 - i * 9;
        p.setBrush(QColor(255, 240, 200, alpha));
        p.drawRoundedRect(QRectF(kSun.x() - half + ((i * 7) % 5 - 2), y, 2 * half, 1.6), 0.8, 0.8);
    }

    // A faint mirror band of the hills just below the shore.
    QLinearGradient mirror(0, kShore, 0, kShore + 14);
    mirror.setColorAt(0.0, QColor(80, 118, 110, 110));
    mirror.setColorAt(1.0, QColor(80, 118, 110, 0));
    p.fillRect(QRect(0, kShore, kW, 14), mirror);
}

} // namespace

QImage makeAboutBackground()
{
    QImage picture(kW, kH, QImage::Format_RGB32);
    picture.fill(Qt::black);
    {
        QPainter p(&picture);
        p.setRenderHint(QPainter::Antialiasing);
        drawSky(p);
        drawHills(p);
        drawLake(p);
    }
    return picture;
}
