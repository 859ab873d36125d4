#include "ui/FormUtil.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace ui {

void setFixedClientSize(QWidget *window, int width, int height)
{
    window->setFixedSize(width, height);
}

void centreOnScreen(QWidget *window)
{
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        window->move(area.center() - QPoint(window->width() / 2, window->height() / 2));
    }
}

} // namespace ui
