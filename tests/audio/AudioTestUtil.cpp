#include "AudioTestUtil.h"

#include "TestUtil.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <numbers>
#include <random>

namespace audiotest {

namespace {

void put32(std::string &s, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::int16_t sat(double v)
{
    return static_cast<std::int16_t>(std::lround(std::clamp(v, -32768.0, 32767.0)));
}

} // namespace

std::uint32_t le32(const std::string &s, std::size_t at)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<std::uint8_t>(s.at(at + i));
    return v;
}

std::uint16_t le16(const std::string &s, std::size_t at)
{
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(s.at(at))
                                      | (static_cast<std::uint8_t>(s.at(at + 1)) << 8));
}

std::vector<std::int16_t> chirp(int frames, int sampleRate, int channels, double amplitude)
{
    std::vector<std::int16_t> out(static_cast<std::size_t>(frames) * channels);
    const double f0 = 100.0, f1 = 3000.0;
    const double T = static_cast<double>(frames) / sampleRate;
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        const double phase = 2 * std::numbers::pi * (f0 * t + (f1 - f0) * t * t / (2 * T));
        for (int c = 0; c < channels; ++c)
            out[static_cast<std::size_t>(i) * channels + c] =
                sat(amplitude * std::sin(phase + c * 0.7) * (c ? 0.6 : 1.0));
    }
    return out;
}

std::vector<std::int16_t> musicLike(int frames, int sampleRate, int channels)
{
    std::vector<std::int16_t> out(static_cast<std::size_t>(frames) * channels);
    std::mt19937 rng(1234);
    std::normal_distribution<double> noise(0.0, 300.0);
    const double tones[] = {110.0, 220.5, 331.0, 440.0, 659.3, 987.8, 1760.0, 3520.0};
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / sampleRate;
        for (int c = 0; c < channels; ++c) {
            double v = 0;
            for (int k = 0; k < 8; ++k) {
                const double env = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * (0.5 + 0.3 * k) * t + k + c);
                v += 2500.0 / (1 + k * 0.4) * env * std::sin(2 * std::numbers::pi * tones[k] * t * (1 + 0.002 * c));
            }
            out[static_cast<std::size_t>(i) * channels + c] = sat(v + noise(rng));
        }
    }
    return out;
}

std::vector<std::int16_t> speech(const std::filesystem::path &dir, int sampleRate, int channels)
{
    const auto raw = dir / "speech_raw.wav";
    const auto wav = dir / "speech.wav";
    const std::string text =
        "Good morning. Please describe the picture in front of you, and explain what the "
        "people are doing. You have thirty seconds to prepare your answer.";
    if (testutil::run("espeak-ng -w '" + raw.string() + "' '" + text + "' >/dev/null 2>&1") != 0)
        return {};
    if (testutil::run("sox -q '" + raw.string() + "' -r " + std::to_string(sampleRate) + " -c "
                      + std::to_string(channels) + " -b 16 -e signed-integer '" + wav.string()
                      + "' >/dev/null 2>&1")
        != 0)
        return {};
    return readPcmWave(wav);
}

void writeWave(const std::filesystem::path &p, const TWaveFormatEx *fmt, const void *data,
               std::size_t size, bool withFact)
{
    const std::string f = waveFormatBytes(fmt);
    std::string body = "WAVE";
    body += "fmt ";
    put32(body, static_cast<std::uint32_t>(f.size()));
    body += f;
    if (f.size() & 1)
        body.push_back('\0');
    if (withFact && fmt->wFormatTag != WAVE_FORMAT_PCM) {
        body += "fact";
        put32(body, 4);
        const std::uint64_t samples =
            (static_cast<std::uint64_t>(size) * fmt->nSamplesPerSec * 2 + fmt->nAvgBytesPerSec)
            / (2ull * fmt->nAvgBytesPerSec);
        put32(body, static_cast<std::uint32_t>(samples));
    }
    body += "data";
    put32(body, static_cast<std::uint32_t>(size));
    body.append(static_cast<const char *>(data), size);
    if (size & 1)
        body.push_back('\0');
    std::string file = "RIFF";
    put32(file, static_cast<std::uint32_t>(body.size()));
    file += body;
    testutil::writeFile(p, file);
}

void writePcmWave(const std::filesystem::path &p, const std::vector<std::int16_t> &pcm,
                  int sampleRate, int channels)
{
    TWaveFormatEx f;
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = static_cast<std::uint16_t>(channels);
    f.nSamplesPerSec = static_cast<std::uint32_t>(sampleRate);
    f.nBlockAlign = static_cast<std::uint16_t>(2 * channels);
    f.nAvgBytesPerSec = f.nSamplesPerSec * f.nBlockAlign;
    f.wBitsPerSample = 16;
    writeWave(p, &f, pcm.data(), pcm.size() * 2, false);
}

std::vector<std::int16_t> readPcmWave(const std::filesystem::path &p)
{
    const std::string s = testutil::readFile(p);
    if (s.size() < 12 || s.compare(0, 4, "RIFF") != 0)
        return {};
    std::size_t at = 12;
    while (at + 8 <= s.size()) {
        const std::string id = s.substr(at, 4);
        std::size_t len = le32(s, at + 4);
        if (id == "data") {
            len = std::min(len, s.size() - at - 8);
            std::vector<std::int16_t> out(len / 2);
            std::memcpy(out.data(), s.data() + at + 8, out.size() * 2);
            return out;
        }
        at += 8 + len + (len & 1);
    }
    return {};
}

std::vector<std::int16_t> decodeWithSox(const std::filesystem::path &in, const std::filesystem::path &tmp)
{
    const auto out = tmp / "sox_decoded.wav";
    std::filesystem::remove(out);
    if (testutil::run("sox -q '" + in.string() + "' -b 16 -e signed-integer '" + out.string()
                      + "' >/dev/null 2>&1")
        != 0)
        return {};
    return readPcmWave(out);
}

std::vector<std::int16_t> decodeWithFfmpeg(const std::filesystem::path &in, const std::filesystem::path &tmp)
{
    const auto out = tmp / "ffmpeg_decoded.wav";
    std::filesystem::remove(out);
    if (testutil::run("ffmpeg -nostdin -loglevel error -y -i '" + in.string()
                      + "' -c:a pcm_s16le -f wav '" + out.string() + "' >/dev/null 2>&1")
        != 0)
        return {};
    return readPcmWave(out);
}

double snrDb(const std::vector<std::int16_t> &reference, const std::vector<std::int16_t> &decoded)
{
    const std::size_t n = std::min(reference.size(), decoded.size());
    double sig = 0, err = 0;
    for (std::size_t i = 0; i < n; ++i) {
        sig += static_cast<double>(reference[i]) * reference[i];
        const double d = static_cast<double>(reference[i]) - decoded[i];
        err += d * d;
    }
    if (err == 0)
        return 200.0;
    return 10.0 * std::log10(sig / err);
}

} // namespace audiotest
