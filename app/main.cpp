#include "app/CommandLine.h"
#include "app/Faces.h"
#include "bridge/ServerAddress.h"

#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// The running executable, before any application object exists (Linux: its real path).
QString executablePath(const char* argv0) {
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    return self.exists() ? self.canonicalFilePath() : QFileInfo(QString::fromLocal8Bit(argv0)).absoluteFilePath();
}

// A password on the command line stays readable by every user (ps, /proc) for as long as a
// station runs: once read, it is masked in the process's own arguments.
void maskPasswords(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const QString given = QString::fromLocal8Bit(argv[i]);
        const QByteArray shown = history::masked(given).toLocal8Bit();
        if (shown == given.toLocal8Bit())
            continue;
        const size_t size = std::strlen(argv[i]);
        std::memset(argv[i], 0, size);
        std::memcpy(argv[i], shown.constData(), std::min(size, size_t(shown.size())));
    }
}

// A station runs two worker threads a unit; glibc gives threads arenas of their own (up to
// eight a core), each keeping its freed memory. Two arenas hold 32 units in 1.3 × one unit's
// memory instead of 1.9 ×, at no cost in time: the threads mostly wait on tools and the bus.
void fewerArenas() {
#ifdef __GLIBC__
    if (!std::getenv("MALLOC_ARENA_MAX"))
        mallopt(M_ARENA_MAX, 2);
#endif
}

} // namespace

int main(int argc, char** argv) {
    fewerArenas();
    Launch launch;
    for (int i = 0; i < argc; ++i)
        launch.arguments << QString::fromLocal8Bit(argv[i]);
    launch.env = Environment::fromProcess(executablePath(argv[0]));
    const CommandLine options = CommandLine::parse(launch.arguments, launch.env.bundlePath);
    maskPasswords(argc, argv);
    if (options.finish) {
        std::fputs(options.finish->text.toLocal8Bit().constData(), options.finish->toStderr ? stderr : stdout);
        return options.finish->status;
    }
    launch.verbose = options.verbose;
    launch.stationMaxUpdates = options.stationMaxUpdates;
    launch.stationPorts = options.stationPorts;
    launch.stationAuto = options.stationAuto;
    launch.historyDb = options.historyDb;
    if (options.terminal)
        launch.terminal = *options.terminal;
    const int status = options.terminal ? runTerminal(argc, argv, std::move(launch))
                                        : runWindow(argc, argv, std::move(launch));

    // The termination sequence has run and the workers had their way out; end the process
    // without destroying anything they use.
    std::fflush(stdout);
    std::fflush(stderr);
    std::quick_exit(status);
}
