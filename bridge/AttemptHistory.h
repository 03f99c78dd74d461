#pragma once
// The record of every update attempt: one row per attempt, written when it starts, at each
// phase and at its end, so a killed run leaves its last phase behind. The local record is an
// SQLite file beside the run logs; a server (PostgreSQL) may hold every station's record, fed
// by HistorySender from the local file's outbox.
//
// One AttemptHistory is used from one thread only (the GUI thread for the updater): its
// connection belongs to the thread that opened it. Other threads open their own.

#include "bridge/HistoryConnection.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <memory>
#include <optional>
#include <vector>

struct Attempt {
    QString id;               // QUuid text, the same on every store
    QDateTime started, ended; // UTC; ended invalid while running
    QString station;          // the station's name ([station] name=, else the host name)
    QString port;             // USB port path, e.g. "1-2.3"
    QString unit;             // the calibration's digest; empty when it was not read
    QString versionBefore, versionAfter;
    QString packageVersion, packageDigest;
    QString signer;           // key id; empty for an unsigned package
    QString phase;            // the last phase reached: "saving", "image 3", "done"...
    QJsonObject phaseMs;      // phase name -> milliseconds spent in it
    int result = -1;          // the update's result code; -1 while running, or killed
    QString outcome;          // "updated", "failed", "data-not-back", "running"...
    QString runLog;           // path of the run's log

    bool finished() const { return result >= 0; }
    friend bool operator==(const Attempt&, const Attempt&) = default;
};

// Which attempts list() returns; an empty or invalid field does not filter.
struct AttemptFilter {
    QDateTime since;
    QString port; // exactly this port
    QString unit; // a unit whose digest starts with this (the short digest is enough), in either case
    QString station; // exactly this station
};

// Attempts started in a span, by how they ended.
struct AttemptCounts {
    int updated = 0; // result 0
    int failed = 0;  // any other result
    int unfinished = 0; // running, or killed before their end
    int notStarted = 0; // the station ended before their turn: neither failed nor updated
};

// The newest finished attempts at one port, and how many of them failed.
struct RecentFailures {
    int failed = 0;
    int seen = 0;
};

// An attempt the server has not had in its latest form yet.
struct UnsentAttempt {
    Attempt attempt;
    qint64 revision = 0; // counts the local writes; marking sent names the one pushed
};

class AttemptHistory {
public:
    // $XDG_STATE_HOME/hotspot-updater/history.sqlite (default ~/.local/state/...).
    static QString defaultPath();
    // Opens the local record, creating it (folder 0700, file 0600) when missing. Null, with
    // the reason in `why`, when it cannot be used: not a database, another program's, a newer
    // schema, a folder that is not ours.
    // `damaged` as for HistoryConnection::openLocal.
    static std::unique_ptr<AttemptHistory> open(const QString& path, QString* why, bool* damaged = nullptr);
    // The local record to read only (--history): nothing is created or changed; the file must
    // be there.
    static std::unique_ptr<AttemptHistory> openForReading(const QString& path, QString* why);
    // Opens the shared record on a server (a postgresql:// URL, see bridge/ServerAddress.h);
    // to Read, a role that may only SELECT is enough.
    static std::unique_ptr<AttemptHistory> openServer(const QString& url, QString* why,
                                                      HistoryConnection::Access access = HistoryConnection::Access::Write);

    // Inserts the attempt, or updates the row of its id. Callers pass the whole attempt; a
    // field left empty (text, time, phase times) keeps what the row holds, so a run that
    // finishes another's attempt loses nothing known before. `ended` and `result` always
    // take the new value: they tell where the attempt stands now. Locally the row also goes
    // to the outbox, in the same transaction. False when nothing was written.
    [[nodiscard]] bool write(const Attempt& attempt);
    // The same for several, in one transaction: all are written or none.
    [[nodiscard]] bool writeAll(const std::vector<Attempt>& attempts);
    // Matching attempts, oldest first.
    std::vector<Attempt> list(const AttemptFilter& filter) const;
    // Attempts started since `since`; today(): since local midnight.
    AttemptCounts countsSince(const QDateTime& since) const;
    AttemptCounts today() const;
    // Of the last `last` finished attempts at `port`, how many failed (one not started is
    // no attempt at the port).
    RecentFailures failuresOfLast(const QString& port, int last) const;
    // The attempts of `station` still "running" whose id is not in `goingOn` (the open
    // journals'): their run is gone. Marked "interrupted" at the phase they reached, and
    // queued for the server. How many, or -1 when the record could not be written.
    [[nodiscard]] int closeInterrupted(const QString& station, const QStringList& goingOn);

    // The outbox (local record only): the oldest `limit` attempts to send, and forgetting them
    // once the server has them, in one transaction; a row written again since keeps its place
    // (its revision differs).
    std::vector<UnsentAttempt> unsent(int limit) const;
    [[nodiscard]] bool markSent(const std::vector<UnsentAttempt>& sent);
    int unsentCount() const;

    // Why the last call failed; empty when it did not.
    QString lastError() const { return m_error; }
    // The file's path or the server's address (without its password).
    QString where() const { return m_connection->where(); }
    int serverSocket() const { return m_connection->serverSocket(); }

private:
    explicit AttemptHistory(std::unique_ptr<HistoryConnection> connection);
    bool upsert(const Attempt& attempt);
    bool queueForServer(const QString& id);
    bool fail(const QString& what, const QString& why) const;

    std::unique_ptr<HistoryConnection> m_connection;
    mutable QString m_error;
};
