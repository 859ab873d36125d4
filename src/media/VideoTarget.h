#pragma once

#include <functional>

struct mpv_handle;

namespace media {

// A surface that video is drawn on (the video window's renderer). The
// libmpv backend hands it its handle on attach and takes it back (nullptr)
// before the handle is destroyed; the surface creates and frees its render
// context in between, and calls contextReady once the context exists (at
// once, or later when an OpenGL widget first initialises), so that the
// engine moves its video output over to it. Other backends never call it.
// UI thread only.
class VideoTarget
{
public:
    virtual ~VideoTarget() = default;
    // Binds the surface to an engine (nullptr unbinds). Unbinding must free
    // the render context before returning.
    virtual void bindEngine(mpv_handle *engine, std::function<void()> contextReady) = 0;
    // Whether the surface can draw now (a render context exists).
    [[nodiscard]] virtual bool isRendering() const = 0;
};

} // namespace media
