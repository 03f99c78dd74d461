#include "workflow/StoredCopies.h"

#include "bridge/RunLog.h"

#include <QDir>
#include <algorithm>

std::vector<StoredCopies> storedCopies(const BackupStore& store) {
    std::vector<StoredCopies> all;
    const QStringList units = QDir(store.root()).entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks);
    for (const QString& unit : units) {
        for (const QString& entry : store.entriesNewestFirst(unit)) {
            StoredCopies copies;
            copies.entry = entry;
            if (const std::optional<BackupManifest> manifest = BackupStore::readManifest(entry)) {
                copies.manifest = *manifest;
                copies.readable = true;
                copies.confirmed = !manifest->files.empty() &&
                                   std::all_of(manifest->files.cbegin(), manifest->files.cend(),
                                               [](const BackupFile& file) { return file.restored; });
            }
            all.push_back(std::move(copies));
        }
    }
    // Entry folders are named by their UTC time: newest first across units.
    std::sort(all.begin(), all.end(), [](const StoredCopies& a, const StoredCopies& b) {
        return QDir(a.entry).dirName() > QDir(b.entry).dirName();
    });
    return all;
}

PutBack putBack(const DeviceData& data, const DeviceProbes& probes, const StoredCopies& copies) {
    if (!copies.readable || copies.manifest.files.empty())
        return PutBack::NothingToPut;
    if (probes.detectAdb().tool != AdbVerdict::Adb)
        return PutBack::NoUnitThere;
    BackupRun run{copies.entry, copies.manifest};
    const bool pushed = data.restore(run);
    const bool back = data.confirmBack(run);
    runlog::write("backup", QStringLiteral("%1 put back by hand: %2").arg(copies.entry, pushed && back ? QStringLiteral("read back") : QStringLiteral("not back")));
    if (!pushed || !back)
        return PutBack::NotBack;
    // The settings' copy takes effect at the next start.
    probes.reboot();
    return PutBack::Confirmed;
}
