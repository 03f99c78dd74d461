#pragma once
// Hands-free updates on a station: a unit offered an update starts it with no keystroke; one
// whose update failed is tried once more, then waits until it leaves its port, so the port
// takes the next unit. A unit whose data question needs an answer, or whose update was already
// resumed too often, waits for the user. Only units at the station's ports are pressed. Made
// and used on the GUI thread.

#include "workflow/DeviceWorkflow.h"
#include "workflow/StationListener.h"

#include <QObject>
#include <functional>
#include <memory>
#include <vector>

class StationAutopilot : public StationListener {
public:
    // `takesPort`: whether the station still takes a port (its list may narrow meanwhile).
    explicit StationAutopilot(std::function<bool(const QString&)> takesPort);
    ~StationAutopilot() override;
    StationAutopilot(const StationAutopilot&) = delete;
    StationAutopilot& operator=(const StationAutopilot&) = delete;

    // On: the units on offer now start at once, and every later one as it is offered.
    void setEnabled(bool on);
    bool enabled() const { return m_enabled; }
    // The station's ports changed: the units on offer at a port it takes again start.
    void portsChanged();

    void unitJoined(DeviceWorkflow& unit) override;

private:
    class Unit;

    std::function<bool(const QString&)> m_takesPort;
    std::vector<std::unique_ptr<Unit>> m_units;
    bool m_enabled = false;
    QObject m_context; // presses run from the event loop, never inside a listener's call
};
