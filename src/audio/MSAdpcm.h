#pragma once

#include "audio/WaveFormat.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

// Microsoft ADPCM (format tag 2): 4 bits per sample, blocks that each start
// with a header per channel (predictor index, step size, two verbatim
// samples) and decode on their own.
//
// Pure functions and small value classes; safe on any thread, one object per
// thread.
namespace msadpcm {

struct Coefficient {
    std::int16_t c1;
    std::int16_t c2;
};

// The standard coefficient set that every decoder knows.
inline constexpr std::array<Coefficient, 7> kStandardCoefficients{{
    {256, 0}, {512, -256}, {0, 0}, {192, 64}, {240, 0}, {460, -208}, {392, -232}}};

// Header bytes per channel at the start of every block.
inline constexpr int kHeaderBytesPerChannel = 7;

// Sample frames in a full block: two verbatim ones plus two per byte and
// channel of the rest.
[[nodiscard]] constexpr int samplesPerBlock(int blockAlign, int channels)
{
    if (channels <= 0 || blockAlign < kHeaderBytesPerChannel * channels)
        return 0;
    return (blockAlign - kHeaderBytesPerChannel * channels) * 2 / channels + 2;
}

// The format record of an MS ADPCM stream with the standard coefficients:
// 18 + 32 bytes (cbSize 32), as a recorder writes it into "fmt ".
[[nodiscard]] WaveFormatPtr makeFormat(std::uint32_t sampleRate, std::uint16_t channels,
                                       std::uint16_t blockAlign);

// The test window's recording format: 44100 Hz stereo, 2048-byte blocks of
// 2036 frames, 44359 bytes per second.
[[nodiscard]] WaveFormatPtr answerFormat();

// Thrown for a format record that does not describe a decodable stream.
class FormatError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The parameters a decoder needs, read and checked from a format record.
struct StreamFormat {
    int channels = 0;
    int blockAlign = 0;
    int samplesPerBlock = 0;
    std::vector<Coefficient> coefficients;
};

// Throws FormatError when f is not a usable MS ADPCM format (wrong tag, no
// or too many channels, a block too small, a samples-per-block value that
// the block cannot hold, no coefficients).
[[nodiscard]] StreamFormat parseFormat(const TWaveFormatEx *f);

// Decoders disagree on how the prediction is rounded: some shift (floor, as
// sox does), some divide (toward zero, as ffmpeg and so the player do).
enum class Rounding { Floor, TowardZero };

class Decoder
{
public:
    explicit Decoder(StreamFormat format, Rounding rounding = Rounding::Floor);

    [[nodiscard]] const StreamFormat &format() const { return m_format; }

    // Decodes one block (the last one of a stream may be shorter than the
    // block alignment) into interleaved 16-bit frames. Returns the number of
    // frames written (out needs samplesPerBlock * channels values), or -1
    // for a block too short to hold its headers or naming a predictor the
    // format does not have.
    [[nodiscard]] int decodeBlock(std::span<const std::uint8_t> block, std::int16_t *out) const;

    // Decodes a whole stream of blocks; stops at the first bad block.
    [[nodiscard]] std::vector<std::int16_t> decode(std::span<const std::uint8_t> data) const;

private:
    StreamFormat m_format;
    Rounding m_rounding;
};

// Encodes 16-bit interleaved PCM into blocks with the standard coefficients.
// For each block and channel it tries every predictor with a range of
// initial step sizes, then searches the nibbles with a small trellis. Its
// cost is the squared error as heard through both kinds of decoder (Rounding
// Floor and TowardZero), so the stream keeps its quality in either.
class Encoder
{
public:
    Encoder(int channels, int blockAlign);

    [[nodiscard]] int channels() const { return m_channels; }
    [[nodiscard]] int blockAlign() const { return m_blockAlign; }
    [[nodiscard]] int samplesPerBlock() const { return m_samplesPerBlock; }

    // Encodes frameCount frames (at most samplesPerBlock) into one block of
    // blockAlign bytes; a short input is padded by repeating its last frame
    // (silence when empty).
    void encodeBlock(const std::int16_t *frames, int frameCount, std::uint8_t *out);

    // Number of trellis paths kept per sample: 1 is a plain greedy search.
    void setTrellisWidth(int width);

private:
    int m_channels;
    int m_blockAlign;
    int m_samplesPerBlock;
    int m_trellisWidth = 2;
    std::vector<std::int16_t> m_channelBuf;
    std::vector<std::uint8_t> m_nibbles;
    std::vector<std::uint8_t> m_trialNibbles;
    std::vector<std::uint8_t> m_backtrack;
};

// Convenience for tests and tools: encodes a whole interleaved signal
// (padding the last block) and returns the blocks.
[[nodiscard]] std::vector<std::uint8_t> encode(std::span<const std::int16_t> pcm, int channels,
                                               int blockAlign, int trellisWidth = 2);

} // namespace msadpcm
