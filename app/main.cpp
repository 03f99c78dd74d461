#include "app/AppDelegate.h"
#include "app/MainWindow.h"
#include "bridge/ToolRunner.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    MainWindow window;
    // Lives until the process ends: detached workers may still be using it at exit.
    auto* delegate =
        new AppDelegate(Environment::fromProcess(QCoreApplication::applicationFilePath()), &window);
    QApplication::setQuitOnLastWindowClosed(delegate->applicationShouldTerminateAfterLastWindowClosed());
    QObject::connect(&app, &QCoreApplication::aboutToQuit, delegate,
                     [delegate] { delegate->applicationWillTerminate(); });

    window.show();
    QTimer::singleShot(0, delegate, [delegate] { delegate->applicationDidFinishLaunching(); });
    const int status = app.exec();

    // The termination sequence has run. Workers may sit in a tool run or a blocking post:
    // end their tools, then the process, without destroying anything they use.
    killRunningTools();
    std::fflush(stdout);
    std::fflush(stderr);
    std::quick_exit(status);
}
