#pragma once
// What the terminal face was asked to do, from the command line.

#include "bridge/AttemptHistory.h"
#include "bridge/HostPreparation.h"
#include "workflow/UpdateOutcome.h"

#include <QString>

struct TerminalOptions {
    enum class Output { Auto, Quiet, Json };

    bool check = false;   // read the device's version, report, change nothing
    bool yes = false;     // start an offered update without asking
    int waitSeconds = 120; // for a device whose version can be read
    bool discardJournals = false; // close unfinished updates' journals, touch no device
    // The answer to "is this the hotspot whose update stopped?" for the unit at this port:
    // finish it with the saved data, or update it as another hotspot.
    QString finishAt;
    QString finishFrom; // --finish PORT=WHERE: the port the update to finish ran at
    QString otherAt;
    // --restore: list the stored copies; with an entry and a port, put that entry back there.
    bool restore = false;
    QString restoreEntry; // the entry's id (its folder's name) or folder
    QString restorePort;
    // The user's word that copies of another calibration go onto the unit: --yes alone never
    // decides whose data goes where.
    bool restoreOtherCalibration = false;
    Output output = Output::Auto;
    // A station's --auto: each offered update starts by itself, and the run goes on until a
    // signal ends it, a line for each unit as it ends.
    bool autoUpdate = false;
    // --history: print the record of update attempts, those the filter lets through.
    enum class HistoryFormat { Table, Json, Csv };
    bool history = false;
    AttemptFilter historyFilter;
    HistoryFormat historyFormat = HistoryFormat::Table;
    // --history-db: the server holding every station's record; empty: this machine's.
    QString historyDb;
};

// Exit statuses of the terminal face; the README lists them.
namespace exitstatus {
constexpr int kOk = 0;               // success, up to date, or --check read the version
constexpr int kVendorList = hostprep::kRefusedListStatus; // the adb vendor list cannot be used (ends the program at once)
constexpr int kDeclined = 3;         // an update was offered but not started
constexpr int kPackage = 10;         // the package failed its check
constexpr int kDeviceAccess = 11;    // no access to the device (rule missing, or refused)
constexpr int kNoDevice = 12;        // no device's version was read within the wait
constexpr int kAlreadyRunning = 13;  // another updater runs on this machine (or its guard cannot be trusted); nothing was touched
constexpr int kStationFailures = 14; // a station: at least one unit's update failed
constexpr int kUnitQuestion = 15;    // a unit may be an unfinished update's: left untouched until --finish or --other
constexpr int kHistory = 16;         // --history: the record of attempts cannot be read
constexpr int kUpdateResult = 20;    // plus the update's result code 1..29
constexpr int kOtherResult = 50;     // any other result code of the update
constexpr int kUsage = 64;           // a bad command line
constexpr int kSignal = 128;         // plus the signal's number: ended by it before any outcome

// Every status above, as the manual page lists them (a test compares).
constexpr int kAll[] = {kOk,       kVendorList,   kDeclined,    kPackage, kDeviceAccess, kNoDevice,
                        kAlreadyRunning, kStationFailures, kUnitQuestion, kHistory, kUpdateResult, kOtherResult, kUsage, kSignal};

constexpr int forUpdateResult(int result) {
    if (result == 0)
        return kOk;
    return result > 0 && result < kOtherResult - kUpdateResult ? kUpdateResult + result : kOtherResult;
}
} // namespace exitstatus
