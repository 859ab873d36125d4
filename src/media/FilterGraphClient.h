#pragma once

#include <QtGlobal>

class TFilterGraph;

namespace media {

// What the graph tells the controls bound to it.
enum class GraphNotice {
    Activated,       // a fresh engine exists
    Deactivating,    // the engine is about to go away
    FileRendering,   // RenderFile started
    FileRendered,    // RenderFile succeeded
    Playing,         // Play was called
    Pausing,         // Pause was called
    Stopping,        // Stop was called
};

// Graph event codes passed on to bound controls.
constexpr int EC_COMPLETE = 1;
constexpr int EC_ERRORABORT = 3;

// A control bound to a TFilterGraph (the video window, the seek bar).
// Called on the UI thread.
class FilterGraphClient
{
public:
    virtual ~FilterGraphClient() = default;
    virtual void graphNotice(TFilterGraph *graph, GraphNotice notice) = 0;
    virtual void graphEvent(TFilterGraph *graph, int code, qintptr param1, qintptr param2)
    {
        Q_UNUSED(graph) Q_UNUSED(code) Q_UNUSED(param1) Q_UNUSED(param2)
    }
};

} // namespace media
