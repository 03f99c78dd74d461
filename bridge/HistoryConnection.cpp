#include "bridge/HistoryConnection.h"

#include "bridge/PrivateFolder.h"
#include "bridge/ServerAddress.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUuid>
#include <libpq-fe.h>

namespace {

const QString kSqlite = QStringLiteral("QSQLITE");
const QString kPostgres = QStringLiteral("QPSQL");

// Identical on SQLite and PostgreSQL: times are UTC text that sorts as it reads.
const char* const kTables[] = {
    "CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS attempts (id TEXT PRIMARY KEY, started TEXT NOT NULL, ended TEXT NOT NULL,"
    " station TEXT NOT NULL, port TEXT NOT NULL, unit TEXT NOT NULL, version_before TEXT NOT NULL,"
    " version_after TEXT NOT NULL, package_version TEXT NOT NULL, package_digest TEXT NOT NULL,"
    " signer TEXT NOT NULL, phase TEXT NOT NULL, phase_ms TEXT NOT NULL, result INTEGER NOT NULL,"
    " outcome TEXT NOT NULL, run_log TEXT NOT NULL)",
    "CREATE INDEX IF NOT EXISTS attempts_by_start ON attempts (started)",
    "CREATE INDEX IF NOT EXISTS attempts_by_port ON attempts (port, started)",
};
// The local file's list of attempts the server has not had in their latest form.
const char* const kOutbox = "CREATE TABLE IF NOT EXISTS outbox (id TEXT PRIMARY KEY, revision INTEGER NOT NULL)";
// Every column, in the order the rows are read: a table of another program fails here.
const char* const kOurColumns =
    "SELECT id, started, ended, station, port, unit, version_before, version_after, package_version,"
    " package_digest, signer, phase, phase_ms, result, outcome, run_log FROM attempts WHERE 1 = 0";

QString newConnectionName() {
    return QStringLiteral("history-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// Created private before SQLite sees it; its -wal and -shm files take the same mode.
bool ensurePrivateFile(const QString& path, QString* why) {
    const QFileInfo info(path);
    if (!QDir().mkpath(QFileInfo(info.absolutePath()).absolutePath()) || !ensurePrivateDir(info.absolutePath())) {
        *why = QStringLiteral("%1 is not a folder of ours").arg(info.absolutePath());
        return false;
    }
    if (info.exists())
        return true;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
        !file.setPermissions(QFile::ReadOwner | QFile::WriteOwner)) {
        // Another process may have just created it.
        if (QFileInfo::exists(path))
            return true;
        *why = QStringLiteral("cannot create %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

// libpq's quoting of a connection string's value.
QString quoted(QString value) {
    value.replace(u'\\', QStringLiteral("\\\\")).replace(u'\'', QStringLiteral("\\'"));
    return u'\'' + value + u'\'';
}

// What the URL does not set itself: a quick connect, and a broken link or a server gone silent
// mid-write noticed within seconds, not after the system's two hours: the sender's round then
// ends well within the time its owner waits for it at exit.
const std::pair<const char*, int> kDefaults[] = {{"connect_timeout", history::kConnectTimeoutSecs},
                                                 {"keepalives_idle", 10},
                                                 {"keepalives_interval", 3},
                                                 {"keepalives_count", 3},
                                                 {"tcp_user_timeout", 3000}};

// Qt's driver passes its options to libpq as one connection string, with every ';' made a
// space: the password goes apart (the driver quotes it), and any other ';' is refused.
std::optional<QString> driverOptions(const std::vector<history::ServerParameter>& parameters, QString* password,
                                     QString* why) {
    QStringList options;
    QStringList given;
    for (const history::ServerParameter& p : parameters) {
        given << p.keyword;
        if (p.keyword == QLatin1String("password")) {
            *password = p.value;
            continue;
        }
        if (p.value.contains(u';')) {
            *why = QStringLiteral("the history server's %1 holds a ';', which Qt's PostgreSQL driver cannot pass on")
                       .arg(p.keyword);
            return std::nullopt;
        }
        options << p.keyword + u'=' + quoted(p.value);
    }
    for (const auto& [keyword, value] : kDefaults)
        if (!given.contains(QLatin1String(keyword)))
            options << QString::fromLatin1(keyword) + u'=' + QString::number(value);
    return options.join(u';');
}

} // namespace

HistoryConnection::HistoryConnection(QString name, QString where, bool local)
    : m_name(std::move(name)), m_where(std::move(where)), m_local(local) {}

HistoryConnection::~HistoryConnection() {
    {
        QSqlDatabase db = QSqlDatabase::database(m_name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(m_name);
}

QSqlDatabase HistoryConnection::database() const {
    return QSqlDatabase::database(m_name, false);
}

int HistoryConnection::serverSocket() const {
    const QSqlDatabase db = database();
    const QVariant handle = db.isValid() && db.driver() ? db.driver()->handle() : QVariant();
    // Qt names the type as libpq declares it (struct pg_conn), not by its typedef.
    const char* const type = handle.typeName();
    if (m_local || !type || (qstrcmp(type, "PGconn*") != 0 && qstrcmp(type, "pg_conn*") != 0))
        return -1;
    PGconn* const connection = *static_cast<PGconn* const*>(handle.constData());
    return connection ? PQsocket(connection) : -1;
}

std::unique_ptr<HistoryConnection> HistoryConnection::openLocal(const QString& path, QString* why, bool* damaged) {
    bool unused = false;
    if (!damaged)
        damaged = &unused;
    *damaged = false;
    if (!QSqlDatabase::isDriverAvailable(kSqlite)) {
        *why = QStringLiteral("Qt's SQLite driver is not installed (Debian package libqt6sql6-sqlite)");
        return nullptr;
    }
    if (!ensurePrivateFile(path, why))
        return nullptr;
    std::unique_ptr<HistoryConnection> connection(new HistoryConnection(newConnectionName(), path, true));
    QSqlDatabase db = QSqlDatabase::addDatabase(kSqlite, connection->m_name);
    db.setDatabaseName(path);
    // Two processes writing at once wait for each other instead of failing.
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(history::kBusyTimeoutMs));
    if (!db.open()) {
        *why = QStringLiteral("cannot open %1: %2").arg(path, db.lastError().text());
        *damaged = true;
        return nullptr;
    }
    QSqlQuery wal(db);
    if (!wal.exec(QStringLiteral("PRAGMA journal_mode=WAL")) || !wal.next() ||
        wal.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) != 0) {
        *why = QStringLiteral("%1 is not a record of update attempts: %2").arg(path, wal.lastError().text());
        *damaged = true;
        return nullptr;
    }
    wal.finish();
    if (!connection->prepareTables(why, damaged))
        return nullptr;
    return connection;
}

std::unique_ptr<HistoryConnection> HistoryConnection::openLocalForReading(const QString& path, QString* why) {
    if (!QSqlDatabase::isDriverAvailable(kSqlite)) {
        *why = QStringLiteral("Qt's SQLite driver is not installed (Debian package libqt6sql6-sqlite)");
        return nullptr;
    }
    std::unique_ptr<HistoryConnection> connection(new HistoryConnection(newConnectionName(), path, true));
    QSqlDatabase db = QSqlDatabase::addDatabase(kSqlite, connection->m_name);
    QUrl uri = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath());
    // Without a -wal file every committed row is in the file itself, and SQLite would still make
    // a -wal and a -shm to read it: read it as it stands. With one, a writer keeps both.
    const bool settled = !QFileInfo::exists(path + QStringLiteral("-wal"));
    uri.setQuery(settled ? QStringLiteral("mode=ro&immutable=1") : QStringLiteral("mode=ro"));
    db.setDatabaseName(uri.toString(QUrl::FullyEncoded));
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI;QSQLITE_BUSY_TIMEOUT=%1").arg(history::kBusyTimeoutMs));
    if (!db.open()) {
        *why = QStringLiteral("cannot read %1: %2").arg(path, db.lastError().text());
        return nullptr;
    }
    bool damaged = false;
    if (!connection->checkTables({}, why, &damaged))
        return nullptr;
    return connection;
}

std::unique_ptr<HistoryConnection> HistoryConnection::openServer(const QString& url, QString* why, Access access) {
    const QString where = history::masked(url);
    if (!QSqlDatabase::isDriverAvailable(kPostgres)) {
        *why = QStringLiteral("cannot use %1: Qt's PostgreSQL driver is not installed (Debian package libqt6sql6-psql)")
                   .arg(where);
        return nullptr;
    }
    const std::optional<std::vector<history::ServerParameter>> parameters = history::serverParameters(url, why);
    if (!parameters)
        return nullptr;
    QString password;
    const std::optional<QString> options = driverOptions(*parameters, &password, why);
    if (!options)
        return nullptr;
    std::unique_ptr<HistoryConnection> connection(new HistoryConnection(newConnectionName(), where, false));
    QSqlDatabase db = QSqlDatabase::addDatabase(kPostgres, connection->m_name);
    db.setPassword(password);
    db.setConnectOptions(*options);
    if (!db.open()) {
        *why = history::masked(
            QStringLiteral("cannot reach the history server %1: %2").arg(where, db.lastError().text().simplified()), url);
        return nullptr;
    }
    // Notices ("already exists, skipping", a shutdown's warning) would end up on standard error.
    QSqlQuery(db).exec(QStringLiteral("SET client_min_messages TO error"));
    bool damaged = false;
    if (access == Access::Read ? !connection->checkTables({}, why, &damaged) : !connection->prepareTables(why))
        return nullptr;
    return connection;
}

bool HistoryConnection::beginWrite() {
    if (!m_local)
        return database().transaction();
    QSqlQuery begin(database());
    return begin.exec(QStringLiteral("BEGIN IMMEDIATE"));
}

bool HistoryConnection::prepareTables(QString* why, bool* damaged) {
    bool unused = false;
    if (!damaged)
        damaged = &unused;
    QSqlDatabase db = database();
    QString error;
    // Two stations creating the server's tables at once: the loser of that race tries again.
    for (int round = 0; round < 3; ++round) {
        if (!beginWrite()) {
            error = db.lastError().text();
            continue;
        }
        QSqlQuery query(db);
        bool ok = true;
        for (const char* statement : kTables)
            ok = ok && query.exec(QString::fromLatin1(statement));
        ok = ok && query.exec(QStringLiteral("INSERT INTO meta (key, value) VALUES ('schema', '%1')"
                                             " ON CONFLICT (key) DO NOTHING")
                                  .arg(history::kSchemaVersion));
        if (ok && m_local)
            ok = query.exec(QString::fromLatin1(kOutbox));
        error = query.lastError().text();
        query.finish();
        if (ok && db.commit()) {
            error.clear();
            break;
        }
        db.rollback();
    }
    return checkTables(error, why, damaged);
}

bool HistoryConnection::checkTables(const QString& error, QString* why, bool* damaged) {
    QSqlQuery check(database());
    if (!error.isEmpty() || !check.exec(QString::fromLatin1(kOurColumns))) {
        *why = QStringLiteral("%1 is not a record of update attempts: %2")
                   .arg(m_where, error.isEmpty() ? check.lastError().text() : error);
        *damaged = true;
        return false;
    }
    if (!check.exec(QStringLiteral("SELECT value FROM meta WHERE key = 'schema'")) || !check.next()) {
        *why = QStringLiteral("%1 is not a record of update attempts: it names no schema").arg(m_where);
        *damaged = true;
        return false;
    }
    const int schema = check.value(0).toString().toInt();
    if (schema != history::kSchemaVersion) {
        *why = QStringLiteral("%1 holds a record of schema %2; this updater knows schema %3 only")
                   .arg(m_where)
                   .arg(schema)
                   .arg(history::kSchemaVersion);
        return false;
    }
    return true;
}
