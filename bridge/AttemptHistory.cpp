#include "bridge/AttemptHistory.h"

#include "bridge/UserFolders.h"

#include <QJsonDocument>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

// Outcomes that are no update's result.
const char* const kNotStarted = "not-started";
const char* const kInterrupted = "interrupted";
const char* const kRunning = "running";

const QString kColumns = QStringLiteral(
    "attempts.id, started, ended, station, port, unit, version_before, version_after, package_version,"
    " package_digest, signer, phase, phase_ms, result, outcome, run_log");

// An empty new value keeps the stored one; ended and result always say where it stands now.
QString keepWhenEmpty(const QString& column, const QString& empty = QStringLiteral("''")) {
    return QStringLiteral("%1 = CASE WHEN excluded.%1 = %2 THEN attempts.%1 ELSE excluded.%1 END").arg(column, empty);
}

QString upsertStatement() {
    QStringList sets;
    for (const char* column : {"started", "station", "port", "unit", "version_before", "version_after",
                               "package_version", "package_digest", "signer", "phase", "outcome", "run_log"})
        sets << keepWhenEmpty(QString::fromLatin1(column));
    sets << keepWhenEmpty(QStringLiteral("phase_ms"), QStringLiteral("'{}'"));
    sets << QStringLiteral("ended = excluded.ended") << QStringLiteral("result = excluded.result");
    return QStringLiteral(
               "INSERT INTO attempts (id, started, ended, station, port, unit, version_before, version_after,"
               " package_version, package_digest, signer, phase, phase_ms, result, outcome, run_log)"
               " VALUES (:id, :started, :ended, :station, :port, :unit, :version_before, :version_after,"
               " :package_version, :package_digest, :signer, :phase, :phase_ms, :result, :outcome, :run_log)"
               " ON CONFLICT (id) DO UPDATE SET ") +
           sets.join(QStringLiteral(", "));
}

// Fixed width, UTC: text order is time order on both databases.
QString timeText(const QDateTime& time) {
    // '' for no time: the columns are NOT NULL.
    return time.isValid() ? time.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")) : QStringLiteral("");
}

QDateTime timeFrom(const QString& text) {
    QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    return time.isValid() ? time.toUTC() : QDateTime();
}

void bindAttempt(QSqlQuery& query, const Attempt& a) {
    query.bindValue(QStringLiteral(":id"), a.id);
    query.bindValue(QStringLiteral(":started"), timeText(a.started));
    query.bindValue(QStringLiteral(":ended"), timeText(a.ended));
    const std::pair<const char*, const QString*> texts[] = {
        {":station", &a.station}, {":port", &a.port}, {":unit", &a.unit},
        {":version_before", &a.versionBefore}, {":version_after", &a.versionAfter},
        {":package_version", &a.packageVersion}, {":package_digest", &a.packageDigest}, {":signer", &a.signer},
        {":phase", &a.phase}, {":outcome", &a.outcome}, {":run_log", &a.runLog}};
    // Never a null: the columns are NOT NULL, and '' is what "not known" is stored as.
    for (const auto& [name, value] : texts)
        query.bindValue(QString::fromLatin1(name), value->isNull() ? QStringLiteral("") : *value);
    query.bindValue(QStringLiteral(":phase_ms"), QString::fromUtf8(QJsonDocument(a.phaseMs).toJson(QJsonDocument::Compact)));
    query.bindValue(QStringLiteral(":result"), a.result);
}

// Reads the columns of kColumns, in order.
Attempt attemptFrom(const QSqlQuery& query) {
    Attempt a;
    a.id = query.value(0).toString();
    a.started = timeFrom(query.value(1).toString());
    a.ended = timeFrom(query.value(2).toString());
    QString* const texts[] = {&a.station, &a.port, &a.unit, &a.versionBefore, &a.versionAfter,
                              &a.packageVersion, &a.packageDigest, &a.signer, &a.phase};
    int column = 3;
    for (QString* text : texts)
        *text = query.value(column++).toString();
    a.phaseMs = QJsonDocument::fromJson(query.value(12).toString().toUtf8()).object();
    a.result = query.value(13).toInt();
    a.outcome = query.value(14).toString();
    a.runLog = query.value(15).toString();
    return a;
}

} // namespace

QString AttemptHistory::defaultPath() {
    return stateFolder() + QStringLiteral("/history.sqlite");
}

std::unique_ptr<AttemptHistory> AttemptHistory::open(const QString& path, QString* why, bool* damaged) {
    QString reason;
    std::unique_ptr<HistoryConnection> connection = HistoryConnection::openLocal(path, &reason, damaged);
    if (why)
        *why = reason;
    return connection ? std::unique_ptr<AttemptHistory>(new AttemptHistory(std::move(connection))) : nullptr;
}

std::unique_ptr<AttemptHistory> AttemptHistory::openForReading(const QString& path, QString* why) {
    QString reason;
    std::unique_ptr<HistoryConnection> connection = HistoryConnection::openLocalForReading(path, &reason);
    if (why)
        *why = reason;
    return connection ? std::unique_ptr<AttemptHistory>(new AttemptHistory(std::move(connection))) : nullptr;
}

std::unique_ptr<AttemptHistory> AttemptHistory::openServer(const QString& url, QString* why, HistoryConnection::Access access) {
    QString reason;
    std::unique_ptr<HistoryConnection> connection = HistoryConnection::openServer(url, &reason, access);
    if (why)
        *why = reason;
    return connection ? std::unique_ptr<AttemptHistory>(new AttemptHistory(std::move(connection))) : nullptr;
}

AttemptHistory::AttemptHistory(std::unique_ptr<HistoryConnection> connection) : m_connection(std::move(connection)) {}

bool AttemptHistory::fail(const QString& what, const QString& why) const {
    m_error = QStringLiteral("%1 in %2: %3").arg(what, where(), why);
    return false;
}

bool AttemptHistory::write(const Attempt& attempt) {
    return writeAll({attempt});
}

bool AttemptHistory::writeAll(const std::vector<Attempt>& attempts) {
    m_error.clear();
    for (const Attempt& attempt : attempts)
        if (attempt.id.isEmpty())
            return fail(QStringLiteral("cannot write an attempt"), QStringLiteral("it has no id"));
    QSqlDatabase db = m_connection->database();
    if (!m_connection->beginWrite())
        return fail(QStringLiteral("cannot write attempts"), db.lastError().text());
    bool ok = true;
    for (const Attempt& attempt : attempts)
        ok = ok && upsert(attempt) && (!m_connection->isLocal() || queueForServer(attempt.id));
    if (ok && db.commit())
        return true;
    if (m_error.isEmpty())
        fail(QStringLiteral("cannot write attempts"), db.lastError().text());
    db.rollback();
    return false;
}

bool AttemptHistory::upsert(const Attempt& attempt) {
    QSqlQuery query(m_connection->database());
    query.prepare(upsertStatement());
    bindAttempt(query, attempt);
    return query.exec() || fail(QStringLiteral("cannot write attempt %1").arg(attempt.id), query.lastError().text());
}

bool AttemptHistory::queueForServer(const QString& id) {
    QSqlQuery query(m_connection->database());
    query.prepare(QStringLiteral("INSERT INTO outbox (id, revision) VALUES (:id, 1)"
                                 " ON CONFLICT (id) DO UPDATE SET revision = outbox.revision + 1"));
    query.bindValue(QStringLiteral(":id"), id);
    return query.exec() || fail(QStringLiteral("cannot queue attempt %1 for the server").arg(id), query.lastError().text());
}

std::vector<Attempt> AttemptHistory::list(const AttemptFilter& filter) const {
    m_error.clear();
    QStringList conditions;
    if (filter.since.isValid())
        conditions << QStringLiteral("started >= :since");
    if (!filter.port.isEmpty())
        conditions << QStringLiteral("port = :port");
    if (!filter.unit.isEmpty())
        conditions << QStringLiteral("lower(substr(unit, 1, %1)) = :unit").arg(filter.unit.size());
    if (!filter.station.isEmpty())
        conditions << QStringLiteral("station = :station");
    QString sql = QStringLiteral("SELECT %1 FROM attempts").arg(kColumns);
    if (!conditions.isEmpty())
        sql += QStringLiteral(" WHERE ") + conditions.join(QStringLiteral(" AND "));
    sql += QStringLiteral(" ORDER BY started, id");
    QSqlQuery query(m_connection->database());
    query.setForwardOnly(true);
    query.prepare(sql);
    if (filter.since.isValid())
        query.bindValue(QStringLiteral(":since"), timeText(filter.since));
    if (!filter.port.isEmpty())
        query.bindValue(QStringLiteral(":port"), filter.port);
    if (!filter.unit.isEmpty())
        query.bindValue(QStringLiteral(":unit"), filter.unit.toLower());
    if (!filter.station.isEmpty())
        query.bindValue(QStringLiteral(":station"), filter.station);
    std::vector<Attempt> attempts;
    if (!query.exec()) {
        fail(QStringLiteral("cannot read the attempts"), query.lastError().text());
        return attempts;
    }
    while (query.next())
        attempts.push_back(attemptFrom(query));
    return attempts;
}

AttemptCounts AttemptHistory::countsSince(const QDateTime& since) const {
    m_error.clear();
    QSqlQuery query(m_connection->database());
    query.prepare(QStringLiteral("SELECT result, CASE WHEN outcome = '%1' THEN 1 ELSE 0 END, COUNT(*) FROM attempts"
                                 " WHERE started >= :since GROUP BY 1, 2")
                      .arg(QLatin1String(kNotStarted)));
    query.bindValue(QStringLiteral(":since"), timeText(since));
    AttemptCounts counts;
    if (!query.exec()) {
        fail(QStringLiteral("cannot count the attempts"), query.lastError().text());
        return counts;
    }
    while (query.next()) {
        const int result = query.value(0).toInt();
        const int n = query.value(2).toInt();
        if (query.value(1).toInt() == 1)
            counts.notStarted += n;
        else
            (result == 0 ? counts.updated : result > 0 ? counts.failed : counts.unfinished) += n;
    }
    return counts;
}

AttemptCounts AttemptHistory::today() const {
    return countsSince(QDateTime(QDate::currentDate(), QTime(0, 0)));
}

RecentFailures AttemptHistory::failuresOfLast(const QString& port, int last) const {
    m_error.clear();
    QSqlQuery query(m_connection->database());
    query.prepare(QStringLiteral("SELECT result FROM attempts WHERE port = :port AND result >= 0 AND outcome <> '%1'"
                                 " ORDER BY started DESC LIMIT %2")
                      .arg(QLatin1String(kNotStarted))
                      .arg(std::max(last, 0)));
    query.bindValue(QStringLiteral(":port"), port);
    RecentFailures recent;
    if (!query.exec()) {
        fail(QStringLiteral("cannot read the attempts at %1").arg(port), query.lastError().text());
        return recent;
    }
    while (query.next()) {
        ++recent.seen;
        recent.failed += query.value(0).toInt() != 0;
    }
    return recent;
}

int AttemptHistory::closeInterrupted(const QString& station, const QStringList& goingOn) {
    m_error.clear();
    QSqlQuery query(m_connection->database());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT %1 FROM attempts WHERE station = :station AND result < 0 AND outcome = '%2'")
                      .arg(kColumns, QLatin1String(kRunning)));
    query.bindValue(QStringLiteral(":station"), station);
    if (!query.exec()) {
        fail(QStringLiteral("cannot read the running attempts"), query.lastError().text());
        return -1;
    }
    std::vector<Attempt> gone;
    while (query.next()) {
        Attempt attempt = attemptFrom(query);
        if (goingOn.contains(attempt.id))
            continue;
        attempt.outcome = QString::fromLatin1(kInterrupted);
        gone.push_back(std::move(attempt));
    }
    query.finish();
    if (gone.empty())
        return 0;
    return writeAll(gone) ? int(gone.size()) : -1;
}

std::vector<UnsentAttempt> AttemptHistory::unsent(int limit) const {
    m_error.clear();
    std::vector<UnsentAttempt> rows;
    if (!m_connection->isLocal())
        return rows;
    QSqlQuery query(m_connection->database());
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT %1, outbox.revision FROM outbox JOIN attempts ON attempts.id = outbox.id"
                                   " ORDER BY started LIMIT %2")
                        .arg(kColumns)
                        .arg(std::max(limit, 0)))) {
        fail(QStringLiteral("cannot read the outbox"), query.lastError().text());
        return rows;
    }
    while (query.next())
        rows.push_back({attemptFrom(query), query.value(16).toLongLong()});
    return rows;
}

bool AttemptHistory::markSent(const std::vector<UnsentAttempt>& sent) {
    m_error.clear();
    QSqlDatabase db = m_connection->database();
    if (!m_connection->beginWrite())
        return fail(QStringLiteral("cannot mark attempts sent"), db.lastError().text());
    QSqlQuery query(db);
    query.prepare(QStringLiteral("DELETE FROM outbox WHERE id = :id AND revision = :revision"));
    for (const UnsentAttempt& row : sent) {
        query.bindValue(QStringLiteral(":id"), row.attempt.id);
        query.bindValue(QStringLiteral(":revision"), row.revision);
        if (!query.exec()) {
            fail(QStringLiteral("cannot mark attempt %1 sent").arg(row.attempt.id), query.lastError().text());
            db.rollback();
            return false;
        }
    }
    return db.commit() || fail(QStringLiteral("cannot mark attempts sent"), db.lastError().text());
}

int AttemptHistory::unsentCount() const {
    m_error.clear();
    if (!m_connection->isLocal())
        return 0;
    QSqlQuery query(m_connection->database());
    if (!query.exec(QStringLiteral("SELECT COUNT(*) FROM outbox")) || !query.next()) {
        fail(QStringLiteral("cannot read the outbox"), query.lastError().text());
        return -1;
    }
    return query.value(0).toInt();
}
