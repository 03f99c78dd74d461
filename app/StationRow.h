#pragma once
// One unit of the station in its row of the station window: what its session tells, and its
// button, which presses the unit's own.

#include "workflow/SessionListener.h"

#include <QPointer>
#include <QString>
#include <functional>

class AttemptRecorder;
class QMessageBox;
class DeviceWorkflow;
class StationWindow;

class StationRow : public SessionListener {
public:
    // Adds the unit's row. `changed` runs after anything that may change what the rows offer.
    // `recorder`: the record of attempts, when one is kept.
    StationRow(StationWindow& window, DeviceWorkflow& unit, std::function<void()> changed,
               AttemptRecorder* recorder = nullptr);

    // How the unit's last run ended, for the station's summary.
    enum class Outcome { None, Updated, UpToDate, Failed, DataNotBack, NotStarted };
    Outcome outcome() const { return m_outcome; }
    bool updating() const;

    // Start or Finish is on offer and may be pressed.
    bool offersStart() const;
    // The window is closing: nothing new may be pressed.
    void freeze();

    void showStatus(const QString& text) override;
    void showInfo(const QString& text) override;
    void setTextLabel(const std::optional<QString>& text, bool showImage) override;
    void showButtonTitle(const QString& title) override;
    void enableButton(bool enabled) override;
    void showProgress(double fraction) override;
    void startAnimation() override;
    void stopAnimation() override;
    void showNotice(const QString& text) override;
    void versionRead(bool updateOffered) override;
    void updateStarted() override;
    void updateEnded(const UpdateOutcome& outcome) override;
    void unitQuestionAsked(const UnitQuestion& question) override;
    void unitLeft() override;

private:
    // The row as the session stands now: status (the info text as its tool tip), version, and
    // the button, shown only while the unit's state has one to press or a run going.
    void refresh();
    void showOutcome(Outcome outcome);
    // The port's record: its recent failures and the unit's earlier attempts.
    void showRecord();
    // The question box goes once the question it asks no longer stands (its unit left).
    void closeStaleQuestion();

    StationWindow& m_window;
    DeviceWorkflow& m_unit;
    QString m_port;
    std::function<void()> m_changed;
    AttemptRecorder* m_recorder;
    QString m_status;
    QString m_info;
    QString m_title;
    bool m_enabled = false;
    bool m_frozen = false;
    Outcome m_outcome = Outcome::None;
    QPointer<QMessageBox> m_questionBox;
};
