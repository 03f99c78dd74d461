#include "app/CommandLine.h"
#include "app/Faces.h"

#include <QFileInfo>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <cstdlib>

namespace {

// The running executable, before any application object exists (Linux: its real path).
QString executablePath(const char* argv0) {
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    return self.exists() ? self.canonicalFilePath() : QFileInfo(QString::fromLocal8Bit(argv0)).absoluteFilePath();
}

} // namespace

int main(int argc, char** argv) {
    Launch launch;
    for (int i = 0; i < argc; ++i)
        launch.arguments << QString::fromLocal8Bit(argv[i]);
    launch.env = Environment::fromProcess(executablePath(argv[0]));
    const CommandLine options = CommandLine::parse(launch.arguments, launch.env.bundlePath);
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
