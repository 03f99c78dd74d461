#pragma once
// What a device's session tells whoever shows it (the window, a terminal) or acts on it.
// Every call comes on the GUI thread, with texts already looked up; a listener overrides
// what it needs.

#include "workflow/UpdateOutcome.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

// The question a unit raises when the evidence cannot tell whether it is the one an unfinished
// update stopped on.
struct UnitQuestion {
    QString port;           // where the unit is; empty when the host names no port
    QDateTime stopped;      // when that update last changed its journal
    QString packageVersion; // the package it was writing
    QString journalPort;    // where that update ran; empty when the host named none
    QStringList journalPorts; // where every update that could be the unit's ran, that one first
    // Which asking this is: the session numbers each question it is given, so an answer meant
    // for a unit that has left never applies to the next one at its port.
    quint64 asked = 0;
};

class SessionListener {
public:
    virtual ~SessionListener() = default;

    virtual void showStatus(const QString&) {}
    // Changes the info text without showing or hiding it.
    virtual void showInfo(const QString&) {}
    // Shows `text` in the info area (hides it when nullopt) and the updating picture or not.
    virtual void setTextLabel(const std::optional<QString>&, bool /*showImage*/) {}
    // The warning with its icon; nullopt hides both.
    virtual void showWarning(const std::optional<QString>&) {}
    virtual void showButtonTitle(const QString&) {}
    virtual void enableButton(bool) {}
    // Below 0: indeterminate at "0 %"; 0: determinate from zero; above: the value.
    virtual void showProgress(double) {}
    virtual void startAnimation() {}
    virtual void stopAnimation() {}
    // The alert whose acknowledgement ends the application.
    virtual void showAlert(const QString&) {}
    // Something the user should know that ends nothing (a journal set aside).
    virtual void showNotice(const QString&) {}

    // Outcomes, each after everything it shows is shown.
    // The package check failed (`driverMissing`: the device-access rule is not installed).
    virtual void packageCheckFailed(bool /*driverMissing*/) {}
    // The device's version was read: the update is offered, or the device is up to date.
    virtual void versionRead(bool /*updateOffered*/) {}
    // The update run: from Start until the completion step has shown its result code.
    virtual void updateStarted() {}
    virtual void updateEnded(const UpdateOutcome& /*outcome*/) {}
    // Is this the unit whose update stopped? The answer goes to DeviceWorkflow::answer.
    virtual void unitQuestionAsked(const UnitQuestion& /*question*/) {}
    // A station's unit that had ended (updated, up to date, failed for good) left its port;
    // the port is searched again for the next one.
    virtual void unitLeft() {}
    // The running update reached a phase of its journal ("saving", "saved", "boot loader",
    // "image 2", "restarted", "data back").
    virtual void phaseReached(const QString& /*phase*/) {}
};
