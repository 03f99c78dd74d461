#include "tests/bridge/PostgresServer.h"

#include <QDir>
#include <QFile>
#include "tests/bridge/ForkedChild.h"
#include <QStringList>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QString kUser = QStringLiteral("history");

// A port nobody listens on right now.
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

QString newestBinFolder() {
    QDir versions(QStringLiteral("/usr/lib/postgresql"));
    QStringList found = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    while (!found.isEmpty()) {
        const QString bin = versions.filePath(found.takeLast() + QStringLiteral("/bin"));
        if (QFile::exists(bin + QStringLiteral("/initdb")))
            return bin;
    }
    return {};
}

} // namespace

PostgresServer::PostgresServer() : m_bin(newestBinFolder()), m_port(freePort()) {
    if (m_bin.isEmpty()) {
        m_unavailable = QStringLiteral("no initdb in /usr/lib/postgresql/*/bin (Debian package postgresql)");
        return;
    }
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        if (!nobody || ::chown(QFile::encodeName(m_dir.path()).constData(), nobody->pw_uid, nobody->pw_gid) != 0) {
            m_unavailable = QStringLiteral("cannot give the server's folder to nobody");
            return;
        }
    }
    QString output;
    if (!run(QStringLiteral("initdb"), {QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")), QStringLiteral("-U"), kUser,
                                        QStringLiteral("-A"), QStringLiteral("trust"), QStringLiteral("--no-sync"),
                                        QStringLiteral("--locale=C"), QStringLiteral("-E"), QStringLiteral("UTF8")},
             &output)) {
        m_unavailable = QStringLiteral("initdb failed: ") + output;
        return;
    }
    if (!start())
        m_unavailable = QStringLiteral("the server did not start; see ") + m_dir.filePath(QStringLiteral("server.log"));
}

PostgresServer::~PostgresServer() {
    if (m_running)
        (void)stop();
}

QString PostgresServer::url() const {
    return QStringLiteral("postgresql://%1@127.0.0.1:%2/postgres").arg(kUser).arg(m_port);
}

QString PostgresServer::url(const QString& role) const {
    return QStringLiteral("postgresql://%1@127.0.0.1:%2/postgres").arg(role).arg(m_port);
}

bool PostgresServer::addRole(const QString& role, const QString& password, const QStringList& grants) {
    QFile hba(m_dir.filePath(QStringLiteral("data/pg_hba.conf")));
    if (!hba.open(QIODevice::ReadOnly))
        return false;
    // The first line that matches decides.
    const QByteArray rest = hba.readAll();
    hba.close();
    if (!hba.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    hba.write("host all " + role.toUtf8() + " 127.0.0.1/32 scram-sha-256\n" + rest);
    hba.close();
    if (!sql(QStringLiteral("CREATE ROLE %1 LOGIN PASSWORD '%2'").arg(role, password)))
        return false;
    for (const QString& grant : grants)
        if (!sql(grant))
            return false;
    return run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")), QStringLiteral("reload")});
}

bool PostgresServer::sql(const QString& statement) const {
    return run(QStringLiteral("psql"), {QStringLiteral("-h"), m_dir.path(), QStringLiteral("-p"), QString::number(m_port),
                                        QStringLiteral("-U"), kUser, QStringLiteral("-d"), QStringLiteral("postgres"),
                                        QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"), QStringLiteral("-qc"), statement});
}

bool PostgresServer::start() {
    const QString options = QStringLiteral("-c listen_addresses=127.0.0.1 -p %1 -k %2 -c fsync=off")
                                .arg(m_port)
                                .arg(m_dir.path());
    m_running = run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")), QStringLiteral("-l"),
                                               m_dir.filePath(QStringLiteral("server.log")), QStringLiteral("-w"),
                                               QStringLiteral("-t"), QStringLiteral("60"), QStringLiteral("-o"), options,
                                               QStringLiteral("start")});
    return m_running;
}

bool PostgresServer::stop() {
    m_running = !run(QStringLiteral("pg_ctl"), {QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")), QStringLiteral("-m"),
                                                QStringLiteral("immediate"), QStringLiteral("-w"), QStringLiteral("stop")});
    return !m_running;
}

bool PostgresServer::run(const QString& tool, const QStringList& args, QString* output) const {
    const QString program = m_bin + u'/' + tool;
    ForkedChild process = ::geteuid() == 0
                              ? ForkedChild(QStringLiteral("setpriv"),
                                            QStringList{QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                                                        QStringLiteral("--clear-groups"), QStringLiteral("--"), program} +
                                                args,
                                            ForkedChild::Errors::Merged)
                              : ForkedChild(program, args, ForkedChild::Errors::Merged);
    const bool ok = process.wait(120000) == 0;
    if (output)
        *output = QString::fromLocal8Bit(process.output());
    return ok;
}
