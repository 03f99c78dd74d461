#pragma once
// Where the hotspot is plugged in: its USB port path ("1-2.3", bus and devpath) as the kernel
// names its folder under /sys/bus/usb/devices. Bus and device numbers change at every
// re-enumeration; the path stays with the socket. `sysfsRoot` is "/sys" on a real host.

#include <QString>
#include <QStringList>

#include <optional>

namespace usbport {

// Shaped like a device's port path ("1-2.3"); interfaces ("1-2.3:1.0"), root hubs ("usb1")
// and anything with a separator are not.
bool isPortName(const QString& name);

// The ports of every device on the bus showing one of the hotspot's two identities.
QStringList list(const QString& sysfsRoot);
// The port of the one device on the bus showing one of the hotspot's two identities; empty when
// there is none, more than one, or no such tree.
QString find(const QString& sysfsRoot);

// The bus and device number the kernel gave the device now at a port.
struct Numbers {
    int bus = 0;
    int device = 0;
    friend bool operator==(const Numbers&, const Numbers&) = default;
};

// nullopt when no device is at `port`, or `port` is not shaped like a port path.
std::optional<Numbers> numbersAt(const QString& sysfsRoot, const QString& port);

// What the kernel shows at a port now, read from sysfs without a rescan of the library's list.
struct Shown {
    int vendor = -1;
    int product = -1;
    int device = 0; // its device number: the kernel has enumerated it
};

// nullopt when no enumerated device is at `port`, or `port` is not shaped like a port path.
std::optional<Shown> shownAt(const QString& sysfsRoot, const QString& port);

} // namespace usbport
