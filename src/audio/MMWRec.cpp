#include "audio/MMWRec.h"

#include "audio/MSAdpcm.h"
#include "platform/AppTitle.h"
#include "platform/Dialogs.h"

TMMWaveRecorder::TMMWaveRecorder(QObject *owner)
    : TMMDSPComponent(owner)
{
    m_publishesOutput = true;

    m_waveFile = std::make_unique<TMMWaveFile>();
    m_waveFile->Wave()->FileMustExist = false;
    m_waveFile->OnChange = [this](TMMComponent *) {
        m_formatLock = true;
        Stop();
        if (OnChange)
            OnChange(this);
    };
    m_waveFile->OnChanged = [this](TMMComponent *) { m_formatLock = false; };
    m_waveFile->OnClose = [this](TMMComponent *) { Stop(); };

    m_waveIn = std::make_unique<TMMWaveIn>();
    m_waveIn->SetOutput(m_waveFile.get());
    m_waveIn->OnOpen = [this](TMMComponent *) {
        if (OnStart)
            OnStart(this);
    };
    m_waveIn->OnStop = [this](TMMComponent *) {
        m_waveIn->Close();
        if (OnStop)
            OnStop(this);
    };
    m_waveIn->OnPause = [this](TMMComponent *) {
        if (OnPause)
            OnPause(this);
    };
    m_waveIn->OnRestart = [this](TMMComponent *) {
        if (OnRestart)
            OnRestart(this);
    };
    m_waveIn->OnBufferReady = [this](TMMComponent *, PWaveHdr hdr) {
        if (OnData)
            OnData(this, hdr);
    };

    // The recorder publishes no Input: it accepts the writer only while it
    // links it in here.
    AcceptsInput = true;
    m_waveFile->SetOutput(this);
    AcceptsInput = false;
    m_formatLock = false;
}

TMMWaveRecorder::~TMMWaveRecorder()
{
    MarkDestroying();
    try {
        Stop();
    } catch (...) {
        // Best effort while tearing down; the writer still finalises below.
    }
    m_waveFile.reset();
    m_waveIn.reset();
}

void TMMWaveRecorder::Start()
{
    if ((m_waveIn->State() & wsRecording) || Wave()->FileName().isEmpty())
        return;
    m_waveIn->Start();
}

void TMMWaveRecorder::Stop()
{
    m_waveIn->Stop();
    m_waveIn->Close();
}

void TMMWaveRecorder::SetTimeFormat(TMMTimeFormats t)
{
    m_waveIn->SetTimeFormat(t);
    Wave()->SetTimeFormat(t);
}

QString TMMWaveRecorder::InputFormat() const
{
    const TWaveFormatEx *f = PWaveFormat();
    if (!f)
        return QStringLiteral("Unknown");
    return waveFormatTagName(f->wFormatTag) + QLatin1Char(' ') + waveFormatDescription(f);
}

void TMMWaveRecorder::SetInputFormat(const QString &)
{
    platform::messageBox(nullptr, QStringLiteral("This is a read-only property, please use SelectFormat."),
                         platform::applicationTitle(), platform::MsgIcon::Information, platform::MsgButtons::Ok);
}

std::string TMMWaveRecorder::WaveFormatEx() const
{
    const TWaveFormatEx *f = m_waveIn->PWaveFormat();
    if (!PWaveFormat() || !f || f->wFormatTag == WAVE_FORMAT_PCM)
        return {};
    return waveFormatBytes(f);
}

void TMMWaveRecorder::SetWaveFormatEx(const std::string &bytes)
{
    WaveFormatPtr f = waveFormatFromBytes(bytes.data(), bytes.size());
    if (!f)
        return;
    m_waveIn->SetPWaveFormat(f.get());
}

void TMMWaveRecorder::ApplyAnswerLayout()
{
    BeginLoading();
    Wave()->SetTimeFormat(tfMillisecond);
    Wave()->FileMustExist = false;
    SetBufferSize(4096);
    SetNumBuffers(20);
    SetDeviceID(MapperId);
    SetTimeFormat(tfMillisecond);
    SetCallBackMode(cmWindow);
    SetMaxRecordTime(-1);
    SetMode(mStereo);
    SetBitLength(b16Bit);
    SetSampleRate(44100);
    SetOverwriteExisting(true);
    const WaveFormatPtr adpcm = msadpcm::answerFormat();
    SetWaveFormatEx(waveFormatBytes(adpcm.get()));
    EndLoading();
}

void TMMWaveRecorder::SetPWaveFormat(const TWaveFormatEx *f)
{
    if (m_formatLock)
        return;
    if (!m_waveIn) {
        // Construction: the wave-in is not there yet.
        TMMDSPComponent::SetPWaveFormat(f);
        return;
    }
    const TWaveFormatEx *inFormat = m_waveIn->PWaveFormat();
    if (f && !sameWaveFormat(f, inFormat)) {
        m_waveIn->SetPWaveFormat(f);
        return;
    }
    TMMDSPComponent::SetPWaveFormat(f);
}
