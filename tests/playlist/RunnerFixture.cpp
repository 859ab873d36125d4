#include "RunnerFixture.h"

#include "platform/AppWindows.h"
#include "platform/TTimer.h"

#include <gtest/gtest.h>
#include "platform/WinPath.h"

#include <QCoreApplication>

namespace runner {

QString tank(const QString &relative)
{
    return platform::hostPathString(QStringLiteral("c:\\testtank\\") + relative);
}

Fixture::Fixture(const std::vector<manifest::Row> &rows, bool doCreate)
{
    testutil::clearShown();
    const auto dir = home.driveC() / "testtank";
    testutil::writeFile(dir / "information.xml", manifest::packet(rows));
    std::filesystem::create_directories(home.driveC() / "recording");
    for (const manifest::Row &r : rows) {
        for (const QString &name : {r.filePath, r.font}) {
            if (name.isEmpty() || name.startsWith(QLatin1String("missing")))
                continue;
            const QString host = platform::hostPathString(QStringLiteral("c:\\testtank\\") + name);
            if (!std::filesystem::exists(host.toStdString()))
                testutil::writeFile(host.toStdString(), ("text of " + name).toStdString());
            if (name.endsWith(QLatin1String(".mp3")) || name.endsWith(QLatin1String(".wav")))
                fake.addFile(host, 3000);
            if (name.endsWith(QLatin1String(".mp4")))
                fake.addFile(host, 5000, true);
        }
    }
    m_oldFactory = setAnswerRecorderFactory(
        [this](QObject *) -> std::unique_ptr<AnswerRecorder> { return std::make_unique<LoggingRecorder>(log); });
    app::Form3 = &recordings;
    app::Form1 = &mainWindow;
    if (doCreate)
        create();
}

void Fixture::create()
{
    form = new TForm2;
    app::CurrentTestWindow = form;
}

Fixture::~Fixture()
{
    delete form.data();
    drain();
    app::CurrentTestWindow = nullptr;
    app::Form3 = nullptr;
    app::Form1 = nullptr;
    setAnswerRecorderFactory(std::move(m_oldFactory));
}

void Fixture::tick()
{
    form->timer->fire();
}

void Fixture::drain()
{
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void Fixture::finishAudio()
{
    media::FakeBackend *b = fake.playing(media::BackendPurpose::Audio);
    ASSERT_NE(b, nullptr) << "no audio playing";
    b->finish();
    drain();
}

void Fixture::finishVideo()
{
    media::FakeBackend *b = fake.playing(media::BackendPurpose::Video);
    ASSERT_NE(b, nullptr) << "no video playing";
    b->finish();
    drain();
}

} // namespace runner
