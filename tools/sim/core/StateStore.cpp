#include "core/StateStore.h"

#include "core/Bus.h"
#include "core/Scenario.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QSaveFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace sim {

QString envStateDir()
{
    return qEnvironmentVariable("HOTSPOT_SIM_DIR");
}

Transaction::Transaction(const QString& dir) : m_dir(dir)
{
    QDir().mkpath(dir);
    const QByteArray lockPath = QFile::encodeName(QDir(dir).filePath(QString::fromLatin1(kLockFile)));
    m_fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_fd < 0)
        return;
    while (::flock(m_fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
    }
    QFile file(QDir(dir).filePath(QString::fromLatin1(kStateFile)));
    if (file.open(QIODevice::ReadOnly)) {
        const QJsonDocument doc = QJsonDocument::fromJson(file.readAll());
        if (doc.isObject())
            m_state = doc.object();
    }
    // A folder without a readable state holds the default device.
    if (!m_state.contains(QLatin1String("device")) && !m_state.value(QLatin1String("units")).isArray())
        m_state = initialState(defaultSettings());
    m_busAsRead = m_state.value(QLatin1String("bus"));
}

Transaction::~Transaction()
{
    if (m_fd >= 0) {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
    }
}

bool Transaction::commit()
{
    if (m_fd < 0)
        return false;
    syncBus(m_state);
    // Whoever changed the bus in this transaction (the USB library numbers it before commit),
    // the tree follows.
    const QJsonValue bus = m_state.value(QLatin1String("bus"));
    const bool busChanged = bus != m_busAsRead;
    QSaveFile out(QDir(m_dir).filePath(QString::fromLatin1(kStateFile)));
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.write(QJsonDocument(m_state).toJson(QJsonDocument::Indented));
    if (!out.commit())
        return false;
    if (busChanged) {
        writeSysfs(m_dir, m_state);
        m_busAsRead = bus;
    }

    if (m_truncate || !m_records.isEmpty()) {
        QFile log(QDir(m_dir).filePath(QString::fromLatin1(kRecordsFile)));
        const auto mode = m_truncate ? QIODevice::WriteOnly | QIODevice::Truncate
                                     : QIODevice::WriteOnly | QIODevice::Append;
        if (!log.open(mode))
            return false;
        for (const QJsonObject& entry : m_records)
            log.write(QJsonDocument(entry).toJson(QJsonDocument::Compact) + '\n');
        m_records.clear();
        m_truncate = false;
    }
    return true;
}

QList<QJsonObject> readRecords(const QString& dir)
{
    QList<QJsonObject> out;
    Transaction tx(dir); // a consistent snapshot: no writer appends meanwhile
    QFile log(QDir(dir).filePath(QString::fromLatin1(kRecordsFile)));
    if (!log.open(QIODevice::ReadOnly))
        return out;
    const QList<QByteArray> lines = log.readAll().split('\n');
    for (const QByteArray& line : lines) {
        const QJsonDocument doc = QJsonDocument::fromJson(line);
        if (doc.isObject())
            out.append(doc.object());
    }
    return out;
}

} // namespace sim
