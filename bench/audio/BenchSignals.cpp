#include "BenchSignals.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

namespace benchsig {

namespace {

void put32(std::string &s, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::uint32_t get32(const std::string &s, std::size_t at)
{
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = (v << 8) | static_cast<std::uint8_t>(s[at + i]);
    return v;
}

std::string readAll(const std::filesystem::path &p)
{
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

} // namespace

int run(const std::string &cmd)
{
    return std::system(cmd.c_str());
}

void writeWave(const std::filesystem::path &p, const std::string &fmtBytes, const void *data, std::size_t size)
{
    std::string body = "WAVEfmt ";
    put32(body, static_cast<std::uint32_t>(fmtBytes.size()));
    body += fmtBytes;
    body += "data";
    put32(body, static_cast<std::uint32_t>(size));
    body.append(static_cast<const char *>(data), size);
    if (size & 1)
        body.push_back('\0');
    std::string file = "RIFF";
    put32(file, static_cast<std::uint32_t>(body.size()));
    file += body;
    std::ofstream(p, std::ios::binary).write(file.data(), static_cast<std::streamsize>(file.size()));
}

std::vector<std::int16_t> readPcmData(const std::filesystem::path &p)
{
    const std::string s = readAll(p);
    std::size_t at = 12;
    while (at + 8 <= s.size()) {
        const std::uint32_t len = get32(s, at + 4);
        if (s.compare(at, 4, "data") == 0) {
            const std::size_t n = std::min<std::size_t>(len, s.size() - at - 8) / 2;
            std::vector<std::int16_t> out(n);
            std::memcpy(out.data(), s.data() + at + 8, n * 2);
            return out;
        }
        at += 8 + len + (len & 1);
    }
    return {};
}

std::vector<std::int16_t> speech(const std::filesystem::path &dir, double seconds)
{
    const auto raw = dir / "speech_raw.wav";
    const auto wav = dir / "speech.wav";
    const std::string text =
        "Good morning. Please describe the picture in front of you, and explain what the people "
        "are doing. You have thirty seconds to prepare your answer. Now listen to the dialogue "
        "and answer the questions that follow.";
    if (run("espeak-ng -w '" + raw.string() + "' '" + text + "' >/dev/null 2>&1") != 0
        || run("sox -q '" + raw.string() + "' -r 44100 -c 2 -b 16 -e signed-integer '" + wav.string()
               + "' >/dev/null 2>&1")
               != 0)
        return {};
    const auto once = readPcmData(wav);
    std::vector<std::int16_t> out;
    const std::size_t want = static_cast<std::size_t>(seconds * 44100) * 2;
    while (!once.empty() && out.size() < want)
        out.insert(out.end(), once.begin(), once.end());
    out.resize(std::min(out.size(), want));
    return out;
}

std::vector<std::int16_t> music(double seconds)
{
    const int frames = static_cast<int>(seconds * 44100);
    std::vector<std::int16_t> out(static_cast<std::size_t>(frames) * 2);
    std::mt19937 rng(99);
    std::normal_distribution<double> noise(0.0, 200.0);
    const double tones[] = {98.0, 196.0, 246.9, 293.7, 392.0, 587.3, 880.0, 1318.5};
    for (int i = 0; i < frames; ++i) {
        const double t = i / 44100.0;
        for (int c = 0; c < 2; ++c) {
            double v = 0;
            for (int k = 0; k < 8; ++k) {
                const double env = 0.5 + 0.5 * std::sin(2 * M_PI * (0.25 + 0.2 * k) * t + k * 0.9 + c);
                v += 2600.0 / (1 + 0.5 * k) * env * std::sin(2 * M_PI * tones[k] * t);
            }
            out[static_cast<std::size_t>(i) * 2 + c] =
                static_cast<std::int16_t>(std::clamp(v + noise(rng), -32768.0, 32767.0));
        }
    }
    return out;
}

double snrDb(const std::vector<std::int16_t> &ref, const std::vector<std::int16_t> &got)
{
    const std::size_t n = std::min(ref.size(), got.size());
    double s = 0, e = 0;
    for (std::size_t i = 0; i < n; ++i) {
        s += double(ref[i]) * ref[i];
        const double d = double(ref[i]) - got[i];
        e += d * d;
    }
    return e == 0 ? 200.0 : 10 * std::log10(s / e);
}

} // namespace benchsig
