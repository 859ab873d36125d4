// Plays a video in the video window with its seek bar and the audio
// player's buttons beside it, then saves what the screen shows. Used under
// Xvfb to look at the OpenGL renderer (docs/images/):
//   xvfb-run -a -s "-screen 0 800x600x24" media_videoshot clip.mp4 out.png
#include "media/MpvBackend.h"
#include "media/TDSTrackBar.h"
#include "media/TFilterGraph.h"
#include "media/TMediaPlayer.h"
#include "media/TVideoWindow.h"
#include "platform/AppSetup.h"
#include "platform/Messages.h"

#include <QApplication>
#include <QScreen>
#include <QVBoxLayout>
#include <QWidget>

#include <chrono>
#include <cstdio>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s VIDEO OUT.png [MILLISECONDS]\n", argv[0]);
        return 2;
    }
    platform::ensureUtf8Locale();
    QApplication app(argc, argv);
    platform::fixNumericLocale();
    const int delay = argc > 3 ? std::atoi(argv[3]) : 1500;

    QWidget window;
    window.setWindowTitle(QStringLiteral("video window"));
    window.resize(480, 400);
    auto *layout = new QVBoxLayout(&window);
    auto *video = new TVideoWindow(&window);
    auto *bar = new TDSTrackBar(&window);
    bar->setFixedHeight(25);
    auto *player = new TMediaPlayer(&window);
    layout->addWidget(video, 1);
    layout->addWidget(bar);
    layout->addWidget(player);

    // With LATE=1 the video window is shown only once the file plays, so its
    // OpenGL context comes after the engine loaded the file.
    const bool late = qEnvironmentVariableIntValue("LATE") != 0;
    TFilterGraph graph;
    video->setFilterGraph(&graph);
    bar->setFilterGraph(&graph);
    video->setMode(vmVMR);
    video->setVisible(!late);
    window.show();
    platform::processMessagesUntil(std::chrono::steady_clock::now()
                                   + std::chrono::milliseconds(100));
    graph.setActive(true);
    graph.ClearGraph();
    graph.setVolume(10000);
    try {
        graph.RenderFile(QString::fromLocal8Bit(argv[1]));
        graph.Play();
        if (late)
            video->setVisible(true);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    platform::processMessagesUntil(std::chrono::steady_clock::now()
                                   + std::chrono::milliseconds(delay));
    bar->timerTick();
    graph.Pause();
    platform::processMessagesUntil(std::chrono::steady_clock::now()
                                   + std::chrono::milliseconds(200));
    const QPixmap shot = window.screen()->grabWindow(0, window.x(), window.y(),
                                                     window.frameGeometry().width(),
                                                     window.frameGeometry().height());
    const bool ok = shot.save(QString::fromLocal8Bit(argv[2]));
    std::printf("mode %s, rendering %d, frames drawn %d, saved %d\n",
                video->Mode() == vmVMR ? "vmVMR" : "vmNormal", video->isRendering(),
                video->framesDrawn(), ok);
    graph.setActive(false);
    return ok ? 0 : 1;
}
