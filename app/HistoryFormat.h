#pragma once
// The record of attempts as `--history` prints it: a table to read, JSON (one object per line,
// as the terminal's other JSON output) or CSV (RFC 4180, with a header line).

#include "bridge/AttemptHistory.h"

#include <QJsonObject>
#include <QString>
#include <vector>

namespace historyformat {

// One line per attempt: started (local time), the station (`withStation`: every station's
// record), port, unit (short digest), versions, package, outcome, phase, duration.
QString table(const std::vector<Attempt>& attempts, bool withStation = false);
QString jsonLines(const std::vector<Attempt>& attempts);
QString csv(const std::vector<Attempt>& attempts);

QJsonObject toJson(const Attempt& attempt);
// Quoted when it holds a comma, a quote or a line end; quotes doubled.
QString csvField(const QString& text);
// m:ss or h:mm:ss from start to end; "-" while running.
QString duration(const Attempt& attempt);

} // namespace historyformat
