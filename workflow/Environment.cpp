#include "workflow/Environment.h"
#include "bridge/UserFolders.h"

#include <QDir>
#include <QFileInfo>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

void RealClock::sleep(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

Environment Environment::fromProcess(const QString& executablePath) {
    Environment env;
    QDir dir = QFileInfo(executablePath).absoluteDir(); // <bundle>/Contents/<dir>
    dir.cdUp();
    dir.cdUp();
    env.bundlePath = dir.absolutePath();
    if (const char* home = std::getenv("HOME"))
        env.home = QString::fromLocal8Bit(home);
    const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (QDir::isAbsolutePath(dataHome))
        env.dataHome = dataHome;
    const QString stateHome = qEnvironmentVariable("XDG_STATE_HOME");
    if (QDir::isAbsolutePath(stateHome))
        env.stateHome = stateHome;
    env.driverPaths = {QStringLiteral("/etc/udev/rules.d/70-hotspot-updater.rules"),
                       QStringLiteral("/usr/lib/udev/rules.d/70-hotspot-updater.rules")};
    env.clock = std::make_shared<RealClock>();
    env.exitProgram = [](int code) {
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(code);
    };
    return env;
}

QString Environment::journalFolder() const {
    const QString base = stateFolder();
    return base.isEmpty() ? QString() : base + QStringLiteral("/journals");
}

QString Environment::historyPath() const {
    const QString base = stateFolder();
    return base.isEmpty() ? QString() : base + QStringLiteral("/history.sqlite");
}

QString Environment::stateFolder() const {
    return stateFolderOf(stateHome.value_or(QString()), home.value_or(QString()));
}
