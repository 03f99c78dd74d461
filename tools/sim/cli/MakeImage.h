#pragma once
// Deterministic pseudo-random image files for demo packages.

#include <QString>

// Writes size bytes drawn from a generator seeded with seed; the same arguments always give
// the same file. Returns false (with *error) when the file cannot be written.
bool makeImage(const QString& path, qint64 size, quint32 seed, QString* error);
