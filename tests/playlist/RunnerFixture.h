#pragma once

#include "ManifestUtil.h"
#include "TestUtil.h"
#include "media/FakeBackend.h"
#include "playlist/AnswerRecorder.h"
#include "playlist/Unit2.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

// A test window over a written manifest, with fake media engines and a
// recorder that logs what the runner asks of it.
namespace runner {

struct RecorderLog {
    std::vector<QString> calls; // "file <name>", "start", "stop"
    bool recording = false;
    std::function<void()> onStart; // runs inside Start (may throw)
};

class LoggingRecorder : public AnswerRecorder
{
public:
    explicit LoggingRecorder(RecorderLog &log) : m_log(log) {}
    void setFileName(const QString &p) override
    {
        m_file = p;
        m_log.calls.push_back(QStringLiteral("file ") + p);
    }
    QString fileName() const override { return m_file; }
    void Start() override
    {
        if (m_log.recording || m_file.isEmpty())
            return;
        if (m_log.onStart)
            m_log.onStart();
        m_log.calls.push_back(QStringLiteral("start"));
        m_log.recording = true;
    }
    void Stop() override
    {
        if (!m_log.recording)
            return;
        m_log.calls.push_back(QStringLiteral("stop"));
        m_log.recording = false;
    }
    bool recording() const override { return m_log.recording; }

private:
    RecorderLog &m_log;
    QString m_file;
};

// Host path of a file below c:\testtank\.
QString tank(const QString &relative);

class Fixture
{
public:
    // Writes the manifest and an empty media or text file for every path
    // named; audio and video files get the given lengths in the fake engine.
    explicit Fixture(const std::vector<manifest::Row> &rows, bool create = true);
    ~Fixture();

    void create();
    // A tick as the timer gives it (through the error display).
    void tick();
    // Runs posted messages (fake completions, notifications).
    static void drain();
    // Ends the playing audio prompt and delivers its completion.
    void finishAudio();
    void finishVideo();

    testutil::TempDataHome home;
    media::FakeMedia fake;
    RecorderLog log;
    QPointer<TForm2> form;
    QWidget recordings; // stands for the recordings window
    QWidget mainWindow;

private:
    AnswerRecorderFactory m_oldFactory;
};

} // namespace runner
