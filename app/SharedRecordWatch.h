#pragma once
// How the shared record fares, for the faces: the sender's state and the attempts waiting in
// the local outbox, looked at once a second on the GUI thread. A change (the server starts
// failing, takes the attempts again, or more wait while it fails) is told to `told`.

#include "bridge/HistoryKeeper.h"

#include <QObject>
#include <QTimer>
#include <functional>

struct SharedRecordStatus {
    bool failing = false;
    QDateTime since; // UTC
    QString reason;  // masked
    int waiting = 0; // attempts the server has not had
    friend bool operator==(const SharedRecordStatus&, const SharedRecordStatus&) = default;
};

class SharedRecordWatch : public QObject {
public:
    static constexpr int kLookMs = 1000;

    // `keeper` has a sender and outlives the watch.
    SharedRecordWatch(HistoryKeeper& keeper, std::function<void(const SharedRecordStatus&)> told, QObject* parent = nullptr);

    // As last looked at.
    const SharedRecordStatus& status() const { return m_status; }
    // Looks now (also the timer's work).
    void look();

private:
    HistoryKeeper& m_keeper;
    std::function<void(const SharedRecordStatus&)> m_told;
    SharedRecordStatus m_status;
    QTimer m_timer{this};
};

namespace sharedrecord {
// The station window's line: "Shared record: not reachable since 10:42 — 3 attempts waiting".
QString windowLine(const SharedRecordStatus& status);
// The terminal's line when the failing starts or ends.
QString changeLine(const SharedRecordStatus& status);
// The terminal's last line: how many attempts wait.
QString summaryLine(const SharedRecordStatus& status);
} // namespace sharedrecord
