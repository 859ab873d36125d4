#pragma once

#include <QString>

#include <functional>
#include <memory>

class QObject;
class TMMDSPComponent;

// What the runner needs of the wave recorder: the answer file's name, start
// and stop. The test window owns one, made by the installed factory; the
// default wraps the wave recorder of the audio subsystem. UI thread only.
class AnswerRecorder
{
public:
    virtual ~AnswerRecorder() = default;
    // A Windows path ("c:\recording\1.wav").
    virtual void setFileName(const QString &windowsPath) = 0;
    [[nodiscard]] virtual QString fileName() const = 0;
    // Does nothing while a recording runs or when the file name is empty;
    // raises the recorder's error when the recording cannot start.
    virtual void Start() = 0;
    // Does nothing when no recording runs; finalises the file.
    virtual void Stop() = 0;
    [[nodiscard]] virtual bool recording() const = 0;
    // The chain member whose output feeds the level meters' connector, or
    // nullptr when there is none.
    [[nodiscard]] virtual TMMDSPComponent *meterSource() { return nullptr; }
};

using AnswerRecorderFactory = std::function<std::unique_ptr<AnswerRecorder>(QObject *owner)>;

// Makes the recorder of a new test window through the installed factory.
[[nodiscard]] std::unique_ptr<AnswerRecorder> createAnswerRecorder(QObject *owner);
// Replaces the factory (tests); an empty function restores the default.
// Returns the one installed before.
AnswerRecorderFactory setAnswerRecorderFactory(AnswerRecorderFactory factory);
