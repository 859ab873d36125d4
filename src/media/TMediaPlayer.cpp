#include "media/TMediaPlayer.h"

#include "platform/ErrorDisplay.h"
#include "platform/Messages.h"
#include "platform/WinPath.h"

#include <QKeyEvent>
#include <QStyle>
#include <QToolButton>

namespace {

// Device identifiers are handed out like the system's: small, never 0, a new
// one for every open.
std::uint16_t nextDeviceId()
{
    static std::uint16_t last = 0;
    ++last;
    if (last == 0)
        ++last;
    return last;
}

} // namespace

TMediaPlayer::TMediaPlayer(QWidget *parent) : QWidget(parent)
{
    setFixedSize(57, 24);
    // Only play and pause are visible; each gets half of the control.
    const struct {
        TMPBtnType type;
        QStyle::StandardPixmap icon;
        const char *name;
        QRect geometry;
    } visible[] = {
        {btPlay, QStyle::SP_MediaPlay, "Play", QRect(0, 0, 28, 24)},
        {btPause, QStyle::SP_MediaPause, "Pause", QRect(28, 0, 29, 24)},
    };
    for (const auto &b : visible) {
        auto *button = new QToolButton(this);
        button->setObjectName(QString::fromLatin1(b.name));
        button->setIcon(style()->standardIcon(b.icon));
        button->setIconSize(QSize(14, 14));
        button->setGeometry(b.geometry);
        button->setFocusPolicy(Qt::StrongFocus);
        button->setAutoRaise(false);
        button->installEventFilter(this);
        const TMPBtnType type = b.type;
        connect(button, &QToolButton::clicked, this, [this, type] { buttonClicked(type); });
        m_buttons[type] = button;
    }
    setFocusProxy(m_buttons[btPlay]);
}

TMediaPlayer::~TMediaPlayer()
{
    // Closing drops any armed completion: nothing is delivered to a
    // destroyed control.
    m_pending = 0;
    if (m_backend)
        m_backend->close();
}

QToolButton *TMediaPlayer::button(TMPBtnType type) const
{
    return m_buttons[type];
}

void TMediaPlayer::requireOpen() const
{
    if (m_deviceId == 0)
        throw EMCIDeviceError(kNoDeviceOpen);
}

void TMediaPlayer::Open()
{
    Close();
    if (!m_backend) {
        m_backend = media::createBackend(media::BackendPurpose::Audio);
        m_backend->onEnd = [this](media::EndReason reason) { backendEnded(reason); };
    }
    const QString path = platform::hostPathString(FileName);
    const media::OpenError result = m_backend->open(path);
    const char *text = nullptr;
    switch (result) {
    case media::OpenError::None:
        break;
    case media::OpenError::FileNotFound:
        m_lastError = errFileNotFound;
        text = kFileNotFound;
        break;
    case media::OpenError::AccessDenied:
        m_lastError = errFileUnreadable;
        text = kFileUnreadable;
        break;
    case media::OpenError::Unsupported:
        m_lastError = errCannotPlay;
        text = kFileUnplayable;
        break;
    case media::OpenError::NoDevice:
        m_lastError = errNoDevice;
        text = kNoDevice;
        break;
    }
    if (result != media::OpenError::None) {
        // A broken engine is not reused: the next open starts afresh.
        if (result == media::OpenError::NoDevice)
            m_backend.reset();
        throw EMCIDeviceError(text ? text : kUnknownError);
    }
    m_lastError = errNone;
    m_deviceId = nextDeviceId();
    m_atEnd = false;
    m_paused = false;
    m_frames = m_backend->lengthMs() / 10;
    m_canPlay = true;
    m_hasVideo = m_backend->hasVideo();
}

void TMediaPlayer::Close()
{
    if (m_deviceId == 0)
        return;
    // The device goes away with its armed completion: a notice for a
    // closed file would reach the next file's listener (the runner opens the
    // next prompt and starts a recording right after closing).
    m_pending = 0;
    m_backend->close();
    m_deviceId = 0;
    m_atEnd = false;
    m_paused = false;
    m_lastError = errNone;
}

void TMediaPlayer::Play()
{
    requireOpen();
    if (Notify)
        sendNotify();
    m_paused = false;
    if (!m_backend->play()) {
        m_lastError = errCommandFailed;
        endPending(nvFailure);
        return;
    }
    m_lastError = errNone;
}

void TMediaPlayer::Stop()
{
    requireOpen();
    const bool ok = m_backend->pause();
    m_lastError = ok ? errNone : errCommandFailed;
    m_paused = false;
    endPending(nvAborted);
}

void TMediaPlayer::Pause()
{
    requireOpen();
    const TMPModes mode = Mode();
    if (mode == mpPlaying) {
        const bool ok = m_backend->pause();
        m_lastError = ok ? errNone : errCommandFailed;
        if (ok)
            m_paused = true;
        endPending(nvAborted);
    } else if (mode == mpPaused) {
        if (Notify)
            sendNotify();
        if (m_backend->play()) {
            m_paused = false;
            m_lastError = errNone;
        } else {
            // A resume the device refuses is retried as a plain play.
            Play();
        }
    }
}

TMPModes TMediaPlayer::Mode() const
{
    if (m_deviceId == 0)
        return mpNotReady;
    if (m_backend->isPlaying())
        return mpPlaying;
    if (m_paused && !m_atEnd)
        return mpPaused;
    return mpStopped;
}

std::int64_t TMediaPlayer::Position() const
{
    if (m_deviceId == 0)
        return 0;
    const std::int64_t length = m_backend->lengthMs();
    if (m_atEnd)
        return length;
    return std::min(m_backend->positionMs(), length);
}

std::int64_t TMediaPlayer::Length() const
{
    requireOpen();
    return m_backend->lengthMs();
}

void TMediaPlayer::sendNotify()
{
    // A new command with notify supersedes the one still waiting.
    if (m_pending != 0)
        postNotify(nvSuperseded);
    m_pending = ++m_serial;
}

void TMediaPlayer::endPending(TMPNotifyValues value)
{
    if (m_pending == 0)
        return;
    m_pending = 0;
    postNotify(value);
}

void TMediaPlayer::postNotify(TMPNotifyValues value)
{
    platform::postMessage(this, [this, value] {
        m_notifyValue = value;
        platform::guarded([&] {
            if (OnNotify)
                OnNotify(this);
        });
    });
}

void TMediaPlayer::backendEnded(media::EndReason reason)
{
    // News that the engine posted before a later play started is stale.
    if (m_deviceId == 0 || m_backend->isPlaying())
        return;
    if (reason == media::EndReason::Finished) {
        m_atEnd = true;
        m_paused = false;
        endPending(nvSuccessful);
    } else {
        m_paused = false;
        endPending(nvFailure);
        // The engine lost the file; the device is gone with it.
        if (!m_backend->isOpen())
            m_deviceId = 0;
    }
}

void TMediaPlayer::buttonClicked(TMPBtnType type)
{
    platform::guarded([&] {
        if (type == btPlay)
            Play();
        else if (type == btPause)
            Pause();
    });
}

bool TMediaPlayer::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Left || key == Qt::Key_Right) {
            // Arrow keys move the focus between the visible buttons, wrapping
            // around like the original control.
            QToolButton *order[] = {m_buttons[btPlay], m_buttons[btPause]};
            const int count = 2;
            int index = 0;
            for (int i = 0; i < count; ++i)
                if (order[i] == watched)
                    index = i;
            index = (index + (key == Qt::Key_Right ? 1 : count - 1)) % count;
            order[index]->setFocus(Qt::TabFocusReason);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
