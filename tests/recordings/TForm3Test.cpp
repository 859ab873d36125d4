#include "TestUtil.h"
#include "ZipFixtures.h"
#include "platform/AppTitle.h"
#include "platform/AppWindows.h"
#include "recordings/Unit3.h"

#include <QDir>
#include <QFileSystemModel>
#include <QListView>
#include <QPushButton>
#include <gtest/gtest.h>

#include <set>

namespace fs = std::filesystem;
using testutil::readFile;
using testutil::writeFile;

namespace {

QString qs(const fs::path &p)
{
    return QString::fromStdString(p.string());
}

// Answers the next save or open dialog with a file (empty: cancel) and
// remembers what the dialog was set up with.
struct DialogSeen {
    QString filter, defaultExt, initialDir;
    int shown = 0;
};

void answerSave(const fs::path &file, DialogSeen &seen)
{
    platform::TSaveDialog::setScript([file, &seen](platform::TSaveDialog &d) {
        seen = {d.Filter, d.DefaultExt, d.InitialDir, seen.shown + 1};
        d.FileName = qs(file);
        return !file.empty();
    });
}

void answerOpen(const fs::path &file, DialogSeen &seen)
{
    platform::TOpenDialog::setScript([file, &seen](platform::TOpenDialog &d) {
        seen = {d.Filter, d.DefaultExt, d.InitialDir, seen.shown + 1};
        d.FileName = qs(file);
        return !file.empty();
    });
}

std::set<QString> listed(TForm3 &form)
{
    std::set<QString> names;
    const QModelIndex root = form.lst1->rootIndex();
    for (int i = 0; i < form.lst1Model->rowCount(root); ++i)
        names.insert(form.lst1Model->fileName(form.lst1Model->index(i, 0, root)));
    return names;
}

// Waits (generously) for the file list to show what is expected.
bool waitForList(TForm3 &form, const std::set<QString> &expected)
{
    for (int i = 0; i < 500 && listed(form) != expected; ++i)
        testutil::pump(10);
    return listed(form) == expected;
}

struct DialogScriptsOff {
    ~DialogScriptsOff()
    {
        platform::TSaveDialog::setScript({});
        platform::TOpenDialog::setScript({});
    }
};

} // namespace

TEST(TForm3Test, WindowHasItsControlsAndSettings)
{
    TForm3 form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("我的录音"));
    EXPECT_EQ(form.size(), QSize(319, 480));
    EXPECT_EQ(form.Button1->text(), QStringLiteral("录音打包"));
    EXPECT_EQ(form.Button1->geometry(), QRect(33, 8, 96, 33));
    EXPECT_EQ(form.RzButton1->text(), QStringLiteral("历史录音"));
    EXPECT_EQ(form.RzButton1->geometry(), QRect(160, 8, 89, 33));
    EXPECT_EQ(form.lst1->geometry(), QRect(8, 48, 305, 424));
    EXPECT_EQ(form.lst1->viewMode(), QListView::IconMode);
    EXPECT_EQ(form.VCLUnZip1.OverwriteMode, Always);
    EXPECT_EQ(form.zipSaveDialog1.Filter, QStringLiteral("zipfile|*.zip"));
    EXPECT_EQ(form.zipOpenDialog1.Filter, QStringLiteral("zip file|*.zip"));
}

TEST(TForm3Test, ListShowsRecordingsAndFoldersAndFollowsTheFolder)
{
    testutil::TempDataHome home;
    const fs::path rec = home.driveC() / "recording";
    fs::create_directories(rec / "old");
    writeFile(rec / "1.wav", "a");
    writeFile(rec / ".hidden.WAV", "h");
    writeFile(rec / "notes.txt", "n");
    writeFile(rec / "old" / "2.wav", "b");
    TForm3 form;
    form.show();
    EXPECT_EQ(form.listFolder(), qs(rec));
    EXPECT_TRUE(waitForList(form, {"1.wav", ".hidden.WAV", "old"}));

    // Files that appear and vanish show without a command.
    writeFile(rec / "3.wav", "c");
    fs::remove(rec / "1.wav");
    EXPECT_TRUE(waitForList(form, {"3.wav", ".hidden.WAV", "old"}));

    // Entering a folder and going back up.
    const QModelIndex old = form.lst1Model->index(qs(rec / "old"));
    form.openItem(old);
    EXPECT_EQ(form.listFolder(), qs(rec / "old"));
    EXPECT_TRUE(waitForList(form, {"2.wav"}));
    form.goUp();
    EXPECT_EQ(form.listFolder(), qs(rec));
    form.hide();
}

TEST(TForm3Test, MissingRecordingsFolderShowsTheDesktop)
{
    testutil::TempDataHome home;
    TForm3 form;
    EXPECT_FALSE(form.setListFolder(QStringLiteral("c:\\recording")));
    EXPECT_NE(form.listFolder(), qs(home.driveC() / "recording"));
}

TEST(TForm3Test, PackingWritesTheArchiveAndTellsSoOrTellsTheFailure)
{
    testutil::TempDataHome home;
    DialogScriptsOff off;
    const fs::path rec = home.driveC() / "recording";
    fs::create_directories(rec / "sub");
    writeFile(rec / "1.wav", "one");
    writeFile(rec / "sub" / "2.wav", "two");
    writeFile(rec / "sub" / "1.wav", "duplicate name");
    TForm3 form;
    testutil::clearShown();

    // Cancelled: nothing happens.
    DialogSeen seen;
    answerSave({}, seen);
    form.Button1Click();
    EXPECT_EQ(seen.shown, 1);
    EXPECT_EQ(seen.filter, QStringLiteral("zipfile|*.zip"));
    EXPECT_EQ(seen.defaultExt, QStringLiteral("zip"));
    EXPECT_EQ(seen.initialDir, platform::executableDir() + QDir::separator());
    EXPECT_TRUE(testutil::shownMessages().empty());

    const fs::path archive = home.path() / "answers.zip";
    answerSave(archive, seen);
    form.Button1->click();
    ASSERT_EQ(testutil::shownMessages().size(), 1u);
    EXPECT_EQ(testutil::shownMessages()[0].text, QStringLiteral("压缩文件成功"));
    EXPECT_EQ(testutil::shownMessages()[0].caption, QStringLiteral("成功"));
    EXPECT_EQ(testutil::shownMessages()[0].icon, platform::MsgIcon::Information);
    EXPECT_TRUE(testutil::shownErrors().empty());
    const zipfix::RawArchive a = zipfix::parse(readFile(archive));
    std::set<std::string> names;
    for (const auto &e : a.entries)
        names.insert(e.name);
    EXPECT_EQ(names, (std::set<std::string>{"1.wav", "2.wav"}));
    EXPECT_TRUE(form.VCLZip1.FilesList.isEmpty());
    EXPECT_TRUE(form.Button1->isEnabled());

    // An empty recordings folder still gives an archive and the success.
    testutil::clearShown();
    fs::remove_all(rec);
    fs::create_directories(rec);
    answerSave(home.path() / "empty.zip", seen);
    form.Button1Click();
    EXPECT_EQ(fs::file_size(home.path() / "empty.zip"), 22u);
    ASSERT_EQ(testutil::shownMessages().size(), 1u);
    EXPECT_EQ(testutil::shownMessages()[0].text, QStringLiteral("压缩文件成功"));

    // A target that is not an archive: one message, its own text not shown.
    testutil::clearShown();
    writeFile(home.path() / "bad.zip", "not a zip");
    answerSave(home.path() / "bad.zip", seen);
    form.Button1->click();
    ASSERT_EQ(testutil::shownMessages().size(), 1u);
    EXPECT_EQ(testutil::shownMessages()[0].text, QStringLiteral("压缩文件失败"));
    EXPECT_EQ(testutil::shownMessages()[0].caption, QStringLiteral("错误"));
    EXPECT_EQ(testutil::shownMessages()[0].icon, platform::MsgIcon::Information);
    EXPECT_TRUE(testutil::shownErrors().empty());
    EXPECT_EQ(readFile(home.path() / "bad.zip"), "not a zip");
    EXPECT_TRUE(form.Button1->isEnabled());
    EXPECT_TRUE(form.RzButton1->isEnabled());
}

TEST(TForm3Test, RestoringReplacesSameNamesKeepsOthersAndTheListShowsThem)
{
    testutil::TempDataHome home;
    DialogScriptsOff off;
    const fs::path rec = home.driveC() / "recording";
    fs::create_directories(rec);
    writeFile(rec / "1.wav", "current one");
    writeFile(rec / "keep.wav", "keep");
    const fs::path archive = home.path() / "old.zip";
    {
        testutil::TempDir src;
        writeFile(src.path() / "1.wav", "restored one");
        writeFile(src.path() / "2.wav", "restored two");
        TVCLZip zip;
        zip.setZipName(qs(archive));
        zip.FilesList.append(qs(src.path() / "*.*"));
        ASSERT_EQ(zip.Zip(), 2);
    }
    TForm3 form;
    form.show();
    EXPECT_TRUE(waitForList(form, {"1.wav", "keep.wav"}));
    testutil::clearShown();
    DialogSeen seen;
    answerOpen(archive, seen);
    form.RzButton1->click();
    EXPECT_EQ(seen.filter, QStringLiteral("zip file|*.zip"));
    EXPECT_EQ(seen.initialDir, platform::executableDir() + QDir::separator());
    ASSERT_EQ(testutil::shownMessages().size(), 1u);
    EXPECT_EQ(testutil::shownMessages()[0].text, QStringLiteral("文件解压成功"));
    EXPECT_EQ(testutil::shownMessages()[0].caption, QStringLiteral("成功"));
    EXPECT_EQ(readFile(rec / "1.wav"), "restored one");
    EXPECT_EQ(readFile(rec / "2.wav"), "restored two");
    EXPECT_EQ(readFile(rec / "keep.wav"), "keep");
    EXPECT_TRUE(waitForList(form, {"1.wav", "2.wav", "keep.wav"}));

    // Not an archive: the error display shows the component's text.
    testutil::clearShown();
    writeFile(home.path() / "fake.zip", "hello");
    answerOpen(home.path() / "fake.zip", seen);
    form.RzButton1->click();
    EXPECT_TRUE(testutil::shownMessages().empty());
    ASSERT_EQ(testutil::shownErrors().size(), 1u);
    EXPECT_EQ(testutil::shownErrors()[0].text, QStringLiteral("Incomplete Zip File."));
    EXPECT_EQ(testutil::shownErrors()[0].caption, platform::applicationTitle());
    EXPECT_TRUE(form.RzButton1->isEnabled());
    EXPECT_TRUE(form.Button1->isEnabled());
    form.hide();
}

TEST(TForm3Test, ClosingShowsTheMainWindowAndEnablesItsButton)
{
    QWidget main;
    auto *button = new QPushButton(&main);
    button->setObjectName(QStringLiteral("RzBitBtn2"));
    button->setEnabled(false);
    app::Form1 = &main;
    TForm3 form;
    form.show();
    form.close();
    EXPECT_FALSE(form.isVisible());
    EXPECT_TRUE(main.isVisible());
    EXPECT_TRUE(button->isEnabled());
    // Already enabled: stays so.
    form.show();
    form.close();
    EXPECT_TRUE(button->isEnabled());
    app::Form1 = nullptr;
}

// With QUENVAR_SCREENSHOT=<file.png> the window is saved as a picture,
// listing a few recordings (run under Xvfb for the desktop's icons).
TEST(TForm3Test, ScreenshotOnRequest)
{
    const char *out = std::getenv("QUENVAR_SCREENSHOT");
    if (!out)
        GTEST_SKIP() << "QUENVAR_SCREENSHOT not set";
    testutil::TempDataHome home;
    const fs::path rec = home.driveC() / "recording";
    fs::create_directories(rec / "第二部分");
    for (const char *name : {"第一题.wav", "第二题.wav", "第三题.wav", "朗读短文.wav", "角色扮演.wav"})
        writeFile(rec / name, std::string(44, '\0'));
    TForm3 form;
    form.show();
    ASSERT_TRUE(waitForList(form, {"第一题.wav", "第二题.wav", "第三题.wav", "朗读短文.wav", "角色扮演.wav", "第二部分"}));
    testutil::pump(300);
    EXPECT_TRUE(form.grab().save(QString::fromLocal8Bit(out)));
    form.hide();
}
