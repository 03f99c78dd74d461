#include "workflow/StationAutopilot.h"
#include "bridge/RunLog.h"
#include "workflow/JournalKeeper.h"

class StationAutopilot::Unit : public SessionListener {
public:
    Unit(StationAutopilot& pilot, DeviceWorkflow& workflow) : m_pilot(pilot), m_workflow(workflow) {
        workflow.session().subscribe(this);
    }

    void versionRead(bool updateOffered) override {
        if (updateOffered)
            later([this] { pressIfDue(); });
    }

    // A failure is tried once more: Retry where the unit can be brought further (its journal
    // then finishes it), otherwise the unit is looked at afresh, as if plugged in again. After
    // that retry the unit waits for its departure: its port is never left to a Retry nobody
    // presses.
    void updateEnded(const UpdateOutcome& outcome) override {
        if (!m_pilot.enabled() || outcome.result == UpdateResult::Updated || outcome.result == UpdateResult::NotStarted)
            return;
        if (m_retried) {
            if (m_workflow.awaitDeparture())
                runlog::write("station", QStringLiteral("the update at %1 failed again (code %2): its unit waits until it leaves")
                                             .arg(m_workflow.port())
                                             .arg(outcome.code()));
            return;
        }
        m_retried = true;
        runlog::write("station", QStringLiteral("the update at %1 failed (code %2): tried once more")
                                     .arg(m_workflow.port())
                                     .arg(outcome.code()));
        later([this] {
            // The box may have been cleared, or the port left out, since the failure.
            if (!due())
                return;
            if (m_workflow.session().state() == SessionState::Updating)
                m_workflow.press();
            else
                m_workflow.searchAgain();
        });
    }

    // The next unit at this port gets its own retry.
    void unitLeft() override { m_retried = false; }

    void pressIfDue() {
        DeviceSession& session = m_workflow.session();
        if (!due() || session.state() != SessionState::Offered)
            return;
        // The question is the user's to answer; --yes does not answer it either.
        if (session.question() && !session.finishOffered())
            return;
        if (m_workflow.finishNeedsTheUser())
            return;
        m_workflow.press();
    }

private:
    bool due() const { return m_pilot.enabled() && m_pilot.m_takesPort(m_workflow.port()); }
    void later(std::function<void()> call) {
        QMetaObject::invokeMethod(&m_pilot.m_context, std::move(call), Qt::QueuedConnection);
    }

    StationAutopilot& m_pilot;
    DeviceWorkflow& m_workflow;
    bool m_retried = false;
};

StationAutopilot::StationAutopilot(std::function<bool(const QString&)> takesPort)
    : m_takesPort(std::move(takesPort)) {}
StationAutopilot::~StationAutopilot() = default;

void StationAutopilot::setEnabled(bool on) {
    if (on == m_enabled)
        return;
    m_enabled = on;
    runlog::write("station", on ? QStringLiteral("automatic updates on") : QStringLiteral("automatic updates off"));
    if (on) {
        for (const std::unique_ptr<Unit>& unit : m_units)
            unit->pressIfDue();
    }
}

void StationAutopilot::portsChanged() {
    for (const std::unique_ptr<Unit>& unit : m_units)
        unit->pressIfDue();
}

void StationAutopilot::unitJoined(DeviceWorkflow& unit) {
    m_units.push_back(std::make_unique<Unit>(*this, unit));
}
