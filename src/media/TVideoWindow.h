#pragma once

#include "media/FilterGraphClient.h"

#include <QWidget>

#include <memory>

class TFilterGraph;

namespace media {
class VideoSurface;
}

// The video window: a black control with the renderer surface as a child
// covering it. vmVMR draws through OpenGL; where no OpenGL context can be
// made (the offscreen platform, a display without GL) the window falls back
// to vmNormal, which draws through libmpv's software renderer into an
// image. The surface stays attached to the bound graph's engine while the
// graph is active. UI thread only.

enum TVideoMode { vmNormal, vmVMR };
enum TVMRMode { vmrWindowed, vmrWindowless, vmrRenderless };

struct TVMROptions {
    TVMRMode Mode = vmrWindowed;
};

class TVideoWindow : public QWidget, public media::FilterGraphClient
{
    Q_OBJECT
public:
    explicit TVideoWindow(QWidget *parent = nullptr);
    ~TVideoWindow() override;

    [[nodiscard]] TFilterGraph *FilterGraph() const { return m_graph; }
    void setFilterGraph(TFilterGraph *graph);

    // Setting vmVMR falls back to vmNormal when OpenGL is not available.
    [[nodiscard]] TVideoMode Mode() const { return m_mode; }
    void setMode(TVideoMode mode);
    TVMROptions VMROptions;

    // Whether vmVMR can be used in this process (an OpenGL context can be
    // created on the current platform).
    [[nodiscard]] static bool openGLAvailable();

    // The renderer surface (a child widget), or nullptr before the first
    // mode was set up.
    [[nodiscard]] QWidget *surfaceWidget() const;
    // Whether the surface currently draws frames of an engine.
    [[nodiscard]] bool isRendering() const;
    // Frames the surface has drawn since it was made.
    [[nodiscard]] int framesDrawn() const;

    void graphNotice(TFilterGraph *graph, media::GraphNotice notice) override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void makeSurface();

    TFilterGraph *m_graph = nullptr;
    TVideoMode m_mode = vmVMR;
    std::unique_ptr<media::VideoSurface> m_surface;
};
