#pragma once

#include "audio/MMDSPObj.h"
#include "audio/MMWave.h"
#include "audio/MMWavIn.h"

#include <QString>

#include <memory>
#include <string>

// The wave recorder: records the capture device into a WAVE file with two
// calls, Start and Stop. It owns a wave-in component and a file writer and
// links them in front of itself (wave-in -> file writer -> recorder ->
// Output); every recorded buffer goes on to its Output.
//
// Typical use (the test window):
//     recorder.Wave()->SetFileName("c:\\recording\\" + hint);
//     recorder.Start();   // opens the device, creates the file
//     ...
//     recorder.Stop();    // stops capture, finalises the file
// Stop runs the message loop for up to about a second while the device
// returns its buffers.
//
// Threads: UI thread only.
class TMMWaveRecorder : public TMMDSPComponent
{
    Q_OBJECT
public:
    explicit TMMWaveRecorder(QObject *owner = nullptr);
    ~TMMWaveRecorder() override;

    void Start();
    void Stop();
    [[nodiscard]] TMMWaveInState State() const { return m_waveIn->State(); }

    [[nodiscard]] TMMWave *Wave() const { return m_waveFile->Wave(); }
    void SetWave(const TMMWave &w) { m_waveFile->SetWave(w); }

    void SetBufferSize(std::int32_t n) override { m_waveIn->SetBufferSize(n); }
    [[nodiscard]] std::int32_t BufferSize() const override { return m_waveIn->BufferSize(); }
    void SetNumBuffers(std::int32_t n) { m_waveIn->SetNumBuffers(n); }
    [[nodiscard]] std::int32_t NumBuffers() const { return m_waveIn->NumBuffers(); }
    void SetDeviceID(TMMDeviceId id) { m_waveIn->SetDeviceID(id); }
    [[nodiscard]] TMMDeviceId DeviceID() const { return m_waveIn->DeviceID(); }
    void SetCallBackMode(TMMCBMode m) { m_waveIn->SetCallBackMode(m); }
    [[nodiscard]] TMMCBMode CallBackMode() const { return m_waveIn->CallBackMode(); }
    void SetMaxRecordTime(std::int32_t t) { m_waveIn->SetMaxRecordTime(t); }
    [[nodiscard]] std::int32_t MaxRecordTime() const { return m_waveIn->MaxRecordTime(); }
    void SetMode(TMMMode m) { m_waveIn->SetMode(m); }
    [[nodiscard]] TMMMode Mode() const { return m_waveIn->Mode(); }
    void SetBitLength(TMMBits b) { m_waveIn->SetBitLength(b); }
    [[nodiscard]] TMMBits BitLength() const { return m_waveIn->BitLength(); }
    void SetSampleRate(std::int32_t r) { m_waveIn->SetSampleRate(r); }
    [[nodiscard]] std::int32_t SampleRate() const { return m_waveIn->SampleRate(); }
    [[nodiscard]] QString ProductName() const { return m_waveIn->ProductName(); }
    void SetProductName(const QString &) {}
    void SetTimeFormat(TMMTimeFormats t);
    [[nodiscard]] TMMTimeFormats TimeFormat() const { return m_waveIn->TimeFormat(); }
    void SetOverwriteExisting(bool v) { m_waveFile->OverwriteExisting = v; }
    [[nodiscard]] bool OverwriteExisting() const { return m_waveFile->OverwriteExisting; }

    // "Unknown", or the format tag's name, a space and a description.
    [[nodiscard]] QString InputFormat() const;
    // Read-only: shows an information message and changes nothing.
    void SetInputFormat(const QString &);

    // The layout value "WaveFormatEx": the wave-in's format as raw bytes,
    // stored only for a non-PCM format (empty otherwise). Reading it gives
    // the bytes to the wave-in's format setter.
    [[nodiscard]] std::string WaveFormatEx() const;
    void SetWaveFormatEx(const std::string &bytes);

    // The test window's layout settings: ADPCM 44100 Hz stereo from the
    // wave mapper, 20 buffers of 4096 bytes, cmWindow, no time limit.
    void ApplyAnswerLayout();

    void SetPWaveFormat(const TWaveFormatEx *f) override;

    // The internal members (for tests and the metering chain).
    [[nodiscard]] TMMWaveIn *WaveIn() const { return m_waveIn.get(); }
    [[nodiscard]] TMMWaveFile *WaveFile() const { return m_waveFile.get(); }

    TNotifyEvent OnStart;
    TNotifyEvent OnStop;
    TNotifyEvent OnPause;
    TNotifyEvent OnRestart;
    TNotifyEvent OnChange;
    TMMBufferEvent OnData;

private:
    bool m_formatLock = false;
    std::unique_ptr<TMMWaveFile> m_waveFile;
    std::unique_ptr<TMMWaveIn> m_waveIn;
};
