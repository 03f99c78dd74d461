#pragma once
// The application's command line, read before any window exists so that --help and
// --version work without a display.

#include <QString>
#include <QStringList>
#include <optional>

struct CommandLine {
    bool verbose = false; // the run's log also goes to standard error

    // Set when the process ends right away: what to print, where, and the exit status.
    struct Finish {
        QString text;
        bool toStderr = false;
        int status = 0;
    };
    std::optional<Finish> finish;

    // `arguments` includes the program name first. `bundlePath` locates the firmware
    // package whose version --version names.
    static CommandLine parse(const QStringList& arguments, const QString& bundlePath);
};
