// The extraction component's own rules: callback answers, prompts, the
// override policy, the counting pass and stopping.

#include "PackageTestUtil.h"
#include "TestUtil.h"
#include "package/DFUnRar.h"
#include "package/Rar4Writer.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>

namespace fs = std::filesystem;

namespace {

fs::path threeFiles(const fs::path &dir)
{
    const fs::path rar = dir / "three.rar";
    package::Rar4Writer w(rar);
    w.addData("one.txt", "1", 0);
    w.addData("two.txt", "22", 0);
    w.addData("three.txt", "333", 0);
    w.finish();
    return rar;
}

// A stand-in library whose RARProcessFile calls the component's callback
// with a message chosen by the test and records the answer.
struct FakeCall {
    static inline unrar::UNRARCALLBACK callback = nullptr;
    static inline unsigned msg = 0;
    static inline std::vector<char> buffer;
    static inline unrar::LPARAM p2 = 0;
    static inline int answer = 99;
    static inline unrar::Binding saved;

    static void install()
    {
        saved = unrar::binding();
        unrar::binding().RARSetCallback = [](unrar::HANDLE, unrar::UNRARCALLBACK cb, unrar::LPARAM) { callback = cb; };
        unrar::binding().RARProcessFile = [](unrar::HANDLE, int, const char *, const char *) {
            answer = callback(msg, 0, unrar::LPARAM(buffer.data()), p2);
            return 0;
        };
    }
    static void restore() { unrar::binding() = saved; }
};

int callThroughComponent(TDFUnRar &rar, const fs::path &archive, unsigned msg, std::string initial, std::size_t size,
                         unrar::LPARAM p2, std::string *after = nullptr)
{
    FakeCall::msg = msg;
    FakeCall::buffer.assign(size, '\0');
    std::memcpy(FakeCall::buffer.data(), initial.data(), std::min(initial.size(), size));
    FakeCall::p2 = p2;
    FakeCall::answer = 99;
    FakeCall::install();
    rar.FileName = QString::fromStdString(archive.string());
    rar.Directory = QString::fromStdString((archive.parent_path() / "out").string());
    bool once = false;
    rar.OnProgress = [&once](TDFUnRar *s, unsigned, unsigned, unsigned, unsigned) {
        if (once)
            s->StopProcessing = true; // one call is enough
        once = true;
    };
    rar.Extract();
    FakeCall::restore();
    if (after)
        *after = FakeCall::buffer.data();
    return FakeCall::answer;
}

} // namespace

TEST(DFUnRarTest, PasswordRequestsAreAnsweredAndCutToTheBuffer)
{
    testutil::TempDir dir;
    const fs::path rar = threeFiles(dir.path());
    TDFUnRar c;
    std::vector<std::string> statuses;
    std::vector<std::string> errors;
    c.OnRarStatus = [&](TDFUnRar *, const QString &m, TRarStatus s) {
        if (s == RAR_ONPASSWORD)
            statuses.push_back(m.toStdString());
    };
    c.OnError = [&](TDFUnRar *, const QString &m, int) { errors.push_back(m.toStdString()); };
    std::string written;
    // No handler, no prompt: the empty password, reported.
    EXPECT_EQ(callThroughComponent(c, rar, unrar::UCM_NEEDPASSWORD, "junk", 8, 8, &written), 0);
    EXPECT_EQ(written, "");
    EXPECT_EQ(errors, std::vector<std::string>{"Pas de mot de passe!"});
    EXPECT_EQ(statuses, std::vector<std::string>{"Le mot de passe utilisé est : "});

    // A handler's password longer than the buffer: cut so that it and its
    // terminator fit. The status names the property, not the handler's copy.
    c.Password = QStringLiteral("prop");
    c.OnPassword = [](TDFUnRar *, QString &p) { p = QStringLiteral("0123456789abcdef"); };
    EXPECT_EQ(callThroughComponent(c, rar, unrar::UCM_NEEDPASSWORD, "", 8, 8, &written), 0);
    EXPECT_EQ(written, "0123456");
    EXPECT_EQ(statuses.back(), "Le mot de passe utilisé est : prop");

    // The prompt hands back whatever the edit box holds.
    c.OnPassword = nullptr;
    c.PromptForPass = true;
    QString caption;
    TDFUnRar::setPromptScript([&](const QString &cap, QString &text) {
        caption = cap;
        text = QStringLiteral("typed");
        return false;
    });
    EXPECT_EQ(callThroughComponent(c, rar, unrar::UCM_NEEDPASSWORD, "", 64, 64, &written), 0);
    TDFUnRar::setPromptScript(nullptr);
    EXPECT_EQ(caption, QStringLiteral("Mot de passe : ..."));
    EXPECT_EQ(written, "typed");
}

TEST(DFUnRarTest, MissingVolumeAnswers)
{
    testutil::TempDir dir;
    const fs::path rar = threeFiles(dir.path());
    TDFUnRar c;
    // Nobody to ask: go on, unless the name is empty.
    EXPECT_EQ(callThroughComponent(c, rar, unrar::UCM_CHANGEVOLUME, "next.rar", 1024, 0), 0);
    EXPECT_EQ(callThroughComponent(c, rar, unrar::UCM_CHANGEVOLUME, "", 1024, 0), -1);
    // A volume that was opened is only news.
    EXPECT_EQ(callThroughComponent(c, rar, unrar::UCM_CHANGEVOLUME, "", 1024, 1), 0);

    c.PromptForVolumn = true;
    QString seen;
    QString reply;
    bool ok = true;
    TDFUnRar::setPromptScript([&](const QString &cap, QString &text) {
        EXPECT_EQ(cap, QStringLiteral("Archive suivante : ..."));
        seen = text;
        text = reply;
        return ok;
    });
    std::string written;
    reply = QStringLiteral("/media/disk2/vol2.rar");
    EXPECT_EQ(callThroughComponent(c, rar, unrar::UCM_CHANGEVOLUME, "x", 1024, 0, &written), 0);
    EXPECT_EQ(seen, QString::fromStdString(rar.string())); // starts with the current archive
    EXPECT_EQ(written, "/media/disk2/vol2.rar");
    reply = QString::fromStdString(rar.string()); // the same archive again: stop
    EXPECT_EQ(callThroughComponent(c, rar, unrar::UCM_CHANGEVOLUME, "x", 1024, 0), -1);
    ok = false;
    EXPECT_EQ(callThroughComponent(c, rar, unrar::UCM_CHANGEVOLUME, "x", 1024, 0), -1);
    TDFUnRar::setPromptScript(nullptr);

    // Data goes on while nobody stopped the extraction.
    c.PromptForVolumn = false;
    EXPECT_EQ(callThroughComponent(c, rar, unrar::UCM_PROCESSDATA, "", 4, 4), 0);
}

TEST(DFUnRarTest, StopFromAProgressHandlerEndsBeforeThatFileButStillCloses)
{
    testutil::TempDir dir;
    const fs::path rar = threeFiles(dir.path());
    TDFUnRar c;
    c.FileName = QString::fromStdString(rar.string());
    c.Directory = QString::fromStdString((dir.path() / "out").string());
    std::vector<std::string> events;
    c.OnProgress = [&](TDFUnRar *s, unsigned n, unsigned, unsigned, unsigned) {
        events.push_back("progress " + std::to_string(n));
        if (n == 2)
            s->StopProcessing = true;
    };
    c.OnRarStatus = [&](TDFUnRar *, const QString &, TRarStatus s) { events.push_back(std::to_string(int(s))); };
    c.Extract();
    EXPECT_EQ(events, (std::vector<std::string>{"1", "0", "progress 1", "progress 2", "2"}));
    EXPECT_TRUE(fs::exists(dir.path() / "out/one.txt"));
    EXPECT_FALSE(fs::exists(dir.path() / "out/two.txt"));
    // The next extraction starts afresh.
    c.OnProgress = nullptr;
    c.Extract();
    EXPECT_EQ(pkgtest::treeOf(dir.path() / "out").size(), 3u);
}

TEST(DFUnRarTest, OverridePolicyAndFileList)
{
    testutil::TempDir dir;
    const fs::path rar = threeFiles(dir.path());
    const fs::path out = dir.path() / "out";
    fs::create_directories(out);
    const auto run = [&](TOverrideOptions policy, const std::function<void(TDFUnRar &)> &setup = {}) {
        for (const char *n : {"one.txt", "two.txt", "three.txt"})
            testutil::writeFile(out / n, "old");
        TDFUnRar c;
        c.FileName = QString::fromStdString(rar.string());
        c.Directory = QString::fromStdString(out.string());
        c.OverrideEvent = policy;
        if (setup)
            setup(c);
        c.Extract();
        return testutil::readFile(out / "one.txt") + testutil::readFile(out / "two.txt")
               + testutil::readFile(out / "three.txt");
    };
    EXPECT_EQ(run(OR_ALWAYS), "122333");
    EXPECT_EQ(run(OR_NEVER), "oldoldold");
    std::vector<QString> asked;
    EXPECT_EQ(run(OR_EVENT,
                  [&](TDFUnRar &c) {
                      c.OnOverride = [&](TDFUnRar *, const QString &name, bool &can) {
                          asked.push_back(name);
                          can = name.endsWith(QStringLiteral("two.txt"));
                      };
                  }),
              "old22old");
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0], QString::fromStdString(out.string()) + QStringLiteral("\\one.txt"));
    // A file list limits what may be written (compared without letter case),
    // except under OR_ALWAYS.
    const auto onlyTwo = [&](TDFUnRar &c) {
        c.FileList << QString::fromStdString(out.string()) + QStringLiteral("\\TWO.TXT");
        c.OnOverride = [](TDFUnRar *, const QString &, bool &can) { can = true; };
    };
    EXPECT_EQ(run(OR_EVENT, onlyTwo), "old22old");
    EXPECT_EQ(run(OR_ALWAYS, onlyTwo), "122333");
}

TEST(DFUnRarTest, CountingPassAndHeaderRecord)
{
    testutil::TempDir dir;
    TDFUnRar c;
    c.FileName = QString::fromStdString(pkgtest::rarSample("rar4_stored.rar").string());
    c.Directory = QString::fromStdString((dir.path() / "out").string());
    c.CanProgress = true;
    std::vector<std::array<unsigned, 4>> progress;
    std::vector<TDFRARHeaderData> headers;
    int statuses = 0;
    c.OnRarStatus = [&](TDFUnRar *, const QString &, TRarStatus) { ++statuses; };
    c.OnProgress = [&](TDFUnRar *, unsigned a, unsigned b, unsigned s, unsigned t) { progress.push_back({a, b, s, t}); };
    c.OnFileProcessing = [&](TDFUnRar *, const TDFRARHeaderData &h, int st) {
        EXPECT_EQ(st, 0);
        headers.push_back(h);
    };
    c.Extract();
    EXPECT_EQ(statuses, 6); // the counting pass opens and closes too
    ASSERT_EQ(progress.size(), 5u);
    EXPECT_EQ(progress[2], (std::array<unsigned, 4>{3, 5, 3, 40}));
    EXPECT_EQ(c.FileCount(), 5u);
    const TDFRARHeaderData &t = headers[0];
    EXPECT_EQ(t.FileName, QStringLiteral("test.txt"));
    EXPECT_EQ(t.CRC, QStringLiteral("bec8a242"));
    EXPECT_EQ(t.HostOS, QStringLiteral("Unix"));
    EXPECT_EQ(t.Method, QStringLiteral("pas de compression"));
    EXPECT_EQ(t.UnpSize, 20u);
    EXPECT_EQ(t.MajorVersion, 2);
    EXPECT_EQ(t.MinorVersion, 0);
    EXPECT_FALSE(t.Directory);
    const auto dirEntry = std::find_if(headers.begin(), headers.end(),
                                       [](const TDFRARHeaderData &h) { return h.FileName == QStringLiteral("testdir"); });
    ASSERT_NE(dirEntry, headers.end());
    EXPECT_TRUE(dirEntry->Directory);
    EXPECT_TRUE(c.ArchivComment().isEmpty());
}

TEST(DFUnRarTest, WithoutTheLibraryOnlyAnErrorIsReported)
{
    unrar::unloadLibrary();
    unrar::setLibraryAvailable(false);
    {
        TDFUnRar c;
        c.FileName = QStringLiteral("whatever.rar");
        int events = 0;
        std::vector<std::pair<QString, int>> errors;
        c.OnRarStatus = [&](TDFUnRar *, const QString &, TRarStatus) { ++events; };
        c.OnError = [&](TDFUnRar *, const QString &m, int id) { errors.emplace_back(m, id); };
        c.Extract();
        c.CountFiles();
        EXPECT_EQ(events, 0);
        EXPECT_EQ(errors, (std::vector<std::pair<QString, int>>{{QStringLiteral("UnRar.Dll not loaded"), 0},
                                                                {QStringLiteral("UnRar.Dll not loaded"), 0}}));
    }
    unrar::setLibraryAvailable(true);
    // One component going away leaves another working.
    testutil::TempDir dir;
    const fs::path rar = threeFiles(dir.path());
    TDFUnRar keeper;
    { TDFUnRar shortLived; }
    keeper.FileName = QString::fromStdString(rar.string());
    keeper.Directory = QString::fromStdString(dir.path().string());
    keeper.Extract();
    EXPECT_EQ(keeper.DllVersion(), unrar::kDllVersion);
    EXPECT_TRUE(fs::exists(dir.path() / "three.txt"));
}

TEST(DFUnRarTest, AHandlerErrorInsideTheLibraryStillClosesTheArchive)
{
    testutil::TempDir dir;
    const fs::path rar = pkgtest::rarSample("rar4_encrypted_data.rar");
    TDFUnRar c;
    c.FileName = QString::fromStdString(rar.string());
    c.Directory = QString::fromStdString(dir.path().string());
    std::vector<int> statuses;
    c.OnRarStatus = [&](TDFUnRar *, const QString &, TRarStatus s) { statuses.push_back(s); };
    c.OnPassword = [](TDFUnRar *, QString &) { throw std::runtime_error("handler failed"); };
    EXPECT_THROW(c.Extract(), std::runtime_error);
    ASSERT_FALSE(statuses.empty());
    EXPECT_EQ(statuses.back(), RAR_AFTERCLOSE);
}

TEST(DFUnRarTest, ListModeTestsEveryFileAndWritesNothing)
{
    testutil::TempDir dir;
    const fs::path bad = dir.path() / "bad.rar";
    {
        package::Rar4Writer w(bad);
        w.addData("fine.txt", "fine", 0);
        w.addRaw("broken.txt", "mismatch", 0xDEADBEEF);
        w.finish();
    }
    for (const fs::path &archive : {pkgtest::rarSample("rar4_stored.rar"), bad}) {
        TDFUnRar c;
        c.setMode(DFRAR_LIST);
        c.FileName = QString::fromStdString(archive.string());
        c.Directory = QString::fromStdString((dir.path() / "out").string());
        unsigned files = 0;
        std::vector<int> errors;
        c.OnProgress = [&](TDFUnRar *, unsigned n, unsigned, unsigned, unsigned) { files = n; };
        c.OnError = [&](TDFUnRar *, const QString &, int id) { errors.push_back(id); };
        c.Extract();
        EXPECT_FALSE(fs::exists(dir.path() / "out"));
        if (archive == bad) {
            EXPECT_EQ(files, 2u);
            EXPECT_EQ(errors, std::vector<int>{12});
        } else {
            EXPECT_EQ(files, 5u);
            EXPECT_TRUE(errors.empty());
        }
    }
}

TEST(DFUnRarTest, RealPromptsAreSmallModalDialogs)
{
    testutil::TempDir dir;
    const fs::path rar = threeFiles(dir.path());
    TDFUnRar c;
    c.PromptForPass = true;
    c.PromptForVolumn = true;
    struct Seen {
        QString title;
        int maxLength = 0;
        QLineEdit::EchoMode echo = QLineEdit::Normal;
        QString initial;
        QStringList buttons;
    } seen;
    // Looks at the dialog once it is up, types, and presses a button.
    const auto answerWith = [&seen](const QString &typed, const QString &button) {
        QTimer::singleShot(0, [&seen, typed, button] {
            QWidget *dialog = QApplication::activeModalWidget();
            ASSERT_NE(dialog, nullptr);
            seen.title = dialog->windowTitle();
            auto *edit = dialog->findChild<QLineEdit *>();
            if (!edit) {
                ADD_FAILURE() << "no edit box";
                dialog->close(); // never leave the test waiting on the dialog
                return;
            }
            seen.maxLength = edit->maxLength();
            seen.echo = edit->echoMode();
            seen.initial = edit->text();
            seen.buttons.clear();
            QPushButton *press = nullptr;
            for (QPushButton *b : dialog->findChildren<QPushButton *>()) {
                seen.buttons << b->text() + (b->isDefault() ? QStringLiteral("*") : QString());
                if (b->text() == button)
                    press = b;
            }
            edit->setText(typed);
            if (!press) {
                ADD_FAILURE() << "no button " << button.toStdString();
                dialog->close();
                return;
            }
            press->click();
        });
    };
    std::string written;
    answerWith(QStringLiteral("abc"), QStringLiteral("Annuler"));
    EXPECT_EQ(callThroughComponent(c, rar, unrar::UCM_NEEDPASSWORD, "", 64, 64, &written), 0);
    EXPECT_EQ(seen.title, QStringLiteral("Mot de passe : ..."));
    EXPECT_EQ(seen.maxLength, 120);
    EXPECT_EQ(seen.echo, QLineEdit::Password);
    EXPECT_EQ(seen.buttons, (QStringList{QStringLiteral("Ok*"), QStringLiteral("Annuler")}));
    EXPECT_EQ(written, "abc"); // even after "Annuler"

    answerWith(QStringLiteral("/mnt/vol2.rar"), QStringLiteral("Ok"));
    EXPECT_EQ(callThroughComponent(c, rar, unrar::UCM_CHANGEVOLUME, "x", 1024, 0, &written), 0);
    EXPECT_EQ(seen.title, QStringLiteral("Archive suivante : ..."));
    EXPECT_EQ(seen.echo, QLineEdit::Normal);
    EXPECT_EQ(seen.initial, QString::fromStdString(rar.string()));
    EXPECT_EQ(written, "/mnt/vol2.rar");
}
