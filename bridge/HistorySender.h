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
    // Stops the thread; waits at most the server's connect timeout and a little more.
    ~HistorySender() override;

    void start();
    // From any thread: a round now rather than at the next period (after a write).
    void sendSoon();

signals:
    // From the sender's thread, after each round that had something to do.
    void pushed(int sent, int left);
    // From the sender's thread, when the reason a round failed changes (not at every retry).
    void failed(const QString& why);

private:
    class Worker;
    QString m_localPath;
    QUrl m_server;
    std::chrono::milliseconds m_period;
    QThread m_thread;
    Worker* m_worker = nullptr;
};
