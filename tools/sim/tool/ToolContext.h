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

// One run as the command line gave it: the options before the command, then the command.
struct Invocation {
    QString tool;            // "adb" or "fastboot"
    QStringList given;       // every argument, for the record
    QString target;          // -s: "usb:1-2.1" or a serial; empty when not given
    bool longListing = false; // "devices -l" (fastboot also takes -l before the command)
    QStringList args;        // from the command on
    QByteArray error;        // what to print when the options cannot be read
};
Invocation parseInvocation(const QString& tool, const QStringList& given);
// True for a command that goes to one device (not to the adb server or the device list).
bool addressesUnit(const Invocation& run);
// The one unit whose state a run needs: the port its target names ("usb:1-2.1"), or an empty
// text (the whole hub) for a run that must look at every unit to find its own.
QString unitScope(const Invocation& run);

// Records the run, with the port of the unit it is addressed to, and reads the faults that
// match its command line (that unit's, or the first unit's for a run that goes to none).
RunFaults recordRun(const QString& dir, const Invocation& run);
void hang(double seconds);
// SIGKILL to the tool's parent (the updater), then to the tool itself.
[[noreturn]] void killHost();
// Prints the run's output, unless the host is to die first.
void finish(const Output& output, const RunFaults& faults);

// A transfer or write is cut in the middle with the faults' kill at KillPoint::During.
int runAdb(const QString& dir, const Invocation& run, const RunFaults& faults, Output& out);
int runFastboot(const QString& dir, const Invocation& run, const RunFaults& faults, Output& out);

} // namespace sim
