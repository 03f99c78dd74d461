#pragma once
// Sends the local record's outbox to the shared server, on a thread of its own with its own
// connections, so a server that is slow or gone never holds up an update: the local row is
// written first, and the server gets it at the next round (every `period`, or within a
// moment when sendSoon() asks). A round that fails leaves the rows in the outbox for the next.
// The threads share two flags and the sender's state (under a lock): no Qt event crosses
// between them. How rounds went is in the run's log, and state() tells the faces.

#include "bridge/AttemptHistory.h"

#include <QDateTime>
#include <QString>
#include <chrono>
#include <memory>

class QThread;

// What one push did.
struct PushResult {
    int sent = 0;
    int left = -1; // still in the outbox; -1 when unknown
    QString error; // empty when the server took every row offered
};

// Pushes up to `batch` rows at a time from `local` to `server` until the outbox is empty or a
// push fails. Each batch goes in one server transaction (upsert by id, so sending one twice
// is harmless); the rows are forgotten locally only once the server committed them.
PushResult pushUnsent(AttemptHistory& local, AttemptHistory& server, int batch = 100);

// Whether the server takes the attempts, as the last round found.
struct SenderState {
    bool failing = false;
    QDateTime since; // UTC: when the failing began
    QString reason;  // why, its password masked
    friend bool operator==(const SenderState&, const SenderState&) = default;
};

class HistorySender {
public:
    HistorySender(QString localPath, QString server, std::chrono::milliseconds period = std::chrono::seconds(30));
    // Stops the thread. A round still waiting on the server after kRoundWaitMs has its
    // connection cut; a connect is waited for up to kStopWaitMs more (its own timeout is
    // shorter), then left to end with the process.
    ~HistorySender();
    HistorySender(const HistorySender&) = delete;
    HistorySender& operator=(const HistorySender&) = delete;
    static constexpr int kRoundWaitMs = 1000;
    static constexpr int kStopWaitMs = 5000;

    void start();
    // From any thread: a round within a moment rather than at the next period (after a
    // write). While the server fails only the period retries: a write must not cost a
    // connect timeout each.
    void sendSoon();
    // From any thread.
    SenderState state() const;

private:
    struct Shared;
    class Worker;
    QString m_localPath;
    QString m_server;
    std::chrono::milliseconds m_period;
    std::shared_ptr<Shared> m_shared;
    QThread* m_thread = nullptr;
};
