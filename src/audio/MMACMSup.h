#pragma once

#include "audio/MMACM.h"
#include "audio/WaveFormat.h"

#include <cstdint>
#include <memory>
#include <vector>

// Format conversion for the displays: suggesting a PCM format for a
// compressed one, checking that a conversion is possible (directly or
// through one intermediate format), and running a chain of ACM stages over
// fixed buffers. Used by the connector under its buffer lock.

// One ACM stream with its prepared header and output buffer.
struct AcmStage;

class AcmConversion
{
public:
    AcmConversion(std::uint8_t *source, std::uint32_t sourceSize);
    // Unprepares, closes and releases every stage, last first.
    ~AcmConversion();
    AcmConversion(const AcmConversion &) = delete;
    AcmConversion &operator=(const AcmConversion &) = delete;

    [[nodiscard]] std::uint8_t *Source() const { return m_source; }
    [[nodiscard]] std::uint32_t SourceSize() const { return m_sourceSize; }
    [[nodiscard]] std::uint8_t *Output() const { return m_output; }
    [[nodiscard]] std::uint32_t OutputSize() const { return m_outputSize; }
    [[nodiscard]] int StageCount() const { return static_cast<int>(m_stages.size()); }

private:
    friend bool addStage(AcmConversion &c, const TWaveFormatEx *a, const TWaveFormatEx *b,
                         bool realTimeOnly);
    friend int Convert(AcmConversion *conversion, int count);

    std::uint8_t *m_source;
    std::uint32_t m_sourceSize;
    std::uint8_t *m_output = nullptr;
    std::uint32_t m_outputSize = 0;
    std::vector<std::unique_ptr<AcmStage>> m_stages;
};

using AcmConversionPtr = std::unique_ptr<AcmConversion>;

// Two formats differ when tag, bits per sample, channels or rate differ.
[[nodiscard]] bool FormatsDiffer(const TWaveFormatEx *a, const TWaveFormatEx *b);

// A PCM format for `in` (a PCM input is copied), or the all-zero record
// (format tag 0) when none can be found.
[[nodiscard]] TWaveFormatEx SuggestPCMFormat(const TWaveFormatEx *in);

[[nodiscard]] bool CanConvert(const TWaveFormatEx *from, const TWaveFormatEx *to,
                              bool realTimeOnly);

// Builds the stages over the caller's source buffer (bufferSize bytes, of
// which the part rounded down to from's block alignment is used). None when
// there is no usable ACM, a format is missing, the formats do not differ
// or any stage cannot be built.
[[nodiscard]] AcmConversionPtr OpenConversion(const TWaveFormatEx *from, const TWaveFormatEx *to,
                                              std::uint8_t *source, bool realTimeOnly,
                                              int bufferSize);

// Converts count bytes at the start of the source buffer (at most its
// source size). Returns the bytes of output, or -1 when a stage fails. An
// incomplete block at the end is carried over to the next call.
[[nodiscard]] int Convert(AcmConversion *conversion, int count);

void CloseConversion(AcmConversionPtr &conversion);
