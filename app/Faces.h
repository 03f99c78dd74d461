#pragma once
// The application's two front ends on the one application. Each runs its event loop until the
// termination sequence has run and returns the exit status; what it creates lives until the
// process ends (detached workers may still be using it).

#include "workflow/Environment.h"
#include "bridge/InstanceGuard.h"
#include "app/TerminalOptions.h"

#include <QStringList>
#include <functional>

class Application;
class TerminalFace;

// What main() learned before any application object exists.
struct Launch {
    QStringList arguments;
    Environment env;
    bool verbose = false; // the run's log also goes to standard error
    TerminalOptions terminal; // what the terminal face was asked to do
    int stationMaxUpdates = 0; // --station: that many at once; 0: the one device
    QStringList stationPorts;  // --ports: the station's port patterns
    bool stationAuto = false;  // --auto: each offered update starts by itself
    QString historyDb;         // --history-db: the shared record's server
};

int runWindow(int& argc, char** argv, Launch launch);
int runTerminal(int& argc, char** argv, Launch launch);
// The terminal's run of an application made with `face`: one device's, or a station's.
// Returns the exit status.
int driveFromTerminal(Application& application, TerminalFace& face, const TerminalOptions& options);

// "The updater is already running (since HH:MM, by USER)" from the string table in `bundlePath`,
// or, for a user outside the guard's group, how to join it.
QString alreadyRunningText(const RunningInstance& running, const QString& bundlePath);
// The exit status of a start the guard refused.
int refusedStartStatus(const RunningInstance& running);

// Starts this run's log, once the application object exists.
void startRunLog(const Launch& launch);

// What both share once their face and application exist: launch (then `afterLaunch`), the
// event loop with the termination signals handled, the termination sequence, and the
// workers' way out. `exitStatus` makes the process's status of the event loop's (the face's
// conclusion); the run's log ends with it. Returns the process's status.
int runApplication(Application& application, const std::function<void()>& afterLaunch = {},
                   const std::function<int(int)>& exitStatus = {});
