#include "workflow/AttemptRecorder.h"
#include "bridge/Contract.h"
#include "bridge/HistoryKeeper.h"
#include "bridge/RunLog.h"
#include "workflow/DeviceWorkflow.h"
#include "workflow/Messages.h"

#include <QElapsedTimer>
#include <QUuid>

namespace {

QString outcomeWord(const UpdateOutcome& outcome) {
    switch (outcome.result) {
    case UpdateResult::Updated:
        return QStringLiteral("updated");
    case UpdateResult::DataNotBack:
        return QStringLiteral("data-not-back");
    case UpdateResult::NotStarted:
        return QStringLiteral("not-started");
    case UpdateResult::JournalFailed:
        return QStringLiteral("not-recorded");
    default:
        break;
    }
    return QStringLiteral("failed");
}

} // namespace

QString attempts::unitOf(const BackupRun& run) {
    for (const BackupFile& file : run.manifest.files)
        if (file.devicePath == contract::kWifiBoardData)
            return file.sha256;
    return {};
}

QString attempts::failingPort(const AttemptHistory& record, const QString& port) {
    const RecentFailures recent = record.failuresOfLast(port, kRecent);
    if (recent.failed < kFailuresMarked)
        return {};
    return messages::fill(messages::lookupFilled("warn port %s: %s of the last 5 failed — check the cable or hub", port),
                          QString::number(recent.failed));
}

class AttemptRecorder::Unit : public SessionListener {
public:
    Unit(AttemptRecorder& recorder, DeviceWorkflow& workflow) : m_recorder(recorder), m_workflow(workflow) {
        workflow.session().subscribe(this);
    }

    void updateStarted() override {
        DeviceSession& session = m_workflow.session();
        m_attempt = Attempt();
        // A finish goes on with its journal's row; anything else is a new attempt.
        const std::optional<UpdateJournal> journal = m_workflow.services().journal.pending();
        const bool goesOn = session.finishOffered() && journal && !journal->attempt.isEmpty();
        m_attempt.id = goesOn ? journal->attempt : QUuid::createUuid().toString(QUuid::WithoutBraces);
        if (!goesOn) {
            m_attempt.started = QDateTime::currentDateTimeUtc();
            m_attempt.versionBefore = session.deviceVersion();
        }
        m_attempt.station = m_recorder.m_station;
        m_attempt.port = m_workflow.port().isEmpty() ? m_workflow.services().portNow() : m_workflow.port();
        if (const std::shared_ptr<const Package> package = session.package()) {
            m_attempt.packageVersion = package->version();
            m_attempt.packageDigest = package->digest();
            m_attempt.signer = package->signer();
        }
        m_attempt.phase = goesOn ? QStringLiteral("finishing") : QStringLiteral("started");
        m_attempt.outcome = QStringLiteral("running");
        m_attempt.runLog = m_recorder.m_runLog;
        session.setAttemptId(m_attempt.id);
        m_inPhase.start();
        m_recorder.write(m_attempt);
    }

    void phaseReached(const QString& phase) override {
        if (m_attempt.id.isEmpty())
            return;
        closePhase();
        m_attempt.phase = phase;
        if (m_attempt.unit.isEmpty())
            m_attempt.unit = attempts::unitOf(m_workflow.session().backupRun());
        m_recorder.write(m_attempt);
    }

    void updateEnded(const UpdateOutcome& outcome) override {
        if (m_attempt.id.isEmpty())
            return;
        closePhase();
        DeviceSession& session = m_workflow.session();
        m_attempt.ended = QDateTime::currentDateTimeUtc();
        m_attempt.result = outcome.code();
        m_attempt.outcome = outcomeWord(outcome);
        if (outcome.result == UpdateResult::Updated)
            m_attempt.phase = QStringLiteral("done");
        if (session.newVersionRead())
            m_attempt.versionAfter = session.deviceVersion();
        if (m_attempt.unit.isEmpty())
            m_attempt.unit = attempts::unitOf(session.backupRun());
        m_recorder.write(m_attempt);
        m_attempt = Attempt();
    }

private:
    void closePhase() {
        const qint64 spent = m_inPhase.restart();
        m_attempt.phaseMs.insert(m_attempt.phase, m_attempt.phaseMs.value(m_attempt.phase).toInteger() + spent);
    }

    AttemptRecorder& m_recorder;
    DeviceWorkflow& m_workflow;
    Attempt m_attempt;
    QElapsedTimer m_inPhase;
};

AttemptRecorder::AttemptRecorder(HistoryKeeper& keeper, QString runLog, QString station)
    : m_keeper(keeper), m_runLog(std::move(runLog)), m_station(std::move(station)) {}

AttemptRecorder::~AttemptRecorder() = default;

void AttemptRecorder::follow(DeviceWorkflow& workflow) {
    m_units.push_back(std::make_unique<Unit>(*this, workflow));
}

// The record is no safety net: a write it misses never stops an update, but it is said.
bool AttemptRecorder::write(const Attempt& attempt) {
    ++m_writes;
    if (m_keeper.write(attempt))
        return true;
    runlog::write("history", QStringLiteral("the attempt %1 could not be recorded: %2")
                                 .arg(attempt.id, m_keeper.local().lastError()));
    if (!std::exchange(m_failureTold, true))
        qWarning("hotspot-updater: the record of updates could not be written: %s",
                 qPrintable(m_keeper.local().lastError()));
    return false;
}
