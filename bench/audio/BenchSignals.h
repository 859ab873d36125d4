#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

// Test signals and file helpers of the audio benchmarks.
namespace benchsig {

// Spoken English from espeak-ng at 44100 Hz stereo (empty when the tools
// fail); `seconds` is filled by repeating the phrase.
std::vector<std::int16_t> speech(const std::filesystem::path &dir, double seconds);
// Tones with moving envelopes and a little noise.
std::vector<std::int16_t> music(double seconds);

void writeWave(const std::filesystem::path &p, const std::string &fmtBytes, const void *data, std::size_t size);
std::vector<std::int16_t> readPcmData(const std::filesystem::path &p);
double snrDb(const std::vector<std::int16_t> &ref, const std::vector<std::int16_t> &got);
int run(const std::string &cmd);

} // namespace benchsig
