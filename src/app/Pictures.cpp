#include "app/Pictures.h"

#include "ui/Fonts.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadialGradient>

#include <cmath>

namespace app {

namespace {

void drawComputer(QPainter &p)
{
    p.setRenderHint(QPainter::Antialiasing);

    // Soft shadow under the desk set.
    QRadialGradient shadow(QPointF(300, 560), 260);
    shadow.setColorAt(0, QColor(40, 80, 140, 70));
    shadow.setColorAt(1, QColor(40, 80, 140, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(shadow);
    p.drawEllipse(QRectF(40, 520, 520, 80));

    // Monitor: a rounded bezel, a screen with a waveform and a stand.
    p.setBrush(QColor(60, 72, 92));
    p.drawRoundedRect(QRectF(110, 200, 380, 260), 16, 16);
    QLinearGradient screen(QPointF(0, 220), QPointF(0, 440));
    screen.setColorAt(0, QColor(120, 190, 250));
    screen.setColorAt(1, QColor(40, 110, 200));
    p.setBrush(screen);
    p.drawRoundedRect(QRectF(128, 218, 344, 206), 6, 6);

    QPainterPath wave;
    wave.moveTo(150, 321);
    for (int x = 150; x <= 450; x += 4) {
        const double t = (x - 150) / 300.0;
        const double envelope = std::sin(t * 3.14159);
        wave.lineTo(x, 321 + std::sin(t * 42.0) * 60 * envelope * std::abs(std::cos(t * 7.0)));
    }
    p.setPen(QPen(QColor(255, 255, 255, 230), 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(wave);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 72, 92));
    p.drawRect(QRectF(275, 460, 50, 50));
    p.drawRoundedRect(QRectF(200, 505, 200, 18), 8, 8);

    // Keyboard.
    p.setBrush(QColor(225, 232, 242));
    p.drawRoundedRect(QRectF(150, 535, 300, 36), 8, 8);
    p.setBrush(QColor(190, 200, 215));
    for (int row = 0; row < 2; ++row)
        for (int k = 0; k < 14; ++k)
            p.drawRoundedRect(QRectF(162 + k * 20.5, 541 + row * 13, 16, 10), 2, 2);

    // Headset resting beside the keyboard.
    p.setPen(QPen(QColor(50, 60, 80), 9, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(462, 482, 92, 92), 20 * 16, 140 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(230, 120, 50));
    p.drawEllipse(QRectF(454, 514, 24, 36));
    p.drawEllipse(QRectF(538, 514, 24, 36));
    p.setPen(QPen(QColor(50, 60, 80), 4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(466, 548), QPointF(496, 572));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(50, 60, 80));
    p.drawEllipse(QRectF(491, 566, 11, 11));
}

// A microphone on a stand, in a 16 × 16 design grid.
void drawMicrophone(QPainter &p, bool lit)
{
    p.setRenderHint(QPainter::Antialiasing);
    const QColor body = lit ? QColor(230, 70, 50) : QColor(70, 110, 170);
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawRoundedRect(QRectF(5, 1, 6, 9), 3, 3);
    p.setPen(QPen(QColor(50, 60, 80), 1.4, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(3, 3, 10, 9), 180 * 16, 180 * 16);
    p.drawLine(QPointF(8, 12), QPointF(8, 14.5));
    p.drawLine(QPointF(5, 14.5), QPointF(11, 14.5));
}

QImage drawTrayIcon(bool lit)
{
    QImage img(16, 16, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    drawMicrophone(p, lit);
    return img;
}

} // namespace

QImage mainBackground()
{
    QImage img(1024, 708, QImage::Format_RGB32);
    QPainter p(&img);
    QLinearGradient sky(QPointF(0, 0), QPointF(0, 708));
    sky.setColorAt(0, QColor(236, 245, 255));
    sky.setColorAt(0.65, QColor(214, 232, 250));
    sky.setColorAt(1, QColor(190, 215, 242));
    p.fillRect(img.rect(), sky);

    // The picture is stretched over the window while the buttons keep their
    // place, so nothing in it is drawn to line up with them.
    p.setRenderHint(QPainter::Antialiasing);

    drawComputer(p);

    // Title line.
    QFont title(ui::cjkFamily());
    title.setPixelSize(40);
    title.setBold(true);
    p.setFont(title);
    p.setPen(QColor(30, 70, 130));
    p.drawText(QRectF(60, 40, 900, 60), Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromUtf8("高考英语听说考试 · 模拟训练系统"));
    QFont sub(ui::cjkFamily());
    sub.setPixelSize(18);
    p.setFont(sub);
    p.setPen(QColor(70, 100, 150));
    p.drawText(QRectF(64, 100, 900, 30), Qt::AlignLeft | Qt::AlignVCenter,
               QString::fromUtf8("Quenvar  —  朗读 · 角色扮演 · 故事复述"));
    p.setPen(QPen(QColor(30, 70, 130, 120), 2));
    p.drawLine(QPointF(62, 140), QPointF(520, 140));
    return img;
}

QIcon trayIcon(int index)
{
    return QIcon(QPixmap::fromImage(drawTrayIcon(index == 1)));
}

QIcon applicationIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::transparent);
        QPainter p(&img);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 16.0, size / 16.0);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(40, 110, 200));
        p.drawRoundedRect(QRectF(0.5, 0.5, 15, 15), 3.5, 3.5);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(255, 255, 255, 60));
        p.drawEllipse(QRectF(2.5, 1.5, 11, 11));
        drawMicrophone(p, true);
        icon.addPixmap(QPixmap::fromImage(img));
    }
    return icon;
}

} // namespace app
