// Processor cost of recording an answer with both meters live. The test
// window's chain runs as in the program: a capture device (a fake one that
// is fed in real time, encoding 16-bit PCM to MS ADPCM as the wave mapper
// does) -> file writer -> recorder -> connector -> two level meters, which
// redraw whenever their value or peak changes. Reports the share of one core
// the whole process used over the run (goal: under 5 %). PortAudio's own
// capture thread is not included; the recorder's benchmark measures it.
//
//   bench_meters [--seconds N] [--screenshot file.png]
//
// Run it under Xvfb to include the drawing to a real X server:
//   xvfb-run -a -s "-screen 0 1280x1024x24" env QT_QPA_PLATFORM=xcb build/bench/bench/audio/bench_meters

#include "audio/FakeWaveInDevice.h"
#include "audio/MMConect.h"
#include "audio/MMLevel.h"
#include "audio/MMWRec.h"
#include "audio/MSAdpcm.h"
#include "platform/WinPath.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

double cpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
        + static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Something like speech: a voiced tone under a syllable envelope, with
// pauses, so that the meters rise, fall and hold peaks all the time.
std::vector<std::int16_t> speechLike(int frames)
{
    std::vector<std::int16_t> s(2 * static_cast<std::size_t>(frames));
    unsigned noise = 12345;
    for (int i = 0; i < frames; ++i) {
        const double t = i / 44100.0;
        const double syllable = std::max(0.0, std::sin(2 * M_PI * 3.1 * t));
        const double phrase = std::sin(2 * M_PI * 0.23 * t) > -0.3 ? 1.0 : 0.0;
        noise = noise * 1103515245u + 12345u;
        const double n = ((noise >> 16) & 0x7FFF) / 32768.0 - 0.5;
        const double v = syllable * phrase
            * (14000 * std::sin(2 * M_PI * 180 * t) + 6000 * std::sin(2 * M_PI * 720 * t)
               + 2000 * n);
        s[2 * i] = static_cast<std::int16_t>(std::lround(v));
        s[2 * i + 1] = static_cast<std::int16_t>(std::lround(0.7 * v));
    }
    return s;
}

} // namespace

int main(int argc, char **argv)
{
    double seconds = 10.0;
    std::string screenshot;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc)
            seconds = std::atof(argv[++i]);
        else if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc)
            screenshot = argv[++i];
    }
    QApplication app(argc, argv);

    QWidget window;
    window.setWindowTitle(QStringLiteral("meters"));
    window.resize(200, 60);
    window.setStyleSheet(QStringLiteral("background: #d4d0c8"));
    auto *label = new QLabel(QStringLiteral("L\nR"), &window);
    label->setGeometry(8, 14, 12, 32);
    auto *mlvl1 = new TMMLevel(&window);
    auto *mlvl2 = new TMMLevel(&window);
    layoutAnswerMeter(*mlvl1, chLeft);
    layoutAnswerMeter(*mlvl2, chRight);
    mlvl1->move(24, 18);
    mlvl2->move(24, 33);
    window.show();

    // Answers go to a temporary drive C.
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    std::filesystem::create_directories(platform::hostPath("c:\\recording\\"));

    FakeWaveInDevice dev{1};
    ScopedWaveInDevice scope{dev};
    TMMWaveRecorder WaveRecorder;
    WaveRecorder.ApplyAnswerLayout();
    TMMConnector connector;
    WaveRecorder.SetOutput(&connector);
    connector.SetInput(&WaveRecorder);
    connector.SetLevel1(mlvl1);
    connector.SetLevel2(mlvl2);

    const int buffers = static_cast<int>(std::ceil(seconds * 44100 / 4072.0)) + 1;
    const auto pcm = speechLike(buffers * 4072);
    msadpcm::Encoder encoder(2, 2048);
    std::vector<std::uint8_t> block(2048);

    WaveRecorder.Wave()->SetFileName("c:\\recording\\bench.wav");
    WaveRecorder.Start();
    if (!connector.Running()) {
        std::fprintf(stderr, "connector did not start\n");
        return 2;
    }

    int next = 0;
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = cpuSeconds();
    const long long cyclesStart = TMMConnector::LoopCycles();
    bool shot = false;

    QTimer feeder;
    feeder.setTimerType(Qt::PreciseTimer);
    QObject::connect(&feeder, &QTimer::timeout, [&] {
        // Deliver every buffer whose recording time has passed.
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        while (next < buffers && next * 4072 / 44100.0 <= elapsed) {
            for (int b = 0; b < 2; ++b) {
                encoder.encodeBlock(pcm.data() + (static_cast<std::size_t>(next) * 2 + b) * 2036 * 2,
                                    2036, block.data());
                dev.deliver(block.data(), block.size());
            }
            ++next;
        }
        if (!screenshot.empty() && !shot && elapsed > seconds * 0.6 && mlvl1->BarValue() > 40) {
            window.grab().save(QString::fromStdString(screenshot));
            shot = true;
        }
        if (elapsed >= seconds)
            app.quit();
    });
    feeder.start(23);
    app.exec();

    const double wall =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double cpu = cpuSeconds() - cpuStart;
    const double share = 100.0 * cpu / wall;
    std::printf("platform          %s\n", qPrintable(QGuiApplication::platformName()));
    std::printf("recorded          %.1f s, %d buffers\n", wall, next);
    std::printf("blocks per meter  %lld (%.0f per second)\n", connector.LevelBlocksFed(),
                connector.LevelBlocksFed() / wall);
    std::printf("loop wake-ups     %lld\n", TMMConnector::LoopCycles() - cyclesStart);
    std::printf("bar redraws       %lld + %lld\n", mlvl1->ImmediateDraws(),
                mlvl2->ImmediateDraws());
    std::printf("cpu               %.3f s = %.2f %% of one core (goal < 5 %%): %s\n", cpu, share,
                share < 5.0 ? "PASS" : "FAIL");
    WaveRecorder.Stop();
    return share < 5.0 ? 0 : 1;
}
