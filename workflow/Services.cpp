#include "workflow/Services.h"
#include "usb/usbport.h"

QString Services::portNow() const {
    if (!port.isEmpty())
        return port;
    if (const QString found = usbport::find(env.sysfsRoot); !found.isEmpty())
        return found;
    // Not in sysfs (a boot loader without a known identity, a host without one): the port the
    // tools name, when they list one device only.
    const QStringList listed = probes.listedPorts().all();
    return listed.size() == 1 ? listed.front() : QString();
}

int Services::detectionSwitch(uint32_t mode) const {
    return port.isEmpty() ? switches.detectionSwitch(mode) : switches.detectionSwitch(mode, {env.sysfsRoot, port});
}

void Services::switchAfterRescan(uint32_t mode) const {
    if (port.isEmpty())
        switches.sendAfterRescan(mode);
    else
        switches.sendAfterRescan(mode, {env.sysfsRoot, port});
}
