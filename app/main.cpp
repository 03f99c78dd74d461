#include "app/CommandLine.h"
#include "app/Faces.h"

#include <QString>
#include <QStringList>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const int status = cmdline::wantsTerminal(arguments) ? runTerminal(argc, argv) : runWindow(argc, argv);

    // The termination sequence has run and the workers had their way out; end the process
    // without destroying anything they use.
    std::fflush(stdout);
    std::fflush(stderr);
    std::quick_exit(status);
}
