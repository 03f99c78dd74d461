#pragma once
// One connection to a record of attempts, with its tables in place: a local SQLite file or a
// PostgreSQL server. Qt's connections belong to the thread that opens them; this one is
// removed from Qt's list when it is destroyed, on that same thread.

#include <QSqlDatabase>
#include <QString>
#include <memory>

class HistoryConnection {
public:
    // `damaged`, when given, tells a file that is there but cannot be used as a record (not a
    // database, corrupt, unreadable, another program's) from other failures (a newer schema,
    // a folder that is not ours, no driver).
    static std::unique_ptr<HistoryConnection> openLocal(const QString& path, QString* why, bool* damaged = nullptr);
    // Only reads (--history): creates nothing, changes no mode, makes no table. The file must
    // be there.
    static std::unique_ptr<HistoryConnection> openLocalForReading(const QString& path, QString* why);
    enum class Access { Write, Read };
    // `url` as history::serverUrl takes it; to Read, a role that may only SELECT is enough. Connects within a few seconds (unless the URL's
    // connect_timeout says otherwise) or fails: a server that does not answer must never hold
    // up anything for long.
    static std::unique_ptr<HistoryConnection> openServer(const QString& url, QString* why, Access access = Access::Write);
    ~HistoryConnection();
    HistoryConnection(const HistoryConnection&) = delete;
    HistoryConnection& operator=(const HistoryConnection&) = delete;

    QSqlDatabase database() const;
    // The server connection's socket, -1 for a file or none. Shutting it down from another
    // thread ends a call that waits on the server there: nothing else can.
    int serverSocket() const;
    bool isLocal() const { return m_local; }
    // The file's path, or the server's URL with its password masked.
    QString where() const { return m_where; }

    // Starts a transaction that writes at once: SQLite's plain BEGIN takes the write lock
    // late, and a second process then fails instead of waiting for it.
    [[nodiscard]] bool beginWrite();

private:
    HistoryConnection(QString name, QString where, bool local);
    // `damaged` as for openLocal.
    [[nodiscard]] bool prepareTables(QString* why, bool* damaged = nullptr);
    // Our columns and schema, read only.
    [[nodiscard]] bool checkTables(const QString& error, QString* why, bool* damaged);

    QString m_name;
    QString m_where;
    bool m_local;
};

namespace history {
// The schema this program writes; a record with a newer one is not touched.
constexpr int kSchemaVersion = 1;
// How long a local write waits for another process's.
constexpr int kBusyTimeoutMs = 10000;
// How long a server gets to answer a connection.
constexpr int kConnectTimeoutSecs = 3;
} // namespace history
