#pragma once

#include "media/PlayerBackend.h"

#include <QObject>

#include <memory>
#include <string>
#include <utility>
#include <vector>

struct mpv_handle;
struct mpv_event;

namespace media {

// The real engine: one libmpv handle. Audio players get no video at all;
// video players draw through a bound VideoTarget (vo=libmpv) and use vo=null
// while none is attached. Files stay loaded at their end (keep-open), which
// is how "stopped at the end" is represented. libmpv's own threads only
// wake the UI thread, which drains the events. UI thread only.
class MpvBackend : public PlayerBackend
{
public:
    using Options = std::vector<std::pair<std::string, std::string>>;

    explicit MpvBackend(BackendPurpose purpose);
    ~MpvBackend() override;
    MpvBackend(const MpvBackend &) = delete;
    MpvBackend &operator=(const MpvBackend &) = delete;

    OpenError open(const QString &path) override;
    void close() override;
    bool isOpen() const override { return m_open; }
    bool play() override;
    bool pause() override;
    bool isPlaying() const override { return m_playing; }
    std::int64_t positionMs() const override;
    std::int64_t lengthMs() const override { return m_open ? m_length : 0; }
    bool seekMs(std::int64_t ms) override;
    void setAttenuation(int hundredthsOfDb) override;
    int attenuation() const override { return m_attenuation; }
    void setRate(double rate) override;
    bool hasVideo() const override { return m_open && m_video; }
    void attachVideoTarget(VideoTarget *target) override;

    // Options applied to every engine created afterwards, after ours (tests
    // and benchmarks pass ao=null, vo=null, ao-null-untimed=yes).
    static void setExtraOptions(Options options);
    [[nodiscard]] static const Options &extraOptions();

    // The mpv volume (0 ... 100, cubic scale) that gives an attenuation.
    [[nodiscard]] static double mpvVolumeFor(int hundredthsOfDb);

    [[nodiscard]] mpv_handle *handle() const { return m_handle.get(); }

private:
    struct MpvDeleter {
        void operator()(mpv_handle *h) const;
    };
    using MpvHandle = std::unique_ptr<mpv_handle, MpvDeleter>;

    // Loads a local file paused, at a start position, and waits for libmpv's
    // verdict; sets m_entry on success.
    [[nodiscard]] OpenError load(const QByteArray &local, std::int64_t startMs);
    [[nodiscard]] OpenError awaitVerdict(std::int64_t entry);
    void renderContextReady();
    void drainEvents();
    void handleEvent(const mpv_event &event);
    void postEnd(EndReason reason);
    [[nodiscard]] bool eofReached() const;

    BackendPurpose m_purpose;
    MpvHandle m_handle;
    bool m_ready = false;
    // Receives the wake-ups of libmpv's threads on the UI thread.
    std::unique_ptr<QObject> m_context;
    QByteArray m_path;
    bool m_open = false;
    bool m_playing = false;
    bool m_video = false;
    std::int64_t m_length = 0;
    int m_attenuation = 0;
    VideoTarget *m_target = nullptr;
    // Playlist entry of the open file; events of older entries are stale.
    std::int64_t m_entry = -1;
    std::shared_ptr<bool> m_alive;
};

} // namespace media
