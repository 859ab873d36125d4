#include "playlist/PlaylistPictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace playlist {

namespace {

QImage canvas(int w, int h)
{
    QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    return img;
}

void drawMicrophone(QPainter &p, QRectF r)
{
    // Head: a rounded capsule with a grille; stand: a yoke, a stem and a foot.
    const qreal w = r.width();
    const qreal h = r.height();
    const QRectF head(r.left() + w * 0.30, r.top() + h * 0.02, w * 0.40, h * 0.55);
    QLinearGradient metal(head.topLeft(), head.topRight());
    metal.setColorAt(0, QColor(90, 96, 110));
    metal.setColorAt(0.45, QColor(220, 225, 235));
    metal.setColorAt(1, QColor(70, 75, 88));
    p.setPen(QPen(QColor(40, 44, 52), 1));
    p.setBrush(metal);
    p.drawRoundedRect(head, head.width() / 2, head.width() / 2);
    p.setPen(QPen(QColor(60, 64, 75, 160), 0.8));
    for (int i = 1; i < 5; ++i) {
        const qreal y = head.top() + head.height() * i / 5.0;
        p.drawLine(QPointF(head.left() + 2, y), QPointF(head.right() - 2, y));
    }
    QPainterPath yoke;
    yoke.moveTo(r.left() + w * 0.20, r.top() + h * 0.35);
    yoke.cubicTo(r.left() + w * 0.20, r.top() + h * 0.78, r.left() + w * 0.80, r.top() + h * 0.78,
                 r.left() + w * 0.80, r.top() + h * 0.35);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(40, 44, 52), w * 0.07, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(yoke);
    p.drawLine(QPointF(r.center().x(), r.top() + h * 0.70), QPointF(r.center().x(), r.top() + h * 0.90));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 44, 52));
    p.drawRoundedRect(QRectF(r.left() + w * 0.22, r.top() + h * 0.88, w * 0.56, h * 0.10), 2, 2);
}

QIcon buttonIcon(int w, int h, bool play)
{
    QImage img = canvas(w, h);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    QRadialGradient g(QPointF(w * 0.4, h * 0.35), w * 0.7);
    g.setColorAt(0, QColor(120, 190, 255));
    g.setColorAt(1, QColor(20, 90, 190));
    p.setPen(QPen(QColor(10, 50, 120), 1));
    p.setBrush(g);
    p.drawEllipse(QRectF(1.5, 1.5, w - 3, h - 3));
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    if (play) {
        QPolygonF tri;
        tri << QPointF(w * 0.38, h * 0.28) << QPointF(w * 0.74, h * 0.5) << QPointF(w * 0.38, h * 0.72);
        p.drawPolygon(tri);
    } else {
        p.drawRect(QRectF(w * 0.32, h * 0.28, w * 0.13, h * 0.44));
        p.drawRect(QRectF(w * 0.55, h * 0.28, w * 0.13, h * 0.44));
    }
    p.end();
    return QIcon(QPixmap::fromImage(img));
}

} // namespace

QImage headsetPicture()
{
    const int w = 129;
    const int h = 209;
    QImage img = canvas(w, h);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    // Shoulders and body in a school blazer.
    QPainterPath body;
    body.moveTo(8, h - 2);
    body.cubicTo(8, 140, 30, 128, 64.5, 126);
    body.cubicTo(99, 128, 121, 140, 121, h - 2);
    body.closeSubpath();
    QLinearGradient blazer(0, 120, 0, h);
    blazer.setColorAt(0, QColor(40, 80, 160));
    blazer.setColorAt(1, QColor(20, 45, 110));
    p.setPen(QPen(QColor(15, 30, 80), 1.2));
    p.setBrush(blazer);
    p.drawPath(body);
    // Shirt collar.
    QPolygonF collar;
    collar << QPointF(50, 127) << QPointF(64.5, 150) << QPointF(79, 127);
    p.setBrush(Qt::white);
    p.drawPolygon(collar);
    // Neck and head.
    p.setPen(QPen(QColor(170, 120, 90), 1));
    p.setBrush(QColor(245, 205, 170));
    p.drawRect(QRectF(56, 105, 17, 24));
    p.drawEllipse(QRectF(34, 40, 61, 72));
    // Hair.
    QPainterPath hair;
    hair.moveTo(34, 78);
    hair.cubicTo(28, 30, 100, 24, 95, 78);
    hair.cubicTo(88, 56, 50, 52, 34, 78);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(35, 28, 24));
    p.drawPath(hair);
    // Eyes and a smile.
    p.setBrush(QColor(40, 30, 30));
    p.drawEllipse(QRectF(50, 76, 5, 5));
    p.drawEllipse(QRectF(74, 76, 5, 5));
    p.setPen(QPen(QColor(150, 60, 60), 1.6, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(55, 88, 19, 10), 200 * 16, 140 * 16);
    // Headset: band over the head, ear cups, boom microphone.
    p.setPen(QPen(QColor(30, 30, 35), 5, Qt::SolidLine, Qt::RoundCap));
    p.drawArc(QRectF(28, 32, 73, 80), 15 * 16, 150 * 16);
    p.setPen(QPen(QColor(20, 20, 25), 1));
    p.setBrush(QColor(60, 60, 70));
    p.drawRoundedRect(QRectF(24, 66, 13, 26), 5, 5);
    p.drawRoundedRect(QRectF(92, 66, 13, 26), 5, 5);
    p.setPen(QPen(QColor(30, 30, 35), 3, Qt::SolidLine, Qt::RoundCap));
    QPainterPath boom;
    boom.moveTo(30, 90);
    boom.cubicTo(30, 108, 42, 104, 52, 101);
    p.drawPath(boom);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 40, 40));
    p.drawEllipse(QRectF(50, 97, 8, 7));
    p.end();
    return img;
}

QImage microphonePicture()
{
    QImage img = canvas(38, 40);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    drawMicrophone(p, QRectF(0, 0, 38, 40));
    p.end();
    return img;
}

QIcon playButtonIcon()
{
    return buttonIcon(33, 33, true);
}

QIcon pauseButtonIcon()
{
    return buttonIcon(32, 33, false);
}

QIcon treeStateIcon(int index)
{
    if (index < 1 || index > 3)
        return {};
    QImage img = canvas(16, 16);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(20, 60, 140), 1));
    switch (index) {
    case 1: // a part: a closed folder
        p.setBrush(QColor(250, 200, 70));
        p.drawRoundedRect(QRectF(1.5, 4.5, 13, 10), 1.5, 1.5);
        p.drawRect(QRectF(1.5, 2.5, 6, 3));
        break;
    case 2: // a section: a stack of pages
        p.setBrush(QColor(180, 215, 255));
        p.drawRect(QRectF(4.5, 1.5, 10, 11));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(1.5, 3.5, 10, 11));
        break;
    default: // an item: a speech bubble
        p.setBrush(QColor(110, 200, 120));
        p.drawEllipse(QRectF(1.5, 2.5, 13, 9.5));
        QPolygonF tail;
        tail << QPointF(4, 10) << QPointF(3, 15) << QPointF(8, 11);
        p.drawPolygon(tail);
        break;
    }
    p.end();
    return QIcon(QPixmap::fromImage(img));
}

} // namespace playlist
