#pragma once

#include "media/VideoTarget.h"

#include <QWidget>

#include <memory>

namespace media {

// The renderer inside the video window: a child widget that draws the
// frames of the engine it is bound to. Two kinds: OpenGL through libmpv's
// render API into a QOpenGLWidget, and libmpv's software renderer into an
// image for platforms without OpenGL. UI thread only; libmpv's render
// thread only asks for a repaint, posted.
class VideoSurface : public VideoTarget
{
public:
    [[nodiscard]] virtual QWidget *widget() = 0;
    // Frames drawn since creation (tests and the screenshot tool).
    [[nodiscard]] virtual int framesDrawn() const = 0;

    [[nodiscard]] static std::unique_ptr<VideoSurface> createOpenGL(QWidget *parent);
    [[nodiscard]] static std::unique_ptr<VideoSurface> createSoftware(QWidget *parent);
};

} // namespace media
