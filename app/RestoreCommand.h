#pragma once
// `hotspot-updater --cli --restore`: lists this user's stored copies of device data, and with
// --entry and --port puts a chosen entry back on the unit at that port, confirmed by reading
// it back, once the user said yes (or --yes did).

#include "app/TerminalOptions.h"
#include "workflow/Environment.h"

#include <cstdio>

// Returns the exit status.
int runRestore(const Environment& env, const TerminalOptions& options, std::FILE* out);
