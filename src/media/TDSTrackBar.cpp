#include "media/TDSTrackBar.h"

#include "media/TFilterGraph.h"
#include "platform/ErrorDisplay.h"

#include <QMouseEvent>

TDSTrackBar::TDSTrackBar(QWidget *parent) : QSlider(Qt::Horizontal, parent)
{
    setTickPosition(QSlider::TicksBelow);
    setTickInterval(60);
    setRange(0, 0);
    m_timer.setInterval(m_interval);
    connect(&m_timer, &QTimer::timeout, this, [this] { platform::guarded([this] { timerTick(); }); });
}

TDSTrackBar::~TDSTrackBar()
{
    setFilterGraph(nullptr);
}

void TDSTrackBar::setFilterGraph(TFilterGraph *graph)
{
    if (graph == m_graph)
        return;
    if (m_graph) {
        m_graph->unbindClient(this);
        disconnect(m_graph, nullptr, this, nullptr);
    }
    m_timer.stop();
    m_graph = graph;
    if (m_graph) {
        connect(m_graph, &QObject::destroyed, this, [this] {
            m_graph = nullptr;
            m_timer.stop();
        });
        m_graph->bindClient(this);
    }
}

void TDSTrackBar::setTimerInterval(int ms)
{
    m_interval = std::max(1, ms);
    m_timer.setInterval(m_interval);
}

void TDSTrackBar::graphNotice(TFilterGraph *, media::GraphNotice notice)
{
    switch (notice) {
    case media::GraphNotice::Playing:
        if (!m_timer.isActive())
            m_timer.start();
        break;
    case media::GraphNotice::Pausing:
    case media::GraphNotice::Stopping:
    case media::GraphNotice::Deactivating:
        m_timer.stop();
        break;
    default:
        break;
    }
}

void TDSTrackBar::timerTick()
{
    if (m_dragging || !m_graph || !m_graph->backend())
        return;
    const media::PlayerBackend *engine = m_graph->backend();
    const std::int64_t duration = engine->lengthMs();
    const std::int64_t current = engine->positionMs();
    setMinimum(0);
    setMaximum(static_cast<int>(duration / m_interval));
    setValue(static_cast<int>(current / m_interval));
}

void TDSTrackBar::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_dragging = true;
    QSlider::mousePressEvent(event);
}

void TDSTrackBar::mouseReleaseEvent(QMouseEvent *event)
{
    QSlider::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && m_dragging) {
        platform::guarded([this] { seekToThumb(); });
        m_dragging = false;
    }
}

void TDSTrackBar::seekToThumb()
{
    if (!m_graph || !m_graph->backend() || maximum() <= 0)
        return;
    media::PlayerBackend *engine = m_graph->backend();
    // The new position is the same share of the file as the thumb's share of
    // the bar, in 64-bit arithmetic.
    const std::int64_t stop = engine->lengthMs();
    const std::int64_t target = stop * static_cast<std::int64_t>(value()) / maximum();
    engine->seekMs(target);
}
