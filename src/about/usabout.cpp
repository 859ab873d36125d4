#include "about/usabout.h"

#include "ui/FormUtil.h"

Taboutus::Taboutus(QWidget *parent) : QWidget(parent, Qt::Dialog)
{
    setObjectName(QStringLiteral("aboutus"));
    setWindowTitle(QStringLiteral("关于我们"));
    ui::setFixedClientSize(this, 311, 244);
    ui::centreOnScreen(this);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(166, 202, 240));
    setPalette(pal);
    setAutoFillBackground(true);
}
