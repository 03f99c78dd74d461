#pragma once
// A private PostgreSQL server for one test: its own cluster in a temporary folder, on a free
// port of 127.0.0.1, trusting every local connection. Run as nobody when the test runs as
// root (the server refuses root). Stopped, without a shutdown checkpoint, when destroyed.

#include <QString>
#include <QTemporaryDir>

class PostgresServer {
public:
    PostgresServer();
    ~PostgresServer();

    // Empty when the server runs; else why not (no PostgreSQL installed, initdb failed...).
    QString unavailable() const { return m_unavailable; }
    QString url() const;
    // The same server for `role`, without a password.
    QString url(const QString& role) const;
    // A role that logs in over TCP with `password` only (every other connection is trusted),
    // then `grants`, run as the superuser.
    [[nodiscard]] bool addRole(const QString& role, const QString& password, const QStringList& grants = {});
    [[nodiscard]] bool start();
    // As a crash or a pulled cable looks to a client: connections drop mid-transaction.
    [[nodiscard]] bool stop();

private:
    [[nodiscard]] bool sql(const QString& statement) const;
    [[nodiscard]] bool run(const QString& tool, const QStringList& args, QString* output = nullptr) const;

    QTemporaryDir m_dir;
    QString m_bin;
    int m_port = 0;
    bool m_running = false;
    QString m_unavailable;
};
