#pragma once

#include "media/FilterGraphClient.h"

#include <QSlider>
#include <QTimer>

class TFilterGraph;

// The seek bar: follows the bound graph's position once per TimerInterval
// while it plays (whole seconds with the interval of 1000 ms), and seeks
// when the student releases the thumb. UI thread only.
class TDSTrackBar : public QSlider, public media::FilterGraphClient
{
    Q_OBJECT
public:
    explicit TDSTrackBar(QWidget *parent = nullptr);
    ~TDSTrackBar() override;

    [[nodiscard]] TFilterGraph *FilterGraph() const { return m_graph; }
    void setFilterGraph(TFilterGraph *graph);

    [[nodiscard]] int TimerInterval() const { return m_interval; }
    void setTimerInterval(int ms);
    // The tick mark frequency (60 in the test window).
    void setFrequency(int positions) { setTickInterval(positions); }

    // Whether the position timer runs (the graph plays).
    [[nodiscard]] bool following() const { return m_timer.isActive(); }
    // One tick of the position timer (tests drive it through this).
    void timerTick();

    void graphNotice(TFilterGraph *graph, media::GraphNotice notice) override;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void seekToThumb();

    TFilterGraph *m_graph = nullptr;
    QTimer m_timer;
    int m_interval = 1000;
    bool m_dragging = false;
};
