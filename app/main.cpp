#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "app/SignalHandler.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

namespace {

// How long the workers get, after the termination sequence, to leave their current step.
constexpr double kWorkerGrace = 5.0;

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    MainWindow window;
    // Lives until the process ends: detached workers may still be using it at exit.
    auto* delegate =
        new AppDelegate(Environment::fromProcess(QCoreApplication::applicationFilePath()), &window);
    QApplication::setQuitOnLastWindowClosed(delegate->applicationShouldTerminateAfterLastWindowClosed());
    QObject::connect(&app, &QCoreApplication::aboutToQuit, delegate,
                     [delegate] { delegate->applicationWillTerminate(); });
    // Logout, kill and Ctrl-C end us like closing the window does.
    SignalHandler signalHandler([delegate](int signal) { delegate->requestTermination(signal); });

    window.show();
    QTimer::singleShot(0, delegate, [delegate] { delegate->applicationDidFinishLaunching(); });
    const int status = app.exec();

    // The termination sequence has run. End the workers' tools and let them leave, without
    // destroying anything they use, then end the process.
    delegate->finishAfterEventLoop(kWorkerGrace);
    std::fflush(stdout);
    std::fflush(stderr);
    std::quick_exit(status);
}
