#pragma once
// Drives a station from a terminal: every unit's lines carry its port; with --yes every offered
// update starts, otherwise the versions are reported. The run ends once every unit has ended
// (updated, up to date, failed, or never read within the wait), with one summary line (or
// JSON object) per port and an exit status for the whole station. Hands-free (--auto) the
// run goes on until a signal ends it, with a summary line for each unit as it ends.

#include "app/TerminalFace.h"
#include "app/TerminalOptions.h"
#include "workflow/Station.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QObject>
#include <QTimer>
#include <memory>
#include <optional>
#include <vector>

class Application;

class TerminalStation : public QObject, private StationListener, private SessionListener {
public:
    class Unit;

    // Both must outlive the driver; `face` is the package check's, without a port.
    TerminalStation(Application& application, TerminalFace& face, const TerminalOptions& options);
    ~TerminalStation() override;

    void start();
    // The station's exit status; when the application ended before every unit did (a
    // signal), says so and returns the event loop's `loopStatus`.
    int exitCode(int loopStatus);

private:
    void unitJoined(DeviceWorkflow& unit) override;
    void packageCheckFailed(bool driverMissing) override;
    void settle();
    void settle(Unit& unit);
    void offered(Unit& unit);
    void askWhose(Unit& unit);
    void settleEnded();
    void unitUpdateEnded(Unit& unit);
    int summarize();
    void report(Unit& unit);
    void sayEnd(Unit& unit);
    int concludeAuto();
    void sayFailingPorts();
    void conclude();
    void stop();
    int statusOfAll() const;
    // --wait has passed since `since`.
    bool waitedOut(const QElapsedTimer& since) const;

    Application& m_application;
    TerminalFace& m_face;
    TerminalOptions m_options;
    std::vector<std::unique_ptr<Unit>> m_units;
    struct Tally;
    std::unique_ptr<Tally> m_tally; // hands-free: how the units that came ended
    std::optional<bool> m_packageFailed; // the driver rule missing, when true
    std::optional<int> m_exit;
    QTimer m_tick;
    QElapsedTimer m_sinceStart;
    QElapsedTimer m_sinceJoin;
};
