#pragma once
// Many hotspots at once, each followed by its USB port: one package check for all, then a unit
// wherever a hotspot shows, each with its own session, journal and workers, and at most so
// many updating at once. The host-wide steps (the adb server, the vendor list) are the
// check's, done once. Made on the GUI thread; its public calls come from there.

#include "workflow/BusTurns.h"
#include "workflow/DeviceWorkflow.h"
#include "workflow/StationAutopilot.h"
#include "workflow/StationListener.h"
#include "workflow/UpdateSlots.h"

#include <QRegularExpression>
#include <QStringList>
#include <atomic>
#include <mutex>
#include <memory>
#include <vector>

class Station {
public:
    static constexpr int kDefaultMaxUpdates = 8;

    // `check` runs the package check (see DevicePlace::checksForStation); it and
    // everything else passed in must outlive the station and its workers.
    Station(DeviceWorkflow& check, const Environment& env, const Tools& tools, HostPreparation& host,
            ModeSwitch& switches, int maxUpdates);
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // Before launch; the listener must outlive the station.
    void subscribe(StationListener* listener) { m_listeners.push_back(listener); }
    // The same, told before every other listener: what they show may read what it keeps.
    void subscribeFirst(StationListener* listener) { m_listeners.insert(m_listeners.begin(), listener); }
    // Only ports matching one of these shell-style patterns ("1-2.*") get a unit; a hotspot
    // elsewhere is never touched, and named once in the run's log. None: all. May change while
    // the station runs: units that joined keep their rows but are no longer pressed (Start All,
    // hands-free) outside the list; a hotspot left alone joins once its port is taken.
    void limitToPorts(const QStringList& patterns);
    bool takesPort(const QString& port) const;
    // The check, then the watch for hotspots once it passed.
    void launch();

    DeviceWorkflow& check() { return m_check; }
    // Hands-free updates, off until switched on.
    StationAutopilot& autopilot() { return m_autopilot; }
    // In the order they joined.
    const std::vector<std::unique_ptr<DeviceWorkflow>>& units() const { return m_units; }
    DeviceWorkflow* unit(const QString& port) const;
    // Presses Start (or Finish) of every unit at a port it takes that offers it; returns how
    // many started.
    int startAll();
    bool updating() const;
    // A termination waits for the running updates: no unit joins and no update that waits for
    // its turn starts meanwhile.
    void holdBack();
    bool heldBack() const { return m_stopping.load(); }
    // The station is ending: no unit joins, no update waiting for its turn starts, and the
    // detection workers are asked to stop (one grace period for all).
    void stop();
    // Where the units are, for the permanent switch that ends the application.
    std::vector<UsbPortPath> places() const;

private:
    void watch();
    QStringList portsShowing() const;
    void join(const QString& port);

    DeviceWorkflow& m_check;
    const Environment& m_env;
    const Tools& m_tools;
    HostPreparation& m_host;
    ModeSwitch& m_switches;
    UpdateSlots m_turns;
    BusTurns m_bus;
    StationAutopilot m_autopilot; // outlives the units it follows
    std::vector<StationListener*> m_listeners;
    std::vector<std::unique_ptr<DeviceWorkflow>> m_units; // GUI thread
    mutable std::mutex m_portsLock;
    std::vector<QRegularExpression> m_ports; // under m_portsLock: the watch reads them
    std::atomic<bool> m_stopping{false};
};
