#pragma once

#include "media/FilterGraphClient.h"
#include "media/PlayerBackend.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

// The video graph: while Active it owns one engine (a fresh one for each
// activation) that renders a file, plays, pauses and stops it at a stored
// volume, and turns its end into OnGraphComplete. Bound controls (the video
// window, the seek bar) hear of every change. UI thread only; the engine's
// news arrives posted.

// Raised by RenderFile, Play, Pause and Stop: the engine's text followed by
// " ($%X)." with the result code.
class EDirectShowException : public std::runtime_error
{
public:
    EDirectShowException(const std::string &message, std::uint32_t result)
        : std::runtime_error(message), m_result(result) {}
    [[nodiscard]] std::uint32_t result() const { return m_result; }

private:
    std::uint32_t m_result;
};

enum TGraphMode { gmNormal, gmCapture, gmDVD };

class TFilterGraph : public QObject
{
    Q_OBJECT
public:
    // Result codes of our engine, in the HRESULT style the messages show.
    static constexpr std::uint32_t kFileNotFound = 0x80070002;
    static constexpr std::uint32_t kAccessDenied = 0x80070005;
    static constexpr std::uint32_t kUnsupported = 0x80040265;
    static constexpr std::uint32_t kNoEngine = 0x80040154;
    static constexpr std::uint32_t kCommandFailed = 0x80004005;

    explicit TFilterGraph(QObject *parent = nullptr);
    ~TFilterGraph() override;

    [[nodiscard]] bool Active() const { return m_backend != nullptr; }
    void setActive(bool on);

    TGraphMode Mode = gmNormal;
    bool LinearVolume = true;
    bool GraphEdit = false;

    // 0 ... 10000, clamped; kept while inactive and applied after each
    // rendered file.
    [[nodiscard]] int Volume() const { return m_volume; }
    void setVolume(int volume);
    // Stored only: the engine offers no balance control.
    [[nodiscard]] int Balance() const { return m_balance; }
    void setBalance(int balance) { m_balance = balance; }
    [[nodiscard]] double Rate() const { return m_rate; }
    // Applied after each rendered file.
    void setRate(double rate) { m_rate = rate; }

    // Stop and empty the graph (the bound renderer stays). Nothing while
    // inactive.
    void ClearGraph();
    // Builds the graph for a file; raises EDirectShowException on failure.
    // Nothing while inactive.
    void RenderFile(const QString &fileName);
    void Play();
    void Pause();
    void Stop();

    // Raised for the end of playback (EC_COMPLETE) with the engine's two
    // parameters; through the error display.
    std::function<void(QObject *Sender, qint32 Result, qintptr Renderer)> OnGraphComplete;
    // Raised for every graph event before the specific one.
    std::function<void(QObject *Sender, int Event, qintptr Param1, qintptr Param2)> OnDSEvent;

    // The attenuation (hundredths of a decibel, 0 full, -10000 silent) for a
    // volume: ln(v + 1) * 1085.73 rounded half to even, minus 10000; or
    // v - 10000 when linear is off.
    [[nodiscard]] static int volumeToAttenuation(int volume, bool linear);

    // Binding of controls. A client that supplies a renderer has it
    // attached to every engine of the graph while it is bound.
    void bindClient(media::FilterGraphClient *client);
    void unbindClient(media::FilterGraphClient *client);
    void addRenderer(media::VideoTarget *target);
    void removeRenderer(media::VideoTarget *target);

    // The engine while active, else nullptr (seek bar, tests).
    [[nodiscard]] media::PlayerBackend *backend() const { return m_backend.get(); }
    // Whether a file has been rendered since the last activation or clear.
    [[nodiscard]] bool rendered() const { return m_rendered; }

private:
    void notifyClients(media::GraphNotice notice);
    void applyVolume();
    void backendEnded(std::uint64_t generation, media::EndReason reason);
    void deliverEvent(int code, qintptr param1, qintptr param2);
    [[noreturn]] void raise(std::uint32_t result) const;

    std::unique_ptr<media::PlayerBackend> m_backend;
    std::vector<media::FilterGraphClient *> m_clients;
    std::vector<media::VideoTarget *> m_renderers;
    int m_volume = 10000;
    int m_balance = 0;
    double m_rate = 1.0;
    bool m_rendered = false;
    // Counts renders and activations, so that engine news from an earlier
    // file is recognised as stale.
    std::uint64_t m_generation = 0;
};
