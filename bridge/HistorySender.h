#pragma once
// Sends the local record's outbox to the shared server, on a thread of its own with its own
// connections, so a server that is slow or gone never holds up an update: the local row is
// written first, and the server gets it at the next round (every `period`, or at once when
// sendSoon() asks). A round that fails leaves the rows in the outbox for the next one.

#include "bridge/AttemptHistory.h"

#include <QObject>
#include <QString>
#include <QThread>
#include <QUrl>
#include <chrono>

// What one push did.
struct PushResult {
    int sent = 0;
    int left = -1; // still in the outbox; -1 when unknown
    QString error; // empty when the server took every row offered
};

// Pushes up to `batch` rows at a time from `local` to `server` until the outbox is empty or a
// push fails. Each batch goes in one server transaction (upsert by id, so sending one twice
// is harmless); a row is forgotten locally only once the server committed it.
PushResult pushUnsent(AttemptHistory& local, AttemptHistory& server, int batch = 100);

class HistorySender : public QObject {
    Q_OBJECT
public:
    HistorySender(QString localPath, QUrl server, std::chrono::milliseconds period = std::chrono::seconds(30),
                  QObject* parent = nullptr);
    // Stops the thread. A round stuck on a server that went silent is not waited for longer
    // than kStopWaitMs: the thread is then left to end with the process.
    ~HistorySender() override;
    static constexpr int kStopWaitMs = 5000;

    void start();
    // From any thread: a round now rather than at the next period (after a write). While the
    // server fails, only the period retries: a write must not cost a connect timeout each.
    void sendSoon();

signals:
    // Delivered on this object's thread (queued), after each round that had something to do.
    void pushed(int sent, int left);
    // The same, when the reason a round failed changes (not at every retry).
    void failed(const QString& why);

private:
    class Worker;
    QString m_localPath;
    QUrl m_server;
    std::chrono::milliseconds m_period;
    QThread* m_thread;
    Worker* m_worker = nullptr;
};
