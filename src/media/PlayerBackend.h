#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace media {

class VideoTarget;

// Why a backend could not open a file. Each player turns these into the
// error texts of its own facility (TMediaPlayer, TFilterGraph).
enum class OpenError {
    None,
    FileNotFound,      // no such file
    AccessDenied,      // the file exists but cannot be read
    Unsupported,       // no demuxer or decoder handles it (corrupt or foreign data)
    NoDevice,          // the playback engine itself could not be started
};

// How a playback that was running ended.
enum class EndReason {
    Finished,   // the whole file has played; the position stands at the length
    Failed,     // decoding or output failed while playing
};

// What a backend instance is used for; the real backend configures its
// engine accordingly (no video at all for the audio player).
enum class BackendPurpose {
    Audio,   // TMediaPlayer: audio only
    Video,   // TFilterGraph: audio and video, drawn into a bound VideoTarget
};

// One media engine instance holding at most one open file. It is created,
// called and destroyed on the UI thread only. Completion news arrives
// through onEnd, which the backend always runs later on the UI thread
// (posted), never inside one of its own calls.
class PlayerBackend
{
public:
    virtual ~PlayerBackend() = default;

    // Opens a file and leaves it paused at its start. Synchronous: returns
    // once the engine has accepted or refused the file. A file open before
    // is closed first.
    [[nodiscard]] virtual OpenError open(const QString &path) = 0;
    // Closes the open file (nothing when none is open). No onEnd follows.
    virtual void close() = 0;
    [[nodiscard]] virtual bool isOpen() const = 0;

    // Plays from the current position. At the end of the file the engine
    // stays paused on its last position and posts onEnd(Finished).
    // Returns false when the engine refused.
    virtual bool play() = 0;
    // Holds playback at the current position.
    virtual bool pause() = 0;
    [[nodiscard]] virtual bool isPlaying() const = 0;

    // Position and length of the open file in milliseconds; 0 when closed.
    [[nodiscard]] virtual std::int64_t positionMs() const = 0;
    [[nodiscard]] virtual std::int64_t lengthMs() const = 0;
    virtual bool seekMs(std::int64_t ms) = 0;

    // Output level as an attenuation in hundredths of a decibel: 0 is full
    // level, -10000 (or lower) is silence.
    virtual void setAttenuation(int hundredthsOfDb) = 0;
    [[nodiscard]] virtual int attenuation() const = 0;

    // Playback speed, 1.0 normal.
    virtual void setRate(double rate) = 0;

    [[nodiscard]] virtual bool hasVideo() const = 0;

    // Attaches the surface the video is drawn on (nullptr detaches). The
    // backend hands the surface its engine so that it can render; detaching
    // happens before the engine goes away.
    virtual void attachVideoTarget(VideoTarget *target) = 0;

    // Set by the owner; run on the UI thread, posted. The news goes to the
    // listener that was set when the engine posted it, and is dropped when
    // the backend is destroyed first.
    std::function<void(EndReason)> onEnd;
};

using BackendFactory =
    std::function<std::unique_ptr<PlayerBackend>(BackendPurpose purpose)>;

// Creates a backend through the process-wide factory: libmpv unless a test
// installed another one. Never returns nullptr.
[[nodiscard]] std::unique_ptr<PlayerBackend> createBackend(BackendPurpose purpose);

// Replaces the process-wide factory; an empty function restores libmpv.
// Returns the factory that was installed before.
BackendFactory setBackendFactory(BackendFactory factory);

} // namespace media
