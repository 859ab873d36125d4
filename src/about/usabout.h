#pragma once

#include "about/untWaterEffect.h"

#include <QImage>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>

class QLabel;
class LinkLabel;
class PictureBox;

namespace platform {
class TTimer;
}

// Vertical position of the first credit line within the picture. One per
// program: every About window scrolls the same credits.
extern int CreditTop;

// The About window "关于我们": a background picture under a water-ripple
// simulation, credits scrolling up across it, a mail link and a support
// line. Created once at start-up; its animation runs from then on whether
// the window is shown or not; closing it only hides it. UI thread only.
class Taboutus : public QWidget
{
    Q_OBJECT
public:
    explicit Taboutus(QWidget *parent = nullptr);
    ~Taboutus() override;

    // Handlers, callable from tests.
    void FormCreate();
    void FormDestroy();
    void img1MouseMove(int X, int Y);
    void tmr1Timer();
    void RzURLLabel1Click();

    // The clean copy of the background picture; never drawn on.
    [[nodiscard]] const QImage &background() const { return Background; }
    [[nodiscard]] TWaterEffect *water() const { return Water.get(); }

    // The shell's "Open" verb; tests replace it. Answers whether the link
    // was accepted.
    std::function<bool(const QUrl &)> OpenUrl;

    PictureBox *img1 = nullptr;
    QLabel *RzLabel1 = nullptr;
    LinkLabel *RzURLLabel1 = nullptr;
    QLabel *RzLabel2 = nullptr;
    platform::TTimer *tmr1 = nullptr;

    static const QString kMailCaption;
    static const QString kSupportCaption;
    static const QString kTitleCredit;
    static const QString kCopyrightCredit;
    static const QString kMakerCredit;

private:
    void drawCredits();

    QImage Background;
    std::unique_ptr<TWaterEffect> Water;
};
