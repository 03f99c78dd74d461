#pragma once
// Scenario settings: what the simulated device is like and which faults it injects.
// Every key is listed in tools/sim/README.md.

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

namespace sim {

// The settings every scenario starts from.
QJsonObject defaultSettings();
// base with over's keys laid on top; "faults" and "files" are merged key by key.
QJsonObject mergeSettings(const QJsonObject& base, const QJsonObject& over);
// The whole state of a freshly powered device under these settings (records not included).
QJsonObject initialState(const QJsonObject& settings);

// A delay: a number of seconds (real time), or {"probes": n}, or {"seconds": x}.
struct Delay {
    int probes = -1;      // >= 0: counted in probes
    double seconds = 0.0; // used when probes < 0
};
Delay parseDelay(const QJsonValue& value);

} // namespace sim
