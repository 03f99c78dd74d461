// Stand-in adb and fastboot of the simulated hotspot. One program: it answers as the name it
// was started under (or as its first argument, "adb" or "fastboot", when run under another).

#include "core/StateStore.h"
#include "tool/ToolContext.h"

#include <QFileInfo>
#include <QStringList>

#include <cstdio>

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    QString tool = QFileInfo(QString::fromLocal8Bit(argv[0])).fileName();
    if (tool != QLatin1String("adb") && tool != QLatin1String("fastboot")) {
        if (args.isEmpty() || (args.first() != QLatin1String("adb") && args.first() != QLatin1String("fastboot"))) {
            std::fputs("usage: adb|fastboot ARGS... (simulated hotspot tools)\n", stderr);
            return 1;
        }
        tool = args.takeFirst();
    }

    const QString dir = sim::envStateDir();
    if (dir.isEmpty()) {
        std::fprintf(stderr, "%s: error: HOTSPOT_SIM_DIR is not set: no simulated device\n", qPrintable(tool));
        return 1;
    }

    const sim::Invocation run = sim::parseInvocation(tool, args);
    if (!run.error.isEmpty()) {
        std::fputs(run.error.constData(), stderr);
        return 1;
    }
    const sim::RunFaults faults = sim::recordRun(dir, run);
    if (faults.kill == sim::KillPoint::Before)
        sim::killHost();
    if (faults.hangSeconds != 0.0)
        sim::hang(faults.hangSeconds);
    sim::Output output;
    const int status = tool == QLatin1String("adb") ? sim::runAdb(dir, run, faults, output)
                                                    : sim::runFastboot(dir, run, faults, output);
    sim::finish(output, faults);
    return status;
}
