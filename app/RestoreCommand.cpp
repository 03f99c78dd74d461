#include "app/RestoreCommand.h"

#include "bridge/DeviceData.h"
#include "bridge/DeviceProbes.h"
#include "bridge/ToolRunner.h"
#include "workflow/StoredCopies.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QTextStream>
#include <unistd.h>

namespace {

QString describe(int number, const StoredCopies& copies) {
    const BackupManifest& m = copies.manifest;
    if (!copies.readable)
        return QStringLiteral("%1  %2  (no readable manifest)\n").arg(number, 3).arg(copies.entry);
    const QDateTime saved = QDateTime::fromString(m.created, Qt::ISODate);
    const QString journal = m.journal.isEmpty() ? QStringLiteral("-") : QFileInfo(m.journal).fileName();
    return QStringLiteral("%1  %2  port %3  calibration %4  %5  journal %6%7\n     %8\n")
        .arg(number, 3)
        .arg(saved.isValid() ? saved.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm")) : m.created,
             m.port.isEmpty() ? QStringLiteral("?") : m.port,
             m.unit.isEmpty() ? QStringLiteral("not saved") : m.unit.left(12),
             copies.confirmed ? QStringLiteral("confirmed back") : QStringLiteral("NOT confirmed back"), journal,
             m.found ? QStringLiteral(" (found on the unit when a finish began)") : QString(), copies.entry);
}

// The entry by its number in the list, its folder, or its folder's name.
const StoredCopies* choose(const std::vector<StoredCopies>& all, const QString& wanted) {
    bool isNumber = false;
    const int number = wanted.toInt(&isNumber);
    if (isNumber)
        return number >= 1 && number <= int(all.size()) ? &all[number - 1] : nullptr;
    for (const StoredCopies& copies : all)
        if (copies.entry == QDir::cleanPath(wanted) || QDir(copies.entry).dirName() == wanted)
            return &copies;
    return nullptr;
}

bool userAgrees(const TerminalOptions& options, std::FILE* out) {
    if (options.yes)
        return true;
    if (!::isatty(STDIN_FILENO))
        return false;
    std::fputs("Put this data on that hotspot? [y/N] ", out);
    std::fflush(out);
    char line[64] = {};
    if (!std::fgets(line, sizeof line, stdin))
        return false;
    const QByteArray answer = QByteArray(line).trimmed().toLower();
    return answer == "y" || answer == "yes";
}

} // namespace

int runRestore(const Environment& env, const TerminalOptions& options, std::FILE* out) {
    const BackupStore store = BackupStore::forDataHome(env.dataHome, env.home);
    const std::vector<StoredCopies> all = storedCopies(store);
    if (options.restoreEntry.isEmpty()) {
        if (all.empty())
            std::fprintf(out, "no stored copies in %s\n", qPrintable(store.root()));
        for (std::size_t i = 0; i < all.size(); ++i)
            std::fputs(qPrintable(describe(int(i) + 1, all[i])), out);
        return exitstatus::kOk;
    }
    const StoredCopies* chosen = choose(all, options.restoreEntry);
    if (!chosen) {
        std::fprintf(stderr, "hotspot-updater: no stored copies named '%s'; --restore alone lists them\n",
                     qPrintable(options.restoreEntry));
        return exitstatus::kUsage;
    }
    std::fputs(qPrintable(describe(int(chosen - all.data()) + 1, *chosen)), out);
    std::fprintf(out, "to the hotspot at %s\n", qPrintable(options.restorePort));
    if (!userAgrees(options, out)) {
        std::fputs("nothing was put back\n", out);
        return exitstatus::kDeclined;
    }
    const Tools tools = Tools(env.resourcesPath(), env.toolLimits).forPort(options.restorePort);
    const DeviceProbes probes(tools, env.sysfsRoot);
    const DeviceData data(tools, probes, store, env.hostTmp);
    switch (putBack(data, probes, *chosen)) {
    case PutBack::Confirmed:
        std::fprintf(out, "put back and read back from the hotspot at %s; it restarts now\n", qPrintable(options.restorePort));
        return exitstatus::kOk;
    case PutBack::NoUnitThere:
        std::fprintf(stderr, "hotspot-updater: no hotspot that adb reaches at %s: nothing was put back\n",
                     qPrintable(options.restorePort));
        return exitstatus::kNoDevice;
    case PutBack::NothingToPut:
        std::fprintf(stderr, "hotspot-updater: %s holds no copies to put back\n", qPrintable(chosen->entry));
        return exitstatus::kUsage;
    case PutBack::NotBack:
        break;
    }
    std::fprintf(stderr, "hotspot-updater: the data did not read back from the hotspot at %s; the copies stay in %s\n",
                 qPrintable(options.restorePort), qPrintable(chosen->entry));
    return exitstatus::forUpdateResult(int(UpdateResult::DataNotBack));
}
