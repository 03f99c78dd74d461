#pragma once
// The host's view of the hub: bus 001 and a device number for every identity a unit shows,
// given afresh at every enumeration (as Linux does, counting up and wrapping), and a tree
// shaped like /sys/bus/usb/devices under the state folder that the port lookup reads.

#include <QJsonObject>
#include <QList>
#include <QString>

namespace sim {

inline constexpr int kBusNumber = 1;
inline constexpr int kHubDevnum = 1;
inline constexpr const char* kSysfsDevices = "sys/bus/usb/devices";

struct BusEntry {
    QString identity; // "11f6:102a"
    int devnum = 0;
};

// Brings the state's "bus" record in step with the units: one that enumerated anew (or shows
// other identities) gets new device numbers, one off the bus none. Given a port, only that
// unit's entry is brought in step; the others stay as they are.
void syncBus(QJsonObject& state, const QString& onlyPort = QString());
// A unit's identities with their device numbers, as the last syncBus gave them.
QList<BusEntry> busEntries(const QJsonObject& state, const QString& port);
// <dir>/sys/bus/usb/devices: the root hub's "usb1" and one folder per unit on the bus,
// named by its port, with busnum, devnum, idVendor and idProduct as the kernel writes them.
// `before`, the bus record the tree was written from: only what changed since is written.
void writeSysfs(const QString& dir, const QJsonObject& state, const QJsonValue& before = QJsonValue());

} // namespace sim
