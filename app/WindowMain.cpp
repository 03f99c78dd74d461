#include "app/Application.h"
#include "app/Faces.h"
#include "app/FontWarmUp.h"
#include "app/MainWindow.h"
#include "app/StationWindow.h"
#include "app/StationWindowFace.h"
#include "bridge/RunLog.h"
#include "app/TerminalOptions.h"
#include "app/WindowFace.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <unistd.h>

namespace {

// Another updater holds the guard: the same user's window comes to the front; anyone else
// is told who runs it.
int refuseSecondStart(RunningInstance& running, const QString& bundlePath) {
    if (running.uid() == ::getuid() && running.face() == InstanceGuard::Face::Window && running.askToRaise())
        return exitstatus::kOk;
    QMessageBox box(QMessageBox::Information, QStringLiteral("Hotspot Updater"), alreadyRunningText(running, bundlePath));
    box.setObjectName(QStringLiteral("alreadyRunning"));
    box.setDefaultButton(box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole));
    box.exec();
    return refusedStartStatus(running);
}

} // namespace

int runWindow(int& argc, char** argv, Launch launch) {
    FontWarmUp fonts;
    new QApplication(argc, argv);
    fonts.toolkitReady();
    auto* guard = new InstanceGuard;
    if (std::optional<RunningInstance> running = takeGuard(*guard, InstanceGuard::Face::Window))
        return refuseSecondStart(*running, launch.env.bundlePath);
    // The station's window, or the one device's: either is raised by a second start.
    QWidget* window = nullptr;
    Face* face = nullptr;
    if (launch.stationMaxUpdates > 0) {
        auto* station = new StationWindow;
        window = station;
        face = new StationWindowFace(station, launch.stationAuto, launch.stationPorts);
    } else {
        auto* single = new MainWindow;
        window = single;
        face = new WindowFace(single);
    }
    guard->setRaise([window] {
        window->showNormal();
        window->raise();
        window->activateWindow();
        runlog::write("app", QStringLiteral("a second start brought the window to the front"));
    });
    startRunLog(launch);
    auto* application = new Application(std::move(launch.env), face, launch.stationMaxUpdates);
    application->keepHistory(launch.historyDb);
    QApplication::setQuitOnLastWindowClosed(application->applicationShouldTerminateAfterLastWindowClosed());
    fonts.finish();
    window->show();
    return runApplication(*application);
}
