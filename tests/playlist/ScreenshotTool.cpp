// Screenshots of the test window for the documentation (not a test):
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/dev/tests/playlist/playlist_shots docs/images
// Writes playlist-practice-start.png (the tree with its first leaf
// selected), playlist-practice-recording.png (a practice run in the middle
// of a recording record) and playlist-exam.png (an exam run showing a text).
// With a second argument, an installed test folder (scripts/make-sample
// makes one), it also writes playlist-sample-passage.png: that test's second
// record performed in a practice run.

#include "ManifestUtil.h"
#include "app/Unit1.h"
#include "audio/FakeWaveInDevice.h"
#include "audio/MSAdpcm.h"
#include "audio/WaveInDevice.h"
#include "media/FakeBackend.h"
#include "platform/AppSetup.h"
#include "platform/AppWindows.h"
#include "platform/Dialogs.h"
#include "platform/ErrorDisplay.h"
#include "platform/TTimer.h"
#include "platform/WinPath.h"
#include "playlist/Unit2.h"
#include "ui/Fonts.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cmath>
#include <cstdio>
#include <fstream>

namespace {

void pump(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

void write(const QString &path, const std::string &bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    std::ofstream(path.toStdString(), std::ios::binary) << bytes;
}

manifest::Row row(const char *item, const char *sub, int type, const char *path, const char *desc = "",
                  const char *hint = "", const char *font = "", int playTime = 0)
{
    manifest::Row r;
    r.itemId = QString::fromUtf8(item);
    r.subItemId = QString::fromUtf8(sub);
    r.fileType = QString::number(type);
    r.filePath = QString::fromUtf8(path);
    r.playDesc = QString::fromUtf8(desc);
    r.playHint = QString::fromUtf8(hint);
    r.font = QString::fromUtf8(font);
    r.playTime = QString::number(playTime);
    return r;
}

void shoot(QWidget *w, const QString &file)
{
    pump(300);
    w->grab().save(file);
    std::printf("wrote %s\n", file.toUtf8().constData());
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    setenv("XDG_DATA_HOME", home.path().toLocal8Bit().constData(), 1);
    platform::ensureUtf8Locale();
    QApplication app(argc, argv);
    platform::fixNumericLocale();
    ui::setupFonts();
    QApplication::setQuitOnLastWindowClosed(false);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    platform::setErrorSink([](const QString &, const QString &text) {
        std::fprintf(stderr, "error: %s\n", text.toUtf8().constData());
    });
    platform::setMessageScript([](const platform::MessageRequest &) { return platform::MsgResult::Ok; });

    const QString tank = home.path() + "/quenvar/testtank/";
    QDir().mkpath(home.path() + "/quenvar/recording");
    const std::vector<manifest::Row> rows{
        row("第一部分 朗读", "第一节 短文", 2, "text\\intro.txt", "考试说明"),
        row("第一部分 朗读", "第一节 短文", 2, "text\\passage.rtf", "第一部分：朗读短文"),
        row("第一部分 朗读", "第一节 短文", 0, "audio\\read.mp3", "", "1.wav", "text\\key1.txt"),
        row("第一部分 朗读", "第一节 短文", 5, "准备", "准备回答", "", "", 30000),
        row("第二部分 情景问答", "第一节 听问题", 3, "audio\\q1.mp3", "第二部分：情景问答"),
        row("第二部分 情景问答", "第二节 回答", 0, "audio\\a1.mp3", "", "2.wav", "text\\key2.txt"),
        row("第三部分 话题简述", "第一节 观看录像", 6, "video\\topic.mp4", "第三部分：话题简述"),
        row("第三部分 话题简述", "第二节 阅读", 2, "text\\topic.txt", "第三部分：话题简述"),
    };
    write(tank + "information.xml", manifest::packet(rows, manifest::Encoding::GbkBare));
    write(tank + "text/passage.rtf",
          "{\\rtf1\\ansi\\ansicpg936{\\fonttbl{\\f0\\froman\\fcharset0 Times New Roman;}"
          "{\\f1\\fnil\\fcharset134 \\'cb\\'ce\\'cc\\'e5;}}{\\colortbl ;\\red0\\green0\\blue160;}"
          "\\pard\\qc\\f1\\fs40\\cf1\\b \\'c7\\'eb\\'c0\\'ca\\'b6\\'c1\\'cf\\'c2\\'c3\\'e6\\'b5\\'c4\\'b6\\'cc\\'ce\\'c4"
          "\\b0\\cf0\\par\\pard\\f0\\fs32 Every morning Li Ming gets up at six. He {\\i reads English} for half an "
          "hour before breakfast, and then he {\\ul walks to school} with his friends.\\par}");
    write(tank + "text/intro.txt", "本次考试共三部分。");
    write(tank + "text/topic.txt",
          "Talk about your favourite season.\n\n"
          "你可以从以下几个方面来谈：天气、活动、感受。");
    write(tank + "text/key1.txt", "Every morning Li Ming gets up at six ...");
    write(tank + "text/key2.txt", "I usually go to school by bike.");

    media::FakeMedia fake;
    for (const char *f : {"audio\\read.mp3", "audio\\q1.mp3", "audio\\a1.mp3"}) {
        write(platform::hostPathString(QStringLiteral("c:\\testtank\\") + f), "x");
        fake.addFile(platform::hostPathString(QStringLiteral("c:\\testtank\\") + f), 20000);
    }
    FakeWaveInDevice device;
    ScopedWaveInDevice scoped(device);

    TForm1 main;
    app::Form1 = &main;
    main.show();

    // Practice: the window as it opens.
    main.btn1Click();
    auto *practice = qobject_cast<TForm2 *>(app::CurrentTestWindow);
    practice->showNormal();
    practice->resize(1024, 708);
    practice->timer->setEnabled(false);
    practice->timer2->setEnabled(false);
    practice->RzCheckBox1->setChecked(true);
    shoot(practice, out + "/playlist-practice-start.png");

    // Practice, while an answer is recorded: the passage, then its reading.
    practice->dsplaylist.GotoBookmark(TBookmark{0});
    practice->timer->fire();
    practice->timer->fire();
    practice->RzCheckBox1Click();
    // A spoken-level tone on the microphone, louder on the left.
    std::vector<std::int16_t> pcm(44100 * 2);
    for (std::size_t i = 0; i < pcm.size() / 2; ++i) {
        const double s = std::sin(2 * M_PI * 330.0 * static_cast<double>(i) / 44100.0);
        pcm[2 * i] = static_cast<std::int16_t>(14000 * s);
        pcm[2 * i + 1] = static_cast<std::int16_t>(5000 * s);
    }
    const std::vector<std::uint8_t> adpcm = msadpcm::encode(pcm, 2, 2048);
    for (std::size_t at = 0; at + 4096 <= adpcm.size(); at += 4096) {
        device.deliver(adpcm.data() + at, 4096);
        pump(40);
    }
    shoot(practice, out + "/playlist-practice-recording.png");
    practice->close();
    pump(100);

    // Exam: a text record shows the step-back label again; the tree, the
    // step-forward label and the reference answer stay hidden.
    main.RzBitBtn4Click();
    auto *exam = qobject_cast<TForm2 *>(app::CurrentTestWindow);
    exam->showNormal();
    exam->resize(1024, 708);
    exam->timer->setEnabled(false);
    exam->dsplaylist.GotoBookmark(TBookmark{6});
    exam->timer->fire();
    exam->timer->setEnabled(false);
    shoot(exam, out + "/playlist-exam.png");
    exam->close();
    pump(100);

    if (argc > 2) {
        QDir(tank).removeRecursively();
        const QString from = QString::fromLocal8Bit(argv[2]);
        QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString file = it.next();
            const QString to = tank + QDir(from).relativeFilePath(file);
            QDir().mkpath(QFileInfo(to).path());
            QFile::copy(file, to);
        }
        main.btn1Click();
        auto *sample = qobject_cast<TForm2 *>(app::CurrentTestWindow);
        sample->showNormal();
        sample->resize(1024, 708);
        sample->timer->setEnabled(false);
        sample->timer2->setEnabled(false);
        sample->dsplaylist.GotoBookmark(TBookmark{0});
        sample->timer->fire();
        sample->timer->setEnabled(false);
        shoot(sample, out + "/playlist-sample-passage.png");
        sample->close();
        pump(100);
    }
    app::Form1 = nullptr;
    return 0;
}
