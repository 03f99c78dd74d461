#pragma once
// The units on the simulated hub. A state without "units" is one unit at port "1-1" whose
// settings and device are the state's own "scenario" and "device"; a hub keeps one entry per
// unit under "units": {"port", "scenario" (the merged settings), "device"}. Every unit is
// found by its USB port path, as Linux names it in sysfs (bus, dash, devpath).

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace sim {

inline constexpr const char* kSinglePort = "1-1";

// The ports in the order the scenario lists them.
QStringList unitPorts(const QJsonObject& state);
// The port a request for `port` lands on: the first unit's for an empty text, an empty
// text when no unit is there.
QString resolvePort(const QJsonObject& state, const QString& port);
// A unit's "scenario" or "device" object; empty when no unit is there.
QJsonObject unitPart(const QJsonObject& state, const QString& port, const QString& part);
void storeUnitPart(QJsonObject& state, const QString& port, const QString& part, const QJsonObject& value);

// Why the scenario's "units" cannot make a hub, or an empty text.
QString unitsError(const QJsonObject& settings);
// The state of freshly powered units: one per entry of "units", each under the settings with
// its own keys laid on top.
QJsonObject hubState(const QJsonObject& settings);

} // namespace sim
