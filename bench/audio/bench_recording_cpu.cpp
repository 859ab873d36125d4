// Processor time that recording costs, as a share of one core at real time:
// the MS ADPCM encoding the capture pump does for every block, plus the
// hand-over of each 4096-byte buffer down the recorder's chain into the
// WAVE file. Both run on the real code over a minute of speech; the device
// is the fake one, so the figure does not depend on a sound card.
// With QUENVAR_BENCH_REAL_DEVICE=1 it also records ten seconds from the
// default input through PortAudio and reports the whole process's time.
// Exit status 1 when the total reaches 2% of one core.

#include "BenchSignals.h"
#include "audio/FakeWaveInDevice.h"
#include "audio/MMWRec.h"
#include "audio/MSAdpcm.h"
#include "platform/Messages.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <sys/resource.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace benchsig;

namespace {

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

double processCpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const fs::path dir = fs::temp_directory_path() / ("quenvar_bench_rec_" + std::to_string(getpid()));
    fs::create_directories(dir / "quenvar" / "recording");
    setenv("XDG_DATA_HOME", dir.c_str(), 1);

    constexpr double kSeconds = 60;
    auto pcm = speech(dir, kSeconds);
    if (pcm.empty()) {
        std::puts("speech could not be made (espeak-ng, sox)");
        pcm = music(kSeconds);
    }
    msadpcm::Encoder enc(2, 2048);
    const int spb = enc.samplesPerBlock();
    const std::size_t blocks = pcm.size() / 2 / static_cast<std::size_t>(spb);
    std::vector<std::uint8_t> adpcm(blocks * 2048);

    double t0 = threadCpuSeconds();
    for (std::size_t b = 0; b < blocks; ++b)
        enc.encodeBlock(pcm.data() + b * spb * 2, spb, adpcm.data() + b * 2048);
    const double encodeCpu = threadCpuSeconds() - t0;
    const double audioSeconds = double(blocks) * spb / 44100.0;

    FakeWaveInDevice dev(1);
    ScopedWaveInDevice scope(dev);
    TMMWaveRecorder recorder;
    recorder.ApplyAnswerLayout();
    recorder.Wave()->SetFileName("c:\\recording\\bench.wav");
    t0 = threadCpuSeconds();
    recorder.Start();
    std::size_t off = 0;
    while (off + 4096 <= adpcm.size()) {
        dev.deliver(adpcm.data() + off, 4096);
        off += 4096;
        platform::ProcessMessages();
    }
    recorder.Stop();
    const double chainCpu = threadCpuSeconds() - t0;

    const double encodePct = 100.0 * encodeCpu / audioSeconds;
    const double chainPct = 100.0 * chainCpu / audioSeconds;
    std::printf("audio recorded:        %.1f s (%zu bytes of MS ADPCM)\n", audioSeconds, off);
    std::printf("encoding (pump):       %.3f s CPU = %.2f%% of one core\n", encodeCpu, encodePct);
    std::printf("chain and file writer: %.3f s CPU = %.2f%% of one core\n", chainCpu, chainPct);
    std::printf("recording total:       %.2f%% of one core (goal: under 2%%)\n", encodePct + chainPct);
    int status = encodePct + chainPct < 2.0 ? 0 : 1;

    if (const char *real = std::getenv("QUENVAR_BENCH_REAL_DEVICE"); real && std::string(real) == "1") {
        setWaveInDeviceOverride(nullptr);
        TMMWaveRecorder live;
        live.ApplyAnswerLayout();
        live.Wave()->SetFileName("c:\\recording\\live.wav");
        const double p0 = processCpuSeconds();
        const auto w0 = std::chrono::steady_clock::now();
        live.Start();
        platform::processMessagesUntil(w0 + std::chrono::seconds(10));
        live.Stop();
        const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
        std::printf("real device, 10 s:     %.2f%% of one core for the whole process\n",
                    100.0 * (processCpuSeconds() - p0) / wall);
    }
    fs::remove_all(dir);
    return status;
}
