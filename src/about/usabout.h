#pragma once

#include <QWidget>

// The About window "关于我们" with its water-ripple picture. UI thread only.
class Taboutus : public QWidget
{
    Q_OBJECT
public:
    explicit Taboutus(QWidget *parent = nullptr);
};
