#include "app/CommandLine.h"
#include "app/Faces.h"
#include "bridge/ToolRunner.h"

#include <QString>
#include <QStringList>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const int status = cmdline::wantsTerminal(arguments) ? runTerminal(argc, argv) : runWindow(argc, argv);

    // The termination sequence has run. Workers may sit in a tool run or a blocking post:
    // end their tools, then the process, without destroying anything they use.
    killRunningTools();
    std::fflush(stdout);
    std::fflush(stderr);
    std::quick_exit(status);
}
