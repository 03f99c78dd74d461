#pragma once
// The application: its environment, the tools, the host, the faces and its termination,
// around one device's workflow, or a station's. Lives on the GUI thread.

#include "app/Face.h"
#include "bridge/HostPreparation.h"
#include "bridge/ModeSwitch.h"
#include "bridge/ToolRunner.h"
#include "app/SharedRecordWatch.h"
#include "bridge/HistoryKeeper.h"
#include "workflow/AttemptRecorder.h"
#include "workflow/DeviceWorkflow.h"
#include "workflow/Environment.h"
#include "workflow/Station.h"

#include <QObject>
#include <memory>

class Application : public QObject, private SessionListener, private StationListener {
public:
    // The face must outlive the application. With `stationMaxUpdates` above 0 it is a station:
    // every hotspot attached is updated, that many at once; the face is the package check's.
    Application(Environment env, Face* face, int stationMaxUpdates = 0, QObject* parent = nullptr);
    ~Application() override;

    const Environment& environment() const { return m_env; }
    QString resourcesPath() const { return m_env.resourcesPath(); }
    const Tools& tools() const { return m_tools; }
    HostPreparation& host() { return m_host; }
    DeviceWorkflow& workflow() { return m_workflow; }
    DeviceSession& session() { return m_workflow.session(); }
    // Null unless the application is a station.
    Station* station() { return m_station.get(); }
    // Before launch: every update attempt goes into the record of this user's state folder,
    // and to the server `historyDb` names (or the configuration file does). A record that
    // cannot be opened is said in the log and on standard error; the updates go on.
    void keepHistory(const QString& historyDb);
    // Null when no record is kept.
    AttemptRecorder* recorder() { return m_recorder.get(); }
    // Null without a shared record's server.
    SharedRecordWatch* sharedRecord() { return m_sharedRecord.get(); }

    void applicationDidFinishLaunching();
    bool applicationShouldTerminateAfterLastWindowClosed() const { return true; }
    void applicationWillTerminate();
    void onUpdateButtonClick();
    // A termination signal: ends the application as closing the window does, or, while an
    // update runs, once the update has ended (every step of it is bounded).
    void requestTermination(int signal);
    // The window's close: true when it may close now; while an update runs, nothing new starts
    // and the application ends with status 0 once the running updates have ended.
    bool requestClose();
    // After the event loop: ends the workers' running tools and refuses new ones (waiting at
    // most `graceSeconds` for the runs to return), then stops any adb server a late detection
    // pass started. The workers themselves are left to the process's end.
    void finishAfterEventLoop(double graceSeconds);

    // The alert's answer: its first button ends the application.
    void alertAnswered(bool firstButton);

private:
    void updateEnded(const UpdateOutcome& outcome) override;
    void unitJoined(DeviceWorkflow& unit) override;
    bool updating();

    Environment m_env;
    Face* m_face;
    Tools m_tools;
    HostPreparation m_host;
    ModeSwitch m_switches;
    // Before the workflows: the sessions they follow keep pointers to the recorder's units.
    void closeInterruptedAttempts(const QString& station);

    std::unique_ptr<HistoryKeeper> m_history;
    std::unique_ptr<AttemptRecorder> m_recorder;
    std::unique_ptr<SharedRecordWatch> m_sharedRecord;
    DeviceWorkflow m_workflow;
    std::unique_ptr<Station> m_station;
    int m_pendingSignal = 0; // a termination deferred until the update ends
    bool m_closeRequested = false; // the window's close, deferred likewise
};
