#pragma once
// Running the device tools and shell command lines as child processes. The controller's
// adbCommand/fastbootCommand/shellCommand are thin wrappers over runTool.

#include "app/AppDelegate.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace toolrunner {

struct RunOptions {
    bool capture = true;
    // Seconds before the tool and its children are ended; 0 for no limit. An ended run's
    // captured output gets an "error: ..." line, so every caller reads it as a failure.
    double limitSeconds = 0.0;
    // Started even after beginShutdown (the last adb "kill-server").
    bool duringShutdown = false;
};

// Runs `program` with `args` and waits for it. With `capture`, standard output and standard
// error arrive merged in write order and are returned whole; without it they go where ours go
// and nullopt is returned. The exit status is not looked at. The tool runs in a process group
// of its own, so a Ctrl-C meant for us never reaches it mid-write.
// Throws ToolLaunchError when the program cannot be started, or after beginShutdown.
std::optional<QByteArray> runTool(const QString& program, const QStringList& args, const RunOptions& options);

// The limit that fits one run of a device tool ("adb", "fastboot") or of the shell ("sh").
double limitFor(const ToolLimits& limits, const QString& tool, const QStringList& args);

// Tool output as text: nullopt when the bytes are not valid UTF-8.
ToolResult decodeOutput(const QByteArray& bytes);

// Runs that have not returned yet.
int runningToolCount();

// The application is ending: every running tool is ended by the thread that waits for it
// (never signalled from elsewhere, so no reaped id is ever signalled), and no new tool starts.
// Once runningToolCount() is 0 afterwards, none of ours ever runs again.
void beginShutdown();

// Ends every running tool, as beginShutdown does, without refusing new ones (tests).
void cancelRunningTools();

} // namespace toolrunner
