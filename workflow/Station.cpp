#include "workflow/Station.h"
#include "bridge/Contract.h"
#include "bridge/OutputText.h"
#include "bridge/RunLog.h"
#include "usb/usbport.h"

#include <QDebug>
#include <algorithm>

namespace {

constexpr double kWatchPeriod = 1.0;

} // namespace

Station::Station(DeviceWorkflow& check, const Environment& env, const Tools& tools, HostPreparation& host,
                 ModeSwitch& switches, int maxUpdates)
    : m_check(check), m_env(env), m_tools(tools), m_host(host), m_switches(switches),
      m_turns(std::max(1, maxUpdates)), m_autopilot([this](const QString& port) { return takesPort(port); }) {
    subscribe(&m_autopilot);
}

void Station::limitToPorts(const QStringList& patterns) {
    // Each pattern matches a whole port, as a shell's does.
    std::vector<QRegularExpression> ports;
    for (const QString& pattern : patterns)
        ports.push_back(QRegularExpression::fromWildcard(pattern));
    {
        const std::lock_guard<std::mutex> lock(m_portsLock);
        m_ports = std::move(ports);
    }
    m_autopilot.portsChanged();
}

bool Station::takesPort(const QString& port) const {
    const std::lock_guard<std::mutex> lock(m_portsLock);
    return m_ports.empty() || std::any_of(m_ports.cbegin(), m_ports.cend(),
                                          [&port](const QRegularExpression& p) { return p.match(port).hasMatch(); });
}

void Station::launch() {
    m_check.launchCheck();
    m_check.session().spawnWorker([this] { watch(); });
}

// Once a second, the ports where a hotspot shows; a port seen for the first time gets a unit.
void Station::watch() {
    DeviceSession& check = m_check.session();
    QStringList seen;
    QStringList leftAlone; // named once; joined should its port be taken later
    while (!m_stopping.load()) {
        m_env.clock->sleep(kWatchPeriod);
        const SessionState state = check.state();
        if (state == SessionState::Checking)
            continue;
        if (state != SessionState::Searching)
            return; // the package failed its check: nothing is updated
        for (const QString& port : portsShowing()) {
            if (seen.contains(port) || m_stopping.load())
                continue;
            if (!takesPort(port)) {
                if (!leftAlone.contains(port)) {
                    runlog::write("station", QStringLiteral("a hotspot at %1, outside the ports chosen: left alone").arg(port));
                    leftAlone << port;
                }
                continue;
            }
            seen << port;
            check.post([this, &port] { join(port); });
        }
    }
}

// The known identities in sysfs, and the boot loaders, whose identity is not known.
QStringList Station::portsShowing() const {
    QStringList ports = usbport::list(m_env.sysfsRoot);
    try {
        ports += output::portsListed(m_tools.fastboot(contract::fastbootDevicesLong()).text);
    } catch (const ToolLaunchError& e) {
        qWarning("hotspot-updater: %s", e.what());
    }
    ports.removeIf([](const QString& port) { return !usbport::isPortName(port); });
    ports.removeDuplicates();
    return ports;
}

void Station::join(const QString& port) {
    if (m_stopping.load() || unit(port))
        return;
    runlog::write("station", QStringLiteral("a hotspot at %1").arg(port));
    m_units.push_back(std::make_unique<DeviceWorkflow>(m_env, m_tools, m_host, m_switches,
                                                       DevicePlace{port, &m_turns, &m_bus, false}));
    DeviceWorkflow& added = *m_units.back();
    for (StationListener* listener : m_listeners)
        listener->unitJoined(added);
    added.launchUnit(m_check.session().package());
}

DeviceWorkflow* Station::unit(const QString& port) const {
    const auto found = std::find_if(m_units.cbegin(), m_units.cend(),
                                    [&port](const std::unique_ptr<DeviceWorkflow>& u) { return u->port() == port; });
    return found == m_units.cend() ? nullptr : found->get();
}

int Station::startAll() {
    int started = 0;
    for (const std::unique_ptr<DeviceWorkflow>& u : m_units) {
        // A unit at a port the list no longer takes keeps its row, and is not pressed.
        if (u->session().state() == SessionState::Offered && takesPort(u->port()) &&
            u->press() == DeviceWorkflow::Press::Started)
            ++started;
    }
    return started;
}

bool Station::updating() const {
    return std::any_of(m_units.cbegin(), m_units.cend(),
                       [](const std::unique_ptr<DeviceWorkflow>& u) { return u->session().updateRunning(); });
}

void Station::holdBack() {
    m_stopping.store(true);
    // Nothing new starts by itself either: a unit offered now keeps its offer.
    m_autopilot.setEnabled(false);
    m_turns.close();
}

void Station::stop() {
    holdBack();
    for (const std::unique_ptr<DeviceWorkflow>& u : m_units)
        u->session().requestDetectionStop();
    m_env.clock->sleep(1.0); // grace period, not a join
    for (const std::unique_ptr<DeviceWorkflow>& u : m_units)
        u->session().forgetDetection();
}

std::vector<UsbPortPath> Station::places() const {
    std::vector<UsbPortPath> places;
    for (const std::unique_ptr<DeviceWorkflow>& u : m_units)
        places.push_back({m_env.sysfsRoot, u->port()});
    return places;
}
