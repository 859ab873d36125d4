#include "about/PictureBox.h"

#include "platform/ErrorDisplay.h"

#include <QMouseEvent>
#include <QPainter>

PictureBox::PictureBox(QWidget *parent) : QWidget(parent)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureBox::setPicture(const QImage &picture)
{
    m_picture = picture;
    resize(m_picture.size());
    update();
}

void PictureBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawImage(0, 0, m_picture);
}

void PictureBox::mouseMoveEvent(QMouseEvent *event)
{
    if (!OnMouseMove)
        return;
    const QPoint at = event->position().toPoint();
    platform::guarded([&] { OnMouseMove(at.x(), at.y()); });
}
