#pragma once
// What a finish or a restore found on a unit before other data went onto it is kept until it
// is known to hold nothing that would be lost: only the unit's own data, now read back on it,
// or the calibration that writing the package leaves on every unit.

#include "bridge/BackupStore.h"

#include <QString>
#include <optional>

// `found`: what the unit held; `own`: the copies confirmed back on it since; `fresh`: the
// calibration's digest the writing leaves, when learned. Settings are judged only against
// the unit's own: what the writing leaves of them is not known, and settings set up by hand
// may be the only ones left.
bool foundCopyUnneeded(const BackupManifest& found, const BackupManifest& own, const std::optional<QString>& fresh);
