// The shipped sample test the way a student meets it: installed through
// "装入试题" from the package the build puts beside the program, run to the
// end in practice or exam mode with real libmpv (null outputs) and a paced
// virtual microphone, the answers listed in "我的录音", packed into a ZIP
// archive that unzip accepts, and restored from it.

#include "TestUtil.h"
#include "playlist/RunWatch.h"
#include "app/Unit1.h"
#include "media/MpvBackend.h"
#include "package/Unit4.h"
#include "platform/AppWindows.h"
#include "platform/ErrorDisplay.h"
#include "platform/Messages.h"
#include "playlist/TClientDataSet.h"
#include "playlist/Unit2.h"
#include "recordings/Unit3.h"

#include <QFileSystemModel>
#include <QListView>
#include <QPushButton>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// One record of the installed manifest, as the runner will perform it.
struct Record {
    int fileType = 0;
    QString filePath;
    QString answer; // PlayHint of an answer record
};

std::vector<Record> readManifest(const fs::path &tank)
{
    TClientDataSet ds;
    ds.setFileName(QString::fromStdString((tank / "information.xml").string()));
    ds.Open();
    std::vector<Record> out;
    for (ds.First(); !ds.Eof(); ds.Next()) {
        Record r;
        r.fileType = ds.FieldByName(QStringLiteral("FileType")).AsInteger();
        r.filePath = ds.FieldByName(QStringLiteral("FilePath")).AsString();
        if (r.fileType == 0 || r.fileType == 1)
            r.answer = ds.FieldByName(QStringLiteral("PlayHint")).AsString();
        out.push_back(r);
    }
    return out;
}

fs::path tankFile(const fs::path &tank, const QString &windowsPath)
{
    return tank / QString(windowsPath).replace(QLatin1Char('\\'), QLatin1Char('/')).toStdString();
}

std::string quoted(const fs::path &p)
{
    return "'" + p.string() + "'";
}

// Seconds of sound in a file as ffprobe reads its container; -1 if unreadable.
double mediaSeconds(const fs::path &file)
{
    std::string out;
    if (testutil::run("ffprobe -v error -show_entries format=duration -of csv=p=0 " + quoted(file), &out) != 0)
        return -1;
    return std::atof(out.c_str());
}

// Seconds of sound sox decodes from a WAVE file; -1 if sox refuses it.
double soxSeconds(const fs::path &file)
{
    std::string out;
    if (testutil::run("sox " + quoted(file) + " -n stat 2>&1", &out) != 0)
        return -1;
    const auto at = out.find("Length (seconds):");
    return at == std::string::npos ? -1 : std::atof(out.c_str() + at + 17);
}

// The program's windows as main() creates them, on a fresh drive C with the
// virtual microphone as the default input.
class SampleRunTest : public ::testing::Test
{
protected:
    testutil::TempDataHome home;
    testutil::VirtualMicrophone mic{home.path()};
    TForm1 form1;
    TForm3 form3;
    TForm4 form4;

    SampleRunTest()
    {
        media::MpvBackend::setExtraOptions({{"ao", "null"}, {"vo", "null"}});
        app::Form1 = &form1;
        app::Form3 = &form3;
        app::Form4 = &form4;
        form1.show();
        testutil::clearShown();
        TForm2::resetRunValues();
    }
    ~SampleRunTest() override
    {
        platform::TOpenDialog::setScript(nullptr);
        platform::TSaveDialog::setScript(nullptr);
        delete app::CurrentTestWindow;
        app::Form1 = nullptr;
        app::Form3 = nullptr;
        app::Form4 = nullptr;
        media::MpvBackend::setExtraOptions({});
    }

    [[nodiscard]] fs::path tank() const { return home.driveC() / "testtank"; }
    [[nodiscard]] fs::path answers() const { return home.driveC() / "recording"; }

    // "装入试题", choosing the sample package in the open dialog.
    void installSample()
    {
        const fs::path package = QUENVAR_SAMPLE_PACKAGE;
        ASSERT_TRUE(fs::is_regular_file(package)) << "the build writes " << package;
        QString filter;
        platform::TOpenDialog::setScript([&](platform::TOpenDialog &d) {
            filter = d.Filter;
            d.FileName = QString::fromStdString(package.string());
            return true;
        });
        platform::guarded([this] { form1.btn5Click(); });
        platform::TOpenDialog::setScript(nullptr);
        EXPECT_EQ(filter, QStringLiteral("英语听说试题文件|*.qvtp"));
        EXPECT_TRUE(testutil::shownErrors().empty()) << testutil::shownErrors().front().text.toStdString();
        EXPECT_TRUE(form1.Btn1->isEnabled() && form1.RzBitBtn4->isEnabled()) << "both modes open after installing";
        EXPECT_TRUE(form1.isVisible());
        ASSERT_TRUE(fs::is_regular_file(tank() / "information.xml"));
    }

    // Runs the installed test in one mode until the end message; returns
    // the (type, path) of every record the runner performed, in order.
    RunWatch::Performed runToTheEnd(bool exam)
    {
        exam ? form1.RzBitBtn4Click() : form1.btn1Click();
        EXPECT_NE(app::CurrentTestWindow, nullptr);
        const RunWatch watch;
        const auto deadline = Clock::now() + std::chrono::minutes(6);
        while (testutil::shownMessages().empty() && testutil::shownErrors().empty() && Clock::now() < deadline)
            platform::processMessagesUntil(Clock::now() + std::chrono::milliseconds(50));
        testutil::pump(100);
        return watch.performed();
    }

    // The answers' names as the recordings window lists them.
    std::set<QString> listedAnswers()
    {
        QFileSystemModel *model = form3.lst1Model;
        const QModelIndex root = form3.lst1->rootIndex();
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        std::set<QString> names;
        while (Clock::now() < deadline) {
            testutil::pump(50);
            if (model->canFetchMore(root))
                model->fetchMore(root);
            names.clear();
            for (int i = 0; i < model->rowCount(root); ++i)
                names.insert(model->fileName(model->index(i, 0, root)));
            if (!names.empty() && !model->canFetchMore(root))
                break;
        }
        return names;
    }

    void checkWholeRun(bool exam)
    {
        installSample();
        if (HasFatalFailure())
            return;
        const std::vector<Record> manifest = readManifest(tank());
        ASSERT_GE(manifest.size(), 10u);

        const auto performed = runToTheEnd(exam);
        ASSERT_TRUE(testutil::shownErrors().empty()) << testutil::shownErrors().front().text.toStdString();
        ASSERT_EQ(testutil::shownMessages().size(), 1u) << "the run did not end in time";
        EXPECT_EQ(testutil::shownMessages()[0].text, QStringLiteral("英语口试结束，请按确定键返回！"));
        EXPECT_EQ(app::CurrentTestWindow, nullptr) << "the test window is released";
        EXPECT_TRUE(form1.isVisible());
        EXPECT_TRUE(form3.isVisible()) << "the recordings window opens at the end";

        // Every record was performed once, in the manifest's order. The first
        // is the test's heading: the run starts with the record after the
        // leaf the tree selects, the heading's own.
        std::vector<std::pair<int, QString>> expected;
        for (std::size_t i = 1; i < manifest.size(); ++i)
            expected.emplace_back(manifest[i].fileType, manifest[i].filePath);
        EXPECT_EQ(performed, expected);

        // Each answer holds about as long as its prompt played. libmpv's null
        // output reports the end of a prompt some 0.4 s before the file's
        // length (its buffers are never drained), and opening the device may
        // cost a moment; the recording itself matches the time between start
        // and stop to within a block.
        std::set<QString> answerNames;
        for (const Record &r : manifest) {
            if (r.answer.isEmpty())
                continue;
            answerNames.insert(r.answer);
            const fs::path answer = answers() / r.answer.toStdString();
            ASSERT_TRUE(fs::is_regular_file(answer)) << answer;
            const double recorded = soxSeconds(answer);
            const double prompt = mediaSeconds(tankFile(tank(), r.filePath));
            ASSERT_GT(prompt, 1.0) << r.filePath.toStdString();
            std::printf("%s: %.2f s for a prompt of %.2f s\n", r.answer.toStdString().c_str(), recorded, prompt);
            EXPECT_GT(recorded, prompt - 1.5) << r.answer.toStdString() << " for a prompt of " << prompt << " s";
            EXPECT_LT(recorded, prompt + 0.5) << r.answer.toStdString() << " for a prompt of " << prompt << " s";
        }
        EXPECT_EQ(answerNames.size(), 4u);
        EXPECT_EQ(listedAnswers(), answerNames);

        // "打包录音": one archive with every answer, which unzip accepts.
        const fs::path zip = home.path() / "我的答案.zip";
        platform::TSaveDialog::setScript([&](platform::TSaveDialog &d) {
            d.FileName = QString::fromStdString(zip.string());
            return true;
        });
        testutil::clearShown();
        platform::guarded([this] { form3.Button1Click(); });
        ASSERT_EQ(testutil::shownMessages().size(), 1u);
        EXPECT_EQ(testutil::shownMessages()[0].text, QStringLiteral("压缩文件成功"));
        std::string tested;
        EXPECT_EQ(testutil::run("unzip -t " + quoted(zip) + " 2>&1", &tested), 0) << tested;
        // The names are stored in the ANSI code page, as Windows tools expect.
        std::string listing;
        ASSERT_EQ(testutil::run("LC_ALL=C.UTF-8 bsdtar --options hdrcharset=CP936 -tf " + quoted(zip), &listing), 0);
        std::set<QString> packed;
        for (const QString &line : QString::fromStdString(listing).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            packed.insert(line);
        EXPECT_EQ(packed, answerNames);

        // "恢复录音" brings the same answers back after they were lost.
        std::map<QString, std::string> before;
        for (const QString &name : answerNames)
            before[name] = testutil::readFile(answers() / name.toStdString());
        for (const auto &entry : fs::directory_iterator(answers()))
            fs::remove(entry.path());
        platform::TOpenDialog::setScript([&](platform::TOpenDialog &d) {
            d.FileName = QString::fromStdString(zip.string());
            return true;
        });
        testutil::clearShown();
        platform::guarded([this] { form3.RzButton1Click(); });
        ASSERT_EQ(testutil::shownMessages().size(), 1u);
        EXPECT_EQ(testutil::shownMessages()[0].text, QStringLiteral("文件解压成功"));
        for (const auto &[name, bytes] : before)
            EXPECT_EQ(testutil::readFile(answers() / name.toStdString()), bytes) << name.toStdString();
    }
};

} // namespace

TEST_F(SampleRunTest, PracticeModeFromInstallationToPackedAnswers)
{
    checkWholeRun(false);
}

TEST_F(SampleRunTest, ExamModeFromInstallationToPackedAnswers)
{
    checkWholeRun(true);
}
