#pragma once
// A folder only this user can read or change: the device's data and the update journals go there.

#include <QString>

// A folder of ours, 0700; created when missing (its parent must exist). False for another
// user's folder, which is never written into (they could read or swap what we keep there),
// and for anything that is not a folder.
bool ensurePrivateDir(const QString& path);
