#pragma once
// Which unit of the hub a run goes to. Every unit answers with the same serial, so only
// "-s usb:PATH" tells them apart; like the real tools, a run that names none while more than
// one unit is reachable is refused rather than sent to one of them.

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace sim {

enum class Reach { Adb, Fastboot };

struct Selection {
    enum class Outcome { Found, NoDevice, NotFound, Ambiguous };
    Outcome outcome = Outcome::NoDevice;
    QString port; // with Found
};

// Among the units the tool lists now (adb: in any state; fastboot: in the boot loader).
// target: empty, "usb:PATH" or a serial.
Selection selectUnit(QJsonObject& state, const QString& target, Reach reach);

// The unit a run for one device is addressed to, for its record and its faults: the one
// "-s usb:PATH" names, the one selected, or the only unit of a one-unit hub; empty otherwise.
QString addressedPort(QJsonObject& state, const QString& target, Reach reach);

} // namespace sim
