#include "core/Bus.h"

#include "core/Device.h"
#include "core/Units.h"

#include <QDir>
#include <QJsonArray>
#include <QSaveFile>

namespace sim {

namespace {

const QString kBus = QStringLiteral("bus");
const QString kNext = QStringLiteral("next_devnum");
const QString kPorts = QStringLiteral("ports");
constexpr int kMaxDevnum = 127;

int takeDevnum(int& next)
{
    if (next < kHubDevnum + 1 || next > kMaxDevnum)
        next = kHubDevnum + 1;
    return next++;
}

bool writeText(const QString& path, const QByteArray& text)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
}

void writeDeviceFolder(const QDir& root, const QString& name, int devnum, const QString& identity)
{
    if (!root.mkpath(name))
        return;
    const QString at = root.filePath(name) + QLatin1Char('/');
    writeText(at + QStringLiteral("busnum"), QByteArray::number(kBusNumber) + '\n');
    writeText(at + QStringLiteral("devnum"), QByteArray::number(devnum) + '\n');
    writeText(at + QStringLiteral("idVendor"), identity.section(QLatin1Char(':'), 0, 0).toLatin1() + '\n');
    writeText(at + QStringLiteral("idProduct"), identity.section(QLatin1Char(':'), 1, 1).toLatin1() + '\n');
}

} // namespace

void syncBus(QJsonObject& state, const QString& onlyPort)
{
    const QJsonObject bus = state.value(kBus).toObject();
    const QJsonObject before = bus.value(kPorts).toObject();
    int next = bus.value(kNext).toInt(kHubDevnum + 1);
    QJsonObject now;
    for (const QString& port : unitPorts(state)) {
        if (!onlyPort.isEmpty() && port != onlyPort) {
            if (before.contains(port))
                now.insert(port, before.value(port));
            continue;
        }
        QStringList ids;
        int generation = 0;
        {
            Device device(state, port);
            ids = device.identities();
            generation = device.generation();
        }
        if (ids.isEmpty())
            continue;
        const QJsonObject old = before.value(port).toObject();
        if (old.value(QLatin1String("generation")).toInt() == generation
            && old.value(QLatin1String("identities")).toArray() == QJsonArray::fromStringList(ids)) {
            now.insert(port, old);
            continue;
        }
        QJsonArray devnums;
        for (qsizetype i = 0; i < ids.size(); ++i)
            devnums.append(takeDevnum(next));
        now.insert(port, QJsonObject{{"generation", generation},
                                     {"identities", QJsonArray::fromStringList(ids)},
                                     {"devnums", devnums}});
    }
    state.insert(kBus, QJsonObject{{kNext, next}, {kPorts, now}});
}

QList<BusEntry> busEntries(const QJsonObject& state, const QString& port)
{
    const QJsonObject entry = state.value(kBus).toObject().value(kPorts).toObject().value(port).toObject();
    const QJsonArray ids = entry.value(QLatin1String("identities")).toArray();
    const QJsonArray devnums = entry.value(QLatin1String("devnums")).toArray();
    QList<BusEntry> out;
    for (qsizetype i = 0; i < ids.size() && i < devnums.size(); ++i)
        out.append({ids.at(i).toString(), devnums.at(i).toInt()});
    return out;
}

void writeSysfs(const QString& dir, const QJsonObject& state, const QJsonValue& before)
{
    QDir root(QDir(dir).filePath(QString::fromLatin1(kSysfsDevices)));
    if (!root.mkpath(QStringLiteral(".")))
        return;
    const QJsonObject ports = state.value(kBus).toObject().value(kPorts).toObject();
    const QJsonObject portsBefore = before.toObject().value(kPorts).toObject();
    const QString hub = QStringLiteral("usb%1").arg(kBusNumber);
    for (const QString& name : root.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (name != hub && !ports.contains(name))
            QDir(root.filePath(name)).removeRecursively();
    }
    if (!before.isObject() || !root.exists(hub))
        writeDeviceFolder(root, hub, kHubDevnum, QString::fromLatin1(kHubIdentity));
    for (auto it = ports.begin(); it != ports.end(); ++it) {
        if (portsBefore.value(it.key()) == it.value() && root.exists(it.key()))
            continue;
        // A unit showing two identities at once is still one port: the first one is seen there.
        const QList<BusEntry> entries = busEntries(state, it.key());
        if (!entries.isEmpty())
            writeDeviceFolder(root, it.key(), entries.first().devnum, entries.first().identity);
    }
}

} // namespace sim
