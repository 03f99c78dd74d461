#include "workflow/Services.h"
#include "usb/usbport.h"

QString Services::portNow() const {
    return port.isEmpty() ? usbport::find(env.sysfsRoot) : port;
}

int Services::detectionSwitch(uint32_t mode) const {
    return port.isEmpty() ? switches.detectionSwitch(mode) : switches.detectionSwitch(mode, {env.sysfsRoot, port});
}

void Services::switchAfterRescan(uint32_t mode) const {
    if (port.isEmpty())
        ModeSwitch::sendAfterRescan(mode);
    else
        ModeSwitch::sendAfterRescan(mode, {env.sysfsRoot, port});
}
