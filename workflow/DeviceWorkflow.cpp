#include "workflow/DeviceWorkflow.h"
#include "workflow/Completion.h"
#include "workflow/DetectionLoop.h"
#include "workflow/Messages.h"
#include "workflow/PackageCheck.h"
#include "workflow/UpdateProcedure.h"
#include "bridge/RunLog.h"

using messages::lookup;

DeviceWorkflow::DeviceWorkflow(const Environment& env, const Tools& tools, HostPreparation& host,
                               ModeSwitch& switches, const DevicePlace& place)
    : m_tools(place.port.isEmpty() ? tools : tools.forPort(place.port)),
      m_probes(m_tools, env.sysfsRoot),
      m_data(m_tools, m_probes, BackupStore::forDataHome(env.dataHome, env.home), env.hostTmp),
      m_journal(JournalStore(env.journalFolder()), m_data.backupStore(),
                place.port),
      m_services{env, m_tools, host, switches, m_probes, m_data, m_journal, place.port, place.turns, place.bus} {
    m_session.setPort(place.port);
}

void DeviceWorkflow::showFirstScreen() {
    m_session.setState(SessionState::Checking);
    m_session.showStatus(lookup("stat Initializing ..."));
    m_session.animate(true);
    m_session.showWarning(std::nullopt);
    m_session.enableButton(false);
    m_session.showButtonTitle(lookup("btn Initializing"));
    m_session.showProgress(-1);
    m_session.forgetDetection();
}

void DeviceWorkflow::launch() {
    showFirstScreen();
    startDetect();
    startInitialize();
}

void DeviceWorkflow::launchCheck() {
    showFirstScreen();
    startInitialize();
}

void DeviceWorkflow::launchUnit(std::shared_ptr<const Package> package) {
    showFirstScreen();
    m_session.setPackage(package);
    for (const SetAsideJournal& aside : m_journal.review())
        m_session.showNotice(setAsideNotice(aside));
    showLookingForDevice(m_session);
    startDetect();
}

int DeviceWorkflow::startDetect() {
    if (!m_session.beginDetection())
        return 0;
    m_session.spawnWorker([this] { DetectionLoop(m_session, m_services).run(); }, true);
    return 0;
}

void DeviceWorkflow::stopDetect() {
    if (!m_session.detectionRecorded())
        return;
    m_session.requestDetectionStop();
    m_services.sleep(1.0); // grace period, not a join
    m_session.forgetDetection();
}

int DeviceWorkflow::startInitialize() {
    if (m_session.state() != SessionState::Checking)
        return -1;
    m_session.spawnWorker([this] { runPackageCheck(m_session, m_services); });
    return 0;
}

void DeviceWorkflow::startUpdate() {
    m_session.setUpdateRunning(true);
    if (m_session.spawnWorker([this] { runUpdate(m_session, m_services); }))
        return;
    // No worker: report it as an error raised.
    m_session.setUpdateRunning(false);
    showUpdateResult(m_session, UpdateOutcome{UpdateResult::Error});
}

DeviceWorkflow::Press DeviceWorkflow::answer(bool itsUnit, quint64 asked) {
    const std::optional<UnitQuestion> question = m_session.question();
    if (!question || m_session.state() != SessionState::Offered)
        return Press::Nothing;
    if (asked != 0 && question->asked != asked) {
        runlog::write("journal", QStringLiteral("an answer about a unit that left \"%1\" is not applied").arg(question->port));
        return Press::Nothing;
    }
    runlog::write("journal", QStringLiteral("the unit at \"%1\" is %2, the user said")
                                 .arg(question->port, itsUnit ? QStringLiteral("the journal's") : QStringLiteral("another")));
    if (itsUnit) {
        m_session.setFinishOffered(true);
        return press();
    }
    m_journal.markAnotherUnit(question->port);
    if (!m_session.move(SessionState::Offered, SessionState::Searching))
        return Press::Nothing;
    m_session.setQuestion(std::nullopt);
    showLookingForDevice(m_session);
    return Press::Retry;
}

bool DeviceWorkflow::finishNeedsTheUser() const {
    const std::optional<UpdateJournal> journal = m_journal.pending();
    return m_session.finishOffered() && journal && JournalKeeper::resumedTooOften(*journal);
}

DeviceWorkflow::Press DeviceWorkflow::searchAgain() {
    if (port().isEmpty() || !m_session.move(SessionState::Finished, SessionState::Searching))
        return Press::Nothing;
    showLookingForDevice(m_session);
    return Press::Retry;
}

bool DeviceWorkflow::awaitDeparture() {
    if (port().isEmpty() || m_session.updateRunning() || !m_session.move(SessionState::Updating, SessionState::Finished))
        return false;
    m_session.showButtonTitle(lookup("btn Close"));
    return true;
}

DeviceWorkflow::Press DeviceWorkflow::press() {
    switch (m_session.state()) {
    case SessionState::Finished:
        return Press::Close;
    case SessionState::Updating:
        m_session.move(SessionState::Updating, SessionState::Searching);
        return Press::Retry;
    case SessionState::Offered:
        break;
    case SessionState::Checking:
    case SessionState::Searching:
        return Press::Nothing;
    }
    // The question is answered, never pressed past.
    if (m_session.question() && !m_session.finishOffered())
        return Press::Nothing;
    // The detection worker may have seen the device leave since the state was read.
    if (!m_session.move(SessionState::Offered, SessionState::Updating))
        return Press::Nothing;
    m_session.animate(true);
    m_session.showWarning(QStringLiteral("warning Please do not remove, update is in progress."));
    m_session.enableButton(false);
    m_session.showButtonTitle(lookup("btn Processing"));
    m_session.setTextLabel(std::nullopt, true);
    m_session.updateStarted();
    m_session.showStatus(QStringLiteral("Device Start Updating..."));
    startUpdate();
    return Press::Started;
}
