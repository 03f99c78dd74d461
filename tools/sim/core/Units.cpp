#include "core/Units.h"

#include "core/Device.h"
#include "core/Scenario.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QSet>

namespace sim {

namespace {

const QString kUnits = QStringLiteral("units");
const QString kPort = QStringLiteral("port");

bool isHub(const QJsonObject& state)
{
    return state.value(kUnits).isArray();
}

qsizetype indexOf(const QJsonArray& units, const QString& port)
{
    for (qsizetype i = 0; i < units.size(); ++i) {
        if (units.at(i).toObject().value(kPort).toString() == port)
            return i;
    }
    return -1;
}

} // namespace

QStringList unitPorts(const QJsonObject& state)
{
    if (!isHub(state))
        return {QString::fromLatin1(kSinglePort)};
    QStringList ports;
    for (const QJsonValue& u : state.value(kUnits).toArray())
        ports << u.toObject().value(kPort).toString();
    return ports;
}

QString resolvePort(const QJsonObject& state, const QString& port)
{
    const QStringList ports = unitPorts(state);
    if (port.isEmpty())
        return ports.value(0);
    return ports.contains(port) ? port : QString();
}

QJsonObject unitPart(const QJsonObject& state, const QString& port, const QString& part)
{
    const QString at = resolvePort(state, port);
    if (at.isEmpty())
        return {};
    if (!isHub(state))
        return state.value(part).toObject();
    const QJsonArray units = state.value(kUnits).toArray();
    return units.at(indexOf(units, at)).toObject().value(part).toObject();
}

void storeUnitPart(QJsonObject& state, const QString& port, const QString& part, const QJsonObject& value)
{
    const QString at = resolvePort(state, port);
    if (at.isEmpty())
        return;
    if (!isHub(state)) {
        state.insert(part, value);
        return;
    }
    QJsonArray units = state.value(kUnits).toArray();
    const qsizetype i = indexOf(units, at);
    QJsonObject unit = units.at(i).toObject();
    unit.insert(part, value);
    units.replace(i, unit);
    state.insert(kUnits, units);
}

QString unitsError(const QJsonObject& settings)
{
    const QJsonValue units = settings.value(kUnits);
    if (units.isUndefined())
        return {};
    if (!units.isArray() || units.toArray().isEmpty())
        return QStringLiteral("\"units\" must be a list of at least one {\"port\": ...} object");
    // bus, dash, then the hub ports down to the unit: "1-2", "1-2.3", "3-1.4.2"
    static const QRegularExpression portPath(QStringLiteral(R"(^[1-9][0-9]*-[1-9][0-9]*(\.[1-9][0-9]*)*$)"));
    QSet<QString> seen;
    for (const QJsonValue& u : units.toArray()) {
        const QString port = u.toObject().value(kPort).toString();
        if (!u.isObject() || !portPath.match(port).hasMatch())
            return QStringLiteral("unit port '%1' is not a USB port path such as 1-2.1").arg(port);
        if (seen.contains(port))
            return QStringLiteral("two units at port %1").arg(port);
        seen.insert(port);
    }
    return {};
}

QJsonObject hubState(const QJsonObject& settings)
{
    QJsonObject shared = settings;
    const QJsonArray list = shared.take(kUnits).toArray();
    QJsonArray units;
    for (const QJsonValue& u : list) {
        QJsonObject own = u.toObject();
        const QString port = own.take(kPort).toString();
        const QJsonObject merged = mergeSettings(shared, own);
        units.append(QJsonObject{{"port", port}, {"scenario", merged}, {"device", Device::powerOn(merged)}});
    }
    return QJsonObject{{"scenario", settings}, {"units", units}};
}

} // namespace sim
