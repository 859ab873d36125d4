#pragma once

#include "audio/WaveFormat.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Signals, WAVE files and measurements shared by the audio tests.
namespace audiotest {

// Stereo test signals, interleaved 16-bit.
[[nodiscard]] std::vector<std::int16_t> chirp(int frames, int sampleRate, int channels,
                                              double amplitude = 12000.0);
// Mixture of tones and a little noise, like music (deterministic).
[[nodiscard]] std::vector<std::int16_t> musicLike(int frames, int sampleRate, int channels);
// Speech from espeak-ng resampled by sox to rate/channels; empty when the
// tools fail.
[[nodiscard]] std::vector<std::int16_t> speech(const std::filesystem::path &dir, int sampleRate,
                                               int channels);

// Writes a plain RIFF WAVE file: "fmt " with the given format bytes, an
// optional "fact", then "data".
void writeWave(const std::filesystem::path &p, const TWaveFormatEx *fmt, const void *data,
               std::size_t size, bool withFact = true);
void writePcmWave(const std::filesystem::path &p, const std::vector<std::int16_t> &pcm,
                  int sampleRate, int channels);

// Reads the "data" chunk of a 16-bit PCM WAVE file (as sox/ffmpeg write).
[[nodiscard]] std::vector<std::int16_t> readPcmWave(const std::filesystem::path &p);

// Decodes a file to 16-bit PCM with sox / ffmpeg; empty on failure.
[[nodiscard]] std::vector<std::int16_t> decodeWithSox(const std::filesystem::path &in,
                                                      const std::filesystem::path &tmp);
[[nodiscard]] std::vector<std::int16_t> decodeWithFfmpeg(const std::filesystem::path &in,
                                                         const std::filesystem::path &tmp);

// Signal-to-noise ratio in dB of `decoded` against `reference` over the
// first n values both have.
[[nodiscard]] double snrDb(const std::vector<std::int16_t> &reference,
                           const std::vector<std::int16_t> &decoded);

// Little-endian readers over a byte string.
[[nodiscard]] std::uint32_t le32(const std::string &s, std::size_t at);
[[nodiscard]] std::uint16_t le16(const std::string &s, std::size_t at);

} // namespace audiotest
