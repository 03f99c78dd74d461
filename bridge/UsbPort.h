#pragma once
// Where the hotspot is plugged in: its USB port path ("1-2.3", bus and devpath) as the kernel
// names its folder under /sys/bus/usb/devices. Bus and device numbers change at every
// re-enumeration; the path stays with the socket.

#include <QString>

namespace usbport {

// The port of the one device on the bus showing one of the hotspot's two identities; empty when
// there is none, more than one, or no such tree (`sysfsRoot` is "/sys" on a real host).
QString find(const QString& sysfsRoot);

} // namespace usbport
