#pragma once

#include "playlist/TClientDataSet.h"

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

    // Creation handler: the loading steps (run by the constructor).
    void FormCreate();
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
    QWidget *mlvl1 = nullptr;
    QWidget *mlvl2 = nullptr;
    ui::ClickLabel *Labelprior = nullptr;
    ui::ClickLabel *lblNext = nullptr;
    QLabel *dclabel = nullptr;
    QLabel *imgLogo = nullptr;
    QToolButton *btplay = nullptr;
    QToolButton *btpause = nullptr;
    QWidget *MediaPlayer = nullptr;
    QWidget *vplayer1 = nullptr;
    QWidget *TrackBar = nullptr;
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

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildLayout();
    void layoutPanels();

    QStringList m_pathList;
};
