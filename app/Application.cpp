// The application's lifecycle: launch, termination and the button.

#include "app/Application.h"
#include "app/StringTable.h"
#include "app/TerminalOptions.h"
#include "bridge/Contract.h"
#include "bridge/HistoryPlace.h"
#include "bridge/JournalStore.h"
#include "bridge/RunLog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdio>

namespace {

// Host preparation and the final adb run must not abort start-up or exit when a tool
// (the shell, adb) cannot be started; their results are not looked at anyway.
template <class Step>
void ignoringLaunchErrors(const char* what, Step&& step) {
    try {
        step();
    } catch (const ToolLaunchError& e) {
        std::fprintf(stderr, "hotspot-updater: %s skipped: %s\n", what, e.what());
    }
}

} // namespace

Application::Application(Environment env, Face* face, int stationMaxUpdates, QObject* parent)
    : QObject(parent),
      m_env(std::move(env)),
      m_face(face),
      m_tools(m_env.resourcesPath(), m_env.toolLimits),
      m_host(m_tools, m_env.hostFolders(), m_env.exitProgram),
      m_workflow(m_env, m_tools, m_host, m_switches, DevicePlace{{}, nullptr, nullptr, stationMaxUpdates > 0}) {
    if (stationMaxUpdates > 0) {
        m_station = std::make_unique<Station>(m_workflow, m_env, m_tools, m_host, m_switches, stationMaxUpdates);
        m_station->subscribe(this);
    }
    stringtable::install(resourcesPath());
    m_face->attach(*this, resourcesPath());
    session().subscribe(m_face);
    session().subscribe(this);
}

void Application::unitJoined(DeviceWorkflow& unit) {
    unit.session().subscribe(this);
}

// Never reached in the application (the process ends around it); tests destroy it only once
// no worker runs.
Application::~Application() = default;

void Application::keepHistory(const QString& historyDb) {
    QString placeWhy;
    const std::optional<HistoryPlace> place =
        history::place(m_env.historyPath(), historyDb, history::configPath(), &placeWhy);
    QString why;
    m_history = HistoryKeeper::open(place.value_or(HistoryPlace{m_env.historyPath(), {}}), &why);
    if (!m_history) {
        runlog::write("history", QStringLiteral("no record of the updates is kept: %1").arg(why));
        std::fprintf(stderr, "hotspot-updater: no record of the updates is kept: %s\n", qPrintable(why));
        return;
    }
    if (!why.isEmpty())
        std::fprintf(stderr, "hotspot-updater: %s\n", qPrintable(why));
    if (!place) {
        // An update never waits on the shared record, but the user learns it is not kept there.
        const QString text = placeWhy + QStringLiteral("; the attempts stay on this machine");
        runlog::write("history", text);
        std::fprintf(stderr, "hotspot-updater: %s\n", qPrintable(text));
    }
    if (m_history->sender())
        m_sharedRecord = std::make_unique<SharedRecordWatch>(
            *m_history, [this](const SharedRecordStatus& status) { m_face->sharedRecordChanged(status); });
    const QString station = history::stationName(history::configPath());
    closeInterruptedAttempts(station);
    m_recorder = std::make_unique<AttemptRecorder>(*m_history, runlog::path(), station);
    // Recorded before any face shows the attempt's end: today's counts include it.
    if (m_station)
        m_station->subscribeFirst(m_recorder.get());
    else
        m_recorder->follow(m_workflow);
}

// Under the guard no other updater of this machine runs: a row of this station still running
// with no open journal is a run that is gone.
void Application::closeInterruptedAttempts(const QString& station) {
    const std::optional<QStringList> goingOn = JournalStore(m_env.journalFolder()).openAttempts();
    if (!goingOn)
        return; // a journal that cannot be read may hold any of them
    const int closed = m_history->local().closeInterrupted(station, *goingOn);
    if (closed > 0)
        runlog::write("history", QStringLiteral("%1 attempts of an earlier run marked interrupted").arg(closed));
    else if (closed < 0)
        runlog::write("history", m_history->local().lastError());
    if (closed > 0 && m_history->sender())
        m_history->sender()->sendSoon();
}

void Application::applicationDidFinishLaunching() {
    m_face->applyWindowStyle();
    ignoringLaunchErrors("stopping the device agent", [this] { m_host.killDeviceAgent(); });
    if (m_station)
        m_station->launch();
    else
        m_workflow.launch();
}

void Application::applicationWillTerminate() {
    runlog::write("app", QStringLiteral("closing; the screen shows: %1").arg(session().shownStatus()));
    // Its complaint when no server runs belongs in the log, not after a terminal's last line.
    ignoringLaunchErrors("stopping the adb server", [this] { m_tools.adb(contract::adbKillServer()); });
    if (m_station) {
        m_switches.sendFinal(m_station->places());
        m_station->stop();
    } else {
        m_switches.sendFinal();
        m_workflow.stopDetect();
    }
    ignoringLaunchErrors("restoring the mode-switch agent", [this] { m_host.recoverDeviceAgent(); });
}

bool Application::updating() {
    return m_station ? m_station->updating() : session().updateRunning();
}

void Application::updateEnded(const UpdateOutcome&) {
    if (updating())
        return;
    if (m_pendingSignal != 0)
        QCoreApplication::exit(exitstatus::kSignal + m_pendingSignal);
    else if (m_closeRequested)
        QCoreApplication::exit(exitstatus::kOk);
}

void Application::requestTermination(int signal) {
    if (updating()) {
        // Never cut an image write short; the update ends within its bounded waits. A station's
        // units still waiting for their turn do not start.
        if (m_pendingSignal == 0)
            std::fprintf(stderr, "hotspot-updater: signal %d: ending once the update has finished\n", signal);
        m_pendingSignal = signal;
        if (m_station)
            m_station->holdBack();
        return;
    }
    QCoreApplication::exit(exitstatus::kSignal + signal);
}

bool Application::requestClose() {
    if (!updating())
        return true;
    if (!m_closeRequested)
        runlog::write("app", QStringLiteral("closing once the running updates have ended"));
    m_closeRequested = true;
    if (m_station)
        m_station->holdBack();
    return false;
}

void Application::finishAfterEventLoop(double graceSeconds) {
    toolrunner::beginShutdown();
    QElapsedTimer timer;
    timer.start();
    while (toolrunner::runningToolCount() > 0 && timer.elapsed() < qint64(graceSeconds * 1000.0))
        QThread::msleep(10);
    // A detection pass that was still running may have started the server again.
    ignoringLaunchErrors("stopping the adb server", [this] {
        toolrunner::RunOptions options;
        options.duringShutdown = true;
        options.limitSeconds = m_env.toolLimits.listing;
        toolrunner::runTool(m_tools.adbPath(), contract::adbKillServer(), options);
    });
}

void Application::onUpdateButtonClick() {
    if (m_workflow.press() == DeviceWorkflow::Press::Close)
        QCoreApplication::exit(0);
}

void Application::alertAnswered(bool firstButton) {
    if (firstButton)
        QCoreApplication::exit(0);
}
