#pragma once

#include "audio/MMDSPObj.h"
#include "audio/MMWaveIO.h"

#include <QString>

#include <filesystem>

#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

// The WAVE file object (TMMWave) and the chain member that writes the data
// passing through it into that file (TMMCustomWaveFile / TMMWaveFile).
//
// Threads: TMMWave and the writer's properties on the UI thread; the
// writer's BufferReady on whichever thread the capture device hands buffers
// over (the UI thread in cmWindow mode).

inline constexpr const char *kWaveCantCreate = "Unable to create wave file";
inline constexpr const char *kWaveCantSetupIO = "Unable to setup file IO buffer";
inline constexpr const char *kWaveMemoryWave = "Can't write to MemoryWave";
inline constexpr const char *kWaveInvalidFile = "Invalid wave file...";
inline constexpr const char *kWaveErrorReading = "Error reading wave file";

class EMMWaveError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// Name of a format tag from the built-in table ("Unknown" for others).
[[nodiscard]] QString waveFormatTagName(std::uint16_t tag);
// Description such as "44.100 kHz, 4 Bit, Stereo", with the user's decimal
// separator.
[[nodiscard]] QString waveFormatDescription(const TWaveFormatEx *f);

// Free bytes on the volume of a file's folder. Tests replace the query to
// play a nearly full disk; nullptr restores the real one.
using FreeSpaceQuery = std::function<std::uintmax_t(const std::filesystem::path &)>;
void setFreeSpaceQuery(FreeSpaceQuery query);

// A persistent object with a change event (the runtime's TMMObject).
class TMMObject
{
public:
    virtual ~TMMObject() = default;
    std::function<void(TMMObject *Sender)> OnChange;
};

class TMMWave : public TMMObject
{
public:
    TMMWave();
    ~TMMWave() override;
    TMMWave(const TMMWave &) = delete;
    TMMWave &operator=(const TMMWave &) = delete;

    // Copies the settings (not the file) of another wave object.
    void Assign(const TMMWave &other);

    // A Windows path ("c:\recording\a.wav") or a host path. Setting it to an
    // existing WAVE file reads that file's header; see the class comment of
    // the writer for what setting it while recording does.
    void SetFileName(const QString &name);
    [[nodiscard]] const QString &FileName() const { return m_fileName; }

    void SetTimeFormat(TMMTimeFormats t) { m_timeFormat = t; }
    [[nodiscard]] TMMTimeFormats TimeFormat() const { return m_timeFormat; }
    bool FileMustExist = true;
    void SetIOBufferSize(std::int32_t n);
    [[nodiscard]] std::int32_t IOBufferSize() const { return m_ioBufferSize; }
    // Holds its data in memory instead of a file (never true in this program;
    // such a wave cannot be written).
    bool MemoryWave = false;

    [[nodiscard]] TMMBits BitLength() const;
    [[nodiscard]] TMMMode Mode() const;
    [[nodiscard]] std::uint16_t FormatTag() const;
    [[nodiscard]] QString FormatString() const;
    [[nodiscard]] std::int32_t SampleRate() const;
    [[nodiscard]] std::int64_t FileSize() const;
    // Samples of the file in TimeFormat units; 0 without a file.
    [[nodiscard]] std::int64_t DataSize() const;
    // Bytes in the "data" chunk.
    [[nodiscard]] std::int64_t DataBytes() const;
    [[nodiscard]] const TWaveFormatEx *PWaveFormat() const;
    [[nodiscard]] bool HasFile() const { return m_io != nullptr; }
    [[nodiscard]] bool FileIsOpen() const { return m_io && m_io->isOpen(); }

    void CreateWaveFile(const QString &name, const TWaveFormatEx *format);
    // Bytes written, 0 when nothing could be written, -1 without an open file.
    std::int32_t WriteWaveData(const void *data, std::int32_t count);
    // Finalises and closes the open file; the record stays attached.
    void CloseWaveFile();
    // Reopens the attached file for appending (not used while recording).
    void OpenFile();

    using Observer = std::function<void()>;
    // Newest observers are told first. Returns a token for RemoveObserver.
    int AddObserver(Observer o);
    void RemoveObserver(int token);

    std::function<void(TMMObject *Sender, std::int64_t CurByte, std::int64_t NumBytes, bool &Cancel)>
        OnProgress;

private:
    void attach(std::unique_ptr<WaveIORecord> io);
    void detach();
    void notify();

    QString m_fileName;
    TMMTimeFormats m_timeFormat = tfSample;
    std::int32_t m_ioBufferSize = 32768;
    std::unique_ptr<WaveIORecord> m_io;
    std::vector<std::pair<int, Observer>> m_observers;
    int m_nextObserver = 1;
};

class TMMCustomWaveFile : public TMMDSPComponent
{
    Q_OBJECT
public:
    explicit TMMCustomWaveFile(QObject *owner = nullptr);
    ~TMMCustomWaveFile() override;

    [[nodiscard]] TMMWave *Wave() const { return m_wave.get(); }
    void SetWave(const TMMWave &w) { m_wave->Assign(w); }

    bool Enabled = true;
    bool OverwriteExisting = true;
    [[nodiscard]] bool FileOpen() const { return m_fileOpen; }
    [[nodiscard]] bool Writing() const { return m_writing; }

    void SetPWaveFormat(const TWaveFormatEx *f) override;
    void Opened() override;
    void Closed() override;
    void Started() override;
    void Stopped() override;
    void BufferReady(PWaveHdr lpWaveHdr) override;

    TNotifyEvent OnOpen;
    TNotifyEvent OnClose;
    TNotifyEvent OnChange;
    TNotifyEvent OnChanged;
    TNotifyEvent OnLooping;

private:
    void waveChanged();

    std::unique_ptr<TMMWave> m_wave;
    int m_observerToken = 0;
    std::uint8_t m_silence = 0;
    bool m_fileOpen = false;
    bool m_writing = false;
};

class TMMWaveFile : public TMMCustomWaveFile
{
    Q_OBJECT
public:
    explicit TMMWaveFile(QObject *owner = nullptr);
};
