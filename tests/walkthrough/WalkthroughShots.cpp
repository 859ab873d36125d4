// Screenshots for the README's walk-through (not a test). It builds the
// program's windows as the program does, with the real media engine, the
// real dialogs and message boxes, and the paced virtual microphone, then
// walks a new user's first session and grabs the screen at each step:
//   scripts/take-screenshots            (runs it under Xvfb into docs/images)
// It is built as "quenvar" in its own folder, beside a copy of the sample
// package, so the captions and the open dialog look as they do for a user.

#include "TestUtil.h"
#include "app/ProgramWindows.h"
#include "app/Unit1.h"
#include "media/MpvBackend.h"
#include "platform/AppSetup.h"
#include "platform/AppWindows.h"
#include "playlist/Unit2.h"
#include "recordings/Unit3.h"
#include "ui/ClickLabel.h"
#include "ui/Fonts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

QString g_out;
QString g_zip;
int g_failures = 0;

void pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Waits (handling events) until the condition holds; false on timeout.
bool waitFor(const std::function<bool()> &done, int seconds)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > seconds * 1000)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// Grabs the area of the given top-level windows (the whole screen when
// none is given) into OUT/name.
void shot(const QString &name, const QList<QWidget *> &windows = {})
{
    QRect area;
    for (QWidget *w : windows)
        if (w && w->isVisible())
            area |= w->frameGeometry();
    QScreen *screen = QGuiApplication::primaryScreen();
    if (area.isEmpty())
        area = screen->geometry();
    area &= screen->geometry();
    const QPixmap pixmap = screen->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    const QString file = QDir(g_out).filePath(name);
    if (!pixmap.save(file)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file));
        ++g_failures;
        return;
    }
    std::printf("%s\n", qPrintable(file));
    std::fflush(stdout);
}

// A virtual display has no window manager to maximise windows: give the
// program's maximised windows the whole screen as a desktop would.
void maximise(QWidget *window)
{
    if (window)
        window->setGeometry(QGuiApplication::primaryScreen()->availableGeometry());
}

void fail(const char *what)
{
    std::fprintf(stderr, "walkthrough: %s\n", what);
    ++g_failures;
}

// Answers the real modal dialogs and message boxes as a user would, taking
// a picture of the ones the walk-through shows.
class Autopilot : public QObject
{
public:
    Autopilot()
    {
        m_timer.setInterval(100);
        connect(&m_timer, &QTimer::timeout, this, &Autopilot::look);
        m_timer.start();
    }
    // Pictures of the next modal windows, in order (an empty name: none).
    QStringList nextShots;
    QString openFile;
    QList<QWidget *> behind;

private:
    void look()
    {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || modal == m_handled)
            return;
        m_handled = modal;
        m_timer.stop();
        auto *fileDialog = qobject_cast<QFileDialog *>(modal);
        if (fileDialog) {
            // The name typed into the name box, as a user would.
            const QString file = fileDialog->acceptMode() == QFileDialog::AcceptSave ? g_zip : openFile;
            if (auto *name = fileDialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                name->setText(fileDialog->acceptMode() == QFileDialog::AcceptSave ? file : QFileInfo(file).fileName());
        }
        pump(600);
        if (!nextShots.isEmpty()) {
            const QString name = nextShots.takeFirst();
            if (!name.isEmpty())
                shot(name, QList<QWidget *>(behind) << modal);
        }
        if (fileDialog) {
            static_cast<QDialog *>(fileDialog)->accept(); // the dialog's own accept checks the choice
        } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            if (QAbstractButton *ok = box->defaultButton() ? box->defaultButton() : box->buttons().value(0))
                ok->click();
            else
                box->accept();
        } else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
            dialog->accept();
        }
        m_timer.start();
    }

    QTimer m_timer;
    QPointer<QWidget> m_handled;
};

TForm2 *testWindow()
{
    return qobject_cast<TForm2 *>(app::CurrentTestWindow);
}

bool performing(const char *path)
{
    return TForm2::runValues().filePath == QString::fromUtf8(path);
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER   (under an X server, e.g. xvfb-run)\n", argv[0]);
        return 2;
    }
    platform::ensureUtf8Locale();
    QApplication application(argc, argv);
    platform::fixNumericLocale();
    platform::installChineseQtTexts();
    ui::setupFonts();
    QApplication::setQuitOnLastWindowClosed(false);
    g_out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_out);

    // The virtual microphone stands in for a real one.
    const testutil::TempDir scratch;
    const testutil::VirtualMicrophone mic(scratch.path());

    // A virtual display has no sound card: prompts play to the null output,
    // in real time.
    media::MpvBackend::setExtraOptions({{"ao", "null"}});

    const QString sample = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("sample.qvtp"));
    g_zip = QDir(QDir::tempPath()).filePath(QStringLiteral("我的录音.zip"));
    QFile::remove(g_zip);

    const app::ProgramWindows windows;
    TForm1 &form1 = windows.main();
    TForm3 &form3 = windows.recordings();
    maximise(&form1);
    Autopilot pilot;
    pilot.openFile = sample;
    pump(800);

    // 1. Installing the sample: the open dialog offers it at once.
    pilot.nextShots = {QStringLiteral("walkthrough-1-install.png")};
    pilot.behind = {&form1};
    form1.Btn5->click();
    if (!waitFor([&] { return form1.Btn1->isEnabled(); }, 30))
        fail("the sample did not install");
    pump(500);
    shot(QStringLiteral("walkthrough-2-installed.png"), {&form1});

    // 2. A practice run: the reading passage, then the first answer being
    // recorded, then the story clip reached by stepping forward.
    form1.Btn1->click();
    maximise(testWindow());
    if (!waitFor([] { return testWindow() && performing("text\\passage1.rtf"); }, 20))
        fail("the practice run did not show the passage");
    pump(800);
    shot(QStringLiteral("walkthrough-3-practice-passage.png"), {testWindow()});
    if (!waitFor([] { return performing("audio\\answer_15s.mp3"); }, 30))
        fail("the practice run did not reach the first answer");
    pump(4000);
    shot(QStringLiteral("walkthrough-4-practice-recording.png"), {testWindow()});
    for (int i = 0; i < 20 && testWindow() && !performing("video\\story.mp4"); ++i) {
        testWindow()->lblNext->click();
        pump(1500);
    }
    if (!waitFor([] { return performing("video\\story.mp4"); }, 20))
        fail("stepping forward did not reach the story clip");
    pump(5000);
    shot(QStringLiteral("walkthrough-5-practice-video.png"), {testWindow()});
    if (TForm2 *w = testWindow())
        w->close();
    waitFor([] { return !app::CurrentTestWindow; }, 20);
    form3.hide();
    pump(500);

    // 3. An exam run from start to end: no stepping, no tree; the end
    // message, then the recordings window lists the answers.
    form1.RzBitBtn4->click();
    maximise(testWindow());
    if (!waitFor([] { return testWindow() && performing("audio\\p2_q1.mp3"); }, 120))
        fail("the exam run did not reach the first question");
    pump(2500);
    shot(QStringLiteral("walkthrough-6-exam-question.png"), {testWindow()});
    pilot.nextShots = {QStringLiteral("walkthrough-7-exam-end.png")};
    pilot.behind = {testWindow()};
    if (!waitFor([] { return !app::CurrentTestWindow; }, 300))
        fail("the exam run did not end");
    if (!waitFor([&] { return form3.isVisible(); }, 10))
        fail("the recordings window did not open");
    pump(1500);
    shot(QStringLiteral("walkthrough-8-recordings.png"), {&form3});

    // 4. Packing the answers into one archive for the teacher.
    pilot.nextShots = {QString(), QStringLiteral("walkthrough-9-packed.png")};
    pilot.behind = {&form3};
    form3.Button1->click();
    pump(1500);
    if (!QFile::exists(g_zip))
        fail("packing wrote no archive");

    QFile::remove(g_zip);
    return g_failures == 0 ? 0 : 1;
}
