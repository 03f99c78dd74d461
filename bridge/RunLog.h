#pragma once
// The log a user sends to support: one file per run in
// $XDG_STATE_HOME/hotspot-updater/logs (default ~/.local/state/...), the newest kept.
// Fed by the USB trace, tool runs, state changes and screen texts, from any thread.
// Never give it the content of the device's configuration or calibration data.

#include <QString>
#include <QStringList>

namespace runlog {

constexpr int kKeptRuns = 20;

// Where the logs of this user go.
QString defaultFolder();

// Opens this run's log in `folder` (created if needed) with a header naming `header`
// lines, and removes the oldest logs beyond `keep`. With `echo`, every line also goes to
// standard error. False when the folder cannot be written: the run goes on without a log.
bool start(const QString& folder, const QStringList& header, bool echo, int keep = kKeptRuns);
// Path of the open log; empty when none.
QString path();
// Appends one line (or several, each marked) under `topic`, stamped with the time since start.
void write(const char* topic, const QString& text);
// The same for the lines a polling loop repeats twice a second: one whose `sameAs` (its text
// without timings) was written under `topic` in the last minute is only counted, and the
// count goes with its next appearance. State and screen changes use write().
void writeOnce(const char* topic, const QString& text, const QString& sameAs);
// Closes the log (tests; the application leaves it to the process's end).
void stop();

// A tool run: command line, how long it took and its output. Output of a run that names
// one of `privatePaths` is withheld: it may hold the owner's secrets.
void toolRun(const QString& program, const QStringList& args, const QString& output, qint64 ms,
             const QStringList& privatePaths);

} // namespace runlog
