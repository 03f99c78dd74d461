#pragma once
// Texts of the string table: every message the user sees is looked up by its key.

#include <QString>

namespace messages {

// The key itself when the table or the entry is missing.
QString lookup(const char* key);
// Fills the one "%s" of a looked-up text with `arg` (never used as a printf format).
QString fill(const QString& format, const QString& arg);
// lookup(key) with its "%s" filled.
QString lookupFilled(const char* key, const QString& arg);

} // namespace messages
