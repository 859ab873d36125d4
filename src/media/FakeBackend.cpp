#include "media/FakeBackend.h"

#include "media/VideoTarget.h"

#include "platform/Messages.h"
#include "platform/WinPath.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <algorithm>

namespace media {

FakeBackend::FakeBackend(FakeMedia &media, BackendPurpose purpose)
    : m_media(&media), m_purpose(purpose), m_alive(std::make_shared<bool>(true))
{
}

FakeBackend::~FakeBackend()
{
    *m_alive = false;
    if (m_media)
        m_media->forget(this);
}

OpenError FakeBackend::open(const QString &path)
{
    close();
    m_calls.push_back(QStringLiteral("open ") + path);
    const FakeMedia::FileInfo info =
        m_media ? m_media->lookup(path) : FakeMedia::FileInfo{0, false, OpenError::FileNotFound};
    if (info.error != OpenError::None)
        return info.error;
    m_path = path;
    m_open = true;
    m_playing = false;
    m_position = 0;
    m_length = info.length;
    m_video = info.video;
    return OpenError::None;
}

void FakeBackend::close()
{
    if (!m_open)
        return;
    m_calls.push_back(QStringLiteral("close"));
    m_open = false;
    m_playing = false;
    m_position = 0;
    m_length = 0;
    m_path.clear();
}

bool FakeBackend::play()
{
    m_calls.push_back(QStringLiteral("play"));
    if (!m_open || refuseCommands)
        return false;
    m_playing = true;
    // A real engine asked to play at the end of a file ends again at once.
    if (m_position >= m_length)
        finish();
    return true;
}

bool FakeBackend::pause()
{
    m_calls.push_back(QStringLiteral("pause"));
    if (!m_open || refuseCommands)
        return false;
    m_playing = false;
    return true;
}

bool FakeBackend::seekMs(std::int64_t ms)
{
    m_calls.push_back(QStringLiteral("seek %1").arg(ms));
    if (!m_open)
        return false;
    m_position = std::clamp<std::int64_t>(ms, 0, m_length);
    return true;
}

void FakeBackend::setAttenuation(int hundredthsOfDb)
{
    m_calls.push_back(QStringLiteral("attenuation %1").arg(hundredthsOfDb));
    m_attenuation = hundredthsOfDb;
}

void FakeBackend::setRate(double rate)
{
    m_calls.push_back(QStringLiteral("rate %1").arg(rate));
    m_rate = rate;
}

void FakeBackend::attachVideoTarget(VideoTarget *target)
{
    m_calls.push_back(target ? QStringLiteral("attach") : QStringLiteral("detach"));
    m_target = target;
}

void FakeBackend::finish()
{
    if (!m_open || !m_playing)
        return;
    m_position = m_length;
    m_playing = false;
    postEnd(EndReason::Finished);
}

void FakeBackend::fail()
{
    if (!m_open || !m_playing)
        return;
    m_playing = false;
    postEnd(EndReason::Failed);
}

void FakeBackend::setPosition(std::int64_t ms)
{
    if (m_open)
        m_position = std::clamp<std::int64_t>(ms, 0, m_length);
}

void FakeBackend::postEnd(EndReason reason)
{
    // Like the engine's own thread, the news arrives later on the UI thread;
    // a backend destroyed meanwhile delivers nothing.
    std::weak_ptr<bool> alive = m_alive;
    // The listener as it is now: a file rendered meanwhile gets a listener of
    // its own, and this news must not reach it.
    auto listener = onEnd;
    platform::postMessage(QCoreApplication::instance(), [alive, listener, reason] {
        const auto flag = alive.lock();
        if (flag && *flag && listener)
            listener(reason);
    });
}

FakeMedia::FakeMedia()
{
    m_previous = setBackendFactory([this](BackendPurpose purpose) {
        auto backend = std::make_unique<FakeBackend>(*this, purpose);
        m_backends.push_back(backend.get());
        return backend;
    });
}

FakeMedia::~FakeMedia()
{
    for (FakeBackend *backend : m_backends)
        if (backend)
            backend->m_media = nullptr;
    setBackendFactory(std::move(m_previous));
}

void FakeMedia::addFile(const QString &path, std::int64_t lengthMs, bool hasVideo)
{
    m_files[platform::hostPathString(path)] = FileInfo{lengthMs, hasVideo, OpenError::None};
}

void FakeMedia::failOpen(const QString &path, OpenError error)
{
    m_files[platform::hostPathString(path)] = FileInfo{0, false, error};
}

FakeBackend *FakeMedia::latest(BackendPurpose purpose) const
{
    for (auto it = m_backends.rbegin(); it != m_backends.rend(); ++it)
        if (*it && (*it)->purpose() == purpose)
            return *it;
    return nullptr;
}

FakeBackend *FakeMedia::playing(BackendPurpose purpose) const
{
    for (auto it = m_backends.rbegin(); it != m_backends.rend(); ++it)
        if (*it && (*it)->purpose() == purpose && (*it)->isOpen() && (*it)->isPlaying())
            return *it;
    return nullptr;
}

void FakeMedia::forget(FakeBackend *backend)
{
    std::replace(m_backends.begin(), m_backends.end(), backend, static_cast<FakeBackend *>(nullptr));
}

FakeMedia::FileInfo FakeMedia::lookup(const QString &path) const
{
    if (const auto it = m_files.find(path); it != m_files.end())
        return it->second;
    if (m_defaultLength >= 0 && QFileInfo::exists(path))
        return FileInfo{m_defaultLength, false, OpenError::None};
    return FileInfo{0, false, OpenError::FileNotFound};
}

} // namespace media
