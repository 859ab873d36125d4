#include "media/MpvBackend.h"

#include "media/VideoTarget.h"
#include "platform/Messages.h"

#include <mpv/client.h>

#include <QFileInfo>

#include <chrono>
#include <cmath>
#include <cstring>
#include <unistd.h>

namespace media {

namespace {

// How long open() waits for libmpv's verdict on a file before it gives up.
// Local files answer within milliseconds; this only bounds a hung demuxer.
constexpr double kOpenTimeoutSeconds = 15.0;

MpvBackend::Options &extra()
{
    static MpvBackend::Options options;
    return options;
}

void setOption(mpv_handle *h, const char *name, const char *value)
{
    mpv_set_option_string(h, name, value);
}

bool getDouble(mpv_handle *h, const char *name, double &out)
{
    return mpv_get_property(h, name, MPV_FORMAT_DOUBLE, &out) >= 0;
}

bool getFlag(mpv_handle *h, const char *name)
{
    int flag = 0;
    return mpv_get_property(h, name, MPV_FORMAT_FLAG, &flag) >= 0 && flag;
}

void setFlag(mpv_handle *h, const char *name, bool on)
{
    int flag = on ? 1 : 0;
    mpv_set_property(h, name, MPV_FORMAT_FLAG, &flag);
}

constexpr std::uint64_t kEofObserver = 1;

} // namespace

void MpvBackend::MpvDeleter::operator()(mpv_handle *h) const
{
    // No wake-up may reach a half-destroyed backend.
    mpv_set_wakeup_callback(h, nullptr, nullptr);
    mpv_terminate_destroy(h);
}

MpvBackend::MpvBackend(BackendPurpose purpose)
    : m_purpose(purpose), m_context(std::make_unique<QObject>()),
      m_alive(std::make_shared<bool>(true))
{
    m_handle.reset(mpv_create());
    if (!m_handle)
        return;
    mpv_handle *h = m_handle.get();
    setOption(h, "config", "no");
    setOption(h, "terminal", "no");
    setOption(h, "input-default-bindings", "no");
    setOption(h, "input-vo-keyboard", "no");
    setOption(h, "osc", "no");
    setOption(h, "ytdl", "no");
    setOption(h, "load-scripts", "no");
    setOption(h, "idle", "yes");
    // A file that played to its end stays loaded and paused there: that is
    // the "stopped at the end" state whose position equals the length.
    setOption(h, "keep-open", "always");
    setOption(h, "pause", "yes");
    // Without a sound card playback still runs and completes.
    setOption(h, "audio-fallback-to-null", "yes");
    setOption(h, "audio-display", "no");
    setOption(h, "vo", "null");
    // Decoding on the processor is plenty for prompts; probing hardware
    // decoders only prints noise on machines without them.
    setOption(h, "hwdec", "no");
    setOption(h, "gpu-hwdec-interop", "no");
    if (purpose == BackendPurpose::Audio)
        setOption(h, "vid", "no");
    for (const auto &[name, value] : extra())
        setOption(h, name.c_str(), value.c_str());
    if (mpv_initialize(h) < 0) {
        m_handle.reset();
        return;
    }
    mpv_observe_property(h, kEofObserver, "eof-reached", MPV_FORMAT_FLAG);
    mpv_set_wakeup_callback(
        h,
        [](void *ctx) {
            // libmpv's thread: only queue a drain on the UI thread.
            auto *self = static_cast<MpvBackend *>(ctx);
            QMetaObject::invokeMethod(self->m_context.get(), [self] { self->drainEvents(); },
                                      Qt::QueuedConnection);
        },
        this);
    m_ready = true;
}

MpvBackend::~MpvBackend()
{
    *m_alive = false;
    if (m_target && m_handle)
        m_target->bindEngine(nullptr, {});
    m_handle.reset();
}

void MpvBackend::setExtraOptions(Options options)
{
    extra() = std::move(options);
}

const MpvBackend::Options &MpvBackend::extraOptions()
{
    return extra();
}

double MpvBackend::mpvVolumeFor(int hundredthsOfDb)
{
    if (hundredthsOfDb <= -10000)
        return 0.0;
    if (hundredthsOfDb >= 0)
        return 100.0;
    // mpv scales its volume cubically: gain = (volume / 100)^3.
    const double gain = std::pow(10.0, hundredthsOfDb / 2000.0);
    return 100.0 * std::cbrt(gain);
}

OpenError MpvBackend::open(const QString &path)
{
    close();
    if (!m_ready)
        return OpenError::NoDevice;
    const QFileInfo info(path);
    if (!info.exists() || info.isDir())
        return OpenError::FileNotFound;
    const QByteArray local = QFile::encodeName(path);
    if (::access(local.constData(), R_OK) != 0)
        return OpenError::AccessDenied;

    const OpenError loaded = load(local, 0);
    if (loaded != OpenError::None)
        return loaded;
    mpv_handle *h = m_handle.get();
    double duration = 0;
    if (!getDouble(h, "duration", duration) || !std::isfinite(duration) || duration < 0)
        duration = 0;
    m_length = std::llround(duration * 1000.0);
    std::int64_t vid = 0;
    m_video = m_purpose == BackendPurpose::Video
        && mpv_get_property(h, "vid", MPV_FORMAT_INT64, &vid) >= 0 && vid > 0;
    // A file without any audio or video stream (a text file that a demuxer
    // happened to accept) is nothing a player can play.
    std::int64_t aid = 0;
    const bool audio = mpv_get_property(h, "aid", MPV_FORMAT_INT64, &aid) >= 0 && aid > 0;
    if (!audio && !m_video) {
        const char *stop[] = {"stop", nullptr};
        mpv_command(h, stop);
        m_entry = -1;
        return OpenError::Unsupported;
    }
    m_path = local;
    m_open = true;
    m_playing = false;
    return OpenError::None;
}

OpenError MpvBackend::load(const QByteArray &local, std::int64_t startMs)
{
    mpv_handle *h = m_handle.get();
    // Events still queued belong to the file before; settle them first so
    // that the wait below sees only news of this file.
    drainEvents();
    setFlag(h, "pause", true);
    // The start position is an option for every file loaded from now on; it
    // is put back right after this load.
    const QByteArray start = startMs > 0
        ? QByteArray::number(static_cast<double>(startMs) / 1000.0, 'f', 3)
        : QByteArray("none");
    mpv_set_property_string(h, "start", start.constData());
    mpv_node result{};
    const char *cmd[] = {"loadfile", local.constData(), "replace", nullptr};
    const int sent = mpv_command_ret(h, cmd, &result);
    std::int64_t entry = -1;
    if (sent >= 0 && result.format == MPV_FORMAT_NODE_MAP) {
        for (int i = 0; i < result.u.list->num; ++i) {
            if (std::strcmp(result.u.list->keys[i], "playlist_entry_id") == 0
                && result.u.list->values[i].format == MPV_FORMAT_INT64)
                entry = result.u.list->values[i].u.int64;
        }
    }
    if (sent >= 0)
        mpv_free_node_contents(&result);
    const OpenError verdict = sent < 0 ? OpenError::Unsupported : awaitVerdict(entry);
    if (startMs > 0)
        mpv_set_property_string(h, "start", "none");
    return verdict;
}

OpenError MpvBackend::awaitVerdict(std::int64_t entry)
{
    mpv_handle *h = m_handle.get();
    // Wait only for libmpv's own verdict on this file.
    const auto deadline = std::chrono::steady_clock::now()
        + std::chrono::duration<double>(kOpenTimeoutSeconds);
    bool started = false;
    for (;;) {
        const double left =
            std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            const char *stop[] = {"stop", nullptr};
            mpv_command(h, stop);
            return OpenError::Unsupported;
        }
        const mpv_event *event = mpv_wait_event(h, left);
        if (event->event_id == MPV_EVENT_NONE)
            continue;
        if (event->event_id == MPV_EVENT_START_FILE) {
            const auto *start = static_cast<const mpv_event_start_file *>(event->data);
            if (entry < 0 || start->playlist_entry_id == entry) {
                entry = start->playlist_entry_id;
                started = true;
            }
            continue;
        }
        if (event->event_id == MPV_EVENT_END_FILE) {
            const auto *end = static_cast<const mpv_event_end_file *>(event->data);
            if (started && end->playlist_entry_id == entry)
                return OpenError::Unsupported;
            continue;
        }
        if (event->event_id == MPV_EVENT_FILE_LOADED && started) {
            m_entry = entry;
            return OpenError::None;
        }
        if (event->event_id == MPV_EVENT_SHUTDOWN)
            return OpenError::NoDevice;
    }
}

void MpvBackend::renderContextReady()
{
    if (!m_ready)
        return;
    mpv_set_property_string(m_handle.get(), "vo", "libmpv");
    if (!m_open || !m_video)
        return;
    // libmpv's output fails for good on a file whose video started without
    // a render context, and switching the output under a playing file is
    // racy; loading the file again at its position is what works every time.
    const bool wasPlaying = m_playing;
    const bool atEnd = eofReached();
    const std::int64_t position = atEnd ? m_length : positionMs();
    m_playing = false;
    if (load(m_path, position) != OpenError::None) {
        m_open = false;
        m_video = false;
        m_entry = -1;
        if (wasPlaying)
            postEnd(EndReason::Failed);
        return;
    }
    if (wasPlaying)
        play();
}

void MpvBackend::close()
{
    if (!m_open)
        return;
    m_open = false;
    m_playing = false;
    m_video = false;
    m_length = 0;
    m_entry = -1;
    m_path.clear();
    const char *stop[] = {"stop", nullptr};
    mpv_command(m_handle.get(), stop);
}

bool MpvBackend::eofReached() const
{
    return m_open && getFlag(m_handle.get(), "eof-reached");
}

bool MpvBackend::play()
{
    if (!m_open)
        return false;
    m_playing = true;
    // At the end of a kept-open file unpausing does nothing, so the end is
    // reported again at once, as for a file that plays zero milliseconds.
    if (eofReached()) {
        m_playing = false;
        postEnd(EndReason::Finished);
        return true;
    }
    int flag = 0;
    if (mpv_set_property(m_handle.get(), "pause", MPV_FORMAT_FLAG, &flag) < 0) {
        m_playing = false;
        return false;
    }
    return true;
}

bool MpvBackend::pause()
{
    if (!m_open)
        return false;
    m_playing = false;
    int flag = 1;
    return mpv_set_property(m_handle.get(), "pause", MPV_FORMAT_FLAG, &flag) >= 0;
}

std::int64_t MpvBackend::positionMs() const
{
    if (!m_open)
        return 0;
    if (eofReached())
        return m_length;
    double pos = 0;
    if (!getDouble(m_handle.get(), "time-pos", pos) || !std::isfinite(pos) || pos < 0)
        return 0;
    const std::int64_t ms = std::llround(pos * 1000.0);
    // The last frame's time can lie past the container's duration; the
    // position never leaves the file.
    return std::min(ms, m_length);
}

bool MpvBackend::seekMs(std::int64_t ms)
{
    if (!m_open)
        return false;
    const QByteArray where = QByteArray::number(static_cast<double>(ms) / 1000.0, 'f', 3);
    const char *cmd[] = {"seek", where.constData(), "absolute+exact", nullptr};
    return mpv_command(m_handle.get(), cmd) >= 0;
}

void MpvBackend::setAttenuation(int hundredthsOfDb)
{
    m_attenuation = hundredthsOfDb;
    if (!m_ready)
        return;
    double volume = mpvVolumeFor(hundredthsOfDb);
    mpv_set_property(m_handle.get(), "volume", MPV_FORMAT_DOUBLE, &volume);
}

void MpvBackend::setRate(double rate)
{
    if (!m_ready || !(rate > 0))
        return;
    mpv_set_property(m_handle.get(), "speed", MPV_FORMAT_DOUBLE, &rate);
}

void MpvBackend::attachVideoTarget(VideoTarget *target)
{
    if (target == m_target)
        return;
    if (m_target && m_handle) {
        m_target->bindEngine(nullptr, {});
        mpv_set_property_string(m_handle.get(), "vo", "null");
    }
    m_target = target;
    if (!m_ready || m_purpose != BackendPurpose::Video)
        return;
    // The output moves to libmpv once the target's render context exists
    // (at once for the software renderer, when the OpenGL widget first
    // initialises otherwise).
    if (target) {
        std::weak_ptr<bool> alive = m_alive;
        target->bindEngine(m_handle.get(), [this, alive] {
            if (const auto flag = alive.lock(); flag && *flag)
                renderContextReady();
        });
    }
}

void MpvBackend::drainEvents()
{
    if (!m_handle)
        return;
    for (;;) {
        const mpv_event *event = mpv_wait_event(m_handle.get(), 0);
        if (event->event_id == MPV_EVENT_NONE)
            break;
        handleEvent(*event);
    }
}

void MpvBackend::handleEvent(const mpv_event &event)
{
    switch (event.event_id) {
    case MPV_EVENT_PROPERTY_CHANGE: {
        const auto *prop = static_cast<const mpv_event_property *>(event.data);
        if (event.reply_userdata == kEofObserver && prop->format == MPV_FORMAT_FLAG
            && *static_cast<int *>(prop->data) && m_open && m_playing) {
            m_playing = false;
            postEnd(EndReason::Finished);
        }
        break;
    }
    case MPV_EVENT_END_FILE: {
        const auto *end = static_cast<const mpv_event_end_file *>(event.data);
        if (m_open && end->playlist_entry_id == m_entry) {
            // The engine dropped our file (a decoding or output error);
            // nothing is open any more.
            const bool wasPlaying = m_playing;
            m_open = false;
            m_playing = false;
            m_length = 0;
            m_entry = -1;
            if (wasPlaying || end->reason == MPV_END_FILE_REASON_ERROR)
                postEnd(end->reason == MPV_END_FILE_REASON_EOF ? EndReason::Finished
                                                               : EndReason::Failed);
        }
        break;
    }
    default:
        break;
    }
}

void MpvBackend::postEnd(EndReason reason)
{
    std::weak_ptr<bool> alive = m_alive;
    // The listener as it is now: a file rendered meanwhile gets a listener of
    // its own, and this news must not reach it.
    auto listener = onEnd;
    platform::postMessage(m_context.get(), [alive, listener, reason] {
        const auto flag = alive.lock();
        if (flag && *flag && listener)
            listener(reason);
    });
}

} // namespace media
