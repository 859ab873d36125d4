// Encoder quality: signal-to-noise ratio of our MS ADPCM encoder against
// sox's on the same speech and music, each heard through both kinds of
// decoder (sox shifts the prediction, ffmpeg and the player divide it).
// Exit status 1 when ours is worse than sox's anywhere.

#include "BenchSignals.h"
#include "audio/MSAdpcm.h"

#include <chrono>
#include <cstring>
#include <unistd.h>
#include <cstdio>
#include <filesystem>

namespace fs = std::filesystem;
using namespace benchsig;

int main()
{
    const fs::path dir = fs::temp_directory_path() / ("quenvar_bench_adpcm_" + std::to_string(getpid()));
    fs::create_directories(dir);
    struct Case {
        const char *name;
        std::vector<std::int16_t> pcm;
    };
    Case cases[] = {{"speech", speech(dir, 20)}, {"music", music(20)}};
    auto fmt = msadpcm::answerFormat();
    msadpcm::Decoder floorDec(msadpcm::parseFormat(fmt.get()), msadpcm::Rounding::Floor);
    msadpcm::Decoder zeroDec(msadpcm::parseFormat(fmt.get()), msadpcm::Rounding::TowardZero);
    int status = 0;
    std::printf("%-8s %-22s %10s %12s %14s\n", "signal", "encoder", "via sox", "via ffmpeg", "encode x rt");
    for (Case &c : cases) {
        if (c.pcm.empty()) {
            std::printf("%-8s (espeak-ng or sox failed)\n", c.name);
            status = 1;
            continue;
        }
        const double seconds = c.pcm.size() / 2 / 44100.0;
        const fs::path src = dir / "src.wav";
        std::string pcmFmt(18, '\0');
        {
            TWaveFormatEx f;
            f.wFormatTag = 1;
            f.nChannels = 2;
            f.nSamplesPerSec = 44100;
            f.nBlockAlign = 4;
            f.nAvgBytesPerSec = 176400;
            f.wBitsPerSample = 16;
            std::memcpy(pcmFmt.data(), &f, 18);
        }
        writeWave(src, pcmFmt, c.pcm.data(), c.pcm.size() * 2);
        const fs::path soxFile = dir / "sox.wav";
        run("sox -q '" + src.string() + "' -e ms-adpcm '" + soxFile.string() + "'");
        run("sox -q '" + soxFile.string() + "' -b 16 -e signed-integer '" + (dir / "sox_sox.wav").string() + "'");
        run("ffmpeg -nostdin -loglevel error -y -i '" + soxFile.string() + "' -c:a pcm_s16le '"
            + (dir / "sox_ff.wav").string() + "'");
        const double soxViaSox = snrDb(c.pcm, readPcmData(dir / "sox_sox.wav"));
        const double soxViaFf = snrDb(c.pcm, readPcmData(dir / "sox_ff.wav"));
        std::printf("%-8s %-22s %9.2f dB %9.2f dB %14s\n", c.name, "sox -e ms-adpcm", soxViaSox, soxViaFf, "-");

        for (int width : {1, 2, 4}) {
            const auto t0 = std::chrono::steady_clock::now();
            const auto blocks = msadpcm::encode(c.pcm, 2, 2048, width);
            const double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            const double viaSox = snrDb(c.pcm, floorDec.decode(blocks));
            const double viaFf = snrDb(c.pcm, zeroDec.decode(blocks));
            char label[40];
            std::snprintf(label, sizeof label, "ours, trellis %d%s", width, width == 2 ? " (used)" : "");
            std::printf("%-8s %-22s %9.2f dB %9.2f dB %13.0fx\n", c.name, label, viaSox, viaFf, seconds / secs);
            if (width == 2 && (viaSox < soxViaSox || viaFf < soxViaFf))
                status = 1;
        }
    }
    fs::remove_all(dir);
    return status;
}
