#pragma once
// One device's update, in one place: its state, where it was last seen on the bus (which of
// its identities), its version, what the last adb probe said,
// its backup run, the note about copies kept, its workers, and the listeners that show it.
//
// The state (workflow/SessionState.h) and the flags are atomics; texts are read under a lock or handed over by the
// blocking post. Listener calls always run on the GUI thread.

#include "bridge/BackupStore.h"
#include "bridge/DeviceProbes.h"
#include "workflow/BlockingPost.h"
#include "workflow/Package.h"
#include "workflow/SessionListener.h"
#include "workflow/SessionState.h"

#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// What another thread may read of a session at once.
struct SessionSnapshot {
    SessionState state = SessionState::Checking;
    QString packageVersion; // empty before the package check
    QString deviceVersion;  // empty while no device's version is known
    bool accessRefused = false; // the no-permission message stands
};

class DeviceSession {
public:
    DeviceSession() = default;
    DeviceSession(const DeviceSession&) = delete;
    DeviceSession& operator=(const DeviceSession&) = delete;

    // GUI thread, before any worker runs; the listener must outlive the session.
    void subscribe(SessionListener* listener) { m_listeners.push_back(listener); }
    // A station's unit: its USB port path, named in its log lines. Before any worker runs.
    void setPort(const QString& port) { m_port = port; }
    const QString& port() const { return m_port; }

    // ---- state ----
    SessionState state() const { return m_state.load(); }
    // Puts the session at `s` whatever it was: the first screen of a launch (and tests).
    void setState(SessionState s);
    // Moves the state from `expected` to `desired` only if nobody changed it meanwhile and the
    // move is one a session makes (isAllowedMove); false otherwise.
    bool move(SessionState expected, SessionState desired);
    SessionSnapshot snapshot() const;

    // ---- what the check and the device said ----
    // Set by the package check before it moves the state to 1.
    void setPackage(std::shared_ptr<const Package> package);
    std::shared_ptr<const Package> package() const;
    QString packageVersion() const;
    QString deviceVersion() const;
    void setDeviceVersion(const QString& version);
    // The last presence mask (bridge/DeviceProbes.h), recorded by whoever looked.
    uint64_t recordPresence(uint64_t mask) {
        m_presence.store(mask);
        return mask;
    }
    uint64_t lastPresence() const { return m_presence.load(); }
    // The last adb probe's verdict, recorded by whoever probed.
    AdbVerdict recordVerdict(AdbVerdict verdict);
    AdbVerdict lastVerdict() const;
    // The no-permission message: true when it was not shown yet.
    bool markPermissionShown() { return !m_permissionShown.exchange(true); }
    void clearPermissionShown() { m_permissionShown.store(false); }

    // ---- the update's data (update worker; read by the completion once it has ended) ----
    BackupRun& backupRun() { return m_backupRun; }
    // Where the completion tells the user the copies that did not go back are.
    void setKeptNote(const QString& entry);
    QString keptNote() const;
    // The update read the device's version after writing it: the device version is the new one.
    void setNewVersionRead(bool read) { m_newVersionRead.store(read); }
    bool newVersionRead() const { return m_newVersionRead.load(); }
    bool updateRunning() const { return m_updateRunning.load(); }
    // The offer on the screen is to finish the pending journal's update, not a new one.
    void setFinishOffered(bool offered) { m_finishOffered.store(offered); }
    bool finishOffered() const { return m_finishOffered.load(); }
    // The question on the screen: is this the unit whose update stopped? nullopt when none.
    // Each question set is numbered anew (UnitQuestion::asked).
    void setQuestion(const std::optional<UnitQuestion>& question);
    std::optional<UnitQuestion> question() const;
    void setUpdateRunning(bool running) { m_updateRunning.store(running); }

    // ---- workers ----
    // Starts `body` on a detached thread, counted in liveWorkers(); false when none started.
    // A detection worker carries the generation it was started in.
    bool spawnWorker(std::function<void()> body, bool detection = false);
    int liveWorkers() const { return m_liveWorkers.load(); }
    // Detection: begin (false when one is recorded), ask to stop, forget.
    bool beginDetection();
    void requestDetectionStop() { m_detectStop.store(true); }
    void forgetDetection() { m_detectRecorded = false; }
    bool detectionRecorded() const { return m_detectRecorded; }
    bool detectionStopRequested() const { return m_detectStop.load(); }
    // The detection worker's loop condition: true once this worker was asked to stop, even
    // when a later beginDetection has already cleared the flag for its successor. From a
    // thread that is not a detection worker it is just detectionStopRequested().
    bool detectionShouldStop() const;

    // ---- what the listeners show; from any thread ----
    // Runs `fn` on the GUI thread and waits for it; direct when already there.
    void post(const std::function<void()>& fn) { m_post(fn); }
    // Runs `fn` on the GUI thread only while the state is still `state`. The check runs
    // there together with the change, so no button press can fall between the two.
    void postWhileState(SessionState state, const std::function<void()>& fn);
    void showStatus(const QString& text);
    void showInfo(const QString& text);
    void setTextLabel(const std::optional<QString>& text, bool showImage);
    // A message key, looked up; nullopt or empty hides the warning.
    void showWarning(const std::optional<QString>& key);
    void showButtonTitle(const std::optional<QString>& title);
    void enableButton(bool enabled);
    void showProgress(double fraction);
    void animate(bool running);
    // A message key, looked up.
    void showAlert(const QString& key);
    void showNotice(const QString& text);
    void packageCheckFailed(bool driverMissing);
    void versionRead(bool updateOffered);
    void updateStarted();
    void unitQuestionAsked(const UnitQuestion& question);
    void updateEnded(const UpdateOutcome& outcome);
    void unitLeft();
    void phaseReached(const QString& phase);
    // The record's id of the attempt the running update belongs to (a finish keeps its
    // journal's); empty when no record is kept. Set on the GUI thread before the update starts.
    void setAttemptId(const QString& id);
    QString attemptId() const;
    // GUI thread: the status line as last shown.
    const QString& shownStatus() const { return m_shownStatus; }

private:
    void tell(const std::function<void(SessionListener&)>& call);
    void logState(SessionState from, SessionState to) const;

    std::vector<SessionListener*> m_listeners;
    QString m_port;
    BlockingPost m_post;
    QString m_shownStatus;

    std::atomic<SessionState> m_state{SessionState::Checking};
    std::atomic<uint64_t> m_presence{0};
    mutable std::mutex m_lock; // the texts, the package and the verdict
    std::shared_ptr<const Package> m_package;
    QString m_deviceVersion;
    AdbVerdict m_verdict;
    QString m_keptNote;
    QString m_attemptId;
    std::optional<UnitQuestion> m_question;
    quint64 m_questionsAsked = 0; // under m_lock
    std::atomic<bool> m_permissionShown{false};
    std::atomic<bool> m_updateRunning{false};
    std::atomic<bool> m_newVersionRead{false};
    std::atomic<bool> m_finishOffered{false};
    BackupRun m_backupRun;

    std::atomic<int> m_liveWorkers{0};
    std::atomic<bool> m_detectStop{false};
    std::atomic<uint64_t> m_detectGeneration{0}; // bumped by each beginDetection
    bool m_detectRecorded = false;               // GUI thread only
};
