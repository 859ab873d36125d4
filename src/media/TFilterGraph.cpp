#include "media/TFilterGraph.h"

#include "platform/ErrorDisplay.h"
#include "platform/Messages.h"
#include "platform/WinPath.h"

#include <algorithm>
#include <cfenv>
#include <cmath>

namespace {

const char *resultText(std::uint32_t result)
{
    switch (result) {
    case TFilterGraph::kFileNotFound:
        return "The video file cannot be found";
    case TFilterGraph::kAccessDenied:
        return "The video file cannot be read: access is denied";
    case TFilterGraph::kUnsupported:
        return "The video file cannot be played: it is damaged or its format is not supported";
    case TFilterGraph::kNoEngine:
        return "The video playback engine could not be started";
    default:
        return "The video playback engine refused the command";
    }
}

std::uint32_t resultFor(media::OpenError error)
{
    switch (error) {
    case media::OpenError::FileNotFound:
        return TFilterGraph::kFileNotFound;
    case media::OpenError::AccessDenied:
        return TFilterGraph::kAccessDenied;
    case media::OpenError::Unsupported:
        return TFilterGraph::kUnsupported;
    case media::OpenError::NoDevice:
        return TFilterGraph::kNoEngine;
    case media::OpenError::None:
        break;
    }
    return TFilterGraph::kCommandFailed;
}

} // namespace

TFilterGraph::TFilterGraph(QObject *parent) : QObject(parent) {}

TFilterGraph::~TFilterGraph()
{
    setActive(false);
}

int TFilterGraph::volumeToAttenuation(int volume, bool linear)
{
    if (!linear)
        return volume - 10000;
    // Rounded to the nearest integer with halves to the even neighbour.
    const int saved = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const double scaled = std::nearbyint(std::log(volume + 1.0) * 1085.73);
    std::fesetround(saved);
    return static_cast<int>(scaled) - 10000;
}

void TFilterGraph::setActive(bool on)
{
    if (on == Active())
        return;
    if (on) {
        m_backend = media::createBackend(media::BackendPurpose::Video);
        ++m_generation;
        m_rendered = false;
        if (!m_renderers.empty())
            m_backend->attachVideoTarget(m_renderers.front());
        applyVolume();
        notifyClients(media::GraphNotice::Activated);
    } else {
        notifyClients(media::GraphNotice::Deactivating);
        ++m_generation;
        m_rendered = false;
        m_backend->attachVideoTarget(nullptr);
        m_backend.reset();
    }
}

void TFilterGraph::setVolume(int volume)
{
    m_volume = std::clamp(volume, 0, 10000);
    applyVolume();
}

void TFilterGraph::applyVolume()
{
    // The engine's answer is not checked: without an audio path there is
    // nothing to set, and the stored value is applied after the next render.
    if (m_backend)
        m_backend->setAttenuation(volumeToAttenuation(m_volume, LinearVolume));
}

void TFilterGraph::ClearGraph()
{
    if (!Active())
        return;
    Stop();
    ++m_generation;
    m_rendered = false;
    m_backend->close();
}

void TFilterGraph::RenderFile(const QString &fileName)
{
    if (!Active())
        return;
    notifyClients(media::GraphNotice::FileRendering);
    ++m_generation;
    m_rendered = false;
    const media::OpenError error = m_backend->open(platform::hostPathString(fileName));
    if (error != media::OpenError::None)
        raise(resultFor(error));
    const std::uint64_t generation = m_generation;
    m_backend->onEnd = [this, generation](media::EndReason reason) {
        backendEnded(generation, reason);
    };
    m_rendered = true;
    applyVolume();
    // The balance has no counterpart in the engine (see docs/media.md); the
    // rate is its speed.
    m_backend->setRate(m_rate);
    notifyClients(media::GraphNotice::FileRendered);
}

void TFilterGraph::Play()
{
    if (!Active())
        return;
    notifyClients(media::GraphNotice::Playing);
    // Running a graph with nothing rendered succeeds and plays nothing.
    if (m_rendered && !m_backend->play())
        raise(kCommandFailed);
}

void TFilterGraph::Pause()
{
    if (!Active())
        return;
    notifyClients(media::GraphNotice::Pausing);
    if (m_rendered && !m_backend->pause())
        raise(kCommandFailed);
}

void TFilterGraph::Stop()
{
    if (!Active())
        return;
    notifyClients(media::GraphNotice::Stopping);
    if (m_rendered && !m_backend->pause())
        raise(kCommandFailed);
}

void TFilterGraph::raise(std::uint32_t result) const
{
    const QString message = QString::fromUtf8(resultText(result)) + QStringLiteral(" ($")
        + QString::number(result, 16).toUpper() + QStringLiteral(").");
    throw EDirectShowException(message.toStdString(), result);
}

void TFilterGraph::backendEnded(std::uint64_t generation, media::EndReason reason)
{
    if (generation != m_generation || !Active())
        return;
    if (reason == media::EndReason::Finished)
        deliverEvent(media::EC_COMPLETE, 0, 0);
    else
        deliverEvent(media::EC_ERRORABORT, static_cast<qintptr>(kCommandFailed), 0);
}

void TFilterGraph::deliverEvent(int code, qintptr param1, qintptr param2)
{
    // A handler's error ends the delivery of this event, like the loop of
    // the notify window.
    platform::guarded([&] {
        const auto clients = m_clients;
        for (media::FilterGraphClient *client : clients)
            client->graphEvent(this, code, param1, param2);
        if (OnDSEvent)
            OnDSEvent(this, code, param1, param2);
        if (code == media::EC_COMPLETE && OnGraphComplete)
            OnGraphComplete(this, static_cast<qint32>(param1), param2);
    });
}

void TFilterGraph::notifyClients(media::GraphNotice notice)
{
    const auto clients = m_clients;
    for (media::FilterGraphClient *client : clients)
        client->graphNotice(this, notice);
}

void TFilterGraph::bindClient(media::FilterGraphClient *client)
{
    if (std::find(m_clients.begin(), m_clients.end(), client) == m_clients.end())
        m_clients.push_back(client);
}

void TFilterGraph::unbindClient(media::FilterGraphClient *client)
{
    m_clients.erase(std::remove(m_clients.begin(), m_clients.end(), client), m_clients.end());
}

void TFilterGraph::addRenderer(media::VideoTarget *target)
{
    if (std::find(m_renderers.begin(), m_renderers.end(), target) != m_renderers.end())
        return;
    m_renderers.push_back(target);
    if (m_backend && m_renderers.size() == 1)
        m_backend->attachVideoTarget(target);
}

void TFilterGraph::removeRenderer(media::VideoTarget *target)
{
    const auto it = std::find(m_renderers.begin(), m_renderers.end(), target);
    if (it == m_renderers.end())
        return;
    const bool wasAttached = it == m_renderers.begin();
    m_renderers.erase(it);
    if (m_backend && wasAttached)
        m_backend->attachVideoTarget(m_renderers.empty() ? nullptr : m_renderers.front());
}
