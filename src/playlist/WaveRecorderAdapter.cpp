#include "playlist/AnswerRecorder.h"

#include "audio/MMWRec.h"
#include "audio/MMWave.h"
#include "audio/MMWavIn.h"

namespace {

// The answer recorder of the test window: a TMMWaveRecorder with the
// layout's settings (MS ADPCM, 44100 Hz stereo from the wave mapper, 20
// buffers of 4096 bytes, window-message callbacks, no time limit, files
// overwritten). Its output feeds the meters' connector.
class WaveRecorderAdapter : public AnswerRecorder
{
public:
    explicit WaveRecorderAdapter(QObject *owner) : m_recorder(new TMMWaveRecorder(owner))
    {
        m_recorder->setObjectName(QStringLiteral("WaveRecorder"));
        m_recorder->ApplyAnswerLayout();
    }

    void setFileName(const QString &windowsPath) override { m_recorder->Wave()->SetFileName(windowsPath); }
    QString fileName() const override { return m_recorder->Wave()->FileName(); }
    void Start() override { m_recorder->Start(); }
    void Stop() override { m_recorder->Stop(); }
    bool recording() const override { return (m_recorder->State() & wsRecording) != 0; }
    TMMDSPComponent *meterSource() override { return m_recorder; }

private:
    TMMWaveRecorder *m_recorder; // owned by the window, like its other components
};

} // namespace

std::unique_ptr<AnswerRecorder> makeWaveRecorderAdapter(QObject *owner)
{
    return std::make_unique<WaveRecorderAdapter>(owner);
}
