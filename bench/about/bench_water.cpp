// Cost of the About window's animation. The goal: one frame of the
// 310 x 207 surface (a simulation step plus drawing the picture) under
// 0.5 ms, so twenty frames a second take well under 2% of a core, also
// while the window is hidden.

#include "about/AboutBackground.h"
#include "about/usabout.h"
#include "platform/TTimer.h"
#include "about/untWaterEffect.h"
#include "ui/Fonts.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <cstdlib>

namespace {

// Ripples everywhere, as after a few seconds of drops and mouse moves: a
// still surface would let the drawing loop predict every branch.
void stir(TWaterEffect &water, int drops)
{
    for (int i = 0; i < drops; ++i) {
        water.Blob(-1, -1, 1, Random(500) + 50);
        water.CalcWater();
    }
}

void BM_WaterFrame(benchmark::State &state)
{
    QImage source = makeAboutBackground();
    QImage target(source.size(), QImage::Format_BGR888);
    TWaterEffect water;
    water.SetSize(source.width(), source.height());
    stir(water, 60);
    water.Render(source, target); // converts both pictures once
    int tick = 0;
    for (auto _ : state) {
        if (++tick % 8 == 1)
            water.Blob(-1, -1, 1, Random(500) + 50);
        water.Render(source, target);
        benchmark::DoNotOptimize(target.constBits());
    }
    state.counters["frames/s"] = benchmark::Counter(double(state.iterations()),
                                                    benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WaterFrame)->Unit(benchmark::kMicrosecond);

void BM_CalcWater(benchmark::State &state)
{
    TWaterEffect water;
    water.SetSize(kAboutBackgroundWidth, kAboutBackgroundHeight);
    stir(water, 60);
    for (auto _ : state) {
        water.Blob(-1, -1, 1, 300);
        water.CalcWater();
    }
}
BENCHMARK(BM_CalcWater)->Unit(benchmark::kMicrosecond);

void BM_DrawWater(benchmark::State &state)
{
    QImage source = makeAboutBackground();
    QImage target(source.size(), QImage::Format_BGR888);
    TWaterEffect water;
    water.SetSize(source.width(), source.height());
    stir(water, 60);
    water.DrawWater(source, target);
    for (auto _ : state) {
        water.DrawWater(source, target);
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_DrawWater)->Unit(benchmark::kMicrosecond);

// The whole timer tick as the window runs it: frame, credits text and the
// repaint request (no repaint happens while the window is hidden).
void BM_AboutTick(benchmark::State &state)
{
    Taboutus about;
    about.tmr1->setEnabled(false);
    for (int i = 0; i < 60; ++i)
        about.tmr1Timer();
    for (auto _ : state)
        about.tmr1Timer();
}
BENCHMARK(BM_AboutTick)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    ui::setupFonts();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
