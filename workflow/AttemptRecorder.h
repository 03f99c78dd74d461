#pragma once
// Writes every update attempt into the record as it goes: a row when it starts, again at each
// phase of its journal and at its end, so a killed run leaves its last phase behind. A finish
// goes on with the row its journal names. Made and used on the GUI thread.

#include "bridge/AttemptHistory.h"
#include "workflow/StationListener.h"

#include <memory>
#include <vector>

class DeviceWorkflow;
class HistoryKeeper;
struct BackupRun;

namespace attempts {
// A port whose last five finished attempts hold three failures is pointed out.
constexpr int kRecent = 5;
constexpr int kFailuresMarked = 3;
// The unit's identity: the digest of the calibration it held when its data was saved.
QString unitOf(const BackupRun& run);
// "port 1-2.3: 3 of the last 5 failed — check the cable or hub" (looked up) when the port
// fails that often; empty otherwise.
QString failingPort(const AttemptHistory& record, const QString& port);
} // namespace attempts

class AttemptRecorder : public StationListener {
public:
    // The keeper must outlive the recorder; `runLog` is this run's log; `station` names the
    // station in every row.
    AttemptRecorder(HistoryKeeper& keeper, QString runLog, QString station);
    ~AttemptRecorder() override;
    AttemptRecorder(const AttemptRecorder&) = delete;
    AttemptRecorder& operator=(const AttemptRecorder&) = delete;

    // Records the updates of this device's workflow, which must outlive the recorder.
    void follow(DeviceWorkflow& workflow);
    void unitJoined(DeviceWorkflow& unit) override { follow(unit); }

    HistoryKeeper& keeper() { return m_keeper; }
    // Counts this recorder's writes: what is read from the record stays good while it stands.
    quint64 writes() const { return m_writes; }

private:
    class Unit;
    bool write(const Attempt& attempt);

    HistoryKeeper& m_keeper;
    QString m_runLog;
    QString m_station;
    std::vector<std::unique_ptr<Unit>> m_units;
    bool m_failureTold = false;
    quint64 m_writes = 0;
};
