#include "audio/MMWave.h"

#include "platform/WinPath.h"

#include <QLocale>

#include <algorithm>
#include <system_error>

namespace fs = std::filesystem;

namespace {

FreeSpaceQuery &freeSpaceQuery()
{
    static FreeSpaceQuery query;
    return query;
}

std::uintmax_t freeSpaceFor(const fs::path &file)
{
    const fs::path folder = file.parent_path();
    if (freeSpaceQuery())
        return freeSpaceQuery()(folder);
    return platform::freeDiskSpace(folder);
}

// A Windows path ("c:\recording\a.wav") or a host path, made absolute.
fs::path expandName(const QString &name)
{
    if (name.isEmpty())
        return {};
    fs::path p = platform::hostPath(name);
    std::error_code ec;
    fs::path abs = fs::absolute(p, ec);
    return ec ? p : abs.lexically_normal();
}

QString pathText(const fs::path &p)
{
    return QString::fromStdString(p.string());
}

std::int64_t sizeOnDisk(const fs::path &p)
{
    std::error_code ec;
    const auto size = fs::file_size(p, ec);
    return ec ? -1 : static_cast<std::int64_t>(size);
}

struct TagName {
    std::uint16_t tag;
    const char *name;
};

constexpr TagName kTagNames[] = {
    {0x0000, "Unknown"}, {0x0001, "PCM"}, {0x020C, "PCM 32"}, {0x0002, "Microsoft ADPCM"},
    {0x0003, "Mediavision's ADPCM"}, {0x0005, "IBM CVSD"}, {0x0006, "CCITT A-Law"},
    {0x0007, "CCITT mu-Law"}, {0x0010, "OKI ADPCM"}, {0x0011, "IMA ADPCM"}, {0x0011, "DVI ADPCM"},
    {0x0012, "Mediaspace's ADPCM"}, {0x0013, "Sierra's ADPCM"}, {0x0014, "CCITT G.723 ADPCM"},
    {0x0015, "Digisound DIGISTD"}, {0x0016, "Digisound DIGIFIX"}, {0x0017, "Dialogic OKI ADPCM"},
    {0x0020, "Yamaha ADPCM"}, {0x0021, "Sonarc"}, {0x0022, "DSP Group's Truespeech"},
    {0x0023, "Echo SC1"}, {0x0024, "Audiofile AF36"}, {0x0025, "Audio Processing Technology"},
    {0x0026, "Audiofile AF10"}, {0x0030, "Dolby AC2"}, {0x0209, "Dolby AC2"}, {0x0031, "GSM 6.10"},
    {0x0033, "Antex ADPCME"}, {0x0039, "CS IMA ADPCM"}, {0x0040, "CCITT G.721 ADPCM"},
    {0x0050, "MPEG 1"}, {0x0055, "MPEG Layer-3"}, {0x0200, "Creative's ADPCM"},
    {0x1001, "Olivetti's ADPCM"}, {0x0204, "CDI-C"}, {0x0205, "CDI-B"},
    {0x0206, "Antex-DVI-OKI ADPCME"}, {0xFFFF, "*DEVELOPMENT ONLY TAG*"},
};

} // namespace

void setFreeSpaceQuery(FreeSpaceQuery query)
{
    freeSpaceQuery() = std::move(query);
}

QString waveFormatTagName(std::uint16_t tag)
{
    for (const TagName &t : kTagNames)
        if (t.tag == tag)
            return QString::fromLatin1(t.name);
    return QStringLiteral("Unknown");
}

QString waveFormatDescription(const TWaveFormatEx *f)
{
    if (!f || f->nSamplesPerSec == 0 || f->nChannels == 0)
        return QString();
    const QString dec = QLocale::system().decimalPoint();
    const QString list = QStringLiteral(",");
    const std::uint32_t rate = f->nSamplesPerSec;
    const std::uint32_t bits = static_cast<std::uint32_t>(
        static_cast<std::uint64_t>(f->nAvgBytesPerSec) * 8 / rate / f->nChannels);
    QString text = QStringLiteral("%1%2%3 kHz%4 %5 Bit%6 ")
                       .arg(rate / 1000)
                       .arg(dec)
                       .arg(rate % 1000, 3, 10, QLatin1Char('0'))
                       .arg(list)
                       .arg(bits)
                       .arg(list);
    if (f->nChannels == 1)
        text += QStringLiteral("Mono");
    else if (f->nChannels == 2)
        text += QStringLiteral("Stereo");
    else
        text += QStringLiteral("%1 Channels").arg(f->nChannels);
    return text;
}

// ---------------------------------------------------------------------------

TMMWave::TMMWave() = default;

TMMWave::~TMMWave()
{
    if (m_io && m_io->isOpen())
        wioCloseFile(*m_io);
}

void TMMWave::Assign(const TMMWave &other)
{
    if (&other == this)
        return;
    m_timeFormat = other.m_timeFormat;
    FileMustExist = other.FileMustExist;
    m_ioBufferSize = other.m_ioBufferSize;
    SetFileName(other.m_fileName);
}

void TMMWave::SetIOBufferSize(std::int32_t n)
{
    m_ioBufferSize = std::max(n, 8192);
}

int TMMWave::AddObserver(Observer o)
{
    const int token = m_nextObserver++;
    m_observers.insert(m_observers.begin(), {token, std::move(o)});
    return token;
}

void TMMWave::RemoveObserver(int token)
{
    std::erase_if(m_observers, [&](const auto &e) { return e.first == token; });
}

void TMMWave::notify()
{
    const auto observers = m_observers;
    for (const auto &o : observers)
        o.second();
    if (OnChange)
        OnChange(this);
}

void TMMWave::detach()
{
    if (!m_io)
        return;
    if (m_io->isOpen())
        wioCloseFile(*m_io);
    m_io.reset();
}

void TMMWave::attach(std::unique_ptr<WaveIORecord> io)
{
    detach();
    m_io = std::move(io);
}

void TMMWave::SetFileName(const QString &name)
{
    const fs::path expanded = expandName(name);
    const QString text = pathText(expanded);
    if (text == m_fileName && sizeOnDisk(expanded) == FileSize())
        return;
    if (text.isEmpty()) {
        detach();
        m_fileName.clear();
        notify();
        return;
    }
    WioReadError err = WioReadError::None;
    std::unique_ptr<WaveIORecord> io = wioReadFileInfo(expanded, err);
    if (io) {
        attach(std::move(io));
        m_fileName = text;
        notify();
        return;
    }
    if (err != WioReadError::Missing || FileMustExist)
        throw EMMWaveError(m_io ? kWaveErrorReading : kWaveInvalidFile);
    detach();
    m_fileName = text;
    notify();
}

void TMMWave::CreateWaveFile(const QString &name, const TWaveFormatEx *format)
{
    if (MemoryWave)
        throw EMMWaveError(kWaveMemoryWave);
    if (name.isEmpty() || !format)
        return;
    const fs::path path = expandName(name);
    std::error_code ec;
    if (path.empty() || path.filename().empty() || fs::is_directory(path, ec))
        throw EMMWaveError(kWaveCantCreate);
    if (fs::exists(path, ec))
        fs::remove(path, ec);
    std::unique_ptr<WaveIORecord> io = wioCreateFile(path, format);
    if (!io)
        throw EMMWaveError(kWaveCantCreate);
    detach();
    m_fileName.clear();
    m_io = std::move(io);
    notify();
    m_fileName = pathText(path);
    if (!m_io->file->setBuffer(static_cast<std::size_t>(m_ioBufferSize)))
        throw EMMWaveError(kWaveCantSetupIO);
}

std::int32_t TMMWave::WriteWaveData(const void *data, std::int32_t count)
{
    if (MemoryWave)
        throw EMMWaveError(kWaveMemoryWave);
    if (!m_io)
        return -1;
    return wioWriteData(*m_io, data, count);
}

void TMMWave::CloseWaveFile()
{
    if (m_io)
        wioCloseFile(*m_io);
}

void TMMWave::OpenFile()
{
    if (m_io && !m_io->isOpen() && !wioReopenFile(*m_io))
        throw EMMWaveError(kWaveErrorReading);
}

const TWaveFormatEx *TMMWave::PWaveFormat() const
{
    return m_io ? m_io->format.get() : nullptr;
}

TMMBits TMMWave::BitLength() const
{
    const TWaveFormatEx *f = PWaveFormat();
    return f && f->wBitsPerSample == 16 ? b16Bit : b8Bit;
}

TMMMode TMMWave::Mode() const
{
    const TWaveFormatEx *f = PWaveFormat();
    return f && f->nChannels == 2 ? mStereo : mMono;
}

std::uint16_t TMMWave::FormatTag() const
{
    const TWaveFormatEx *f = PWaveFormat();
    return f ? f->wFormatTag : 0;
}

QString TMMWave::FormatString() const
{
    const TWaveFormatEx *f = PWaveFormat();
    if (!f)
        return QStringLiteral("Unknown");
    return waveFormatTagName(f->wFormatTag) + QLatin1Char(' ') + waveFormatDescription(f);
}

std::int32_t TMMWave::SampleRate() const
{
    const TWaveFormatEx *f = PWaveFormat();
    return f ? static_cast<std::int32_t>(f->nSamplesPerSec) : 11025;
}

std::int64_t TMMWave::FileSize() const
{
    return m_io ? m_io->fileSize : 0;
}

std::int64_t TMMWave::DataSize() const
{
    if (!m_io)
        return 0;
    const TWaveFormatEx *f = m_io->format.get();
    switch (m_timeFormat) {
    case tfMillisecond: return wioSamplesToTime(f, m_io->totalSamples);
    case tfByte: return wioSamplesToBytes(f, m_io->totalSamples);
    case tfSample: break;
    }
    return m_io->totalSamples;
}

std::int64_t TMMWave::DataBytes() const
{
    return m_io ? m_io->dataBytes : 0;
}

// ---------------------------------------------------------------------------

TMMCustomWaveFile::TMMCustomWaveFile(QObject *owner)
    : TMMDSPComponent(owner)
    , m_wave(std::make_unique<TMMWave>())
{
    m_publishesInput = true;
    m_publishesOutput = true;
    m_observerToken = m_wave->AddObserver([this] { waveChanged(); });
}

TMMCustomWaveFile::~TMMCustomWaveFile()
{
    MarkDestroying();
    try {
        Closed();
    } catch (...) {
        // Finalising is best effort while tearing down.
    }
    m_wave->RemoveObserver(m_observerToken);
}

void TMMCustomWaveFile::SetPWaveFormat(const TWaveFormatEx *f)
{
    TMMDSPComponent::SetPWaveFormat(f);
    const TWaveFormatEx *held = PWaveFormat();
    m_silence = held && held->wFormatTag == WAVE_FORMAT_PCM && held->wBitsPerSample == 8 ? 128 : 0;
}

void TMMCustomWaveFile::waveChanged()
{
    if (OnChange)
        OnChange(this);
    struct Changed {
        TMMCustomWaveFile *self;
        ~Changed()
        {
            if (self->OnChanged)
                self->OnChanged(self);
        }
    } changed{this};
    if (m_wave->FileMustExist || m_wave->PWaveFormat())
        SetPWaveFormat(m_wave->PWaveFormat());
}

void TMMCustomWaveFile::Opened()
{
    TMMDSPComponent::Opened();
    if (m_fileOpen)
        return;
    if (Input()) {
        SetPWaveFormat(Input()->PWaveFormat());
        if (PWaveFormat() && !m_wave->FileName().isEmpty()) {
            if (OverwriteExisting || m_wave->DataSize() == 0)
                m_wave->CreateWaveFile(m_wave->FileName(), PWaveFormat());
            else
                m_wave->OpenFile();
            m_fileOpen = true;
        }
    }
    if (m_fileOpen)
        CallSynchronized(OnOpen, this);
}

void TMMCustomWaveFile::Started()
{
    TMMDSPComponent::Started();
    if (m_fileOpen && !m_writing)
        m_writing = true;
}

void TMMCustomWaveFile::Stopped()
{
    if (m_fileOpen && m_writing)
        m_writing = false;
    TMMDSPComponent::Stopped();
}

void TMMCustomWaveFile::Closed()
{
    if (m_fileOpen) {
        Stopped();
        // An answer in which nothing arrived still gets a data chunk that
        // players accept. Judged by bytes, not by DataSize in time units:
        // a few samples round to 0 ms and must not be followed by zeros.
        if (Input() && !m_wave->FileName().isEmpty() && PWaveFormat() && m_wave->DataBytes() == 0) {
            const std::uint8_t zeros[4] = {0, 0, 0, 0};
            m_wave->WriteWaveData(zeros, 4);
        }
        m_wave->CloseWaveFile();
        m_fileOpen = false;
        if (!(ComponentState() & csDestroying))
            CallSynchronized(OnClose, this);
    }
    TMMDSPComponent::Closed();
}

void TMMCustomWaveFile::BufferReady(PWaveHdr lpWaveHdr)
{
    if (m_writing && Enabled && Input() && !m_wave->FileName().isEmpty() && lpWaveHdr
        && lpWaveHdr->dwBytesRecorded > 0) {
        const std::uint32_t c = lpWaveHdr->dwBytesRecorded;
        const std::uintmax_t need = static_cast<std::uintmax_t>(m_wave->IOBufferSize()) + c + 10240;
        const std::uintmax_t available = freeSpaceFor(platform::hostPath(m_wave->FileName()));
        std::int32_t written = 0;
        if (available >= need)
            written = m_wave->WriteWaveData(lpWaveHdr->lpData, static_cast<std::int32_t>(c));
        // A full disk or a failed write ends the recording with a complete
        // file and without a message.
        if (written <= 0)
            Closed();
    }
    TMMDSPComponent::BufferReady(lpWaveHdr);
}

TMMWaveFile::TMMWaveFile(QObject *owner)
    : TMMCustomWaveFile(owner)
{
}
