#include "app/HistoryCommand.h"

#include "app/HistoryFormat.h"
#include "bridge/HistoryPlace.h"

namespace {

std::unique_ptr<AttemptHistory> openRecord(const TerminalOptions& options, std::FILE* err, QString* why) {
    if (options.historyDb.isEmpty())
        return AttemptHistory::open(AttemptHistory::defaultPath(), why);
    const std::optional<QString> server = history::serverUrl(options.historyDb, why);
    if (!server)
        return nullptr;
    std::unique_ptr<AttemptHistory> record = AttemptHistory::openServer(*server, why);
    if (record)
        std::fprintf(err, "hotspot-updater: every station's attempts, from %s\n", qPrintable(record->where()));
    return record;
}

QString formatted(const std::vector<Attempt>& attempts, TerminalOptions::HistoryFormat format) {
    switch (format) {
    case TerminalOptions::HistoryFormat::Json:
        return historyformat::jsonLines(attempts);
    case TerminalOptions::HistoryFormat::Csv:
        return historyformat::csv(attempts);
    case TerminalOptions::HistoryFormat::Table:
        break;
    }
    return attempts.empty() ? QStringLiteral("no attempts recorded\n") : historyformat::table(attempts);
}

} // namespace

int runHistory(const TerminalOptions& options, std::FILE* out, std::FILE* err) {
    QString why;
    const std::unique_ptr<AttemptHistory> record = openRecord(options, err, &why);
    if (!record) {
        std::fprintf(err, "hotspot-updater: %s\n", qPrintable(why));
        return exitstatus::kHistory;
    }
    const std::vector<Attempt> attempts = record->list(options.historyFilter);
    if (!record->lastError().isEmpty()) {
        std::fprintf(err, "hotspot-updater: %s\n", qPrintable(record->lastError()));
        return exitstatus::kHistory;
    }
    std::fputs(formatted(attempts, options.historyFormat).toUtf8().constData(), out);
    return std::fflush(out) == 0 ? exitstatus::kOk : exitstatus::kHistory;
}
