// "装入试题" end to end: the dialog, unwrapping, temp.rar, the extraction and
// what the main window and the progress window do meanwhile.

#include "PackageTestUtil.h"
#include "TestUtil.h"
#include "app/Unit1.h"
#include "package/Rar4Writer.h"
#include "package/Unit4.h"
#include "platform/AppWindows.h"
#include "platform/ErrorDisplay.h"

#include <QCoreApplication>
#include <QPushButton>

#include <gtest/gtest.h>

namespace fs = std::filesystem;

namespace {

// The main window and the progress window as the program creates them.
struct Windows {
    testutil::TempDataHome home;
    TForm1 form1;
    TForm4 form4;
    std::vector<std::string> timeline; // event, then whether Form4 and Form1 are visible

    Windows()
    {
        app::Form1 = &form1;
        app::Form4 = &form4;
        form1.show();
        testutil::clearShown();
        auto progress = form1.dfnrunrar->OnProgress;
        auto status = form1.dfnrunrar->OnRarStatus;
        form1.dfnrunrar->OnProgress = [this, progress](TDFUnRar *s, unsigned a, unsigned b, unsigned c, unsigned d) {
            progress(s, a, b, c, d);
            note("progress " + std::to_string(a) + "/" + std::to_string(b));
        };
        form1.dfnrunrar->OnRarStatus = [this, status](TDFUnRar *s, const QString &m, TRarStatus st) {
            status(s, m, st);
            note("status " + std::to_string(int(st)));
        };
    }
    ~Windows()
    {
        platform::TOpenDialog::setScript(nullptr);
        app::Form1 = nullptr;
        app::Form4 = nullptr;
    }
    void note(const std::string &what)
    {
        timeline.push_back(what + (form4.isVisible() ? " F4" : "") + (form1.isVisible() ? " F1" : ""));
    }
    [[nodiscard]] fs::path tank() const { return home.driveC() / "testtank"; }
    [[nodiscard]] bool modesEnabled() const { return form1.Btn1->isEnabled() && form1.RzBitBtn4->isEnabled(); }

    // Clicks "装入试题" choosing the given file, through the error display.
    void install(const fs::path &package)
    {
        platform::TOpenDialog::setScript([package](platform::TOpenDialog &d) {
            d.FileName = QString::fromStdString(package.string());
            return true;
        });
        platform::guarded([this] { form1.btn5Click(); });
    }
};

std::string rarOf(const std::vector<std::pair<std::string, std::string>> &files, const fs::path &scratch)
{
    const fs::path rar = scratch / "built.rar";
    {
        package::Rar4Writer w(rar);
        for (const auto &[name, data] : files)
            w.addData(name, data, 0);
        w.finish();
    }
    return testutil::readFile(rar);
}

} // namespace

TEST(InstallTest, CancellingTheDialogChangesNothing)
{
    Windows w;
    QString filter;
    QString ext;
    QString dir;
    platform::TOpenDialog::setScript([&](platform::TOpenDialog &d) {
        filter = d.Filter;
        ext = d.DefaultExt;
        dir = d.InitialDir;
        return false;
    });
    platform::guarded([&] { w.form1.btn5Click(); });
    EXPECT_EQ(filter, QStringLiteral("英语听说试题文件|*.qvtp"));
    EXPECT_EQ(ext, QStringLiteral("qvtp"));
    EXPECT_EQ(dir, QCoreApplication::applicationDirPath() + QLatin1Char('/'));
    EXPECT_TRUE(w.timeline.empty());
    EXPECT_FALSE(fs::exists(w.tank() / "temp.rar"));
    EXPECT_FALSE(w.modesEnabled());
    EXPECT_TRUE(testutil::shownErrors().empty());
}

TEST(InstallTest, AnArchiveOfKEntriesShowsTheProgressWindowOnceAndEndsReady)
{
    Windows w;
    testutil::TempDir scratch;
    const std::string rar = rarOf({{"information.xml", "<DATAPACKET/>"}, {"a\\1.mp3", "one"}, {"a\\2.txt", "two"}},
                                  scratch.path());
    testutil::writeFile(w.tank() / "information.xml", "old manifest"); // replaced without a question
    testutil::writeFile(w.tank() / "kept.txt", "from an earlier test");
    testutil::writeFile(scratch.path() / "t.qvtp", pkgtest::package(rar));
    w.install(scratch.path() / "t.qvtp");

    EXPECT_EQ(w.timeline, (std::vector<std::string>{"status 1 F1", "status 0 F1", "progress 1/0 F4", "progress 2/0 F4",
                                                    "progress 3/0 F4", "status 2 F1"}));
    EXPECT_TRUE(testutil::shownErrors().empty());
    EXPECT_TRUE(w.modesEnabled());
    EXPECT_EQ(testutil::readFile(w.tank() / "temp.rar"), rar);
    EXPECT_EQ(testutil::readFile(w.tank() / "information.xml"), "<DATAPACKET/>");
    EXPECT_EQ(testutil::readFile(w.tank() / "a/2.txt"), "two");
    EXPECT_EQ(testutil::readFile(w.tank() / "kept.txt"), "from an earlier test");
}

TEST(InstallTest, AnEmptyArchiveNeverShowsTheProgressWindowButEnablesTheModes)
{
    Windows w;
    testutil::TempDir scratch;
    testutil::writeFile(scratch.path() / "t.qvtp", pkgtest::package(rarOf({}, scratch.path())));
    w.install(scratch.path() / "t.qvtp");
    EXPECT_EQ(w.timeline, (std::vector<std::string>{"status 1 F1", "status 0 F1", "status 2 F1"}));
    EXPECT_TRUE(w.modesEnabled());
    EXPECT_TRUE(testutil::shownErrors().empty());
}

TEST(InstallTest, ABrokenPackageExtractsThePreviousArchiveAgainBeforeTheErrorBox)
{
    Windows w;
    testutil::TempDir scratch;
    const std::string rar = rarOf({{"information.xml", "first"}}, scratch.path());
    testutil::writeFile(scratch.path() / "good.qvtp", pkgtest::package(rar));
    w.install(scratch.path() / "good.qvtp");
    testutil::writeFile(w.tank() / "information.xml", "edited since");

    std::string whenShown;
    platform::setErrorSink([&](const QString &, const QString &text) {
        whenShown = testutil::readFile(w.tank() / "information.xml");
        testutil::shownErrors().push_back({QString(), text});
    });
    std::string corrupt = pkgtest::package(rarOf({{"information.xml", "second"}}, scratch.path()));
    corrupt[12] = char(corrupt[12] ^ 0x5A);
    corrupt[13] = char(corrupt[13] ^ 0x5A);
    testutil::writeFile(scratch.path() / "bad.qvtp", corrupt);
    w.install(scratch.path() / "bad.qvtp");
    testutil::installScriptedUi();

    ASSERT_EQ(testutil::shownErrors().size(), 1u);
    EXPECT_EQ(testutil::shownErrors()[0].text, QStringLiteral("Error."));
    EXPECT_EQ(whenShown, "first");
    EXPECT_EQ(testutil::readFile(w.tank() / "temp.rar"), rar);

    testutil::clearShown();
    testutil::writeFile(scratch.path() / "short.qvtp", "1234567");
    w.install(scratch.path() / "short.qvtp");
    ASSERT_EQ(testutil::shownErrors().size(), 1u);
    EXPECT_EQ(testutil::shownErrors()[0].text, QStringLiteral("Stream read error."));
    EXPECT_EQ(testutil::readFile(w.tank() / "temp.rar"), rar);
}

TEST(InstallTest, AFailedFirstInstallationStillEndsWithTheModesEnabled)
{
    Windows w;
    testutil::TempDir scratch;
    testutil::writeFile(scratch.path() / "neg.qvtp", pkgtest::package("whatever", -1));
    w.install(scratch.path() / "neg.qvtp");
    ASSERT_EQ(testutil::shownErrors().size(), 1u);
    EXPECT_EQ(testutil::shownErrors()[0].text, QStringLiteral("Stream write error."));
    EXPECT_FALSE(fs::exists(w.tank() / "temp.rar"));
    // No archive to open: the opening and closing statuses still come.
    EXPECT_EQ(w.timeline, (std::vector<std::string>{"status 1 F1", "status 0 F1", "status 2 F1"}));
    EXPECT_TRUE(w.modesEnabled());

    testutil::clearShown();
    w.install(scratch.path() / "absent.qvtp");
    ASSERT_EQ(testutil::shownErrors().size(), 1u);
    EXPECT_EQ(testutil::shownErrors()[0].text,
              QStringLiteral("Cannot open file \"%1\". No such file or directory.")
                  .arg(QString::fromStdString((scratch.path() / "absent.qvtp").string())));
}

TEST(InstallTest, ClosingTheHiddenProgressWindowRestoresTheMainWindow)
{
    Windows w;
    w.form4.show();
    EXPECT_FALSE(w.form1.isVisible());
    w.form4.hide();
    w.form4.close();
    EXPECT_TRUE(w.form1.isVisible());
    EXPECT_TRUE(w.modesEnabled());
}

TEST(InstallTest, PackedFolderOfChineseNamesRoundTripsByteForByte)
{
    Windows w;
    testutil::TempDir scratch;
    const fs::path src = scratch.path() / "试题";
    fs::create_directories(src / "听力" / "第一部分");
    fs::create_directories(src / "空文件夹");
    testutil::writeFile(src / "information.xml", "<?xml version=\"1.0\"?><DATAPACKET/>");
    testutil::writeFile(src / "听力" / "第一部分" / "录音 1.mp3", std::string(100000, '\x7f') + "end");
    testutil::writeFile(src / "听力" / "说明.txt", "请听录音");
    testutil::writeFile(src / "empty.txt", "");
    // Packed by the authoring tool as a teacher would.
    ASSERT_EQ(testutil::run(std::string(QVTP_EXE) + " pack '" + src.string() + "' '"
                            + (scratch.path() / "p.qvtp").string() + "' >/dev/null 2>&1"),
              0);
    w.install(scratch.path() / "p.qvtp");
    EXPECT_TRUE(testutil::shownErrors().empty());
    auto installed = pkgtest::treeOf(w.tank());
    installed.erase("temp.rar");
    EXPECT_EQ(installed, pkgtest::treeOf(src));
    EXPECT_TRUE(fs::is_directory(w.tank() / "空文件夹"));

    // bsdtar reads what was packed, with the same names.
    const fs::path rar = scratch.path() / "p.rar";
    fs::copy_file(w.tank() / "temp.rar", rar);
    std::string listing;
    ASSERT_EQ(testutil::run("LC_ALL=C.UTF-8 bsdtar -tf '" + rar.string() + "'", &listing), 0);
    for (const char *name : {"information.xml", "听力/第一部分/录音 1.mp3", "听力/说明.txt", "empty.txt", "空文件夹"})
        EXPECT_NE(listing.find(name), std::string::npos) << name << "\n" << listing;
    // And extracts the same bytes.
    fs::create_directories(scratch.path() / "bsdtar");
    ASSERT_EQ(testutil::run("LC_ALL=C.UTF-8 bsdtar -xf '" + rar.string() + "' -C '" + (scratch.path() / "bsdtar").string()
                            + "'"),
              0);
    EXPECT_EQ(pkgtest::treeOf(scratch.path() / "bsdtar"), pkgtest::treeOf(src));
}

TEST(InstallTest, SizeZeroWritesAnEmptyArchiveThatOpensNothing)
{
    Windows w;
    testutil::TempDir scratch;
    testutil::writeFile(scratch.path() / "zero.qvtp", std::string(8, '\0') + "whatever follows");
    w.install(scratch.path() / "zero.qvtp");
    EXPECT_TRUE(testutil::shownErrors().empty());
    ASSERT_TRUE(fs::exists(w.tank() / "temp.rar"));
    EXPECT_EQ(fs::file_size(w.tank() / "temp.rar"), 0u);
    EXPECT_EQ(w.timeline, (std::vector<std::string>{"status 1 F1", "status 0 F1", "status 2 F1"}));
    EXPECT_TRUE(w.modesEnabled());
}
