#pragma once
// A shared record's server, named by a postgresql:// URL that libpq itself reads: every
// parameter of its query (sslmode, sslrootcert, connect_timeout, service...) reaches libpq as
// written, and what the URL leaves out comes from libpq's own defaults (PGSERVICE and its
// service file, ~/.pgpass or PGPASSFILE, PGHOST...), as for psql.
//
// A password in the URL never leaves this process: masked() is the only form of the URL, or
// of a message about it, that goes to a log, the screen or a printed command line.

#include <QString>
#include <optional>
#include <vector>

namespace history {

struct ServerParameter {
    QString keyword; // libpq's: host, port, dbname, user, password, sslmode...
    QString value;
    friend bool operator==(const ServerParameter&, const ServerParameter&) = default;
};

// The URL trimmed, when it is a postgresql:// (or postgres://) URL that libpq reads; nullopt,
// with the reason (masked), for anything else.
std::optional<QString> serverUrl(const QString& text, QString* why);
// What the URL sets, in libpq's order; nullopt, with the reason (masked), as for serverUrl.
std::optional<std::vector<ServerParameter>> serverParameters(const QString& url, QString* why);
// True when the URL carries a password (in its user part or as ?password=).
bool namesPassword(const QString& url);
// `text` with every password it holds shown as ***: the user part of each URL (one that does
// not parse too: an unencoded '@', '/' or '#' in the password) and each password= value.
QString masked(const QString& text);
// A message about `url` (libpq's or the driver's may quote it whole): the URL's passwords,
// wherever they appear in `message`, shown as ***.
QString masked(const QString& message, const QString& url);

} // namespace history
