// A whole run on a generated installed test: real libmpv (null outputs),
// the real wave recorder on the paced virtual microphone under PortAudio,
// and the real timers. Its own executable, because the microphone must be
// configured before PortAudio first starts.

#include "ManifestUtil.h"
#include "RunWatch.h"
#include "TestUtil.h"
#include "media/MpvBackend.h"
#include "platform/AppWindows.h"
#include "platform/Messages.h"
#include "platform/TTimer.h"
#include "playlist/Unit2.h"

#include <QCoreApplication>
#include <QPointer>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

using manifest::Row;
namespace fs = std::filesystem;

namespace {

Row rec(const char *item, const char *sub, int type, const char *path, int playTime = 0, const char *desc = "",
        const char *hint = "", const char *font = "")
{
    Row r;
    r.itemId = QString::fromUtf8(item);
    r.subItemId = QString::fromUtf8(sub);
    r.fileType = QString::number(type);
    r.filePath = QString::fromUtf8(path);
    r.playTime = QString::number(playTime);
    r.playDesc = QString::fromUtf8(desc);
    r.playHint = QString::fromUtf8(hint);
    r.font = QString::fromUtf8(font);
    return r;
}

void mustRun(const std::string &cmd)
{
    ASSERT_EQ(testutil::run(cmd + " >/dev/null 2>&1"), 0) << cmd;
}

// Seconds of audio in a file, as ffprobe reads it; -1 when unreadable.
double probeSeconds(const fs::path &file)
{
    std::string out;
    if (testutil::run("ffprobe -v error -show_entries format=duration -of csv=p=0 '" + file.string() + "'", &out) != 0)
        return -1;
    return std::atof(out.c_str());
}

} // namespace

TEST(EndToEndTest, PracticeRunPerformsEveryKindAndWritesDecodableAnswers)
{
    testutil::TempDataHome home;
    const fs::path tank = home.driveC() / "testtank";
    const fs::path answers = home.driveC() / "recording";
    fs::create_directories(tank / "audio");
    fs::create_directories(tank / "video");
    fs::create_directories(tank / "text");
    fs::create_directories(answers);

    const testutil::VirtualMicrophone mic(home.path());

    mustRun("espeak-ng -s 260 -w '" + (tank / "audio" / "q1.wav").string() + "' 'Question one. Listen.'");
    mustRun("ffmpeg -y -f lavfi -i sine=frequency=660:duration=4 -q:a 5 '" + (tank / "audio" / "beep.mp3").string()
            + "'");
    mustRun("ffmpeg -y -f lavfi -i testsrc=size=160x120:rate=25:duration=1.5 -f lavfi -i sine=f=440:d=1.5 "
            "-shortest -c:v mpeg4 -c:a aac '"
            + (tank / "video" / "clip.mp4").string() + "'");
    // Answers last as long as their prompts; opening the capture device takes
    // up to a second under the sanitizers, so these prompts are longer.
    mustRun("ffmpeg -y -f lavfi -i testsrc=size=160x120:rate=25:duration=4 -f lavfi -i sine=f=440:d=4 "
            "-shortest -c:v mpeg4 -c:a aac '"
            + (tank / "video" / "answer.mp4").string() + "'");
    testutil::writeFile(tank / "text" / "intro.rtf",
                        "{\\rtf1\\ansi\\ansicpg936{\\fonttbl{\\f0\\fnil\\fcharset134 \\'cb\\'ce\\'cc\\'e5;}}"
                        "\\f0\\fs48 {\\b \\'b5\\'da\\'d2\\'bb\\'b2\\'bf\\'b7\\'d6} Reading\\par}");
    testutil::writeFile(tank / "text" / "read.txt", "Read the passage aloud.");
    testutil::writeFile(tank / "text" / "key1.txt", "Model answer one.");
    testutil::writeFile(tank / "text" / "end.txt", "The end.");

    const std::vector<Row> rows{
        rec("0 开始", "说明", 2, "text\\intro.rtf", 0, "开始"),
        rec("1 第一部分", "朗读", 2, "text\\intro.rtf", 0, "阅读说明"),
        rec("1 第一部分", "朗读", 3, "audio\\q1.wav", 0, "听题"),
        rec("1 第一部分", "朗读", 5, "prep", 2000, "准备"),
        rec("1 第一部分", "朗读", 0, "audio\\beep.mp3", 0, "", "a1.wav", "text\\key1.txt"),
        rec("2 第二部分", "听说", 4, "audio\\q1.wav", 0, "边听边看", "", "text\\read.txt"),
        rec("2 第二部分", "视频", 6, "video\\clip.mp4", 0, "看录像"),
        rec("2 第二部分", "视频", 1, "video\\answer.mp4", 0, "", "a2.wav"),
        rec("3 结束", "结束", 2, "text\\end.txt", 0, "结束"),
    };
    testutil::writeFile(tank / "information.xml", manifest::packet(rows, manifest::Encoding::GbkBare));
    testutil::writeFile(answers / "stale.wav", "from the previous run");

    media::MpvBackend::setExtraOptions({{"ao", "null"}, {"vo", "null"}});
    QWidget mainWindow;
    QWidget recordings;
    app::Form1 = &mainWindow;
    app::Form3 = &recordings;
    testutil::clearShown();
    TForm2::resetRunValues();

    QPointer<TForm2> form = new TForm2;
    form->setWindowTitle(QStringLiteral("Quenvar【练习模式】"));
    form->show();
    EXPECT_FALSE(fs::exists(answers / "stale.wav"));

    const RunWatch watch;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (testutil::shownMessages().empty() && std::chrono::steady_clock::now() < deadline)
        platform::processMessagesUntil(std::chrono::steady_clock::now() + std::chrono::milliseconds(50));
    testutil::pump(50);

    EXPECT_TRUE(testutil::shownErrors().empty()) << testutil::shownErrors().front().text.toStdString();
    ASSERT_EQ(testutil::shownMessages().size(), 1u) << "the run did not end in time";
    EXPECT_EQ(testutil::shownMessages()[0].text, QStringLiteral("英语口试结束，请按确定键返回！"));
    EXPECT_TRUE(recordings.isVisible());
    EXPECT_TRUE(mainWindow.isVisible());
    EXPECT_FALSE(form) << "the test window is released";

    const std::vector<std::pair<int, QString>> expected{
        {2, "text\\intro.rtf"}, {3, "audio\\q1.wav"}, {5, "prep"}, {0, "audio\\beep.mp3"},
        {4, "audio\\q1.wav"}, {6, "video\\clip.mp4"}, {1, "video\\answer.mp4"}, {2, "text\\end.txt"}};
    EXPECT_EQ(watch.performed(), expected);

    // Each answer lasts as long as its prompt played, less the moment the
    // capture device takes to open.
    for (const auto &[name, prompt] : {std::pair{"a1.wav", tank / "audio" / "beep.mp3"},
                                       std::pair{"a2.wav", tank / "video" / "answer.mp4"}}) {
        const fs::path answer = answers / name;
        ASSERT_TRUE(fs::exists(answer)) << name;
        const double seconds = probeSeconds(answer);
        EXPECT_GT(seconds, probeSeconds(prompt) - 1.5) << name;
        EXPECT_LT(seconds, probeSeconds(prompt) + 0.5) << name;
        std::string soxOut;
        EXPECT_EQ(testutil::run("sox '" + answer.string() + "' -n stat 2>&1", &soxOut), 0) << name;
    }
    app::Form1 = nullptr;
    app::Form3 = nullptr;
    media::MpvBackend::setExtraOptions({});
}
