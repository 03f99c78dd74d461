#pragma once
// `hotspot-updater --history`: prints the record of update attempts, this machine's or, with
// --history-db, every station's from the server. It only reads, so it runs beside a running
// updater without taking the one-updater guard.

#include "app/TerminalOptions.h"

#include <QString>
#include <cstdio>

// `localPath`: this machine's record, where the updater writes it (Environment::historyPath).
// Opened to read only; none there is no attempt recorded. Returns the exit status: kOk (also
// when no attempt matches the filters), or kHistory when the record cannot be read.
int runHistory(const TerminalOptions& options, const QString& localPath, std::FILE* out, std::FILE* err);
