#include "app/AppDelegate.h"
#include "app/Faces.h"
#include "app/MainWindow.h"
#include "app/WindowFace.h"

#include <QApplication>
#include <QTimer>

int runWindow(int& argc, char** argv) {
    auto* app = new QApplication(argc, argv);
    auto* window = new MainWindow;
    auto* face = new WindowFace(window);
    auto* delegate = new AppDelegate(Environment::fromProcess(QCoreApplication::applicationFilePath()), face);
    QApplication::setQuitOnLastWindowClosed(delegate->applicationShouldTerminateAfterLastWindowClosed());
    QObject::connect(app, &QCoreApplication::aboutToQuit, delegate,
                     [delegate] { delegate->applicationWillTerminate(); });

    window->show();
    QTimer::singleShot(0, delegate, [delegate] { delegate->applicationDidFinishLaunching(); });
    return app->exec();
}
