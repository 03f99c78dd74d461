#include "app/SharedRecordWatch.h"

#include "workflow/Messages.h"

SharedRecordWatch::SharedRecordWatch(HistoryKeeper& keeper, std::function<void(const SharedRecordStatus&)> told,
                                     QObject* parent)
    : QObject(parent), m_keeper(keeper), m_told(std::move(told)) {
    m_timer.setInterval(kLookMs);
    connect(&m_timer, &QTimer::timeout, this, &SharedRecordWatch::look);
    m_timer.start();
}

void SharedRecordWatch::look() {
    const SenderState state = m_keeper.sender()->state();
    const int waiting = m_keeper.local().unsentCount();
    SharedRecordStatus now{state.failing, state.since, state.reason, std::max(waiting, 0)};
    // While the server takes them, attempts pass through the outbox within a moment: no news.
    if (!now.failing && !m_status.failing)
        now.waiting = m_status.waiting = waiting;
    if (now == m_status)
        return;
    m_status = now;
    m_told(m_status);
}

namespace sharedrecord {

namespace {
QString localTime(const QDateTime& time) {
    return time.toLocalTime().toString(QStringLiteral("HH:mm"));
}
} // namespace

QString windowLine(const SharedRecordStatus& status) {
    if (!status.failing)
        return {};
    return messages::fill(messages::lookupFilled("stat Shared record: not reachable since %s — %s attempts waiting",
                                                 localTime(status.since)),
                          QString::number(status.waiting));
}

QString changeLine(const SharedRecordStatus& status) {
    if (!status.failing)
        return QStringLiteral("the shared record takes the attempts again");
    return QStringLiteral("the shared record is not reachable since %1, %2 attempts waiting on this machine: %3")
        .arg(localTime(status.since))
        .arg(status.waiting)
        .arg(status.reason);
}

QString summaryLine(const SharedRecordStatus& status) {
    return status.failing ? QStringLiteral("%1 attempts wait for the shared record (not reachable since %2)")
                                .arg(status.waiting)
                                .arg(localTime(status.since))
                          : QStringLiteral("%1 attempts wait for the shared record").arg(status.waiting);
}

} // namespace sharedrecord
