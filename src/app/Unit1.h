#pragma once

#include "package/DFUnRar.h"
#include "platform/Dialogs.h"

#include <QWidget>

#include <memory>

class QLabel;
class QMenu;
class QPushButton;
class QSystemTrayIcon;
class QAction;

namespace platform {
class TTimer;
}

// The main window: five buttons over a background picture and the icon in
// the notification area. Closing it ends the program. UI thread only.
class TForm1 : public QWidget
{
    Q_OBJECT
public:
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    // Handlers, callable from tests.
    void FormShow();
    void FormClose();
    void btn1Click();
    void RzBitBtn4Click();
    void RzBitBtn2Click();
    void RzBitBtn1Click();
    void Aboutus1Click();
    void N1Click();
    void TrayDblClick();
    void trayTimerTick();
    void btn5Click();
    void dfnrunrarProgress(TDFUnRar *Sender, unsigned FilesProcessed, unsigned FileCount, unsigned SizeProcessed,
                           unsigned SizeCount);
    void dfnrunrarRarStatus(TDFUnRar *Sender, const QString &Message, TRarStatus status);

    // Whether the frame offers a close button: only where no notification
    // area exists, since the tray menu is otherwise the way to end.
    [[nodiscard]] bool hasCloseButton() const { return m_closeButton; }
    [[nodiscard]] int trayIconIndex() const { return m_trayIndex; }

    QLabel *img1 = nullptr;
    QPushButton *Btn5 = nullptr;
    QPushButton *RzBitBtn4 = nullptr;
    QPushButton *Btn1 = nullptr;
    QPushButton *RzBitBtn2 = nullptr;
    QPushButton *RzBitBtn1 = nullptr;
    QSystemTrayIcon *Tray = nullptr;
    QMenu *traymenu = nullptr;
    QAction *Aboutus1 = nullptr;
    QAction *N1 = nullptr;
    platform::TOpenDialog Dialog1;
    TDFUnRar *dfnrunrar = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    QPushButton *makeButton(const char *name, const QString &caption, int top, bool enabled);
    void startRun(const QString &captionSuffix, bool exam);

    platform::TTimer *m_trayAnimation = nullptr;
    int m_trayIndex = 0;
    bool m_closeButton = false;
};
