#pragma once

#include "media/MpvBackend.h"

#include <QString>

#include <filesystem>

// Media generated once per test run with sox and ffmpeg into a temporary
// folder, and the engine options of the real-engine tests.
namespace mediatest {

struct MediaFiles {
    QString wav;        // 1.5 s, 440 Hz, 44.1 kHz stereo
    QString longWav;    // 4 s: long enough to pause and stop while it plays
    QString mp3;        // 1 s
    QString ogg;        // 1 s
    QString mp4;        // 1 s of a 160 x 120 test picture with sound
    QString silentMp4;  // 1 s of video without any audio stream
    QString corrupt;    // random bytes named .wav
    QString text;       // a text file named .mp3
    QString missing;    // a path that does not exist
    std::filesystem::path folder;
};

// Generates the files on first use; they stay until the process ends.
const MediaFiles &files();

// Sets the engine options for the real-engine tests while it lives: null
// audio and video outputs, untimed when asked (a file then plays in
// milliseconds).
class NullOutputs
{
public:
    explicit NullOutputs(bool untimed);
    ~NullOutputs();
    NullOutputs(const NullOutputs &) = delete;
    NullOutputs &operator=(const NullOutputs &) = delete;

private:
    media::MpvBackend::Options m_before;
};

// Pumps events until pred holds or the generous deadline passes.
template <typename Pred>
bool waitFor(Pred pred, int timeoutMs = 10000);

} // namespace mediatest

#include "TestUtil.h"

#include <QElapsedTimer>

template <typename Pred>
bool mediatest::waitFor(Pred pred, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!pred()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        testutil::pump(5);
    }
    return true;
}
