#pragma once
// `hotspot-updater --history`: prints the record of update attempts, this machine's or, with
// --history-db, every station's from the server. It only reads, so it runs beside a running
// updater without taking the one-updater guard.

#include "app/TerminalOptions.h"

#include <cstdio>

// Returns the exit status: kOk, or kHistory when the record cannot be read.
int runHistory(const TerminalOptions& options, std::FILE* out, std::FILE* err);
