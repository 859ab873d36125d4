// Shows the About window on the current display with a pointer stirring
// the water, as a user would see it. With --shot FILE it saves the window
// after --seconds N (default 6: the credits are then well inside the
// picture) and quits; without it the window stays until closed.

#include "about/PictureBox.h"
#include "about/usabout.h"
#include "platform/AppSetup.h"
#include "ui/Fonts.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTimer>

#include <cmath>
#include <cstdio>

int main(int argc, char **argv)
{
    platform::ensureUtf8Locale();
    QApplication app(argc, argv);
    ui::setupFonts();
    QString shot;
    double seconds = 6;
    const QStringList args = QApplication::arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QLatin1String("--shot"))
            shot = args[i + 1];
        else if (args[i] == QLatin1String("--seconds"))
            seconds = args[i + 1].toDouble();
    }

    Taboutus about;
    about.show();

    // A pointer drawing a slow figure of eight over the lower half.
    QTimer stir;
    int step = 0;
    QObject::connect(&stir, &QTimer::timeout, [&] {
        const double t = step++ * 0.06;
        const QPointF at(155 + 110 * std::sin(t), 150 + 35 * std::sin(2 * t));
        QMouseEvent move(QEvent::MouseMove, at, about.img1->mapToGlobal(at), Qt::NoButton,
                         Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(about.img1, &move);
    });
    stir.start(20);

    if (!shot.isEmpty()) {
        QTimer::singleShot(int(seconds * 1000), [&] {
            const bool ok = about.grab().save(shot);
            std::fprintf(stderr, "%s %s\n", ok ? "saved" : "could not save",
                         qPrintable(shot));
            QApplication::exit(ok ? 0 : 1);
        });
    }
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
    return QApplication::exec();
}
