#include "app/AppDelegate.h"
#include "app/MainWindow.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    MainWindow window;
    auto* delegate = new AppDelegate(Environment::fromProcess(QCoreApplication::applicationFilePath()), &window);
    window.show();
    QTimer::singleShot(0, delegate, [delegate] { delegate->applicationDidFinishLaunching(); });
    QObject::connect(&app, &QCoreApplication::aboutToQuit, delegate, [delegate] { delegate->applicationWillTerminate(); });
    return app.exec();
}
