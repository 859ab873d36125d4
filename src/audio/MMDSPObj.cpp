#include "audio/MMDSPObj.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>
#include <memory>
#include <mutex>
#include <vector>

namespace {

const QString kInput = QStringLiteral("Input");
const QString kOutput = QStringLiteral("Output");
constexpr int kMaxLinkName = 20;

// The list exists only while components live, as the chain expects; a
// unique_ptr makes "created with the first, released with the last" literal.
std::unique_ptr<std::vector<TMMDSPComponent *>> &componentList()
{
    static std::unique_ptr<std::vector<TMMDSPComponent *>> list;
    return list;
}

struct ThreadList {
    std::mutex mutex;
    std::unique_ptr<std::vector<TMMDSPThread *>> threads;
};

ThreadList &threadList()
{
    static ThreadList list;
    return list;
}

bool isSound(const TMMDSPComponent *c)
{
    return dynamic_cast<const TMMCustomSoundComponent *>(c) != nullptr;
}

} // namespace

// ---------------------------------------------------------------------------

TMMComponent::TMMComponent(QObject *owner)
    : QObject(owner)
{
}

TMMComponent::~TMMComponent() = default;

void TMMComponent::BeginLoading()
{
    m_componentState |= csLoading | csReading;
}

void TMMComponent::EndLoading()
{
    m_componentState &= ~(csLoading | csReading);
    Loaded();
}

// ---------------------------------------------------------------------------

TMMDSPComponent::TMMDSPComponent(QObject *owner)
    : TMMCustomDSPComponent(owner)
{
    auto &list = componentList();
    if (!list)
        list = std::make_unique<std::vector<TMMDSPComponent *>>();
    list->push_back(this);
}

TMMDSPComponent::~TMMDSPComponent()
{
    MarkDestroying();
    SetInput(nullptr);
    SetOutput(nullptr);
    SetPWaveFormat(nullptr);
    auto &list = componentList();
    if (list) {
        std::erase(*list, this);
        if (list->empty())
            list.reset();
    }
}

void TMMDSPComponent::Loaded()
{
    TMMCustomDSPComponent::Loaded();
    // Pushes the format downstream now that every link of the layout exists.
    SetPWaveFormat(PWaveFormat());
}

TMMDSPComponent *TMMDSPComponent::publishedLink(const QString &name) const
{
    if (name == kInput && m_publishesInput)
        return Input();
    if (name == kOutput && m_publishesOutput)
        return Output();
    return nullptr;
}

bool TMMDSPComponent::CanConnectInput(TMMComponent *c) const
{
    auto *d = dynamic_cast<TMMDSPComponent *>(c);
    if (!d || d == this)
        return false;
    if (!d->PublishesOutput() && !d->ProvidesOutput)
        return false;
    if (!m_output)
        return true;
    return m_output->CanConnectInput(c);
}

bool TMMDSPComponent::CanConnectOutput(TMMComponent *c) const
{
    auto *d = dynamic_cast<TMMDSPComponent *>(c);
    if (!d || d == this)
        return false;
    if (!d->PublishesInput() && !d->AcceptsInput)
        return false;
    if (!m_input)
        return true;
    return m_input->CanConnectOutput(c);
}

void TMMDSPComponent::SetInput(TMMComponent *value)
{
    auto *v = dynamic_cast<TMMDSPComponent *>(value);
    if (value && !v)
        return;
    if (v == m_input)
        return;
    if (v && !CanConnectInput(v))
        return;
    Stopped();
    if (m_input) {
        NotifyLinkChange(this, false, kInput);
        SetInputLink(nullptr, QString());
        ReceiveWaveFormat(nullptr);
    }
    if (!v)
        return;
    NotifyLinkChange(v, true, kOutput);
    SetInputLink(v, kOutput);
    v->SetOutputLink(this, kInput);
    PropagateFormat();
}

void TMMDSPComponent::SetOutput(TMMComponent *value)
{
    auto *v = dynamic_cast<TMMDSPComponent *>(value);
    if (value && !v)
        return;
    if (v == m_output)
        return;
    if (v && !CanConnectOutput(v))
        return;
    Stopped();
    if (m_output) {
        TMMDSPComponent *d = m_output;
        NotifyLinkChange(this, true, kOutput);
        d->ReceiveWaveFormat(nullptr);
        SetOutputLink(nullptr, QString());
    }
    if (!v)
        return;
    NotifyLinkChange(v, false, kInput);
    SetOutputLink(v, kInput);
    v->SetInputLink(this, kOutput);
    PropagateFormat();
}

void TMMDSPComponent::SetInputLink(TMMDSPComponent *component, const QString &name)
{
    m_input = component;
    m_inputLinkName = name.left(kMaxLinkName);
}

void TMMDSPComponent::SetOutputLink(TMMDSPComponent *component, const QString &name)
{
    m_output = component;
    m_outputLinkName = name.left(kMaxLinkName);
}

void TMMDSPComponent::LinkNotify(TMMDSPComponent *sender, bool inputSide, const QString &propName)
{
    if (!sender)
        return;
    if (!inputSide) {
        if (m_output == sender && m_outputLinkName == propName
            && sender->publishedLink(propName) == this)
            SetOutputLink(nullptr, QString());
    } else {
        if (m_input == sender && m_inputLinkName == propName
            && sender->publishedLink(propName) == this)
            SetInputLink(nullptr, QString());
    }
}

void TMMDSPComponent::PropagateFormat()
{
    if (loadingReadingOrDestroying())
        return;
    if (m_input)
        ReceiveWaveFormat(m_input->PWaveFormat());
    else if (m_output)
        m_output->ReceiveWaveFormat(PWaveFormat());
}

void TMMDSPComponent::SetPWaveFormat(const TWaveFormatEx *f)
{
    if (f != m_pwfx.get()) {
        if (m_started)
            Stopped();
        // Copy first: f may point into a record that the release would free.
        WaveFormatPtr copy = copyWaveFormat(f);
        m_pwfx = std::move(copy);
    }
    if (!loadingReadingOrDestroying() && m_output)
        m_output->ReceiveWaveFormat(m_pwfx.get());
}

void TMMDSPComponent::ReceiveWaveFormat(const TWaveFormatEx *f)
{
    SetPWaveFormat(f);
}

std::int32_t TMMDSPComponent::BufferSize() const
{
    return m_opened ? m_realBufferSize : m_bufferSize;
}

void TMMDSPComponent::SetBufferSize(std::int32_t n)
{
    if (n == m_bufferSize)
        return;
    if (m_started)
        Stopped();
    m_bufferSize = n;
}

void TMMDSPComponent::Opened()
{
    if (m_opened)
        return;
    const TWaveFormatEx *f = PWaveFormat();
    if (f && f->nBlockAlign > 0) {
        const std::int32_t align = f->nBlockAlign;
        m_realBufferSize = std::max(m_bufferSize - (m_bufferSize % align), align);
    } else {
        m_realBufferSize = m_bufferSize;
    }
    m_opened = true;
    m_started = false;
    m_paused = false;
}

void TMMDSPComponent::Closed()
{
    m_opened = false;
}

void TMMDSPComponent::Started()
{
    if (m_opened && !m_started)
        m_started = true;
}

void TMMDSPComponent::Paused()
{
    m_paused = true;
}

void TMMDSPComponent::Restarted()
{
    m_paused = false;
}

void TMMDSPComponent::Stopped()
{
    if (m_started) {
        m_started = false;
        m_paused = false;
    }
}

void TMMDSPComponent::ChainReset() {}

void TMMDSPComponent::BufferReady(PWaveHdr lpWaveHdr)
{
    if (OnBufferReady)
        OnBufferReady(this, lpWaveHdr);
    if (m_output)
        m_output->BufferReady(lpWaveHdr);
}

void TMMDSPComponent::BufferLoad(PWaveHdr lpWaveHdr, bool &MoreBuffers)
{
    if (OnBufferLoad)
        OnBufferLoad(this, lpWaveHdr, MoreBuffers);
    if (m_input)
        m_input->BufferLoad(lpWaveHdr, MoreBuffers);
    if (OnBufferLoaded && lpWaveHdr && lpWaveHdr->dwBytesRecorded > 0)
        OnBufferLoaded(this, lpWaveHdr);
}

// ---------------------------------------------------------------------------

TMMDSPComponent *TMMCustomSoundComponent::stretchStart()
{
    TMMDSPComponent *start = this;
    for (TMMDSPComponent *p = Input(); p; p = p->Input()) {
        if (isSound(p))
            return this;
        start = p;
    }
    return start;
}

void TMMCustomSoundComponent::spread(Notification n)
{
    auto deliver = [&](TMMDSPComponent *c) {
        switch (n) {
        case Notification::Opened:
            c->SetBufferSize(BufferSize());
            c->Opened();
            break;
        case Notification::Closed: c->Closed(); break;
        case Notification::Started: c->Started(); break;
        case Notification::Paused: c->Paused(); break;
        case Notification::Restarted: c->Restarted(); break;
        case Notification::Stopped: c->Stopped(); break;
        case Notification::ChainReset: c->ChainReset(); break;
        }
    };

    if (n == Notification::Closed || n == Notification::Stopped) {
        // The next device downstream hears it first, then the passive
        // members of this device's own stretch.
        for (TMMDSPComponent *c = Output(); c; c = c->Output()) {
            if (isSound(c)) {
                deliver(c);
                break;
            }
        }
        for (TMMDSPComponent *c = stretchStart(); c; c = c->Output()) {
            if (c == this)
                continue;
            if (isSound(c))
                break;
            deliver(c);
        }
        return;
    }

    for (TMMDSPComponent *c = stretchStart(); c; c = c->Output()) {
        if (c == this)
            continue;
        deliver(c);
        if (isSound(c))
            break;
    }
}

void TMMCustomSoundComponent::Opened()
{
    spread(Notification::Opened);
    TMMDSPComponent::Opened();
}

void TMMCustomSoundComponent::Closed()
{
    spread(Notification::Closed);
    TMMDSPComponent::Closed();
}

void TMMCustomSoundComponent::Started()
{
    spread(Notification::Started);
    TMMDSPComponent::Started();
}

void TMMCustomSoundComponent::Paused()
{
    spread(Notification::Paused);
    TMMDSPComponent::Paused();
}

void TMMCustomSoundComponent::Restarted()
{
    spread(Notification::Restarted);
    TMMDSPComponent::Restarted();
}

void TMMCustomSoundComponent::Stopped()
{
    spread(Notification::Stopped);
    TMMDSPComponent::Stopped();
}

void TMMCustomSoundComponent::ChainReset()
{
    spread(Notification::ChainReset);
    TMMDSPComponent::ChainReset();
}

// ---------------------------------------------------------------------------

void NotifyLinkChange(TMMDSPComponent *component, bool inputSide, const QString &propName)
{
    auto &list = componentList();
    if (!list)
        return;
    // Take a snapshot: a reaction may not add or remove members, but the
    // walk must not depend on it.
    const std::vector<TMMDSPComponent *> members = *list;
    for (TMMDSPComponent *m : members)
        m->LinkNotify(component, inputSide, propName);
}

std::size_t DSPComponentCount()
{
    const auto &list = componentList();
    return list ? list->size() : 0;
}

TMMDSPComponent *DSPComponentAt(std::size_t index)
{
    const auto &list = componentList();
    return list && index < list->size() ? (*list)[index] : nullptr;
}

void CallSynchronized(const TNotifyEvent &handler, TMMComponent *sender)
{
    if (!handler)
        return;
    TMMDSPThread *thread = nullptr;
    {
        ThreadList &tl = threadList();
        std::lock_guard lock(tl.mutex);
        QCoreApplication *app = QCoreApplication::instance();
        const bool onMain = !app || QThread::currentThread() == app->thread();
        if (tl.threads && !onMain) {
            const auto me = std::this_thread::get_id();
            for (TMMDSPThread *t : *tl.threads)
                if (t->ThreadId() == me)
                    thread = t;
        }
    }
    if (thread)
        thread->Synchronize([&] { handler(sender); });
    else
        handler(sender);
}

// ---------------------------------------------------------------------------

TMMDSPThread::TMMDSPThread(TMMDSPComponent *owner)
    : m_owner(owner)
{
    ThreadList &tl = threadList();
    std::lock_guard lock(tl.mutex);
    if (!tl.threads)
        tl.threads = std::make_unique<std::vector<TMMDSPThread *>>();
    tl.threads->push_back(this);
}

TMMDSPThread::~TMMDSPThread()
{
    WaitFor();
    ThreadList &tl = threadList();
    std::lock_guard lock(tl.mutex);
    if (tl.threads) {
        std::erase(*tl.threads, this);
        if (tl.threads->empty())
            tl.threads.reset();
    }
}

void TMMDSPThread::Resume()
{
    if (m_thread.joinable())
        return;
    m_thread = std::thread([this] {
        m_threadId.store(std::this_thread::get_id());
        Execute();
    });
}

void TMMDSPThread::WaitFor()
{
    if (m_thread.joinable() && m_thread.get_id() != std::this_thread::get_id())
        m_thread.join();
}

void TMMDSPThread::Synchronize(const std::function<void()> &fn)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        fn();
        return;
    }
    QMetaObject::invokeMethod(app, fn, Qt::BlockingQueuedConnection);
}

std::size_t DSPThreadCount()
{
    ThreadList &tl = threadList();
    std::lock_guard lock(tl.mutex);
    return tl.threads ? tl.threads->size() : 0;
}
