#include "recordings/Unit3.h"

#include "platform/AppTitle.h"
#include "platform/AppWindows.h"
#include "platform/ErrorDisplay.h"
#include "platform/WinPath.h"
#include "recordings/ZipSupport.h"
#include "ui/FormUtil.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QKeyEvent>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QStandardPaths>
#include <QStyle>
#include <QUrl>

namespace {

// The system's inactive-caption gradient colour of the classic desktop.
const QColor kInactiveCaptionGradient(0xD7, 0xE4, 0xF2);

QPushButton *makeButton(QWidget *parent, const char *name, const QString &caption, QRect geometry)
{
    auto *b = new QPushButton(caption, parent);
    b->setObjectName(QString::fromLatin1(name));
    b->setGeometry(geometry);
    return b;
}

// The desktop theme's icons where it has them; the style's own folder and
// file pictures otherwise (bare X servers have no icon theme).
class RecordingIcons : public QFileIconProvider
{
public:
    QIcon icon(const QFileInfo &info) const override
    {
        QIcon i = QFileIconProvider::icon(info);
        if (!i.isNull() && !i.availableSizes().isEmpty())
            return i;
        if (info.isDir())
            return QApplication::style()->standardIcon(QStyle::SP_DirIcon);
        i = QIcon::fromTheme(QStringLiteral("audio-x-wav"), QIcon::fromTheme(QStringLiteral("audio-x-generic")));
        return i.isNull() ? QApplication::style()->standardIcon(QStyle::SP_FileIcon) : i;
    }
    using QFileIconProvider::icon;
};

} // namespace

class TForm3::Busy
{
public:
    explicit Busy(TForm3 &form) : m_form(form)
    {
        m_form.Button1->setEnabled(false);
        m_form.RzButton1->setEnabled(false);
    }
    ~Busy()
    {
        m_form.Button1->setEnabled(true);
        m_form.RzButton1->setEnabled(true);
    }
    Busy(const Busy &) = delete;
    Busy &operator=(const Busy &) = delete;

private:
    TForm3 &m_form;
};

TForm3::TForm3(QWidget *parent) : QWidget(parent, Qt::Dialog)
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("我的录音"));
    ui::setFixedClientSize(this, 319, 480);
    ui::centreOnScreen(this);

    Button1 = makeButton(this, "Button1", QStringLiteral("录音打包"), QRect(33, 8, 96, 33));
    RzButton1 = makeButton(this, "RzButton1", QStringLiteral("历史录音"), QRect(160, 8, 89, 33));
    connect(Button1, &QPushButton::clicked, this, [this] { platform::guarded([this] { Button1Click(); }); });
    connect(RzButton1, &QPushButton::clicked, this, [this] { platform::guarded([this] { RzButton1Click(); }); });

    lst1Model = new QFileSystemModel(this);
    lst1Model->setObjectName(QStringLiteral("lst1Model"));
    lst1Model->setFilter(QDir::AllDirs | QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    lst1Model->setNameFilters({QStringLiteral("*.wav")});
    lst1Model->setNameFilterDisables(false);
    lst1Model->setReadOnly(false);
    static RecordingIcons icons;
    lst1Model->setIconProvider(&icons);

    lst1 = new QListView(this);
    lst1->setObjectName(QStringLiteral("lst1"));
    lst1->setGeometry(8, 48, 305, 424);
    lst1->setModel(lst1Model);
    lst1->setViewMode(QListView::IconMode);
    lst1->setIconSize(QSize(32, 32));
    lst1->setGridSize(QSize(92, 72));
    lst1->setResizeMode(QListView::Adjust);
    lst1->setMovement(QListView::Static);
    lst1->setWordWrap(true);
    lst1->setUniformItemSizes(true);
    lst1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lst1->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    lst1->setDragDropMode(QAbstractItemView::DragDrop);
    lst1->setDefaultDropAction(Qt::CopyAction);
    lst1->setDragEnabled(true);
    lst1->setAcceptDrops(true);
    // Border width 6 in the list's own colour.
    lst1->setStyleSheet(QStringLiteral("QListView#lst1 { background-color: %1; padding: 6px; }")
                            .arg(kInactiveCaptionGradient.name()));
    lst1->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(lst1, &QListView::customContextMenuRequested, this, [this](const QPoint &pos) { showContextMenu(pos); });
    // activated covers double-click and Enter.
    connect(lst1, &QListView::activated, this, [this](const QModelIndex &index) { openItem(index); });
    lst1->installEventFilter(this);

    VCLZip1.OnZipComplete = [this](TVCLZip &sender, int count) { VCLZip1ZipComplete(sender, count); };
    VCLUnZip1.OverwriteMode = Always;

    zipSaveDialog1.Filter = QStringLiteral("zipfile|*.zip");
    zipSaveDialog1.DefaultExt = QStringLiteral("zip");
    zipOpenDialog1.Filter = QStringLiteral("zip file|*.zip");
    zipOpenDialog1.DefaultExt = QStringLiteral("zip");
}

TForm3::~TForm3() = default;

void TForm3::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        platform::guarded([this] { FormShow(); });
}

void TForm3::closeEvent(QCloseEvent *event)
{
    platform::guarded([this] { FormClose(); });
    QWidget::closeEvent(event);
}

void TForm3::FormShow()
{
    setListFolder(QStringLiteral("c:\\recording"));
}

void TForm3::FormClose()
{
    if (QWidget *main = app::Form1) {
        main->show();
        if (auto *button = main->findChild<QWidget *>(QStringLiteral("RzBitBtn2")))
            button->setEnabled(true);
    }
}

bool TForm3::setListFolder(const QString &folder)
{
    QString path = zipsupport::toQString(platform::hostPath(folder));
    const bool exists = QFileInfo(path).isDir();
    if (!exists)
        path = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    lst1->setRootIndex(lst1Model->setRootPath(path));
    return exists;
}

QString TForm3::listFolder() const
{
    return lst1Model->filePath(lst1->rootIndex());
}

void TForm3::openItem(const QModelIndex &index)
{
    if (!index.isValid())
        return;
    if (lst1Model->isDir(index)) {
        lst1->setRootIndex(lst1Model->setRootPath(lst1Model->filePath(index)));
        return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(lst1Model->filePath(index)));
}

void TForm3::goUp()
{
    QDir dir(listFolder());
    if (dir.cdUp())
        lst1->setRootIndex(lst1Model->setRootPath(dir.absolutePath()));
}

bool TForm3::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == lst1 && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Backspace) {
            goUp();
            return true;
        }
        if (key->matches(QKeySequence::Copy)) {
            copySelection();
            return true;
        }
        if (key->matches(QKeySequence::Paste)) {
            platform::guarded([this] { pasteIntoFolder(); });
            return true;
        }
        if (key->matches(QKeySequence::Delete)) {
            deleteSelection();
            return true;
        }
        if (key->key() == Qt::Key_F2) {
            renameCurrent();
            return true;
        }
        if (key->matches(QKeySequence::Refresh)) {
            lst1->setRootIndex(lst1Model->setRootPath(listFolder()));
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TForm3::showContextMenu(const QPoint &pos)
{
    const QModelIndex index = lst1->indexAt(pos);
    QMenu menu(this);
    if (index.isValid()) {
        if (!lst1->selectionModel()->isSelected(index))
            lst1->setCurrentIndex(index);
        menu.addAction(QStringLiteral("打开(&O)"), this, [this, index] { openItem(index); });
        menu.addSeparator();
        menu.addAction(QStringLiteral("复制(&C)"), this, [this] { copySelection(); });
        menu.addAction(QStringLiteral("删除(&D)"), this, [this] { deleteSelection(); });
        menu.addAction(QStringLiteral("重命名(&M)"), this, [this] { renameCurrent(); });
    } else {
        menu.addAction(QStringLiteral("粘贴(&P)"), this, [this] { platform::guarded([this] { pasteIntoFolder(); }); });
        menu.addAction(QStringLiteral("刷新(&E)"), this,
                       [this] { lst1->setRootIndex(lst1Model->setRootPath(listFolder())); });
    }
    menu.exec(lst1->viewport()->mapToGlobal(pos));
}

void TForm3::copySelection()
{
    QList<QUrl> urls;
    for (const QModelIndex &i : lst1->selectionModel()->selectedIndexes())
        urls << QUrl::fromLocalFile(lst1Model->filePath(i));
    if (urls.isEmpty())
        return;
    auto *mime = new QMimeData;
    mime->setUrls(urls);
    QApplication::clipboard()->setMimeData(mime);
}

void TForm3::pasteIntoFolder()
{
    const QMimeData *mime = QApplication::clipboard()->mimeData();
    if (!mime || !mime->hasUrls())
        return;
    const QDir folder(listFolder());
    for (const QUrl &url : mime->urls()) {
        const QFileInfo src(url.toLocalFile());
        if (!url.isLocalFile() || !src.isFile())
            continue;
        QString target = folder.filePath(src.fileName());
        // Pasting next to the original makes a copy with a new name.
        for (int n = 2; QFileInfo::exists(target); ++n)
            target = folder.filePath(QStringLiteral("%1 (%2).%3").arg(src.completeBaseName()).arg(n).arg(src.suffix()));
        QFile::copy(src.filePath(), target);
    }
}

void TForm3::deleteSelection()
{
    QModelIndexList items = lst1->selectionModel()->selectedIndexes();
    if (items.isEmpty())
        return;
    const QString question = items.size() == 1
                                 ? QStringLiteral("确实要删除“%1”吗?").arg(lst1Model->fileName(items.first()))
                                 : QStringLiteral("确实要删除这 %1 项吗?").arg(items.size());
    if (platform::messageBox(this, question, QStringLiteral("确认删除"), platform::MsgIcon::Question,
                             platform::MsgButtons::YesNo) != platform::MsgResult::Yes)
        return;
    QStringList paths;
    for (const QModelIndex &i : items)
        paths << lst1Model->filePath(i);
    for (const QString &p : paths) {
        const QFileInfo info(p);
        if (info.isDir() && !info.isSymLink())
            QDir(p).removeRecursively();
        else
            QFile::remove(p);
    }
}

void TForm3::renameCurrent()
{
    const QModelIndex index = lst1->currentIndex();
    if (index.isValid())
        lst1->edit(index);
}

void TForm3::Button1Click()
{
    zipSaveDialog1.InitialDir = platform::executableDir() + QDir::separator();
    if (!zipSaveDialog1.Execute(this))
        return;
    const Busy busy(*this);
    VCLZip1.setZipName(zipSaveDialog1.FileName);
    VCLZip1.RecreateDirs = true;
    VCLZip1.StorePaths = false;
    VCLZip1.FilesList.append(QStringLiteral("C:\\recording\\*.*"));
    VCLZip1.Recurse = true;
    try {
        VCLZip1.Zip();
    } catch (...) {
        platform::messageBox(this, QStringLiteral("压缩文件失败"), QStringLiteral("错误"), platform::MsgIcon::Information);
    }
}

void TForm3::VCLZip1ZipComplete(TVCLZip &, int)
{
    platform::messageBox(this, QStringLiteral("压缩文件成功"), QStringLiteral("成功"), platform::MsgIcon::Information);
}

void TForm3::RzButton1Click()
{
    zipOpenDialog1.InitialDir = platform::executableDir() + QDir::separator();
    if (!zipOpenDialog1.Execute(this))
        return;
    const Busy busy(*this);
    VCLUnZip1.setZipName(zipOpenDialog1.FileName);
    VCLUnZip1.ReadZip();
    VCLUnZip1.DoAll = true;
    VCLUnZip1.setDestDir(QStringLiteral("C:\\recording"));
    VCLUnZip1.RecreateDirs = true;
    VCLUnZip1.RetainAttributes = true;
    VCLUnZip1.UnZip();
    platform::messageBox(nullptr, QStringLiteral("文件解压成功"), QStringLiteral("成功"), platform::MsgIcon::Information);
}
