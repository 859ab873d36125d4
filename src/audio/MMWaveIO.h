#pragma once

#include "audio/MMRIFF.h"
#include "audio/WaveFormat.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

// The bookkeeping of one attached WAVE file and the routines that create,
// append to, finalise and read it.
//
// Threads: one record is used by one thread at a time.

struct WaveDispEntry {
    std::uint32_t type = 0; // 1 text, 8 picture data
    std::string data;
};

struct WaveInfoEntry {
    FOURCC id = 0;
    std::string text;
};

struct WaveIORecord {
    std::uint32_t flags = 0;
    std::unique_ptr<RiffFile> file; // none while closed
    TMMCKInfo ckRIFF;
    TMMCKInfo ckData;
    std::int64_t fileSize = 0;
    std::int64_t dataBytes = 0;
    std::int64_t dataOffset = 0;
    std::int64_t totalSamples = 0;
    std::int64_t firstSample = 0;
    std::int64_t lastSample = 0;
    std::int64_t bytesRemaining = 0;
    std::int64_t currentSample = 0;
    std::filesystem::path fileName;
    std::vector<WaveDispEntry> disp;
    std::vector<WaveInfoEntry> info;
    WaveFormatPtr format;
    // Created by this run (not reopened): its sizes need no reset on close.
    bool created = false;

    [[nodiscard]] bool isOpen() const { return file && file->isOpen(); }
};

// Nearest whole samples of a byte count.
[[nodiscard]] std::int64_t wioBytesToSamples(const TWaveFormatEx *f, std::int64_t bytes);
// Bytes of a sample count, raised to whole blocks.
[[nodiscard]] std::int64_t wioSamplesToBytes(const TWaveFormatEx *f, std::int64_t samples);
[[nodiscard]] std::int64_t wioSamplesToTime(const TWaveFormatEx *f, std::int64_t samples);
[[nodiscard]] std::int64_t wioTimeToSamples(const TWaveFormatEx *f, std::int64_t ms);

// Creates the file with its header ("RIFF" "WAVE", "fmt " with the format,
// an open "data" chunk). Returns none, with nothing left on disk, when any
// step fails.
[[nodiscard]] std::unique_ptr<WaveIORecord> wioCreateFile(const std::filesystem::path &path,
                                                          const TWaveFormatEx *format);

// Appends to the "data" chunk; returns the count written, 0 when the write
// failed, -1 without an open file or with count 0.
std::int32_t wioWriteData(WaveIORecord &io, const void *data, std::int32_t count);

// Finalises an open file whose data chunk was written (data size and pad,
// "fact", display and information chunks, RIFF size), then closes it.
// False when a step failed (the file is closed anyway).
bool wioCloseFile(WaveIORecord &io);

// Reopens an attached file to append to its data (sizes are rewritten on
// close). False when it cannot be opened.
bool wioReopenFile(WaveIORecord &io);

enum class WioReadError { None, Missing, NotWave, Damaged };

// Reads the header of an existing WAVE file: format, data size, total
// samples, display and information entries. Never trusts a size it reads.
[[nodiscard]] std::unique_ptr<WaveIORecord> wioReadFileInfo(const std::filesystem::path &path,
                                                            WioReadError &error);
