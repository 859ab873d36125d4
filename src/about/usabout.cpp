#include "about/usabout.h"

#include "about/AboutBackground.h"
#include "about/LinkLabel.h"
#include "about/PictureBox.h"
#include "platform/ErrorDisplay.h"
#include "platform/TTimer.h"
#include "ui/FormUtil.h"

#include <QDesktopServices>
#include <QFontMetrics>
#include <QLabel>
#include <QPainter>
#include <QRegularExpression>

int CreditTop = 0;

const QString Taboutus::kMailCaption = QStringLiteral("Mailto: support@tolvane.example");
const QString Taboutus::kSupportCaption = QStringLiteral("技术支持:（QQ）800 168 2021");
const QString Taboutus::kTitleCredit = QStringLiteral("TolvaneV2.1");
const QString Taboutus::kCopyrightCredit = QStringLiteral("© 2026 版权所有");
const QString Taboutus::kMakerCredit = QStringLiteral("Tolvane 听说训练开发组 出品");

namespace {

// Point sizes as a 96-dpi screen turns them into character heights, so the
// credits measure the same on every display.
int pixelsForPoints(int points)
{
    return (points * 96 + 36) / 72;
}

QFont creditFont(int points)
{
    QFont font(QStringLiteral("楷体_GB2312"));
    font.setPixelSize(pixelsForPoints(points));
    font.setBold(true);
    return font;
}

// The caption reads "Mailto: address"; a URL has no blank after the
// scheme, and a mail handler given "%20address" would address nobody.
QUrl mailUrl(const QString &caption)
{
    QString text = caption.trimmed();
    text.replace(QRegularExpression(QStringLiteral("^([A-Za-z]+):\\s+")), QStringLiteral("\\1:"));
    return QUrl(text);
}

} // namespace

Taboutus::Taboutus(QWidget *parent) : QWidget(parent, Qt::Dialog)
{
    setObjectName(QStringLiteral("aboutus"));
    setWindowTitle(QStringLiteral("关于我们"));
    ui::setFixedClientSize(this, 311, 244);
    ui::centreOnScreen(this);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(166, 202, 240));
    setPalette(pal);
    setAutoFillBackground(true);
    QFont font(QStringLiteral("宋体"));
    font.setPixelSize(pixelsForPoints(9));
    setFont(font);

    img1 = new PictureBox(this);
    img1->setObjectName(QStringLiteral("img1"));
    img1->move(0, -4);
    img1->setPicture(makeAboutBackground());
    img1->OnMouseMove = [this](int x, int y) { img1MouseMove(x, y); };

    RzLabel1 = new QLabel(QStringLiteral("电子邮箱:"), this);
    RzLabel1->setObjectName(QStringLiteral("RzLabel1"));
    RzLabel1->move(56, 208);
    RzLabel1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    RzLabel1->adjustSize();

    RzURLLabel1 = new LinkLabel(kMailCaption, this);
    RzURLLabel1->setObjectName(QStringLiteral("RzURLLabel1"));
    QFont linkFont(QStringLiteral("MS Sans Serif"));
    linkFont.setPixelSize(pixelsForPoints(8));
    linkFont.setUnderline(true);
    RzURLLabel1->setFont(linkFont);
    RzURLLabel1->move(112, 208);
    RzURLLabel1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    RzURLLabel1->adjustSize();
    RzURLLabel1->OnClick = [this] { RzURLLabel1Click(); };

    RzLabel2 = new QLabel(kSupportCaption, this);
    RzLabel2->setObjectName(QStringLiteral("RzLabel2"));
    RzLabel2->move(56, 232);
    // Label text starts at the label's top, as on the original layout; the
    // last line sits close to the window's bottom edge.
    RzLabel2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    RzLabel2->adjustSize();

    tmr1 = new platform::TTimer(this, 50, true);
    tmr1->OnTimer = [this] { tmr1Timer(); };

    OpenUrl = [](const QUrl &url) { return QDesktopServices::openUrl(url); };

    platform::guarded([this] { FormCreate(); });
}

Taboutus::~Taboutus()
{
    FormDestroy();
}

void Taboutus::FormCreate()
{
    Background = img1->picture().convertToFormat(QImage::Format_BGR888);
    // The control keeps a fresh picture of the same size: every frame is
    // drawn into it from the clean copy, and the credits over that.
    QImage target(Background.width(), Background.height(), QImage::Format_BGR888);
    target.fill(Qt::white);
    img1->setPicture(target);
    Water = std::make_unique<TWaterEffect>();
    Water->SetSize(Background.width(), Background.height());
    CreditTop = img1->height();
}

void Taboutus::FormDestroy()
{
    if (tmr1)
        tmr1->setEnabled(false);
    Water.reset();
    Background = QImage();
}

void Taboutus::img1MouseMove(int X, int Y)
{
    if (Water)
        Water->Blob(X, Y, 1, 100);
}

void Taboutus::tmr1Timer()
{
    if (!Water)
        return;
    if (Random(8) == 1)
        Water->Blob(-1, -1, 1, Random(500) + 50);
    Water->Render(Background, img1->picture());
    --CreditTop;
    if (CreditTop < -100)
        CreditTop = img1->height() + 10;
    drawCredits();
    img1->update();
}

void Taboutus::drawCredits()
{
    QPainter painter(&img1->picture());
    const auto lineAt = [&](const QString &text, int points, int top, bool shadow) {
        const QFont font = creditFont(points);
        painter.setFont(font);
        const QFontMetrics metrics(font);
        const int left = (Background.width() - metrics.horizontalAdvance(text)) / 2;
        // Text positions name the top of the character cell; QPainter
        // places text on its baseline.
        const int baseline = metrics.ascent();
        if (shadow) {
            painter.setPen(Qt::black);
            painter.drawText(left + 2, top + 2 + baseline, text);
        }
        painter.setPen(QColor(255, 255, 0));
        painter.drawText(left, top + baseline, text);
    };
    lineAt(kTitleCredit, 18, CreditTop, true);
    lineAt(kCopyrightCredit, 18, CreditTop + 50, false);
    lineAt(kMakerCredit, 14, CreditTop + 80, false);
}

void Taboutus::RzURLLabel1Click()
{
    if (OpenUrl && OpenUrl(mailUrl(RzURLLabel1->text())))
        RzURLLabel1->setVisited(true);
}
