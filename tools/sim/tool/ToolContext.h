#pragma once
// Shared pieces of the stand-in adb and fastboot: what a run prints, and the faults that act
// on a whole run (hanging, unreadable or huge output, the updater killed).

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

// Where the updater running the tool is killed in this run.
enum class KillPoint { None, Before, During, After };

// What the run's faults do to it, decided when the run is recorded.
struct RunFaults {
    KillPoint kill = KillPoint::None;
    double hangSeconds = 0.0; // < 0: never answers
    bool invalidUtf8 = false;
    qint64 largeBytes = 0;
};

// Records the run and reads the faults that match its command line.
RunFaults recordRun(const QString& dir, const QString& tool, const QStringList& args);
void hang(double seconds);
// SIGKILL to the tool's parent (the updater), then to the tool itself.
[[noreturn]] void killHost();
// Prints the run's output, unless the host is to die first.
void finish(const Output& output, const RunFaults& faults);

// A transfer or write is cut in the middle with the faults' kill at KillPoint::During.
int runAdb(const QString& dir, const QStringList& args, const RunFaults& faults, Output& out);
int runFastboot(const QString& dir, const QStringList& args, const RunFaults& faults, Output& out);

} // namespace sim
