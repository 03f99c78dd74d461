#pragma once
// The detection worker: twice a second, bring an attached device to adb, read its firmware
// version and offer the update or report it up to date.

#include "usb/usbport.h"
#include "workflow/SessionState.h"
#include "workflow/UnitEvidence.h"

#include <QString>
#include <optional>

class DeviceSession;
struct Services;

class DetectionLoop {
public:
    // Both must outlive the loop.
    DetectionLoop(DeviceSession& session, const Services& services) : m_session(session), m_services(services) {}

    // Passes until the session asks this worker to stop.
    void run();
    // One pass: a wait, then one look at the bus and the tools.
    void pass();

private:
    void deviceGone(SessionState observed);
    void showSearchingIf(SessionState state);
    void showNoPermission();
    void readDeviceVersion();
    // What the host shows of the unit: its port, how many are attached, its calibration.
    UnitSighting sighting(bool inBootLoader, const QString& version) const;
    // With an update unfinished: the unit shown to be its own is offered Finish, one that may
    // be is asked about; true when either happened. Another unit is left to the usual search.
    bool takenByJournal(const UnitSighting& seen);
    void offerFinish(const UpdateJournal& journal);
    // `journalPorts`: where every update that could be the unit's ran, the one asked about first.
    void askWhose(const UpdateJournal& journal, const QString& port, const QStringList& journalPorts);
    static QString stoppedText(const UpdateJournal& journal);
    // No known identity on the bus: a boot loader may still be there under its own.
    void lookForBootLoader(SessionState observed);
    // A station's unit that ended: has it left its port?
    void watchEndedUnit();

    DeviceSession& m_session;
    const Services& m_services;
    // Since the unit's end: whether it was seen since, and for how many passes in a row not.
    bool m_seenSinceEnd = false;
    int m_passesAbsent = 0;
    // The bus and device numbers it was last seen under since its end.
    std::optional<usbport::Numbers> m_numbersSeen;
};
