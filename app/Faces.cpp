#include "app/Faces.h"
#include "app/AppDelegate.h"
#include "app/SignalHandler.h"

#include <QCoreApplication>
#include <QTimer>

namespace {

// How long the workers get, after the termination sequence, to leave their current step.
constexpr double kWorkerGrace = 5.0;

} // namespace

int runController(AppDelegate& delegate, const std::function<void()>& afterLaunch) {
    AppDelegate* d = &delegate;
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, d,
                     [d] { d->applicationWillTerminate(); });
    // Logout, kill and Ctrl-C end us like closing the window does.
    SignalHandler signalHandler([d](int signal) { d->requestTermination(signal); });
    QTimer::singleShot(0, d, [d, afterLaunch] {
        d->applicationDidFinishLaunching();
        if (afterLaunch)
            afterLaunch();
    });
    const int status = QCoreApplication::exec();
    delegate.finishAfterEventLoop(kWorkerGrace);
    return status;
}
