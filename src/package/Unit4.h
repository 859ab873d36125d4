#pragma once

#include <QWidget>

class QLabel;

// The install progress window "正在安装试题......". While it is shown the
// main window is hidden; whenever it is closed (also while hidden) the main
// window comes back and its two mode buttons are enabled. It reaches the main
// window only through app::Form1 and its buttons by name. UI thread only.
class TForm4 : public QWidget
{
    Q_OBJECT
public:
    explicit TForm4(QWidget *parent = nullptr);

    void FormShow();
    void FormClose();

    QLabel *lbl2 = nullptr;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
};
