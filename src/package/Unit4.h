#pragma once

#include <QWidget>

class QLabel;

// The install progress window "正在安装试题......", shown while a test
// package is extracted. UI thread only.
class TForm4 : public QWidget
{
    Q_OBJECT
public:
    explicit TForm4(QWidget *parent = nullptr);

    QLabel *lbl2 = nullptr;
};
