#pragma once
// Hands-free updates on a station: a unit offered an update starts it with no keystroke; one
// whose update failed is tried once more, then waits for the user, as does a unit whose data question needs an answer or whose update was already
// resumed too often. Made and used on the GUI thread.

#include "workflow/DeviceWorkflow.h"
#include "workflow/StationListener.h"

#include <QObject>
#include <memory>
#include <vector>

class StationAutopilot : public StationListener {
public:
    StationAutopilot();
    ~StationAutopilot() override;
    StationAutopilot(const StationAutopilot&) = delete;
    StationAutopilot& operator=(const StationAutopilot&) = delete;

    // On: the units on offer now start at once, and every later one as it is offered.
    void setEnabled(bool on);
    bool enabled() const { return m_enabled; }

    void unitJoined(DeviceWorkflow& unit) override;

private:
    class Unit;

    std::vector<std::unique_ptr<Unit>> m_units;
    bool m_enabled = false;
    QObject m_context; // presses run from the event loop, never inside a listener's call
};
