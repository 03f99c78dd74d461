#pragma once
// One device's update from start to end: its session and the workers that move it (the
// package check, the detection loop, the update). Made on the GUI thread; its public calls
// come from there.

#include "bridge/DeviceData.h"
#include "bridge/DeviceProbes.h"
#include "workflow/DeviceSession.h"
#include "workflow/Services.h"

// Where a device is, for a station: its port, and the station's bound on updates at once.
// The default is the host's one device, wherever it is plugged in.
struct DevicePlace {
    QString port;
    UpdateSlots* turns = nullptr;
    BusTurns* bus = nullptr;
    // A station's package check: it reviews every unit's journals and adopts none.
    bool checksForStation = false;
};

class DeviceWorkflow {
public:
    // What the one button did.
    enum class Press { Nothing, Close, Started, Retry };

    // Everything passed in must outlive the workflow and its workers.
    DeviceWorkflow(const Environment& env, const Tools& tools, HostPreparation& host, ModeSwitch& switches,
                   const DevicePlace& place = {});

    DeviceSession& session() { return m_session; }
    const Services& services() const { return m_services; }

    // The first screen, then the detection and the package check.
    void launch();
    // A station's package check alone: no device is looked for.
    void launchCheck();
    // A station's unit, once the check passed: its journal reviewed, then the detection.
    void launchUnit(std::shared_ptr<const Package> package);
    QString port() const { return m_services.port; }
    int startDetect();
    // Asks the detection worker to stop and gives it a grace period (not a join).
    void stopDetect();
    // -1 unless the package is still to be checked.
    int startInitialize();
    void startUpdate();
    // The one button: close when finished, search again after a failed run, start when offered.
    Press press();
    // The answer to the question whose unit this is: its own (the finish starts, with the
    // journal's data) or another hotspot's (it is then found and offered as usual). `asked`:
    // the question answered (UnitQuestion::asked); an answer to one that no longer stands
    // changes nothing. 0: whatever question stands at this port now (a terminal's option).
    Press answer(bool itsUnit, quint64 asked = 0);
    // A station's unit that ended with a failure and is still plugged in: its port is looked
    // at afresh, and the unit offered again as if it had just come.
    Press searchAgain();
    // A finish is offered whose journal was resumed too often: neither --yes nor the
    // hands-free station starts it, only the user.
    bool finishNeedsTheUser() const;
    // A station's unit whose failed update waits for a Retry that will not come by itself: it
    // ends as a finished unit does, and its port takes the next unit once it leaves (its
    // journal stays for whoever plugs it in again). False when it was not waiting so.
    [[nodiscard]] bool awaitDeparture();

private:
    void showFirstScreen();

    Tools m_tools; // addressed to the port, when there is one
    DeviceProbes m_probes;
    DeviceData m_data;
    JournalKeeper m_journal;
    Services m_services;
    DeviceSession m_session;
};
