#pragma once
// Shared pieces of the stand-in adb and fastboot: what a run prints, and the faults that act
// on a whole run (hanging, unreadable or huge output).

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace sim {

class Device;

struct Output {
    QByteArray out;
    QByteArray err;
    void say(const QByteArray& text) { out += text; }
    void warn(const QByteArray& text) { err += text; }
};

// What the run's faults do to it, decided when the run is recorded.
struct RunFaults {
    double hangSeconds = 0.0; // < 0: never answers
    bool invalidUtf8 = false;
    qint64 largeBytes = 0;
};

// Records the run and reads the faults that match its command line.
RunFaults recordRun(const QString& dir, const QString& tool, const QStringList& args);
void hang(double seconds);
void finish(const Output& output, const RunFaults& faults);

int runAdb(const QString& dir, const QStringList& args, Output& out);
int runFastboot(const QString& dir, const QStringList& args, Output& out);

} // namespace sim
