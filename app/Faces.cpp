#include "app/Faces.h"
#include "app/Application.h"
#include "bridge/RunLog.h"
#include "bridge/ServerAddress.h"
#include "workflow/Messages.h"
#include "app/SignalHandler.h"
#include "app/StringTable.h"
#include "usb/usbutils.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QLocale>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

namespace {

// How long the workers' tool runs get, once ended, to return.
constexpr double kToolGrace = 2.0;

} // namespace

int refusedStartStatus(const RunningInstance& running) {
    return running.isForbidden() ? exitstatus::kDeviceAccess : exitstatus::kAlreadyRunning;
}

QString alreadyRunningText(const RunningInstance& running, const QString& bundlePath) {
    stringtable::install(bundlePath + QStringLiteral("/Contents/Resources"));
    if (!running.brokenGuard().isEmpty())
        return messages::lookupFilled("alert The guard that keeps a second updater from starting cannot be trusted: %s. Reinstall the package, or ask the administrator.",
                                      running.brokenGuard());
    if (running.isForbidden())
        return messages::fill(messages::lookup(
            "alert This user may not update hotspots on this machine: add it to the group plugdev (sudo adduser %s plugdev), then log in again."),
            RunningInstance::userName(::getuid()));
    const QDateTime since = running.since();
    const QString time = since.isValid() ? since.toLocalTime().toString(QStringLiteral("HH:mm")) : QStringLiteral("--:--");
    return messages::fill(
        messages::fill(messages::lookup("alert The updater is already running (since %s, by %s)"), time),
        running.user());
}

void startRunLog(const Launch& launch) {
    const QStringList header = {
        QStringLiteral("hotspot-updater %1, Qt %2").arg(QStringLiteral(HOTSPOT_VERSION), QString::fromLatin1(qVersion())),
        QStringLiteral("started %1").arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODate)),
        QStringLiteral("command line: %1").arg(history::masked(launch.arguments.join(QLatin1Char(' ')))),
        QStringLiteral("bundle: %1").arg(launch.env.bundlePath),
        QStringLiteral("language: %1").arg(QLocale::system().name()),
    };
    if (!runlog::start(runlog::defaultFolder(), header, launch.verbose))
        std::fprintf(stderr, "hotspot-updater: cannot write a log in %s\n", qPrintable(runlog::defaultFolder()));
    usb_set_trace_sink([](const char* line) {
        const QString text = QString::fromUtf8(line).trimmed();
        runlog::writeOnce("usb", text, text);
    });
}

int runApplication(Application& application, const std::function<void()>& afterLaunch,
                   const std::function<int(int)>& exitStatus) {
    Application* d = &application;
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, d,
                     [d] { d->applicationWillTerminate(); });
    // Logout, kill and Ctrl-C end us like closing the window does.
    SignalHandler signalHandler([d](int signal) { d->requestTermination(signal); });
    QTimer::singleShot(0, d, [d, afterLaunch] {
        d->applicationDidFinishLaunching();
        if (afterLaunch)
            afterLaunch();
    });
    const int loopStatus = QCoreApplication::exec();
    const int status = exitStatus ? exitStatus(loopStatus) : loopStatus;
    // The termination sequence has run. End the workers' tools, without destroying anything
    // they use.
    application.finishAfterEventLoop(kToolGrace);
    // Last, and the status the process ends with, whatever the loop ended on.
    runlog::write("app", QStringLiteral("exit status %1").arg(status));
    return status;
}
