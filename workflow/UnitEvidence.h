#pragma once
// Whose is the unit attached now: the one an open journal's update stopped on, or another?
// Every unit of the model answers with one serial and the package's version after its update,
// so only evidence decides, never signs that fit both: the journal's own calibration on it, a
// calibration cut short on its way back, the calibration a written unit is left with at the
// journal's place, or a boot loader there (no unit enters its boot loader by itself).

#include "bridge/UpdateJournal.h"

#include <QByteArray>
#include <QString>
#include <optional>

// What the host shows of the unit.
struct UnitSighting {
    bool inBootLoader = false;
    QString port; // from the long device lists or sysfs; empty when the host names none
    int attached = 0; // units the host shows, at any port
    QString version;  // the firmware it runs; empty in its boot loader
    std::optional<QByteArray> calibration; // what it holds now; nullopt when unreadable
};

// What is known of the journal's unit's calibration.
struct JournalCalibrations {
    std::optional<QByteArray> saved; // the copy the journal names, when still intact
    std::optional<QString> fresh;    // the digest a unit written with its package holds
};

enum class Whose { JournalsUnit, AnotherUnit, Undecided };

struct UnitVerdict {
    Whose whose = Whose::Undecided;
    QString why; // for the run's log
};

UnitVerdict judgeUnit(const UpdateJournal& journal, const UnitSighting& seen, const JournalCalibrations& known);

// The calibration's digest a journal recorded for its unit; empty when it saved none.
QString savedCalibrationDigest(const UpdateJournal& journal);
