#include "bridge/HistoryKeeper.h"

#include "bridge/RunLog.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

namespace {

// The record with its -wal and -shm files, renamed together: what they hold stays for a look.
std::optional<QString> setAside(const QString& path) {
    const QString target =
        path + QStringLiteral(".set-aside-") + QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
    if (!QFile::rename(path, target))
        return std::nullopt;
    for (const char* suffix : {"-wal", "-shm"}) {
        const QString companion = path + QLatin1String(suffix);
        // Left beside the new record, an old -wal would be replayed into it.
        if (QFileInfo::exists(companion) && !QFile::rename(companion, target + QLatin1String(suffix)))
            QFile::remove(companion);
    }
    return target;
}

} // namespace

std::unique_ptr<HistoryKeeper> HistoryKeeper::open(const HistoryPlace& place, QString* why) {
    bool damaged = false;
    std::unique_ptr<AttemptHistory> local = AttemptHistory::open(place.localPath, why, &damaged);
    if (!local && damaged) {
        const QString reason = *why;
        const std::optional<QString> aside = setAside(place.localPath);
        if (!aside)
            return nullptr;
        local = AttemptHistory::open(place.localPath, why);
        if (!local)
            return nullptr;
        *why = QStringLiteral("%1; it was set aside as %2 and a new record started").arg(reason, *aside);
        runlog::write("history", *why);
    } else if (!local) {
        return nullptr;
    } else {
        why->clear();
    }
    std::unique_ptr<HistorySender> sender;
    if (!place.server.isEmpty()) {
        sender = std::make_unique<HistorySender>(place.localPath, place.server);
        sender->start();
    }
    return std::unique_ptr<HistoryKeeper>(new HistoryKeeper(std::move(local), std::move(sender)));
}

std::unique_ptr<HistoryKeeper> HistoryKeeper::openDefault(const QString& historyDb, QString* why) {
    const QString local = AttemptHistory::defaultPath();
    QString placeError;
    const std::optional<HistoryPlace> place = history::place(local, historyDb, history::configPath(), &placeError);
    std::unique_ptr<HistoryKeeper> keeper = open(place.value_or(HistoryPlace{local, {}}), why);
    if (keeper && !place) {
        // An update never waits on the shared record: this machine's is kept all the same.
        runlog::write("history", placeError + QStringLiteral("; the attempts stay on this machine"));
        *why = placeError;
    }
    return keeper;
}

HistoryKeeper::HistoryKeeper(std::unique_ptr<AttemptHistory> local, std::unique_ptr<HistorySender> sender)
    : m_local(std::move(local)), m_sender(std::move(sender)) {}

bool HistoryKeeper::write(const Attempt& attempt) {
    if (!m_local->write(attempt))
        return false;
    if (m_sender)
        m_sender->sendSoon();
    return true;
}
