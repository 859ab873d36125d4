#include "package/Unit4.h"

#include "platform/AppWindows.h"
#include "platform/ErrorDisplay.h"
#include "ui/FormUtil.h"

#include <QCloseEvent>
#include <QLabel>
#include <QShowEvent>

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

void TForm4::FormShow()
{
    if (app::Form1)
        app::Form1->hide();
}

void TForm4::FormClose()
{
    if (!app::Form1)
        return;
    app::Form1->show();
    for (const char *name : {"Btn1", "RzBitBtn4"})
        if (auto *button = app::Form1->findChild<QWidget *>(QString::fromLatin1(name)))
            button->setEnabled(true);
}

void TForm4::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        platform::guarded([this] { FormShow(); });
}

void TForm4::closeEvent(QCloseEvent *event)
{
    platform::guarded([this] { FormClose(); });
    event->accept();
}
