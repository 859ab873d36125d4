// Processor use of the runner's preparation wait. A Prepare record of N
// seconds (default 30) is performed by one tick; the wait must sleep between
// the messages it handles, so its processor time stays a small fraction of
// the wall time.
//
//   bench_prepare_wait [seconds]

#include "platform/AppSetup.h"
#include "platform/ErrorDisplay.h"
#include "platform/TTimer.h"
#include "playlist/AnswerRecorder.h"
#include "playlist/Unit2.h"
#include "ui/Fonts.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
           + static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

class IdleRecorder : public AnswerRecorder
{
public:
    void setFileName(const QString &p) override { m_file = p; }
    QString fileName() const override { return m_file; }
    void Start() override {}
    void Stop() override {}
    bool recording() const override { return false; }

private:
    QString m_file;
};

} // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    QTemporaryDir home;
    setenv("XDG_DATA_HOME", home.path().toLocal8Bit().constData(), 1);
    platform::ensureUtf8Locale();
    QApplication app(argc, argv);
    platform::fixNumericLocale();
    ui::setupFonts();
    platform::setErrorSink([](const QString &, const QString &text) {
        std::fprintf(stderr, "error: %s\n", text.toUtf8().constData());
    });

    QDir().mkpath(home.path() + "/quenvar/testtank");
    QFile manifest(home.path() + "/quenvar/testtank/information.xml");
    manifest.open(QIODevice::WriteOnly);
    const QString fields = QStringLiteral(
        "<FIELD attrname=\"ItemID\" fieldtype=\"string\" WIDTH=\"100\"/><FIELD attrname=\"SubItemID\" "
        "fieldtype=\"string\" WIDTH=\"100\"/><FIELD attrname=\"FileType\" fieldtype=\"string\" WIDTH=\"100\"/>"
        "<FIELD attrname=\"FilePath\" fieldtype=\"string\" WIDTH=\"100\"/><FIELD attrname=\"PlayTime\" "
        "fieldtype=\"string\" WIDTH=\"100\"/><FIELD attrname=\"PlayDesc\" fieldtype=\"string\" WIDTH=\"100\"/>"
        "<FIELD attrname=\"PlayHint\" fieldtype=\"string\" WIDTH=\"100\"/><FIELD attrname=\"Font\" "
        "fieldtype=\"string\" WIDTH=\"100\"/>");
    manifest.write(QStringLiteral("<?xml version=\"1.0\" standalone=\"yes\"?><DATAPACKET Version=\"2.0\"><METADATA>"
                                  "<FIELDS>%1</FIELDS></METADATA><ROWDATA>"
                                  "<ROW ItemID=\"1\" SubItemID=\"a\" FileType=\"5\" FilePath=\"0\" PlayTime=\"0\"/>"
                                  "<ROW ItemID=\"1\" SubItemID=\"a\" FileType=\"5\" FilePath=\"1\" PlayTime=\"%2\" "
                                  "PlayDesc=\"wait\"/></ROWDATA></DATAPACKET>")
                       .arg(fields)
                       .arg(seconds * 1000)
                       .toUtf8());
    manifest.close();

    setAnswerRecorderFactory([](QObject *) { return std::make_unique<IdleRecorder>(); });
    auto *form = new TForm2;
    form->show();
    QElapsedTimer wall;
    const double cpu0 = cpuSeconds();
    wall.start();
    form->timer->fire(); // performs the Prepare record: returns when the wait ends
    const double cpu = cpuSeconds() - cpu0;
    const double elapsed = static_cast<double>(wall.elapsed()) / 1000.0;
    std::printf("preparation wait of %d s: wall %.3f s, processor %.3f s (%.2f %% of one core), countdown shows %s\n",
                seconds, elapsed, cpu, 100.0 * cpu / std::max(elapsed, 0.001),
                form->dclabel->text().toUtf8().constData());
    delete form;
    // A busy wait would use a whole core; the goal is under 2 %.
    return cpu / std::max(elapsed, 0.001) < 0.02 ? 0 : 1;
}
