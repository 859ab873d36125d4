#pragma once

#include "media/PlayerBackend.h"

#include <QString>

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

// A deterministic media engine for tests: files are declared with a length
// (or an open failure), nothing plays by itself, and the test decides when
// playback ends. Installing a FakeMedia replaces the process-wide backend
// factory for its lifetime, so every TMediaPlayer and TFilterGraph created
// or activated meanwhile runs on fake players. A fake player that outlives
// its FakeMedia keeps working on the file it has open and opens nothing new.
// UI thread only.
namespace media {

class FakeMedia;

class FakeBackend : public PlayerBackend
{
public:
    FakeBackend(FakeMedia &media, BackendPurpose purpose);
    ~FakeBackend() override;

    OpenError open(const QString &path) override;
    void close() override;
    bool isOpen() const override { return m_open; }
    bool play() override;
    bool pause() override;
    bool isPlaying() const override { return m_playing; }
    std::int64_t positionMs() const override { return m_open ? m_position : 0; }
    std::int64_t lengthMs() const override { return m_open ? m_length : 0; }
    bool seekMs(std::int64_t ms) override;
    void setAttenuation(int hundredthsOfDb) override;
    int attenuation() const override { return m_attenuation; }
    void setRate(double rate) override;
    [[nodiscard]] double rate() const { return m_rate; }
    bool hasVideo() const override { return m_open && m_video; }
    void attachVideoTarget(VideoTarget *target) override;

    // Test controls. finish() moves the position to the end, pauses and
    // posts onEnd(Finished), as a real engine does at the end of a file;
    // fail() posts onEnd(Failed). Both need a playing file.
    void finish();
    void fail();
    // Moves the position (clamped to the file) without ending playback.
    void setPosition(std::int64_t ms);

    [[nodiscard]] BackendPurpose purpose() const { return m_purpose; }
    [[nodiscard]] const QString &path() const { return m_path; }
    [[nodiscard]] VideoTarget *videoTarget() const { return m_target; }
    // Calls the owner made, in order: "open <path>", "close", "play",
    // "pause", "seek <ms>", "attenuation <n>", "rate <r>", "attach", "detach".
    [[nodiscard]] const std::vector<QString> &calls() const { return m_calls; }
    void clearCalls() { m_calls.clear(); }
    // Makes play() or pause() refuse (the engine's answer is false).
    bool refuseCommands = false;

private:
    friend class FakeMedia;
    void postEnd(EndReason reason);

    FakeMedia *m_media;
    BackendPurpose m_purpose;
    QString m_path;
    bool m_open = false;
    bool m_playing = false;
    bool m_video = false;
    std::int64_t m_position = 0;
    std::int64_t m_length = 0;
    int m_attenuation = 0;
    double m_rate = 1.0;
    VideoTarget *m_target = nullptr;
    std::vector<QString> m_calls;
    std::shared_ptr<bool> m_alive;
};

class FakeMedia
{
public:
    // Installs the fake factory; the destructor puts back the one before.
    FakeMedia();
    ~FakeMedia();
    FakeMedia(const FakeMedia &) = delete;
    FakeMedia &operator=(const FakeMedia &) = delete;

    // Declares a file the fake players can open. Windows paths
    // (c:\testtank\a.mp3) are mapped to host paths as the players map
    // them; host paths stay as they are.
    void addFile(const QString &path, std::int64_t lengthMs, bool hasVideo = false);
    // Makes opening a path fail with the given error.
    void failOpen(const QString &path, OpenError error);
    // Length given to paths never declared that exist on disk; files that do
    // not exist fail with FileNotFound. -1 (the default) makes every
    // undeclared path fail with FileNotFound.
    void setDefaultLength(std::int64_t lengthMs) { m_defaultLength = lengthMs; }

    // Every backend created while this object lives, oldest first; entries
    // of destroyed backends are nullptr.
    [[nodiscard]] const std::vector<FakeBackend *> &backends() const { return m_backends; }
    // The newest living backend of a purpose, or nullptr.
    [[nodiscard]] FakeBackend *latest(BackendPurpose purpose) const;
    // The newest living backend that has a file open and is playing.
    [[nodiscard]] FakeBackend *playing(BackendPurpose purpose) const;

private:
    friend class FakeBackend;
    struct FileInfo {
        std::int64_t length = 0;
        bool video = false;
        OpenError error = OpenError::None;
    };
    void forget(FakeBackend *backend);
    [[nodiscard]] FileInfo lookup(const QString &path) const;

    std::map<QString, FileInfo> m_files;
    std::int64_t m_defaultLength = -1;
    std::vector<FakeBackend *> m_backends;
    BackendFactory m_previous;
};

} // namespace media
