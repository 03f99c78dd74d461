#include "core/StateStore.h"

#include "core/Bus.h"
#include "core/Scenario.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace sim {

QString envStateDir()
{
    return qEnvironmentVariable("HOTSPOT_SIM_DIR");
}

Transaction::Transaction(const QString& dir, const QString& unitPort) : m_dir(dir)
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
    read(unitPort);
}

namespace {

const QString kUnits = QStringLiteral("units");
const QString kPort = QStringLiteral("port");
const QString kScenario = QStringLiteral("scenario");
const QString kDevice = QStringLiteral("device");

QJsonObject readObject(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

bool writeObject(const QString& path, const QJsonObject& object)
{
    QSaveFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.write(QJsonDocument(object).toJson(QJsonDocument::Indented));
    return out.commit();
}

QString unitFile(const QString& dir, const QString& port)
{
    return QDir(dir).filePath(QString::fromLatin1(kUnitsFolder) + QLatin1Char('/') + port + QStringLiteral(".json"));
}

} // namespace

void Transaction::read(const QString& unitPort)
{
    m_state = readObject(QDir(m_dir).filePath(QString::fromLatin1(kStateFile)));
    // A folder without a readable state holds the default device.
    if (!m_state.contains(kDevice) && !m_state.value(kUnits).isArray())
        m_state = initialState(defaultSettings());
    else
        m_hubAsRead = m_state;
    m_busAsRead = m_state.value(QLatin1String("bus"));
    QJsonArray units = m_state.value(kUnits).toArray();
    // A hub whose units are still inline in state.json (freshly made) is read and written whole.
    const bool wholeInFile = std::any_of(units.cbegin(), units.cend(),
                                     [](const QJsonValue& u) { return u.toObject().contains(kDevice); });
    m_onlyPort = units.isEmpty() || wholeInFile ? QString() : unitPort;
    for (qsizetype i = 0; i < units.size() && !wholeInFile; ++i) {
        QJsonObject unit = units.at(i).toObject();
        const QString port = unit.value(kPort).toString();
        if (!m_onlyPort.isEmpty() && port != m_onlyPort)
            continue;
        const QJsonObject parts = readObject(unitFile(m_dir, port));
        m_unitsAsRead.insert(port, parts);
        unit.insert(kScenario, parts.value(kScenario));
        unit.insert(kDevice, parts.value(kDevice));
        units.replace(i, unit);
    }
    if (!units.isEmpty())
        m_state.insert(kUnits, units);
}

Transaction::~Transaction()
{
    if (m_fd >= 0) {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
    }
}

// Moves every unit's settings and device out of the hub's part into a file of its own,
// writing the files that changed; the other units' files are not touched.
bool Transaction::writeUnits(QJsonObject& hubPart)
{
    QJsonArray units = hubPart.value(kUnits).toArray();
    if (!QDir(m_dir).mkpath(QString::fromLatin1(kUnitsFolder)))
        return false;
    bool written = true;
    for (qsizetype i = 0; i < units.size(); ++i) {
        const QJsonObject unit = units.at(i).toObject();
        const QString port = unit.value(kPort).toString();
        if (m_onlyPort.isEmpty() || port == m_onlyPort) {
            const QJsonObject parts{{kScenario, unit.value(kScenario)}, {kDevice, unit.value(kDevice)}};
            const auto asRead = m_unitsAsRead.constFind(port);
            if (asRead == m_unitsAsRead.cend() || *asRead != parts) {
                written = writeObject(unitFile(m_dir, port), parts) && written;
                m_unitsAsRead.insert(port, parts);
            }
        }
        units.replace(i, QJsonObject{{kPort, port}});
    }
    hubPart.insert(kUnits, units);
    return written;
}

bool Transaction::commit()
{
    if (m_fd < 0)
        return false;
    syncBus(m_state, m_onlyPort);
    // Whoever changed the bus in this transaction (the USB library numbers it before commit),
    // the tree follows.
    const QJsonValue bus = m_state.value(QLatin1String("bus"));
    QJsonObject hubPart = m_state;
    if (hubPart.value(kUnits).isArray() && !writeUnits(hubPart))
        return false;
    if (hubPart != m_hubAsRead) {
        if (!writeObject(QDir(m_dir).filePath(QString::fromLatin1(kStateFile)), hubPart))
            return false;
        m_hubAsRead = hubPart;
    }
    if (bus != m_busAsRead) {
        writeSysfs(m_dir, m_state, m_busAsRead);
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
