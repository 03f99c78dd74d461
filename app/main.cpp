#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "app/SignalHandler.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

namespace {

// How long the workers' tool runs get, once ended, to return.
constexpr double kToolGrace = 2.0;

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

    // The termination sequence has run. End the workers' tools, without destroying anything
    // they use, then end the process.
    delegate->finishAfterEventLoop(kToolGrace);
    std::fflush(stdout);
    std::fflush(stderr);
    std::quick_exit(status);
}
