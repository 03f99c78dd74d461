#pragma once
// Where the record of attempts is kept: always the local file; also a server shared by every
// station when --history-db or the configuration file names one:
//   $XDG_CONFIG_HOME/hotspot-updater/history.conf (default ~/.config/...), in INI form:
//   [history]
//   db=postgresql://user@host:5432/dbname
//   [station]
//   name=bench-3
// A password belongs in ~/.pgpass (or PGPASSFILE, or a PGSERVICE's service file); one in the
// configuration file is taken only while nobody but its owner can read the file.

#include "bridge/ServerAddress.h"

#include <QString>
#include <optional>

struct HistoryPlace {
    QString localPath;
    QString server; // a postgresql:// URL; empty: this machine's record only
};

namespace history {

QString configPath();
// The station's name in every row: `[station] name=` in the file at `config`, else the host's.
QString stationName(const QString& config);
// The local file at `localPath`; the server named by `option` (--history-db) when given,
// else by the file at `config`. Nullopt, with the reason, when the one named is no server's
// address, or the file cannot be read or shows its password to others.
std::optional<HistoryPlace> place(const QString& localPath, const QString& option, const QString& config, QString* why);

} // namespace history
