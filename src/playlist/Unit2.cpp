#include "playlist/Unit2.h"

#include "platform/ErrorDisplay.h"
#include "platform/TTimer.h"
#include "playlist/PlaylistPictures.h"
#include "playlist/TreeFunc.h"
#include "ui/ClickLabel.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QSystemTrayIcon>
#include <QTextEdit>
#include <QToolButton>
#include <QTreeWidget>

namespace {

constexpr int kTopHeight = 33;
constexpr int kLeftWidth = 185;
constexpr int kBottomHeight = 70;
constexpr int kBottomLeftWidth = 184;
constexpr int kLeftToolsHeight = 26;
constexpr int kPlayerToolsHeight = 37;
constexpr int kTrackBarHeight = 25;

const QColor kBlue(0, 0, 255);
const QColor kGreen(0, 128, 0);

QFont face(const char *family, int pixels, bool bold)
{
    QFont f(QString::fromUtf8(family));
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

void setTextColour(QWidget *w, const QColor &c)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, c);
    p.setColor(QPalette::Text, c);
    p.setColor(QPalette::ButtonText, c);
    w->setPalette(p);
}

template <typename T>
T *named(T *w, const char *name)
{
    w->setObjectName(QString::fromLatin1(name));
    return w;
}

QFrame *panel(QWidget *parent, const char *name)
{
    auto *f = named(new QFrame(parent), name);
    f->setFrameShape(QFrame::StyledPanel);
    f->setFrameShadow(QFrame::Raised);
    f->setAutoFillBackground(true);
    return f;
}

} // namespace

TForm2::TForm2(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("Form2"));
    buildLayout();
    platform::guarded([this] { FormCreate(); });
}

TForm2::~TForm2() = default;

void TForm2::buildLayout()
{
    // The skin offers minimise and maximise only: a run is left through its
    // end message. Where no notification area exists the main window keeps
    // its close button, and so does this window, or a run hiding the main
    // window could never be left.
    Qt::WindowFlags flags = Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                            | Qt::WindowMinMaxButtonsHint | Qt::CustomizeWindowHint;
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        flags |= Qt::WindowCloseButtonHint;
    setWindowFlags(flags);
    setWindowState(Qt::WindowMaximized);
    resize(1024, 708);
    setFont(face("MS Sans Serif", 11, true));
    setTextColour(this, kBlue);

    pnlTop = panel(this, "pnlTop");
    pnlLeft = panel(this, "pnlLeft");
    pnlBottom = panel(this, "pnlBottom");
    pnlMain = panel(this, "pnlMain");
    pnlMain->setFrameShape(QFrame::NoFrame);

    lbl1 = named(new QLabel(pnlTop), "lbl1");
    lbl1->setAlignment(Qt::AlignCenter);
    lbl1->setFont(face("黑体", 20, false));
    setTextColour(lbl1, kBlue);

    pnlLeftTools = panel(pnlLeft, "pnlLeftTools");
    Button1 = named(new QPushButton(QStringLiteral("字体设置"), pnlLeftTools), "Button1");
    Button1->setGeometry(2, 2, 75, kLeftToolsHeight - 4);
    Button1->setFlat(true);

    // Labels lie under the windowed controls of their panel, as painted
    // labels do, so they are created first.
    lblHint = named(new QLabel(pnlLeft), "lblHint");
    lblHint->setAlignment(Qt::AlignCenter);
    lblHint->setFont(face("黑体", 20, false));
    setTextColour(lblHint, kBlue);
    lblHint->setGeometry(40, 229, 105, 24);

    lblUserID = named(new QLabel(QStringLiteral("考生信息"), pnlLeft), "lblUserID");
    lblUserID->setFont(face("Arial", 16, false));
    setTextColour(lblUserID, kBlue);
    lblUserID->move(64, 241);
    lblUserID->adjustSize();

    const auto linkLabel = [this](const char *name, const QString &text, int top) {
        auto *l = named(new ui::ClickLabel(text, pnlLeft), name);
        l->setFont(face("宋体", 16, true));
        setTextColour(l, kGreen);
        l->move(39, top);
        l->adjustSize();
        return l;
    };
    Labelprior = linkLabel("Labelprior", QStringLiteral("播放前一项<--"), 351);
    lblNext = linkLabel("lblNext", QStringLiteral("播放下一项-->"), 368);

    dclabel = named(new QLabel(QStringLiteral("准备时间"), pnlLeft), "dclabel");
    dclabel->setGeometry(16, 400, 150, 24);
    dclabel->hide();

    Image1 = named(new QLabel(pnlLeft), "Image1");
    Image1->setPixmap(QPixmap::fromImage(playlist::headsetPicture()));
    Image1->setGeometry(32, 24, 129, 209);
    Image1->hide();

    imgLogo = named(new QLabel(pnlLeft), "imgLogo");
    imgLogo->setPixmap(QPixmap::fromImage(playlist::microphonePicture()));
    imgLogo->setGeometry(74, 452, 38, 40);
    imgLogo->hide();

    treeview1 = named(new QTreeWidget(pnlLeft), "treeview1");
    treeview1->setGeometry(11, 27, 166, 255);
    treeview1->setHeaderHidden(true);
    treeview1->setIndentation(19);
    treeview1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    treeview1->setFont(face("宋体", 12, false));
    {
        // The selection stays visible when the tree loses the focus.
        QPalette p = treeview1->palette();
        p.setColor(QPalette::Inactive, QPalette::Highlight, p.color(QPalette::Active, QPalette::Highlight));
        p.setColor(QPalette::Inactive, QPalette::HighlightedText, p.color(QPalette::Active, QPalette::HighlightedText));
        treeview1->setPalette(p);
    }

    // Level meter places, left and right channel.
    const auto meterPlace = [this](const char *name, int top) {
        auto *m = named(new QFrame(pnlLeft), name);
        m->setFrameShape(QFrame::Box);
        m->setAutoFillBackground(true);
        QPalette p = m->palette();
        p.setColor(QPalette::Window, Qt::black);
        m->setPalette(p);
        m->setGeometry(38, top, 131, 9);
        m->hide();
        return m;
    };
    mlvl1 = meterPlace("mlvl1", 344);
    mlvl2 = meterPlace("mlvl2", 380);

    pnlPlayerTools = panel(pnlLeft, "pnlPlayerTools");
    btplay = named(new QToolButton(pnlPlayerTools), "btplay");
    btplay->setIcon(playlist::playButtonIcon());
    btplay->setIconSize(QSize(33, 33));
    btplay->setAutoRaise(true);
    btplay->setGeometry(2, 2, 33, 33);
    auto *divider = named(new QFrame(pnlPlayerTools), "divider");
    divider->setFrameShape(QFrame::VLine);
    divider->setFrameShadow(QFrame::Sunken);
    divider->setGeometry(37, 4, 4, 29);
    btpause = named(new QToolButton(pnlPlayerTools), "btpause");
    btpause->setIcon(playlist::pauseButtonIcon());
    btpause->setIconSize(QSize(32, 33));
    btpause->setAutoRaise(true);
    btpause->setGeometry(43, 2, 32, 33);
    MediaPlayer = named(new QFrame(pnlPlayerTools), "MediaPlayer");
    MediaPlayer->setGeometry(104, 4, 57, 24);

    vplayer1 = named(new QFrame(pnlMain), "vplayer1");
    vplayer1->setAutoFillBackground(true);
    {
        QPalette p = vplayer1->palette();
        p.setColor(QPalette::Window, Qt::black);
        vplayer1->setPalette(p);
    }
    vplayer1->hide();
    TrackBar = named(new QFrame(pnlMain), "TrackBar");
    TrackBar->hide();

    mmoContentMemo = named(new QTextEdit(pnlMain), "mmoContentMemo");
    {
        QFont f = face("Times New Roman", 32, true);
        mmoContentMemo->setFont(f);
        mmoContentMemo->document()->setDefaultFont(f);
    }
    mmoContentMemo->setAcceptRichText(true);
    mmoContentMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmoContentMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    mmoContentMemo->setLineWrapMode(QTextEdit::WidgetWidth);
    mmoContentMemo->setPlainText(QStringLiteral("mmoContentMemo"));
    setTextColour(mmoContentMemo, Qt::black);
    mmoContentMemo->hide();

    RzCheckBox1 = named(new QCheckBox(QStringLiteral("参考答案"), pnlBottom), "RzCheckBox1");
    RzCheckBox1->setFont(face("楷体_GB2312", 19, true));
    setTextColour(RzCheckBox1, kBlue);
    RzCheckBox1->move(25, 24);
    RzCheckBox1->adjustSize();
    RzCheckBox1->hide();

    answerMemo = named(new QPlainTextEdit(pnlBottom), "answerMemo");
    answerMemo->setFont(face("Times New Roman", 21, false));
    setTextColour(answerMemo, kBlue);
    answerMemo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    answerMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    answerMemo->hide();

    timer = new platform::TTimer(this, 1000, false);
    timer->setObjectName(QStringLiteral("timer"));
    timer2 = new platform::TTimer(this, 1000, false);
    timer2->setObjectName(QStringLiteral("timer2"));

    layoutPanels();
}

void TForm2::layoutPanels()
{
    const int w = width();
    const int h = height();
    const int middle = std::max(0, h - kTopHeight - kBottomHeight);
    pnlTop->setGeometry(0, 0, w, kTopHeight);
    lbl1->setGeometry(pnlTop->contentsRect());
    pnlBottom->setGeometry(0, h - kBottomHeight, w, kBottomHeight);
    answerMemo->setGeometry(kBottomLeftWidth, 0, std::max(0, w - kBottomLeftWidth), kBottomHeight);
    pnlLeft->setGeometry(0, kTopHeight, kLeftWidth, middle);
    pnlLeftTools->setGeometry(0, 0, kLeftWidth, kLeftToolsHeight);
    pnlPlayerTools->setGeometry(0, std::max(0, middle - kPlayerToolsHeight), kLeftWidth, kPlayerToolsHeight);
    pnlMain->setGeometry(kLeftWidth, kTopHeight, std::max(0, w - kLeftWidth), middle);
    const int mw = pnlMain->width();
    const int mh = pnlMain->height();
    vplayer1->setGeometry(0, 0, mw, std::max(0, mh - kTrackBarHeight));
    TrackBar->setGeometry(0, std::max(0, mh - kTrackBarHeight), mw, kTrackBarHeight);
    mmoContentMemo->setGeometry(0, 0, mw, mh);
}

void TForm2::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    layoutPanels();
}

const QStringList &TForm2::GetFieldList()
{
    m_pathList.clear();
    m_pathList.append(dsplaylist.FieldByName(QStringLiteral("itemid")).AsString());
    m_pathList.append(dsplaylist.FieldByName(QStringLiteral("subitemid")).AsString());
    m_pathList.append(dsplaylist.FieldByName(QStringLiteral("filepath")).AsString());
    return m_pathList;
}

void TForm2::FormCreate()
{
    dsplaylist.setFileName(QString());
    dsplaylist.setFileName(QStringLiteral("c:\\testtank\\information.xml"));
    ds1.Enabled = true;
    dsplaylist.Open();
    timer->setEnabled(true);
    timer2->setEnabled(true);
    m_pathList.clear();

    treeview1->setUpdatesEnabled(false);
    // Repainting resumes even when a record fails to load, or the tree
    // would never be drawn again.
    const auto resume = qScopeGuard([this] { treeview1->setUpdatesEnabled(true); });
    dsplaylist.First();
    while (!dsplaylist.Eof()) {
        const TBookmark bookmark = dsplaylist.GetBookmark();
        TreeFunc::AddTreePath(treeview1, GetFieldList(), QVariant::fromValue(bookmark.row), false);
        dsplaylist.Next();
    }
    m_pathList.clear();
    TreeFunc::SortChildren(treeview1, nullptr, true);
    treeview1->setUpdatesEnabled(true);

    // Selecting fires treeview1Change at once, which puts the cursor on the
    // leaf's record.
    treeview1->setCurrentItem(TreeFunc::NodeAtAbsoluteIndex(treeview1, 2));
}
