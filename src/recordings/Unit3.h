#pragma once

#include "platform/Dialogs.h"
#include "recordings/VCLUnZip.h"
#include "recordings/VCLZip.h"

#include <QWidget>

class QFileSystemModel;
class QListView;
class QMenu;
class QPushButton;

// The recordings window "我的录音": lists the answers in c:\recording\,
// packs them into a ZIP archive and restores one. Created once at start-up;
// closing it only hides it. UI thread only.
class TForm3 : public QWidget
{
    Q_OBJECT
public:
    explicit TForm3(QWidget *parent = nullptr);
    ~TForm3() override;

    void FormShow();
    void FormClose();
    void Button1Click();
    void RzButton1Click();
    void VCLZip1ZipComplete(TVCLZip &sender, int fileCount);

    // Points the list at a folder (a Windows-style or host path); false
    // when it does not exist and the list shows the desktop instead.
    bool setListFolder(const QString &folder);
    // The folder the list shows now, as a host path.
    [[nodiscard]] QString listFolder() const;
    // Opens a listed item as double-click does: a folder is entered, a file
    // goes to the desktop's default application.
    void openItem(const QModelIndex &index);
    // Moves the list one folder up (Backspace).
    void goUp();

    QPushButton *Button1 = nullptr;
    QPushButton *RzButton1 = nullptr;
    QListView *lst1 = nullptr;
    QFileSystemModel *lst1Model = nullptr;
    TVCLZip VCLZip1;
    TVCLUnZip VCLUnZip1;
    platform::TSaveDialog zipSaveDialog1;
    platform::TOpenDialog zipOpenDialog1;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void showContextMenu(const QPoint &pos);
    void copySelection();
    void pasteIntoFolder();
    void deleteSelection();
    void renameCurrent();
    // Keeps a second archive command from starting while one runs: both
    // buttons stay disabled until it ends.
    class Busy;
};
