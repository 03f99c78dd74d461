#pragma once
// Running the device tools and shell command lines as child processes. The controller's
// adbCommand/fastbootCommand/shellCommand are thin wrappers over runTool.

#include "app/AppDelegate.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>

namespace toolrunner {

// Runs `program` with `args` and waits for it without a time limit. With `capture`, standard
// output and standard error arrive merged in write order and are returned whole; without
// it they go where ours go and nullopt is returned. The exit status is not looked at.
// Throws ToolLaunchError when the program cannot be started.
std::optional<QByteArray> runTool(const QString& program, const QStringList& args, bool capture);

// Tool output as text: nullopt when the bytes are not valid UTF-8.
ToolResult decodeOutput(const QByteArray& bytes);

// Children started by runTool that have not been reaped yet.
int runningToolCount();

} // namespace toolrunner

// Kills every child process a tool run is waiting for (their runs then return as usual).
// Safe to call from any thread; main() calls it at exit so no tool outlives us.
void killRunningTools();
