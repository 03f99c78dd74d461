// The application's controller and window, linked against the real libusb-0.1 and run with
// the bundle's real adb and fastboot, driven the way a user would: wait for what the window
// shows, press the button, close the window. Runs inside the kernel bench's guest, where the
// window cannot be seen, so it prints every change of the window instead.
//
//   hotspot-kernel-driver BUNDLE STEP...
//   STEP: button=TEXT@SECONDS   the button shows TEXT, enabled
//         status=TEXT[|TEXT]@SECONDS   the status line contains one of the texts
//         sleep=SECONDS | press | close
// Exits 0 when every step was met (the window is closed at the end in any case).

#include "app/Application.h"
#include "app/Faces.h"
#include "app/MainWindow.h"
#include "app/WindowFace.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

struct Step {
    QString kind, text;
    double seconds = 0;
};

Step parseStep(const QString& arg)
{
    Step s;
    s.kind = arg.section(QLatin1Char('='), 0, 0);
    const QString value = arg.section(QLatin1Char('='), 1);
    const int at = value.lastIndexOf(QLatin1Char('@'));
    s.text = at >= 0 ? value.left(at) : value;
    s.seconds = at >= 0 ? value.mid(at + 1).toDouble() : value.toDouble();
    return s;
}

QString screen(const MainWindow& w)
{
    return QStringLiteral("status=\"%1\" info=\"%2\" warning=\"%3\" button=\"%4\"%5 %6")
        .arg(w.ui().statusLable->text(), w.ui().infoLable->text().replace(QLatin1Char('\n'), QLatin1Char(' ')),
             w.ui().warningLable->isVisible() ? w.ui().warningLable->text() : QString(),
             w.ui().updateButton->text(), w.ui().updateButton->isEnabled() ? QString() : QStringLiteral(" (disabled)"),
             w.ui().precentLable->text());
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fputs("usage: hotspot-kernel-driver BUNDLE STEP...\n", stderr);
        return 2;
    }
    QList<Step> steps;
    for (const QString& a : args.mid(2))
        steps << parseStep(a);

    MainWindow window;
    auto* face = new WindowFace(&window);
    auto* delegate =
        new Application(Environment::fromProcess(args[1] + QStringLiteral("/Contents/bin/hotspot-updater")), face);
    QApplication::setQuitOnLastWindowClosed(true);
    QObject::connect(&app, &QCoreApplication::aboutToQuit, [] {
        std::printf("driver: window closed, terminating\n");
        std::fflush(stdout);
    });
    window.show();

    int failed = 0;
    int index = 0;
    QElapsedTimer stepTimer, clock;
    stepTimer.start();
    clock.start();
    QString last;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        const QString now = screen(window);
        if (now != last) {
            std::printf("driver: %7.1fs %s\n", clock.elapsed() / 1000.0, qPrintable(now));
            std::fflush(stdout);
            last = now;
        }
        while (index < steps.size()) {
            const Step& s = steps[index];
            bool met = false;
            if (s.kind == QLatin1String("button"))
                met = window.ui().updateButton->isEnabled() && window.ui().updateButton->text() == s.text;
            else if (s.kind == QLatin1String("status")) {
                for (const QString& text : s.text.split(QLatin1Char('|')))
                    met = met || window.ui().statusLable->text().contains(text);
            }
            else if (s.kind == QLatin1String("sleep"))
                met = stepTimer.elapsed() >= qint64(s.seconds * 1000);
            else if (s.kind == QLatin1String("press")) {
                std::printf("driver: press \"%s\"\n", qPrintable(window.ui().updateButton->text()));
                window.ui().updateButton->click();
                met = true;
            } else if (s.kind == QLatin1String("close")) {
                met = true;
            }
            if (!met && s.seconds > 0 && stepTimer.elapsed() > qint64(s.seconds * 1000)) {
                std::printf("driver: FAILED waiting %gs for %s \"%s\"\n", s.seconds, qPrintable(s.kind), qPrintable(s.text));
                ++failed;
                index = int(steps.size());
                break;
            }
            if (!met)
                return;
            if (s.kind != QLatin1String("sleep") && s.kind != QLatin1String("press"))
                std::printf("driver: %7.1fs met %s \"%s\"\n", clock.elapsed() / 1000.0, qPrintable(s.kind), qPrintable(s.text));
            ++index;
            stepTimer.restart();
        }
        poll.stop();
        window.close(); // as the user closes it: the termination sequence runs
    });
    // Launch, termination sequence and the tools' end, as the application's main runs them.
    runApplication(*delegate, [&poll] { poll.start(100); });
    std::printf("driver: %s\n", failed ? "steps failed" : "all steps met");
    std::fflush(stdout);
    std::fflush(stderr);
    std::quick_exit(failed ? 1 : 0);
}
