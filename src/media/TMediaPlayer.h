#pragma once

#include "media/PlayerBackend.h"

#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>

class QToolButton;

// The audio player control: opens one media file at a time as a "device",
// plays, pauses, resumes, stops and closes it, answers mode, position and
// length, and turns the completion of every command sent with notify into
// OnNotify. Over a PlayerBackend (libmpv without video by default). Draws a
// row of buttons; the visible ones are play and pause. UI thread only.

// Raised by the player's operations with the player's own error texts.
class EMCIDeviceError : public std::runtime_error
{
public:
    explicit EMCIDeviceError(const std::string &message) : std::runtime_error(message) {}
};

// Result of Mode.
enum TMPModes { mpNotReady, mpStopped, mpPlaying, mpRecording, mpSeeking, mpPaused, mpOpen };
// Outcome carried by a completion.
enum TMPNotifyValues { nvSuccessful, nvSuperseded, nvAborted, nvFailure };
// The nine buttons of the control, in drawing order.
enum TMPBtnType { btPlay, btPause, btStop, btNext, btPrev, btStep, btBack, btRecord, btEject };

class TMediaPlayer : public QWidget
{
    Q_OBJECT
public:
    // Error texts of the player.
    static constexpr const char *kNoDeviceOpen = "No MCI device open";
    static constexpr const char *kUnknownError = "Unknown error code";
    static constexpr const char *kFileNotFound =
        "The specified file cannot be found. Check that the path and file name are correct";
    static constexpr const char *kFileUnreadable =
        "The specified file cannot be read. Check that it exists and that you may read it";
    static constexpr const char *kFileUnplayable =
        "The specified file cannot be played. It may be damaged or in a format no device handles";
    static constexpr const char *kNoDevice =
        "The media device could not be started. Check the sound system of this computer";

    // Result codes kept as the last error (0 for success).
    enum ErrorCode : std::uint32_t {
        errNone = 0,
        errFileNotFound = 275,
        errFileUnreadable = 276,
        errCannotPlay = 277,
        errNoDevice = 278,
        errCommandFailed = 279,
    };

    explicit TMediaPlayer(QWidget *parent = nullptr);
    ~TMediaPlayer() override;

    // The file the next Open opens.
    QString FileName;
    // Whether Play and resume ask for a completion (they always do in this
    // program).
    bool Notify = true;
    // Raised on the UI thread for every completion, whatever its outcome,
    // with the player as sender; runs through the error display.
    std::function<void(QObject *Sender)> OnNotify;

    // Closes an open file first; raises with the player's text on failure
    // and stays closed.
    void Open();
    // Nothing when no file is open. A completion still armed is dropped,
    // not delivered.
    void Close();
    // From the current position to the end; one completion follows.
    void Play();
    // Stops at the current position; an armed completion ends as aborted.
    void Stop();
    // Pauses a playing file (an armed completion ends as aborted), resumes
    // a paused one (with a completion of its own), nothing otherwise.
    void Pause();

    [[nodiscard]] TMPModes Mode() const;
    // Milliseconds; 0 when no file is open. After a playback that reached the
    // natural end, Position equals Length.
    [[nodiscard]] std::int64_t Position() const;
    // Milliseconds; raises "No MCI device open" when none is open.
    [[nodiscard]] std::int64_t Length() const;
    // Identifier of the open file; 0 when none is open.
    [[nodiscard]] std::uint16_t DeviceID() const { return m_deviceId; }
    [[nodiscard]] TMPNotifyValues NotifyValue() const { return m_notifyValue; }
    [[nodiscard]] std::uint32_t Error() const { return m_lastError; }
    // Length div 10, refreshed at each open.
    [[nodiscard]] std::int64_t Frames() const { return m_frames; }
    [[nodiscard]] bool CanPlay() const { return m_canPlay; }
    [[nodiscard]] bool HasVideo() const { return m_hasVideo; }

    // The drawn buttons (only play and pause are created).
    [[nodiscard]] QToolButton *button(TMPBtnType type) const;

    // The engine of the open file; nullptr while closed (tests).
    [[nodiscard]] media::PlayerBackend *backend() const { return m_backend.get(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void requireOpen() const;
    void sendNotify();                       // arms a completion for the command just sent
    void endPending(TMPNotifyValues value);  // finishes the armed completion, if any
    void postNotify(TMPNotifyValues value);
    void backendEnded(media::EndReason reason);
    void buttonClicked(TMPBtnType type);

    std::unique_ptr<media::PlayerBackend> m_backend;
    std::uint16_t m_deviceId = 0;
    std::uint32_t m_lastError = 0;
    TMPNotifyValues m_notifyValue = nvSuccessful;
    std::int64_t m_frames = 0;
    bool m_canPlay = false;
    bool m_hasVideo = false;
    // Set when the playback reached the end, until the position moves.
    bool m_atEnd = false;
    // Set by Pause on a playing file, until play, stop or close.
    bool m_paused = false;
    // Identifies the command whose completion is armed (0: none); backend
    // news for an older serial is stale.
    std::uint64_t m_pending = 0;
    std::uint64_t m_serial = 0;
    std::array<QToolButton *, 9> m_buttons{};
};
