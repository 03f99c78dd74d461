#pragma once
// fsync(2) by path: what was written to a file, or the entries of a folder, is on the disk
// before the next step relies on it.

#include <QString>

bool syncToDisk(const QString& path);
