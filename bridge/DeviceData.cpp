#include "bridge/DeviceData.h"
#include "bridge/Contract.h"
#include "bridge/HostCopy.h"
#include "bridge/OutputText.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

// The two device files an update must not lose are copied into this run's entry of the
// durable store, each judged on its own, and only this run's copies are pushed back.

namespace {

struct DataFile {
    QString devicePath;
    QString restoreTo;
};

// Calibration first: it is the one that cannot be made again.
const DataFile kDataFiles[] = {{contract::kWifiBoardData, contract::kWifiBoardData},
                               {contract::kConfigDb, contract::kConfigDbRestored}};

enum class Pulled { Saved, Absent, Failed };

QString copyName(const QString& devicePath) { return QFileInfo(devicePath).fileName(); }

bool reportsAbsent(const ToolResult& result) {
    if (!output::mentions(result, contract::kRemoteObject))
        return false;
    for (const QString& absent : contract::kRemoteAbsent)
        if (output::mentions(result, absent))
            return true;
    return false;
}

// The verdict on one pull: an error naming a missing remote object is an absent file; any
// other error, or no file at all, is a failed copy, whatever was left behind.
Pulled pullInto(const Tools& tools, BackupRun& run, const QString& devicePath, const QString& restoreTo) {
    const QString name = copyName(devicePath);
    const QString partial = run.entry + u'/' + name + QStringLiteral(".part");
    const ToolResult result = tools.adb(contract::adbPull(devicePath, partial)).text;
    std::optional<BackupFile> sealed;
    if (!output::reportsError(result))
        sealed = BackupStore::seal(partial, run.entry, name);
    if (!sealed) {
        QFile::remove(partial);
        return reportsAbsent(result) ? Pulled::Absent : Pulled::Failed;
    }
    sealed->devicePath = devicePath;
    sealed->restoreTo = restoreTo;
    run.manifest.files.push_back(*sealed);
    return Pulled::Saved;
}

// An entry with copies gets its manifest; one without is dropped. False when the manifest,
// which tells what the copies are, could not be written.
bool closeEntry(const BackupStore& store, BackupRun& run) {
    if (run.entry.isEmpty())
        return true;
    if (run.manifest.files.empty()) {
        QDir(run.entry).removeRecursively();
        run.entry.clear();
        return true;
    }
    return store.writeManifest(run.entry, run.manifest);
}

} // namespace

DeviceData::DeviceData(const Tools& tools, const DeviceProbes& probes, BackupStore store, QString hostTmp)
    : m_tools(tools), m_probes(probes), m_store(std::move(store)), m_hostTmp(std::move(hostTmp)) {}

bool DeviceData::backUp(BackupRun& run, const QString& deviceVersion, const QString& packageVersion) const {
    return openEntry(run, deviceVersion, packageVersion) && saveFiles(run);
}

bool DeviceData::openEntry(BackupRun& run, const QString& deviceVersion, const QString& packageVersion) const {
    run = BackupRun();
    if (m_probes.detectAdb().tool != AdbVerdict::Adb)
        return false;
    BackupManifest& manifest = run.manifest;
    // The one serial adb lists our device under (every unit of the model answers with it).
    manifest.serial = contract::kAdbDeviceSerial;
    // One reading of the clock: the folder's name and the manifest agree.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    manifest.created = now.toString(Qt::ISODate);
    manifest.deviceVersion = deviceVersion;
    manifest.packageVersion = packageVersion;
    run.entry = m_store.createEntry(manifest.serial, now);
    if (run.entry.isEmpty())
        qWarning("hotspot-updater: no backup folder could be made below %s", qUtf8Printable(m_store.root()));
    return !run.entry.isEmpty();
}

bool DeviceData::saveFiles(BackupRun& run) const {
    BackupManifest& manifest = run.manifest;
    bool mayWrite = true;
    for (const DataFile& file : kDataFiles) {
        const Pulled pulled = run.entry.isEmpty() ? Pulled::Failed : pullInto(m_tools, run, file.devicePath, file.restoreTo);
        if (pulled == Pulled::Saved)
            continue;
        if (pulled == Pulled::Absent) {
            qInfo("hotspot-updater: the device has no %s; nothing to save", qUtf8Printable(file.devicePath));
            manifest.notSaved.insert(file.devicePath, QStringLiteral("absent on the device"));
            continue;
        }
        // No earlier copy stands in: every unit answers adb with the same serial, so an
        // entry of an earlier run may hold another unit's data.
        manifest.notSaved.insert(file.devicePath, QStringLiteral("copy failed"));
        qWarning("hotspot-updater: %s could not be copied: not updating", qUtf8Printable(file.devicePath));
        mayWrite = false;
    }
    for (const BackupFile& copy : manifest.files)
        if (copy.devicePath == contract::kWifiBoardData)
            manifest.unit = copy.sha256;
    if (!closeEntry(m_store, run)) {
        qWarning("hotspot-updater: the manifest of %s could not be written: not updating", qUtf8Printable(run.entry));
        return false;
    }
    return mayWrite;
}

bool DeviceData::confirmBack(BackupRun& run) const {
    bool allBack = true;
    for (BackupFile& file : run.manifest.files) {
        const QString check = run.entry + u'/' + file.name + QStringLiteral(".check");
        const ToolResult result = m_tools.adb(contract::adbPull(file.restoreTo, check)).text;
        const std::optional<QString> digest =
            output::reportsError(result) ? std::nullopt : BackupStore::sha256(check);
        QFile::remove(check);
        file.restored = digest && *digest == file.sha256;
        allBack = allBack && file.restored;
    }
    // Unrecorded, a confirmed copy only stays longer than it must; the update's verdict stands.
    if (!run.manifest.files.empty() && !m_store.writeManifest(run.entry, run.manifest))
        qWarning("hotspot-updater: the manifest of %s could not be written", qUtf8Printable(run.entry));
    return allBack;
}

bool DeviceData::restore(const BackupRun& run) const {
    if (run.manifest.files.empty())
        return true;
    if (m_probes.detectAdb().tool != AdbVerdict::Adb)
        return false;
    for (const BackupFile& file : run.manifest.files) {
        // A copy that changed since it was saved is not this device's data any more.
        if (!BackupStore::intact(run.entry, file))
            return false;
        const ToolResult result = m_tools.adb(contract::adbPush(run.entry + u'/' + file.name, file.restoreTo)).text;
        if (output::reportsError(result))
            return false;
    }
    return true;
}

std::optional<QByteArray> DeviceData::readCalibration() const {
    QTemporaryDir folder(m_hostTmp + QStringLiteral("/hotspot-updater-XXXXXX"));
    if (!folder.isValid())
        return std::nullopt;
    const QString copy = folder.filePath(copyName(contract::kWifiBoardData));
    const ToolResult result = m_tools.adb(contract::adbPull(contract::kWifiBoardData, copy)).text;
    QFile file(copy);
    if (output::reportsError(result) || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

// Copies an earlier run left at the shared names belong to some device, maybe another one:
// they go into the store under the unknown device and are never pushed.
void DeviceData::setAsideStaleCopies() const {
    const QString found[] = {wifiBackupPath(), configBackupPath()};
    const BackupStore& store = m_store;
    BackupRun stale;
    stale.manifest.serial = BackupStore::kUnknownDevice;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    stale.manifest.created = now.toString(Qt::ISODate);
    stale.manifest.foundAt = m_hostTmp;
    for (std::size_t i = 0; i < std::size(found); ++i) {
        // Only plain files of ours: a link or another user's file is not followed or moved.
        if (hostcopy::inspect(found[i]) != hostcopy::State::Ours)
            continue;
        if (stale.entry.isEmpty())
            stale.entry = store.createEntry(BackupStore::kUnknownDevice, now);
        const QString name = copyName(kDataFiles[i].devicePath);
        const QString moved = stale.entry + u'/' + name;
        // Across file systems Qt copies and then removes the original.
        if (stale.entry.isEmpty() || !QFile::rename(found[i], moved))
            continue;
        std::optional<BackupFile> sealed = BackupStore::seal(moved, stale.entry, name);
        if (!sealed)
            continue;
        sealed->devicePath = kDataFiles[i].devicePath;
        sealed->restoreTo = kDataFiles[i].restoreTo;
        stale.manifest.files.push_back(*sealed);
    }
    if (closeEntry(store, stale))
        store.rotate(stale.manifest.serial);
}
