#include "media/VideoSurface.h"

#include <mpv/client.h>
#include <mpv/render.h>
#include <mpv/render_gl.h>

#include <QGuiApplication>
#include <QImage>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLWidget>
#include <QPainter>
#include <QPointer>

namespace media {

namespace {

struct RenderContextDeleter {
    void operator()(mpv_render_context *ctx) const { mpv_render_context_free(ctx); }
};
using RenderContext = std::unique_ptr<mpv_render_context, RenderContextDeleter>;

// libmpv's render thread calls this when a new frame is ready: it may only
// queue a repaint on the UI thread.
template <typename W>
void installUpdateCallback(mpv_render_context *ctx, W *widget)
{
    mpv_render_context_set_update_callback(
        ctx,
        [](void *data) {
            auto *w = static_cast<W *>(data);
            QMetaObject::invokeMethod(w, [w] { w->frameReady(); }, Qt::QueuedConnection);
        },
        widget);
}

class GLSurface : public QOpenGLWidget, public VideoSurface
{
public:
    explicit GLSurface(QWidget *parent) : QOpenGLWidget(parent)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    ~GLSurface() override { bindEngine(nullptr, {}); }

    QWidget *widget() override { return this; }
    int framesDrawn() const override { return m_frames; }
    bool isRendering() const override { return m_ctx != nullptr; }

    void bindEngine(mpv_handle *engine, std::function<void()> contextReady) override
    {
        if (m_ctx) {
            // The context must be current while libmpv frees its GL objects.
            makeCurrent();
            m_ctx.reset();
            doneCurrent();
        }
        m_engine = engine;
        m_contextReady = std::move(contextReady);
        if (m_engine && context())
            createContext();
        update();
    }

    void frameReady()
    {
        if (m_ctx && (mpv_render_context_update(m_ctx.get()) & MPV_RENDER_UPDATE_FRAME))
            update();
    }

protected:
    void initializeGL() override
    {
        if (m_engine && !m_ctx)
            createContext();
    }

    void paintGL() override
    {
        if (!m_ctx) {
            auto *f = context()->functions();
            f->glClearColor(0, 0, 0, 1);
            f->glClear(GL_COLOR_BUFFER_BIT);
            return;
        }
        const qreal ratio = devicePixelRatioF();
        mpv_opengl_fbo fbo{static_cast<int>(defaultFramebufferObject()),
                           static_cast<int>(width() * ratio), static_cast<int>(height() * ratio), 0};
        int flip = 1;
        mpv_render_param params[] = {
            {MPV_RENDER_PARAM_OPENGL_FBO, &fbo},
            {MPV_RENDER_PARAM_FLIP_Y, &flip},
            {MPV_RENDER_PARAM_INVALID, nullptr},
        };
        mpv_render_context_render(m_ctx.get(), params);
        ++m_frames;
    }

private:
    void createContext()
    {
        makeCurrent();
        mpv_opengl_init_params gl{
            [](void *, const char *name) -> void * {
                QOpenGLContext *current = QOpenGLContext::currentContext();
                return current ? reinterpret_cast<void *>(current->getProcAddress(name)) : nullptr;
            },
            nullptr};
        int advanced = 0;
        mpv_render_param params[] = {
            {MPV_RENDER_PARAM_API_TYPE, const_cast<char *>(MPV_RENDER_API_TYPE_OPENGL)},
            {MPV_RENDER_PARAM_OPENGL_INIT_PARAMS, &gl},
            {MPV_RENDER_PARAM_ADVANCED_CONTROL, &advanced},
            {MPV_RENDER_PARAM_INVALID, nullptr},
        };
        mpv_render_context *raw = nullptr;
        if (mpv_render_context_create(&raw, m_engine, params) >= 0) {
            m_ctx.reset(raw);
            installUpdateCallback(raw, this);
        }
        doneCurrent();
        if (m_ctx && m_contextReady)
            m_contextReady();
    }

    mpv_handle *m_engine = nullptr;
    std::function<void()> m_contextReady;
    RenderContext m_ctx;
    int m_frames = 0;
};

class SoftwareSurface : public QWidget, public VideoSurface
{
public:
    explicit SoftwareSurface(QWidget *parent) : QWidget(parent)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }
    ~SoftwareSurface() override { bindEngine(nullptr, {}); }

    QWidget *widget() override { return this; }
    int framesDrawn() const override { return m_frames; }
    bool isRendering() const override { return m_ctx != nullptr; }

    void bindEngine(mpv_handle *engine, std::function<void()> contextReady) override
    {
        m_ctx.reset();
        m_image = QImage();
        if (engine) {
            mpv_render_param params[] = {
                {MPV_RENDER_PARAM_API_TYPE, const_cast<char *>(MPV_RENDER_API_TYPE_SW)},
                {MPV_RENDER_PARAM_INVALID, nullptr},
            };
            mpv_render_context *raw = nullptr;
            if (mpv_render_context_create(&raw, engine, params) >= 0) {
                m_ctx.reset(raw);
                installUpdateCallback(raw, this);
                if (contextReady)
                    contextReady();
            }
        }
        update();
    }

    void frameReady()
    {
        if (!m_ctx || !(mpv_render_context_update(m_ctx.get()) & MPV_RENDER_UPDATE_FRAME))
            return;
        renderFrame();
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        if (!m_image.isNull())
            painter.drawImage(0, 0, m_image);
    }

private:
    void renderFrame()
    {
        const QSize size = this->size().expandedTo(QSize(1, 1));
        if (m_image.size() != size)
            m_image = QImage(size, QImage::Format_RGB32);
        int sz[2] = {size.width(), size.height()};
        // Format_RGB32 is 0xffRRGGBB in memory order B, G, R, X on the
        // little-endian machines this runs on.
        char format[] = "bgr0";
        size_t stride = static_cast<size_t>(m_image.bytesPerLine());
        mpv_render_param params[] = {
            {MPV_RENDER_PARAM_SW_SIZE, sz},
            {MPV_RENDER_PARAM_SW_FORMAT, format},
            {MPV_RENDER_PARAM_SW_STRIDE, &stride},
            {MPV_RENDER_PARAM_SW_POINTER, m_image.bits()},
            {MPV_RENDER_PARAM_INVALID, nullptr},
        };
        if (mpv_render_context_render(m_ctx.get(), params) >= 0)
            ++m_frames;
    }

    RenderContext m_ctx;
    QImage m_image;
    int m_frames = 0;
};

} // namespace

std::unique_ptr<VideoSurface> VideoSurface::createOpenGL(QWidget *parent)
{
    return std::make_unique<GLSurface>(parent);
}

std::unique_ptr<VideoSurface> VideoSurface::createSoftware(QWidget *parent)
{
    return std::make_unique<SoftwareSurface>(parent);
}

} // namespace media
