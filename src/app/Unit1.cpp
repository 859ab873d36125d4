#include "app/Unit1.h"

#include "app/Pictures.h"
#include "app/WorkingFolders.h"
#include "platform/AppWindows.h"
#include "platform/ErrorDisplay.h"
#include "platform/TTimer.h"
#include "package/UnwrapPackage.h"
#include "playlist/Unit2.h"
#include "media/TDSTrackBar.h"
#include "media/TMediaPlayer.h"
#include "ui/ClickLabel.h"

#include <QAction>
#include <QCheckBox>
#include <QTreeWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QSystemTrayIcon>

namespace {

// Wires a button's click to a handler that runs through the error display.
template <typename F>
void onClick(QPushButton *button, QObject *ctx, F handler)
{
    QObject::connect(button, &QPushButton::clicked, ctx, [handler] { platform::guarded(handler); });
}

} // namespace

TForm1::TForm1(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Quenvar"));
    setWindowIcon(app::applicationIcon());
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);

    // The program ends from the tray menu, so the frame offers minimise and
    // maximise only. Without a notification area that would leave no way
    // out: there the close button stays, doing what "关    闭" does.
    m_closeButton = !QSystemTrayIcon::isSystemTrayAvailable();
    Qt::WindowFlags flags = Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                            | Qt::WindowMinMaxButtonsHint | Qt::CustomizeWindowHint;
    if (m_closeButton)
        flags |= Qt::WindowCloseButtonHint;
    setWindowFlags(flags);

    resize(1024, 708);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());

    img1 = new QLabel(this);
    img1->setObjectName(QStringLiteral("img1"));
    img1->setPixmap(QPixmap::fromImage(app::mainBackground()));
    img1->setScaledContents(true);
    img1->setGeometry(rect());

    Btn5 = makeButton("Btn5", QStringLiteral("装入试题"), 136, true);
    RzBitBtn4 = makeButton("RzBitBtn4", QStringLiteral("考试模式"), 216, false);
    Btn1 = makeButton("Btn1", QStringLiteral("练习模式"), 296, false);
    RzBitBtn2 = makeButton("RzBitBtn2", QStringLiteral("录音回放"), 376, true);
    RzBitBtn1 = makeButton("RzBitBtn1", QStringLiteral("关于我们"), 456, true);
    // Tab order: Btn5, Btn1, RzBitBtn4, RzBitBtn1, RzBitBtn2.
    setTabOrder(Btn5, Btn1);
    setTabOrder(Btn1, RzBitBtn4);
    setTabOrder(RzBitBtn4, RzBitBtn1);
    setTabOrder(RzBitBtn1, RzBitBtn2);

    onClick(Btn5, this, [this] { btn5Click(); });
    onClick(Btn1, this, [this] { btn1Click(); });
    onClick(RzBitBtn4, this, [this] { RzBitBtn4Click(); });
    onClick(RzBitBtn2, this, [this] { RzBitBtn2Click(); });
    onClick(RzBitBtn1, this, [this] { RzBitBtn1Click(); });

    traymenu = new QMenu(this);
    traymenu->setObjectName(QStringLiteral("traymenu"));
    Aboutus1 = traymenu->addAction(QStringLiteral("关于我们"));
    Aboutus1->setObjectName(QStringLiteral("Aboutus1"));
    Aboutus1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    N1 = traymenu->addAction(QStringLiteral("关    闭"));
    N1->setObjectName(QStringLiteral("N1"));
    N1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    connect(Aboutus1, &QAction::triggered, this, [this] { platform::guarded([this] { Aboutus1Click(); }); });
    // The shortcuts work while the main window has the focus as well.
    addAction(Aboutus1);
    addAction(N1);
    connect(N1, &QAction::triggered, this, [this] { platform::guarded([this] { N1Click(); }); });

    Dialog1.Filter = QStringLiteral("英语听说试题文件|*.qvtp");
    Dialog1.DefaultExt = QStringLiteral("qvtp");
    dfnrunrar = new TDFUnRar(this);
    dfnrunrar->setObjectName(QStringLiteral("dfnrunrar"));
    dfnrunrar->OnProgress = [this](TDFUnRar *sender, unsigned a, unsigned b, unsigned c, unsigned d) {
        dfnrunrarProgress(sender, a, b, c, d);
    };
    dfnrunrar->OnRarStatus = [this](TDFUnRar *sender, const QString &message, TRarStatus status) {
        dfnrunrarRarStatus(sender, message, status);
    };

    Tray = new QSystemTrayIcon(app::trayIcon(0), this);
    Tray->setObjectName(QStringLiteral("Tray"));
    Tray->setToolTip(QStringLiteral("Quenvar"));
    Tray->setContextMenu(traymenu);
    connect(Tray, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick)
            platform::guarded([this] { TrayDblClick(); });
    });
    Tray->show();

    // The icon alternates between the list's two icons once a second; the
    // first change comes one second after start-up.
    m_trayAnimation = new platform::TTimer(this, 1000, true);
    m_trayAnimation->OnTimer = [this] { trayTimerTick(); };
}

TForm1::~TForm1() = default;

QPushButton *TForm1::makeButton(const char *name, const QString &caption, int top, bool enabled)
{
    auto *button = new QPushButton(caption, this);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(600, top, 169, 41);
    button->setEnabled(enabled);
    QFont f = button->font();
    f.setPixelSize(16);
    f.setBold(true);
    button->setFont(f);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

void TForm1::FormShow()
{
    app::checkWorkingFolders();
}

void TForm1::FormClose()
{
    // Closing the main window ends the program: the loop stops and every
    // window goes with it.
    QCoreApplication::quit();
}

void TForm1::btn1Click()
{
    startRun(QStringLiteral("【练习模式】"), false);
}

void TForm1::RzBitBtn4Click()
{
    startRun(QStringLiteral("【考试模式】"), true);
}

void TForm1::startRun(const QString &captionSuffix, bool exam)
{
    // A fresh test window per run; its creation loads the manifest and
    // starts the tick, and its show handler empties the answers folder.
    auto *form = new TForm2(this);
    app::CurrentTestWindow = form;
    form->showMaximized();
    form->setWindowTitle(windowTitle() + captionSuffix);
    // Exam mode offers no stepping, tree, seek bar, player buttons or
    // reference answer; a picture takes the tree's place.
    form->lblNext->setVisible(!exam);
    if (exam)
        form->Labelprior->hide();
    form->treeview1->setVisible(!exam);
    form->TrackBar->setVisible(!exam);
    form->Image1->setVisible(exam);
    form->RzCheckBox1->setVisible(!exam);
    form->MediaPlayer->setVisible(!exam);
}

void TForm1::RzBitBtn2Click()
{
    if (app::Form3)
        app::Form3->show();
}

void TForm1::RzBitBtn1Click()
{
    if (app::aboutus)
        app::aboutus->show();
}

void TForm1::Aboutus1Click()
{
    if (app::aboutus)
        app::aboutus->show();
}

void TForm1::N1Click()
{
    close();
}

void TForm1::TrayDblClick()
{
    showMaximized();
    raise();
    activateWindow();
}

void TForm1::trayTimerTick()
{
    m_trayIndex = (m_trayIndex + 1) % 2;
    Tray->setIcon(app::trayIcon(m_trayIndex));
}

void TForm1::btn5Click()
{
    Dialog1.InitialDir = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    if (!Dialog1.Execute(this))
        return;
    // Whatever the unwrapping did, the archive on disk is extracted; its
    // error is shown afterwards (an error of the extraction would win).
    std::exception_ptr failure;
    try {
        package::installPackage(Dialog1.FileName, QStringLiteral("c:\\testtank\\temp.rar"));
    } catch (...) {
        failure = std::current_exception();
    }
    dfnrunrar->Directory = QStringLiteral("c:\\testtank");
    dfnrunrar->FileName = QStringLiteral("c:\\testtank\\temp.rar");
    dfnrunrar->setMode(DFRAR_EXTRACT);
    dfnrunrar->OverrideEvent = OR_ALWAYS;
    dfnrunrar->Extract();
    if (failure)
        std::rethrow_exception(failure);
}

void TForm1::dfnrunrarProgress(TDFUnRar *, unsigned, unsigned, unsigned, unsigned)
{
    if (!app::Form4)
        return;
    app::Form4->show();
    app::Form4->raise();
    // The extraction runs inside the click handler, so the loop would not
    // paint the window until it ends: paint it now, without taking input.
    app::Form4->repaint();
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void TForm1::dfnrunrarRarStatus(TDFUnRar *, const QString &, TRarStatus)
{
    if (app::Form4)
        app::Form4->close();
}

void TForm1::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        platform::guarded([this] { FormShow(); });
}

void TForm1::closeEvent(QCloseEvent *event)
{
    platform::guarded([this] { FormClose(); });
    event->accept();
}

void TForm1::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // Only the picture stretches; the buttons keep their places.
    img1->setGeometry(rect());
}

void TForm1::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    // A minimised program keeps only its tray icon; the taskbar entry goes.
    // Without a notification area there would be nothing left to restore
    // it from, so it then minimises as usual.
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized)
        && !m_closeButton && QSystemTrayIcon::isSystemTrayAvailable())
        QMetaObject::invokeMethod(this, [this] { hide(); }, Qt::QueuedConnection);
}
