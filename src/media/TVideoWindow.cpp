#include "media/TVideoWindow.h"

#include "media/TFilterGraph.h"
#include "media/VideoSurface.h"

#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QPalette>
#include <QResizeEvent>

TVideoWindow::TVideoWindow(QWidget *parent) : QWidget(parent)
{
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);
    makeSurface();
}

TVideoWindow::~TVideoWindow()
{
    setFilterGraph(nullptr);
}

bool TVideoWindow::openGLAvailable()
{
    static const bool available = [] {
        const QString platform = QGuiApplication::platformName();
        if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
            return false;
        QOpenGLContext context;
        if (!context.create())
            return false;
        QOffscreenSurface surface;
        surface.setFormat(context.format());
        surface.create();
        const bool ok = context.makeCurrent(&surface);
        if (ok)
            context.doneCurrent();
        return ok;
    }();
    return available;
}

void TVideoWindow::setFilterGraph(TFilterGraph *graph)
{
    if (graph == m_graph)
        return;
    if (m_graph) {
        m_graph->removeRenderer(m_surface.get());
        m_graph->unbindClient(this);
        disconnect(m_graph, nullptr, this, nullptr);
    }
    m_graph = graph;
    if (m_graph) {
        // A graph destroyed first must not be touched afterwards.
        connect(m_graph, &QObject::destroyed, this, [this] { m_graph = nullptr; });
        m_graph->bindClient(this);
        m_graph->addRenderer(m_surface.get());
    }
}

void TVideoWindow::setMode(TVideoMode mode)
{
    // The OpenGL renderer needs a context; without one the window falls back
    // to the software renderer.
    if (mode == vmVMR && !openGLAvailable())
        mode = vmNormal;
    if (mode == m_mode && m_surface)
        return;
    m_mode = mode;
    if (m_graph)
        m_graph->removeRenderer(m_surface.get());
    m_surface.reset();
    makeSurface();
    if (m_graph)
        m_graph->addRenderer(m_surface.get());
}

void TVideoWindow::makeSurface()
{
    if (m_mode == vmVMR && !openGLAvailable())
        m_mode = vmNormal;
    m_surface = m_mode == vmVMR ? media::VideoSurface::createOpenGL(this)
                                : media::VideoSurface::createSoftware(this);
    m_surface->widget()->setGeometry(rect());
    m_surface->widget()->show();
}

QWidget *TVideoWindow::surfaceWidget() const
{
    return m_surface ? m_surface->widget() : nullptr;
}

bool TVideoWindow::isRendering() const
{
    return m_surface && m_surface->isRendering();
}

int TVideoWindow::framesDrawn() const
{
    return m_surface ? m_surface->framesDrawn() : 0;
}

void TVideoWindow::graphNotice(TFilterGraph *, media::GraphNotice notice)
{
    if (notice == media::GraphNotice::Deactivating || notice == media::GraphNotice::FileRendering)
        update();
}

void TVideoWindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_surface)
        m_surface->widget()->setGeometry(rect());
}
