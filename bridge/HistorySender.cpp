#include "bridge/HistorySender.h"

#include "bridge/RunLog.h"

#include <QTimer>
#include <memory>

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

// Lives on the sender's thread: every connection it opens belongs to that thread.
// Its signals reach the sender through queued connections, which Qt drops once the sender is
// gone: a thread left running past it never touches it.
class HistorySender::Worker : public QObject {
    Q_OBJECT
public:
    Worker(QString localPath, QUrl server, std::chrono::milliseconds period)
        : m_localPath(std::move(localPath)), m_serverUrl(std::move(server)) {
        m_timer.setInterval(period);
        connect(&m_timer, &QTimer::timeout, this, &Worker::round);
    }

    void begin() {
        m_timer.start();
        round();
    }

    void soon() {
        if (m_lastError.isEmpty())
            round();
    }

    void round() {
        QString why;
        if (!m_local)
            m_local = AttemptHistory::open(m_localPath, &why);
        if (m_local && !m_server)
            m_server = AttemptHistory::openServer(m_serverUrl, &why);
        if (!m_local || !m_server)
            return report(why);
        const PushResult result = pushUnsent(*m_local, *m_server);
        if (result.sent > 0 || result.left > 0)
            emit pushed(result.sent, result.left);
        if (!result.error.isEmpty()) {
            // A broken link stays broken: connect afresh next round.
            m_server.reset();
            return report(result.error);
        }
        if (!m_lastError.isEmpty())
            runlog::write("history", QStringLiteral("the history server takes the attempts again"));
        m_lastError.clear();
    }

signals:
    void pushed(int sent, int left);
    void failed(const QString& why);

private:
    void report(const QString& why) {
        if (why == m_lastError)
            return;
        m_lastError = why;
        runlog::write("history", QStringLiteral("attempts stay in the local record for now: %1").arg(why));
        emit failed(why);
    }

    QString m_localPath;
    QUrl m_serverUrl;
    QTimer m_timer{this};
    std::unique_ptr<AttemptHistory> m_local;
    std::unique_ptr<AttemptHistory> m_server;
    QString m_lastError;
};

HistorySender::HistorySender(QString localPath, QUrl server, std::chrono::milliseconds period, QObject* parent)
    : QObject(parent), m_localPath(std::move(localPath)), m_server(std::move(server)), m_period(period),
      m_thread(new QThread) {
    m_thread->setObjectName(QStringLiteral("history sender"));
}

HistorySender::~HistorySender() {
    m_thread->quit();
    if (m_thread->wait(kStopWaitMs)) {
        delete m_thread;
        return;
    }
    // Destroying a running QThread aborts the process; its rows are safe in the local file.
    runlog::write("history", QStringLiteral("the history server did not answer; its sender is left to end with the process"));
}

void HistorySender::start() {
    if (m_worker)
        return;
    m_worker = new Worker(m_localPath, m_server, m_period);
    connect(m_worker, &Worker::pushed, this, &HistorySender::pushed);
    connect(m_worker, &Worker::failed, this, &HistorySender::failed);
    m_worker->moveToThread(m_thread);
    // Its connections go on the thread that opened them, as the thread ends.
    connect(m_thread, &QThread::finished, m_worker, [worker = m_worker] { delete worker; }, Qt::DirectConnection);
    connect(m_thread, &QThread::started, m_worker, &Worker::begin);
    m_thread->start();
}

void HistorySender::sendSoon() {
    if (m_worker)
        QMetaObject::invokeMethod(m_worker, &Worker::soon, Qt::QueuedConnection);
}

#include "HistorySender.moc"
