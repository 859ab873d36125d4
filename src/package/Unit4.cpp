#include "package/Unit4.h"

#include "ui/FormUtil.h"

#include <QLabel>

TForm4::TForm4(QWidget *parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("Form4"));
    setWindowTitle(QStringLiteral("正在安装试题......"));
    ui::setFixedClientSize(this, 395, 54);
    ui::centreOnScreen(this);
    lbl2 = new QLabel(QStringLiteral("正在装载试题，请稍候..."), this);
    lbl2->setObjectName(QStringLiteral("lbl2"));
    lbl2->setGeometry(24, 8, 272, 29);
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setPixelSize(24);
    f.setBold(true);
    lbl2->setFont(f);
    lbl2->adjustSize();
}
