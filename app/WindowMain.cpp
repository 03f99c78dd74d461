#include "app/AppDelegate.h"
#include "app/Faces.h"
#include "app/MainWindow.h"
#include "app/WindowFace.h"

#include <QApplication>

int runWindow(int& argc, char** argv) {
    new QApplication(argc, argv);
    auto* window = new MainWindow;
    auto* face = new WindowFace(window);
    auto* delegate = new AppDelegate(Environment::fromProcess(QCoreApplication::applicationFilePath()), face);
    QApplication::setQuitOnLastWindowClosed(delegate->applicationShouldTerminateAfterLastWindowClosed());
    window->show();
    return runController(*delegate);
}
