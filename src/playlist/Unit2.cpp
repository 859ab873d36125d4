#include "playlist/Unit2.h"

#include "audio/MMConect.h"
#include "audio/MMLevel.h"
#include "media/TDSTrackBar.h"
#include "media/TFilterGraph.h"
#include "media/TMediaPlayer.h"
#include "media/TVideoWindow.h"
#include "platform/AppWindows.h"
#include "platform/Dialogs.h"
#include "platform/ErrorDisplay.h"
#include "platform/Messages.h"
#include "platform/TTimer.h"
#include "platform/TickCount.h"
#include "platform/WinPath.h"
#include "playlist/PlaylistPictures.h"
#include "playlist/TreeFunc.h"
#include "ui/ClickLabel.h"
#include "ui/RtfReader.h"

#include <QApplication>
#include <QCheckBox>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>
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

const QString kTestTank = QStringLiteral("c:\\testtank\\");
const QString kRecording = QStringLiteral("c:\\recording\\");

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

// The module's run values: one set per process, shared by every test
// window, as the current kind must carry over from one run to the next.
TForm2::RunValues &run()
{
    static TForm2::RunValues values;
    return values;
}

} // namespace

const TForm2::RunValues &TForm2::runValues()
{
    return run();
}

void TForm2::resetRunValues()
{
    run() = RunValues{};
}

TForm2::TForm2(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("Form2"));
    setAttribute(Qt::WA_DeleteOnClose, false);
    buildLayout();
    wireHandlers();
    handle([this] { FormCreate(); });
}

TForm2::~TForm2()
{
    // The application-wide reference must not outlive the window.
    if (app::CurrentTestWindow == this)
        app::CurrentTestWindow = nullptr;
    // Recorder and players first: their engines may still post news to this
    // window. A failure here has no one left to report to.
    try {
        if (WaveRecorder)
            WaveRecorder->Stop();
        if (fltrgrph1)
            fltrgrph1->setActive(false);
    } catch (...) {
    }
}

template <typename F>
void TForm2::handle(F &&handler)
{
    ++m_handlerDepth;
    platform::guarded(std::forward<F>(handler));
    if (--m_handlerDepth == 0 && m_releasePending) {
        m_releasePending = false;
        deleteLater();
    }
}

void TForm2::release()
{
    if (m_handlerDepth > 0)
        m_releasePending = true;
    else
        deleteLater();
}

void TForm2::wireHandlers()
{
    timer->OnTimer = [this] { handle([this] { TimerTimer(); }); };
    timer2->OnTimer = [this] { handle([this] { timer2Timer(); }); };
    MediaPlayer->OnNotify = [this](QObject *) { handle([this] { MediaPlayerNotify(); }); };
    fltrgrph1->OnGraphComplete = [this](QObject *, qint32, qintptr) { handle([this] { fltrgrph1GraphComplete(); }); };
    lblNext->OnClick = [this] { handle([this] { lblNextClick(); }); };
    Labelprior->OnClick = [this] { handle([this] { LabelpriorClick(); }); };
    connect(treeview1, &QTreeWidget::currentItemChanged, this,
            [this] { handle([this] { treeview1Change(); }); });
    connect(RzCheckBox1, &QCheckBox::clicked, this, [this] { handle([this] { RzCheckBox1Click(); }); });
    connect(Button1, &QPushButton::clicked, this, [this] { handle([this] { Button1Click(); }); });
    connect(btplay, &QToolButton::clicked, this, [this] { handle([this] { btPlayClick(); }); });
    connect(btpause, &QToolButton::clicked, this, [this] { handle([this] { btPauseClick(); }); });
}

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

    // Level meters, left and right channel of the recorded answer.
    const auto meter = [this](const char *name, int top, TMMChannel channel) {
        auto *m = named(new TMMLevel(pnlLeft), name);
        m->setGeometry(38, top, 131, 9);
        m->setPoint1(50);
        m->setPoint2(75);
        m->setBitLength(b16Bit);
        m->setMode(mStereo);
        m->setChannel(channel);
        m->setSamples(99);
        m->setNumPeaks(2);
        m->setPeakSpeed(1);
        m->setDecayMode(dmStepUp);
        m->setDecay(9);
        m->hide();
        return m;
    };
    mlvl1 = meter("mlvl1", 344, chLeft);
    mlvl2 = meter("mlvl2", 380, chRight);
    // The step labels overlap the meters by a few pixels; their text stays
    // readable above the bars.
    Labelprior->raise();
    lblNext->raise();

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
    MediaPlayer = named(new TMediaPlayer(pnlPlayerTools), "MediaPlayer");
    MediaPlayer->setGeometry(104, 4, 57, 24);

    fltrgrph1 = new TFilterGraph(this);
    fltrgrph1->setObjectName(QStringLiteral("fltrgrph1"));
    fltrgrph1->LinearVolume = true;
    vplayer1 = named(new TVideoWindow(pnlMain), "vplayer1");
    vplayer1->setFilterGraph(fltrgrph1);
    vplayer1->hide();
    TrackBar = named(new TDSTrackBar(pnlMain), "TrackBar");
    TrackBar->setFilterGraph(fltrgrph1);
    TrackBar->setFrequency(60);
    TrackBar->setTickPosition(QSlider::TicksBelow);
    TrackBar->hide();

    WaveRecorder = createAnswerRecorder(this);
    mcnctrConnector = new TMMConnector(this);
    mcnctrConnector->setObjectName(QStringLiteral("mcnctrConnector"));
    TMMConnector::SetEnterIdle(false);
    if (TMMDSPComponent *source = WaveRecorder->meterSource())
        mcnctrConnector->SetInput(source);
    mcnctrConnector->SetLevel1(mlvl1);
    mcnctrConnector->SetLevel2(mlvl2);

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

void TForm2::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        handle([this] { FormShow(); });
}

void TForm2::closeEvent(QCloseEvent *event)
{
    if (!m_closed)
        handle([this] { FormClose(); });
    event->accept();
}

void TForm2::FormShow()
{
    // The answers of the previous run go: files only, no confirmation, not
    // to a wastebasket; folders stay.
    const std::filesystem::path folder = platform::hostPath(kRecording);
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_directory(typeError))
            std::filesystem::remove(it->path(), typeError);
    }
    if (app::Form1)
        app::Form1->hide();
}

void TForm2::stopSequence()
{
    if (MediaPlayer->DeviceID() != 0 && MediaPlayer->Mode() == mpPlaying)
        MediaPlayer->Stop();
    fltrgrph1->Stop();
    WaveRecorder->Stop();
}

void TForm2::endRun()
{
    dsplaylist.setActive(false);
    timer->setEnabled(false);
    timer2->setEnabled(false);
    const platform::MsgResult answer =
        platform::messageBox(nullptr, QStringLiteral("英语口试结束，请按确定键返回！"),
                             QStringLiteral("Velmora，助您成功！"), platform::MsgIcon::Warning, platform::MsgButtons::Ok);
    if (answer == platform::MsgResult::Ok && !m_closed)
        close();
    if (app::Form3)
        app::Form3->show();
}

void TForm2::TimerTimer()
{
    if (dsplaylist.Eof()) {
        endRun();
        return;
    }
    dsplaylist.Next();
    lblHint->hide();
    RunValues &r = run();
    r.fileType = dsplaylist.FieldByName(QStringLiteral("filetype")).AsInteger();
    r.filePath = dsplaylist.FieldByName(QStringLiteral("filepath")).AsString();
    r.playTime = dsplaylist.FieldByName(QStringLiteral("playtime")).AsInteger();
    r.font = dsplaylist.FieldByName(QStringLiteral("font")).AsString();
    r.playDesc = dsplaylist.FieldByName(QStringLiteral("playdesc")).AsString();
    r.playHint = dsplaylist.FieldByName(QStringLiteral("playhint")).AsString();
    // An unknown kind performs the record as the kind before it.
    if (r.fileType >= RecordAudioTimed && r.fileType <= PlayVideo)
        r.kind = r.fileType;
    perform(r.kind);
}

void TForm2::showMeters(bool on)
{
    mlvl1->setVisible(on);
    mlvl2->setVisible(on);
    imgLogo->setVisible(on);
}

void TForm2::playAudioFile()
{
    MediaPlayer->Close();
    MediaPlayer->FileName = kTestTank + run().filePath;
    MediaPlayer->Open();
    MediaPlayer->Play();
}

void TForm2::perform(int kind)
{
    const RunValues &r = run();
    switch (kind) {
    case RecordAudioTimed:
        lblHint->setText(QStringLiteral("正在录音"));
        lblHint->show();
        Labelprior->hide();
        showMeters(true);
        dclabel->hide();
        TrackBar->hide();
        mmoContentMemo->show();
        vplayer1->hide();
        fltrgrph1->setActive(false);
        MediaPlayer->hide();
        // The audio starts before the recording, so the recording covers
        // exactly the time the prompt plays.
        playAudioFile();
        lblHint->show();
        WaveRecorder->setFileName(kRecording + r.playHint);
        WaveRecorder->Start();
        answerMemo->clear();
        ui::loadPlainMemo(answerMemo, kTestTank + r.font);
        timer->setEnabled(false);
        break;

    case RecordVideoTimed:
        lblHint->setText(QStringLiteral("正在录音"));
        lblHint->show();
        Labelprior->hide();
        showMeters(true);
        dclabel->hide();
        TrackBar->show();
        MediaPlayer->hide();
        mmoContentMemo->hide();
        vplayer1->setMode(vmVMR);
        vplayer1->show();
        fltrgrph1->setActive(true);
        fltrgrph1->ClearGraph();
        fltrgrph1->RenderFile(kTestTank + r.filePath);
        // Almost silent: the student answers over the picture alone.
        fltrgrph1->setVolume(1);
        fltrgrph1->Play();
        WaveRecorder->setFileName(kRecording + r.playHint);
        WaveRecorder->Start();
        timer->setEnabled(false);
        break;

    case ShowText:
        lbl1->setText(r.playDesc);
        Labelprior->show();
        showMeters(false);
        dclabel->hide();
        TrackBar->hide();
        MediaPlayer->hide();
        vplayer1->hide();
        mmoContentMemo->show();
        mmoContentMemo->clear();
        ui::loadRichMemo(mmoContentMemo, kTestTank + r.filePath);
        // Already on: the next tick keeps its one-second rhythm.
        timer->setEnabled(true);
        fltrgrph1->ClearGraph();
        fltrgrph1->setActive(false);
        vplayer1->hide();
        break;

    case PlayAudio:
        lblHint->setText(QStringLiteral("正在播音"));
        lblHint->show();
        lbl1->setText(r.playDesc);
        Labelprior->show();
        showMeters(false);
        dclabel->hide();
        TrackBar->hide();
        btplay->hide();
        btpause->hide();
        vplayer1->hide();
        fltrgrph1->setActive(false);
        MediaPlayer->show();
        playAudioFile();
        lblHint->setText(QStringLiteral("正在播音"));
        mmoContentMemo->show();
        timer->setEnabled(false);
        break;

    case PlayAudioWithText:
        lblHint->setText(QStringLiteral("正在播音"));
        lblHint->show();
        lbl1->setText(r.playDesc);
        Labelprior->show();
        showMeters(false);
        dclabel->hide();
        TrackBar->hide();
        btplay->hide();
        btpause->hide();
        vplayer1->hide();
        mmoContentMemo->show();
        MediaPlayer->show();
        playAudioFile();
        lblHint->setText(QStringLiteral("正在播音"));
        mmoContentMemo->clear();
        ui::loadRichMemo(mmoContentMemo, kTestTank + r.font);
        timer->setEnabled(false);
        break;

    case Prepare:
        lblHint->setText(QStringLiteral("准备时间"));
        lblHint->show();
        lbl1->setText(r.playDesc);
        Labelprior->show();
        showMeters(false);
        dclabel->show();
        TrackBar->hide();
        MediaPlayer->hide();
        btplay->hide();
        btpause->hide();
        vplayer1->hide();
        fltrgrph1->setActive(false);
        timer2->setInterval(1000);
        run().countdown = r.playTime / 1000;
        timer2->setEnabled(true);
        preparationWait();
        break;

    case PlayVideo:
        lblHint->setText(QStringLiteral("播放录像"));
        lblHint->show();
        lbl1->setText(r.playDesc);
        Labelprior->show();
        showMeters(false);
        dclabel->hide();
        TrackBar->show();
        MediaPlayer->hide();
        mmoContentMemo->hide();
        vplayer1->show();
        fltrgrph1->setActive(true);
        btplay->show();
        btpause->show();
        fltrgrph1->ClearGraph();
        fltrgrph1->setVolume(10000);
        fltrgrph1->RenderFile(kTestTank + r.filePath);
        fltrgrph1->Play();
        timer->setEnabled(false);
        break;

    default:
        break;
    }
}

void TForm2::preparationWait()
{
    const std::uint32_t start = platform::GetTickCount();
    const std::int64_t playTime = run().playTime;
    timer->setEnabled(false);
    // Handlers, further ticks included, run inside the wait. A local event
    // loop sleeps until the next event instead of polling; it ends at the
    // deadline, when the window closes (FormClose quits it) or when the
    // application is asked to quit (which quits every running loop).
    QPointer<TForm2> self(this);
    for (;;) {
        const std::uint32_t elapsed = platform::GetTickCount() - start;
        if (static_cast<std::int64_t>(elapsed) > playTime) {
            timer->setEnabled(true);
            return;
        }
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        deadline.setTimerType(Qt::PreciseTimer);
        bool timedOut = false;
        connect(&deadline, &QTimer::timeout, &loop, [&] {
            timedOut = true;
            loop.quit();
        });
        deadline.start(static_cast<int>(std::min<std::int64_t>(playTime - elapsed + 1, 1'000'000)));
        QEventLoop *outer = m_waitLoop;
        m_waitLoop = &loop;
        loop.exec();
        if (!self)
            return;
        m_waitLoop = outer;
        if (m_closed) {
            // An outer wait of a nested tick ends as well.
            if (m_waitLoop)
                m_waitLoop->quit();
            return;
        }
        if (!timedOut && static_cast<std::int64_t>(platform::GetTickCount() - start) <= playTime)
            return;
    }
}

void TForm2::timer2Timer()
{
    RunValues &r = run();
    if (r.countdown < 1) {
        timer2->setEnabled(false);
        return;
    }
    dclabel->setText(QString::number(r.countdown - 1) + QStringLiteral("秒"));
    --r.countdown;
}

void TForm2::MediaPlayerNotify()
{
    // A completion for a file that has since been closed has nothing to
    // compare: it must not fail before the recording is stopped.
    if (MediaPlayer->DeviceID() != 0 && MediaPlayer->Position() == MediaPlayer->Length())
        timer->setEnabled(true);
    WaveRecorder->Stop();
}

void TForm2::fltrgrph1GraphComplete()
{
    timer->setEnabled(true);
    WaveRecorder->Stop();
}

void TForm2::lblNextClick()
{
    stopSequence();
    if (timer->Enabled())
        dsplaylist.Next();
    else
        timer->setEnabled(true);
}

void TForm2::LabelpriorClick()
{
    timer->setEnabled(false);
    stopSequence();
    dsplaylist.Prior();
    timer->setEnabled(true);
}

void TForm2::treeview1Change()
{
    timer->setEnabled(false);
    stopSequence();
    const QTreeWidgetItem *node = treeview1->currentItem();
    const QVariant data = node ? node->data(0, TreeFunc::DataRole) : QVariant();
    ds1.Enabled = data.isValid();
    if (ds1.Enabled)
        dsplaylist.GotoBookmark(TBookmark{data.toInt()});
    timer->setEnabled(true);
}

void TForm2::RzCheckBox1Click()
{
    answerMemo->setVisible(RzCheckBox1->isChecked());
}

void TForm2::Button1Click()
{
    timer->setEnabled(false);
    timer2->setEnabled(false);
    dsplaylist.setActive(false);
    MediaPlayer->show();
    if (MediaPlayer->DeviceID() != 0)
        MediaPlayer->Pause();
    FontDialog1.Font = mmoContentMemo->font();
    FontDialog1.Color = mmoContentMemo->palette().color(QPalette::Text);
    if (FontDialog1.Execute(this)) {
        mmoContentMemo->setFont(FontDialog1.Font);
        mmoContentMemo->document()->setDefaultFont(FontDialog1.Font);
        // Text without a colour of its own takes the chosen one.
        setTextColour(mmoContentMemo, FontDialog1.Color);
    }
    timer->setEnabled(true);
    timer2->setEnabled(true);
    dsplaylist.Open();
    MediaPlayer->hide();
    if (MediaPlayer->DeviceID() != 0)
        MediaPlayer->Play();
}

void TForm2::btPlayClick()
{
    fltrgrph1->Play();
}

void TForm2::btPauseClick()
{
    fltrgrph1->Pause();
}

void TForm2::FormClose()
{
    m_closed = true;
    if (m_waitLoop)
        m_waitLoop->quit();
    stopSequence();
    dsplaylist.setActive(false);
    timer->setEnabled(false);
    release();
    if (app::Form1)
        app::Form1->show();
}
