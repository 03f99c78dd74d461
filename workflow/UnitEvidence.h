#pragma once
// Whose is the unit attached now: the one an open journal's update stopped on, or another?
// Every unit of the model answers with one serial and the package's version after its update,
// so only evidence decides, never signs that fit several: a journal's own calibration on it (or
// what a push of it left, or its start), the calibration every written unit is left with, a
// boot loader (no unit enters its boot loader by itself), and whether this process watched
// the unit at its port, without a departure, since that journal's write began. The port alone
// never tells journals apart: units are moved and swapped, processes restart.

#include "bridge/UpdateJournal.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

// What the host shows of the unit.
struct UnitSighting {
    bool inBootLoader = false;
    QString port; // from the long device lists or sysfs; empty when the host names none
    int attached = 0; // units the host shows, at any port
    QString version;  // the firmware it runs; empty in its boot loader
    std::optional<QByteArray> calibration; // what it holds now; nullopt when unreadable
};

// What is known of a journal's unit's calibration.
struct JournalCalibrations {
    std::optional<QByteArray> saved; // the copy the journal names, when still intact
    std::optional<QString> fresh;    // the digest a unit written with its package holds
};

// The unit's calibration as one open journal sees it.
enum class CalibrationMatch {
    Saved,   // the journal's saved one, what a push of it left, or its start: the journal's unit
    Fresh,   // what writing the journal's package leaves on every unit
    Another, // a calibration of its own, or another package's firmware: not the journal's unit
    Unknown, // unreadable, in its boot loader, or what the writing leaves is not learned yet
};

// The evidence one open journal gives about the unit.
struct JournalEvidence {
    CalibrationMatch calibration = CalibrationMatch::Unknown;
    // This process watched the unit at the journal's port, without a departure, since the
    // journal's write began.
    bool watched = false;
    // At the journal's port, or the only unit when the host names no port.
    bool atItsPlace = false;
    // It runs the journal's package (unknown, so false, in its boot loader).
    bool runsPackage = false;
};

struct IdentityDecision {
    enum class Kind { Finish, NewUnit, Ask };
    Kind kind = Kind::NewUnit;
    int journal = -1; // Finish and Ask: the index of the journal meant
    QString why;      // for the run's log
    std::vector<int> candidates; // Ask: every journal that could be the unit's, that one first
};

// One decision for every journal open: the evidence in the order the journals are asked
// about (the unit's own port's first). Pure: its whole table is one test.
IdentityDecision decideIdentity(bool inBootLoader, const std::vector<JournalEvidence>& journals);

// How the unit's calibration relates to one journal.
CalibrationMatch matchCalibration(const UpdateJournal& journal, const UnitSighting& seen, const JournalCalibrations& known);

// The calibration's digest a journal recorded for its unit; empty when it saved none.
QString savedCalibrationDigest(const UpdateJournal& journal);
