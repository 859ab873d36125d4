#pragma once

#include <QWidget>

// The recordings window "我的录音": lists the answers in c:\recording\,
// packs them into a ZIP archive and restores one. UI thread only.
class TForm3 : public QWidget
{
    Q_OBJECT
public:
    explicit TForm3(QWidget *parent = nullptr);
};
