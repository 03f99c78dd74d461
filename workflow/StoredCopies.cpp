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

QString entryId(const StoredCopies& copies) { return QDir(copies.entry).dirName(); }

const StoredCopies* entryById(const std::vector<StoredCopies>& all, const QString& id) {
    const StoredCopies* chosen = nullptr;
    for (const StoredCopies& copies : all) {
        if (copies.entry != QDir::cleanPath(id) && entryId(copies) != id)
            continue;
        if (chosen)
            return nullptr; // two units' folders hold an entry of that time: only its folder names it
        chosen = &copies;
    }
    return chosen;
}

PutBack putBack(const DeviceData& data, const DeviceProbes& probes, const StoredCopies& copies, const QString& port,
                BackupRun& before) {
    before = BackupRun();
    if (!copies.readable || copies.manifest.files.empty())
        return PutBack::NothingToPut;
    if (probes.detectAdb().tool != AdbVerdict::Adb)
        return PutBack::NoUnitThere;
    // What the unit holds may be the only copy of its data: saved before anything goes onto it.
    if (!data.openEntry(before, QString(), QString()))
        return PutBack::NotSaved;
    before.manifest.port = port;
    before.manifest.found = true;
    if (!data.saveFiles(before)) {
        runlog::write("backup", QStringLiteral("%1 not put back: what the unit at %2 holds could not be saved").arg(copies.entry, port));
        return PutBack::NotSaved;
    }
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
