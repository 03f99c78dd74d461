#include "app/AppDelegate.h"
#include "app/Faces.h"
#include "app/FontWarmUp.h"
#include "app/MainWindow.h"
#include "app/WindowFace.h"

#include <QApplication>

int runWindow(int& argc, char** argv, Launch launch) {
    FontWarmUp fonts;
    new QApplication(argc, argv);
    fonts.toolkitReady();
    auto* window = new MainWindow;
    startRunLog(launch);
    auto* face = new WindowFace(window);
    auto* delegate = new AppDelegate(std::move(launch.env), face);
    QApplication::setQuitOnLastWindowClosed(delegate->applicationShouldTerminateAfterLastWindowClosed());
    fonts.finish();
    window->show();
    return runController(*delegate);
}
