#include "recordings/Unit3.h"

#include "ui/FormUtil.h"

TForm3::TForm3(QWidget *parent) : QWidget(parent, Qt::Dialog)
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("我的录音"));
    ui::setFixedClientSize(this, 319, 480);
    ui::centreOnScreen(this);
}
