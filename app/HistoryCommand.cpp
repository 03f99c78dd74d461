#include "app/HistoryCommand.h"

#include "app/HistoryFormat.h"
#include "bridge/HistoryPlace.h"

#include <QFileInfo>

namespace {

std::unique_ptr<AttemptHistory> openRecord(const TerminalOptions& options, const QString& localPath, std::FILE* err,
                                           QString* why) {
    if (options.historyDb.isEmpty())
        return AttemptHistory::openForReading(localPath, why);
    const std::optional<QString> server = history::serverUrl(options.historyDb, why);
    if (!server)
        return nullptr;
    std::unique_ptr<AttemptHistory> record = AttemptHistory::openServer(*server, why, HistoryConnection::Access::Read);
    if (record)
        std::fprintf(err, "hotspot-updater: every station's attempts, from %s\n", qPrintable(record->where()));
    return record;
}

bool filters(const AttemptFilter& filter) {
    return filter.since.isValid() || !filter.port.isEmpty() || !filter.unit.isEmpty() || !filter.station.isEmpty();
}

QString formatted(const std::vector<Attempt>& attempts, const TerminalOptions& options) {
    const TerminalOptions::HistoryFormat format = options.historyFormat;
    switch (format) {
    case TerminalOptions::HistoryFormat::Json:
        return historyformat::jsonLines(attempts);
    case TerminalOptions::HistoryFormat::Csv:
        return historyformat::csv(attempts);
    case TerminalOptions::HistoryFormat::Table:
        break;
    }
    if (!attempts.empty())
        return historyformat::table(attempts, !options.historyDb.isEmpty());
    return filters(options.historyFilter) ? QStringLiteral("no attempt matches\n") : QStringLiteral("no attempts recorded\n");
}

} // namespace

int runHistory(const TerminalOptions& options, const QString& localPath, std::FILE* out, std::FILE* err) {
    // No record yet is no attempt yet; nothing is made to say so.
    if (options.historyDb.isEmpty() && !QFileInfo::exists(localPath)) {
        std::fputs(formatted({}, options).toUtf8().constData(), out);
        return std::fflush(out) == 0 ? exitstatus::kOk : exitstatus::kHistory;
    }
    QString why;
    const std::unique_ptr<AttemptHistory> record = openRecord(options, localPath, err, &why);
    if (!record) {
        std::fprintf(err, "hotspot-updater: %s\n", qPrintable(why));
        return exitstatus::kHistory;
    }
    const std::vector<Attempt> attempts = record->list(options.historyFilter);
    if (!record->lastError().isEmpty()) {
        std::fprintf(err, "hotspot-updater: %s\n", qPrintable(record->lastError()));
        return exitstatus::kHistory;
    }
    std::fputs(formatted(attempts, options).toUtf8().constData(), out);
    return std::fflush(out) == 0 ? exitstatus::kOk : exitstatus::kHistory;
}
