#pragma once

#include "playlist/AnswerRecorder.h"
#include "playlist/TClientDataSet.h"
#include "platform/Dialogs.h"

#include <memory>

#include <QStringList>
#include <QWidget>

class QCheckBox;
class QFrame;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTextEdit;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class TDSTrackBar;
class TMMConnector;
class TMMLevel;
class TFilterGraph;
class TMediaPlayer;
class TVideoWindow;

namespace platform {
class TTimer;
}
namespace ui {
class ClickLabel;
}

// The test window: one practice or exam run. Its creation loads the
// manifest c:\testtank\information.xml into dsplaylist, builds the item tree
// and starts the runner's tick; the handlers below then perform the records
// one by one. All handlers run on the UI thread through the error display;
// tests call them directly.
class TForm2 : public QWidget
{
    Q_OBJECT
public:
    explicit TForm2(QWidget *parent = nullptr);
    ~TForm2() override;

    // The kinds of record (ItemKind, the FileType of a manifest row).
    enum ItemKind {
        RecordAudioTimed = 0,
        RecordVideoTimed = 1,
        ShowText = 2,
        PlayAudio = 3,
        PlayAudioWithText = 4,
        Prepare = 5,
        PlayVideo = 6,
    };

    // Handlers.
    void FormCreate(); // the loading steps (run by the constructor)
    void FormShow();
    void FormClose();
    void TimerTimer();
    void timer2Timer();
    void MediaPlayerNotify();
    void fltrgrph1GraphComplete();
    void lblNextClick();
    void LabelpriorClick();
    void treeview1Change();
    void RzCheckBox1Click();
    void Button1Click();
    void btPlayClick();
    void btPauseClick();

    // The run values shared by every test window of the process.
    struct RunValues {
        int fileType = 0;
        int kind = RecordAudioTimed; // carries over from run to run
        QString filePath;
        QString font;
        QString playDesc;
        QString playHint;
        int playTime = 0;
        int countdown = 0;
    };
    [[nodiscard]] static const RunValues &runValues();
    // Back to the values the program starts with (tests).
    static void resetRunValues();

    // Whether FormClose has run (the window is released afterwards).
    [[nodiscard]] bool closed() const { return m_closed; }
    // Empties the path list, appends the current record's ItemID,
    // SubItemID and FilePath, and returns it; valid until the next call.
    const QStringList &GetFieldList();

    // Layout: panels.
    QFrame *pnlTop = nullptr;
    QFrame *pnlLeft = nullptr;
    QFrame *pnlBottom = nullptr;
    QFrame *pnlMain = nullptr;
    QFrame *pnlLeftTools = nullptr;   // tool bar at the top of the left panel
    QFrame *pnlPlayerTools = nullptr; // tool bar at the bottom of the left panel

    // Controls, by their layout names.
    QLabel *lbl1 = nullptr;
    QPushButton *Button1 = nullptr;
    QTreeWidget *treeview1 = nullptr;
    QLabel *Image1 = nullptr;
    QLabel *lblHint = nullptr;
    QLabel *lblUserID = nullptr;
    TMMLevel *mlvl1 = nullptr;
    TMMLevel *mlvl2 = nullptr;
    ui::ClickLabel *Labelprior = nullptr;
    ui::ClickLabel *lblNext = nullptr;
    QLabel *dclabel = nullptr;
    QLabel *imgLogo = nullptr;
    QToolButton *btplay = nullptr;
    QToolButton *btpause = nullptr;
    TMediaPlayer *MediaPlayer = nullptr;
    TVideoWindow *vplayer1 = nullptr;
    TDSTrackBar *TrackBar = nullptr;
    QTextEdit *mmoContentMemo = nullptr;
    QCheckBox *RzCheckBox1 = nullptr;
    QPlainTextEdit *answerMemo = nullptr;

    // Non-visual parts.
    TClientDataSet dsplaylist{QStringLiteral("dsplaylist")};
    struct {
        bool Enabled = false;
    } ds1; // bound to dsplaylist; the runner uses its flag only
    platform::TTimer *timer = nullptr;
    platform::TTimer *timer2 = nullptr;
    TFilterGraph *fltrgrph1 = nullptr;
    std::unique_ptr<AnswerRecorder> WaveRecorder;
    TMMConnector *mcnctrConnector = nullptr;
    platform::TFontDialog FontDialog1;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void buildLayout();
    void layoutPanels();
    void wireHandlers();
    // Runs a handler through the error display. The window is released only
    // once no handler of it is running any more, since handlers nest (the
    // preparation wait and error boxes run the message loop).
    template <typename F>
    void handle(F &&handler);
    void release();

    void stopSequence();
    void endRun();
    void perform(int kind);
    void preparationWait();
    void playAudioFile();
    void showMeters(bool on);

    class QEventLoop *m_waitLoop = nullptr; // the preparation wait's loop, if running
    int m_handlerDepth = 0;
    bool m_releasePending = false;
    bool m_closed = false;

    QStringList m_pathList;
};
