#include "bridge/HistorySender.h"

#include "bridge/RunLog.h"

#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <mutex>
#include <sys/socket.h>

PushResult pushUnsent(AttemptHistory& local, AttemptHistory& server, int batch) {
    PushResult result;
    for (;;) {
        const std::vector<UnsentAttempt> rows = local.unsent(batch);
        if (rows.empty()) {
            result.error = local.lastError();
            break;
        }
        std::vector<Attempt> attempts;
        for (const UnsentAttempt& row : rows)
            attempts.push_back(row.attempt);
        if (!server.writeAll(attempts)) {
            result.error = server.lastError();
            break;
        }
        result.sent += int(rows.size());
        // Not forgotten: sent again next time, which the upsert makes harmless.
        if (!local.markSent(rows))
            result.error = local.lastError();
        if (!result.error.isEmpty() || int(rows.size()) < batch)
            break;
    }
    result.left = local.unsentCount();
    return result;
}

// Outlives the sender when its thread is left running at the end.
struct HistorySender::Shared {
    std::atomic<bool> asked{false};
    std::atomic<bool> stopping{false};
    mutable std::mutex lock;
    SenderState state; // under lock
    int socket = -1;   // under lock: the server connection's, while the worker holds it open
};

namespace {
// How soon a sendSoon() is seen.
constexpr int kTickMs = 100;
} // namespace

// Lives on the sender's thread: every connection it opens belongs to that thread.
class HistorySender::Worker : public QObject {
public:
    Worker(QString localPath, QString server, std::chrono::milliseconds period, std::shared_ptr<Shared> shared)
        : m_localPath(std::move(localPath)), m_serverUrl(std::move(server)), m_period(period), m_shared(std::move(shared)) {
        m_timer.setInterval(std::min<int>(kTickMs, int(period.count())));
        connect(&m_timer, &QTimer::timeout, this, &Worker::tick);
    }

    ~Worker() override { forgetServer(); }

    void begin() {
        m_timer.start();
        round();
    }

private:
    void tick() {
        if (m_shared->stopping) {
            QThread::currentThread()->quit();
            return;
        }
        const bool asked = m_shared->asked.exchange(false);
        if ((asked && m_lastError.isEmpty()) || m_sinceRound.hasExpired(m_period.count()))
            round();
    }

    void round() {
        m_sinceRound.start();
        QString why;
        if (!m_local)
            m_local = AttemptHistory::open(m_localPath, &why);
        if (m_local && !m_server)
            rememberServer(AttemptHistory::openServer(m_serverUrl, &why));
        if (!m_local || !m_server)
            return finish({0, -1, why});
        const PushResult result = pushUnsent(*m_local, *m_server);
        // A broken link stays broken: connect afresh next round.
        if (!result.error.isEmpty())
            forgetServer();
        finish(result);
    }

    // The socket is told to the owner only while it is this connection's: a closed one's
    // number may already be another file's.
    void rememberServer(std::unique_ptr<AttemptHistory> server) {
        m_server = std::move(server);
        const std::lock_guard<std::mutex> hold(m_shared->lock);
        m_shared->socket = m_server ? m_server->serverSocket() : -1;
    }

    void forgetServer() {
        {
            const std::lock_guard<std::mutex> hold(m_shared->lock);
            m_shared->socket = -1;
        }
        m_server.reset();
    }

    // Said in the run's log when the reason changes, not at every retry.
    void finish(const PushResult& result) {
        if (result.error == m_lastError)
            return;
        {
            const std::lock_guard<std::mutex> hold(m_shared->lock);
            SenderState& state = m_shared->state;
            if (!state.failing)
                state.since = QDateTime::currentDateTimeUtc();
            state.failing = !result.error.isEmpty();
            state.reason = result.error;
        }
        runlog::write("history", result.error.isEmpty()
                                     ? QStringLiteral("the history server takes the attempts again")
                                     : QStringLiteral("attempts stay in the local record for now: %1").arg(result.error));
        m_lastError = result.error;
    }

    QString m_localPath;
    QString m_serverUrl;
    std::chrono::milliseconds m_period;
    std::shared_ptr<Shared> m_shared;
    QTimer m_timer{this};
    QElapsedTimer m_sinceRound;
    std::unique_ptr<AttemptHistory> m_local;
    std::unique_ptr<AttemptHistory> m_server;
    QString m_lastError;
};

HistorySender::HistorySender(QString localPath, QString server, std::chrono::milliseconds period)
    : m_localPath(std::move(localPath)), m_server(std::move(server)), m_period(period),
      m_shared(std::make_shared<Shared>()) {}

HistorySender::~HistorySender() {
    if (!m_thread)
        return;
    m_shared->stopping = true;
    // A round waiting on a server that went silent (or on a lock held there) is cut off at its
    // socket: the thread must end before Qt's SQL module does at exit. A batch the server had
    // committed unseen is sent again later, which upserts harmlessly.
    if (!m_thread->wait(kRoundWaitMs)) {
        const std::lock_guard<std::mutex> hold(m_shared->lock);
        if (m_shared->socket >= 0)
            ::shutdown(m_shared->socket, SHUT_RDWR);
    }
    if (m_thread->wait(kStopWaitMs)) {
        delete m_thread;
        return;
    }
    // Only a connect can be left (bounded by its own timeout). Destroying a running QThread
    // aborts the process; its rows are safe in the local file.
    runlog::write("history", QStringLiteral("the history server did not answer; its sender is left to end with the process"));
}

void HistorySender::start() {
    if (m_thread)
        return;
    auto* worker = new Worker(m_localPath, m_server, m_period, m_shared);
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("history sender"));
    worker->moveToThread(m_thread);
    // Started and ended on its own thread, where its connections belong.
    QObject::connect(m_thread, &QThread::started, worker, &Worker::begin, Qt::DirectConnection);
    QObject::connect(m_thread, &QThread::finished, worker, [worker] { delete worker; }, Qt::DirectConnection);
    m_thread->start();
}

void HistorySender::sendSoon() {
    m_shared->asked = true;
}

SenderState HistorySender::state() const {
    const std::lock_guard<std::mutex> hold(m_shared->lock);
    SenderState copy = m_shared->state;
    // Text of its own: a shared one's count would be dropped here and on the sender's thread
    // alike, without the lock.
    copy.reason = QString(copy.reason.constData(), copy.reason.size());
    return copy;
}
