#include "SimControl.h"

#include "core/Device.h"
#include "core/Scenario.h"
#include "core/StateStore.h"
#include "core/Units.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>

using sim::Device;
using sim::Transaction;

namespace {

SimRecord toRecord(const QJsonObject& o)
{
    SimRecord r;
    r.kind = o.value(QLatin1String("kind")).toString();
    r.event = o.value(QLatin1String("event")).toString();
    for (const QJsonValue& a : o.value(QLatin1String("args")).toArray())
        r.args << a.toString();
    r.bytes = QByteArray::fromHex(o.value(QLatin1String("bytes")).toString().toLatin1());
    r.status = o.value(QLatin1String("status")).toInt(-1);
    r.result = o.value(QLatin1String("result")).toInt();
    r.personality = o.value(QLatin1String("personality")).toString();
    r.port = o.value(QLatin1String("port")).toString();
    r.json = o;
    return r;
}

// Runs fn on the unit at port (the first for an empty one) under the lock and writes the
// state back.
template <typename Fn>
void change(const QString& dir, const QString& port, Fn fn)
{
    Transaction tx(dir);
    {
        Device device(tx.state(), port);
        fn(device, tx);
    }
    tx.commit();
}

template <typename Fn>
auto look(const QString& dir, const QString& port, Fn fn)
{
    Transaction tx(dir);
    Device device(tx.state(), port);
    device.settle(false);
    return fn(device);
}

} // namespace

SimControl::SimControl(QString stateDir) : m_dir(stateDir.isEmpty() ? sim::envStateDir() : stateDir)
{
    QDir().mkpath(m_dir);
}

QString SimControl::scenariosDir()
{
    return QStringLiteral(HOTSPOT_SIM_SCENARIOS_DIR);
}

QString SimControl::binDir()
{
    return QStringLiteral(HOTSPOT_SIM_BIN_DIR);
}

QString SimControl::adbPath()
{
    return binDir() + QStringLiteral("/adb");
}

QString SimControl::fastbootPath()
{
    return binDir() + QStringLiteral("/fastboot");
}

namespace {
constexpr int kMaxBaseDepth = 8; // scenarios that build on each other in a circle stop here

QJsonObject readScenarioAt(const QString& source, QString* error, int depth);
} // namespace

QJsonObject SimControl::readScenario(const QString& source, QString* error)
{
    return readScenarioAt(source, error, 0);
}

namespace {
QJsonObject readScenarioAt(const QString& source, QString* error, int depth)
{
    QByteArray text;
    const QString trimmed = source.trimmed();
    if (trimmed.startsWith(QLatin1Char('{'))) {
        text = trimmed.toUtf8();
    } else {
        QString path = trimmed;
        if (!QFileInfo(path).isFile())
            path = QDir(SimControl::scenariosDir()).filePath(trimmed + QStringLiteral(".json"));
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            if (error)
                *error = QStringLiteral("no scenario named or at '%1'").arg(source);
            return {};
        }
        text = file.readAll();
    }
    QJsonParseError parseError{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &parseError);
    if (!doc.isObject()) {
        if (error)
            *error = QStringLiteral("scenario '%1' is not a JSON object: %2").arg(source, parseError.errorString());
        return {};
    }
    QJsonObject settings = doc.object();
    // A scenario may build on another one.
    const QString base = settings.take(QStringLiteral("base")).toString();
    if (!base.isEmpty()) {
        if (depth >= kMaxBaseDepth) {
            if (error)
                *error = QStringLiteral("scenario '%1' builds on too many others (a circle?)").arg(source);
            return {};
        }
        const QJsonObject baseSettings = readScenarioAt(base, error, depth + 1);
        if (baseSettings.isEmpty())
            return {};
        return sim::mergeSettings(baseSettings, settings);
    }
    return settings;
}
} // namespace

bool SimControl::loadScenario(const QString& source, QString* error)
{
    const QJsonObject over = readScenario(source, error);
    if (over.isEmpty())
        return false;
    const QString unitsError = sim::unitsError(over);
    if (!unitsError.isEmpty()) {
        if (error)
            *error = unitsError;
        return false;
    }
    Transaction tx(m_dir);
    tx.state() = sim::initialState(sim::mergeSettings(sim::defaultSettings(), over));
    tx.truncateRecords();
    return tx.commit();
}

void SimControl::patch(const QJsonObject& settings, const QString& port)
{
    Transaction tx(m_dir);
    QJsonObject& state = tx.state();
    const QJsonObject scenario = sim::unitPart(state, port, QStringLiteral("scenario"));
    sim::storeUnitPart(state, port, QStringLiteral("scenario"), sim::mergeSettings(scenario, settings));
    tx.commit();
}

void SimControl::set(const QString& key, const QJsonValue& value, const QString& port)
{
    patch(QJsonObject{{key, value}}, port);
}

void SimControl::replaceUnit(const QJsonObject& settings, const QString& port, bool swapped)
{
    patch(settings, port);
    {
        Transaction tx(m_dir);
        QJsonObject& state = tx.state();
        const QJsonObject scenario = sim::unitPart(state, port, QStringLiteral("scenario"));
        const int before = sim::unitPart(state, port, QStringLiteral("device")).value(QLatin1String("generation")).toInt();
        QJsonObject device = sim::Device::powerOn(scenario);
        // Another enumeration than the unit it replaces, whatever that one's count was.
        device.insert(QStringLiteral("generation"), before + 1);
        device.insert(QStringLiteral("plugged"), true);
        sim::storeUnitPart(state, port, QStringLiteral("device"), device);
        tx.commit();
    }
    if (!swapped)
        unplug(port);
}

void SimControl::setFault(const QString& key, const QJsonValue& value, const QString& port)
{
    patch(QJsonObject{{"faults", QJsonObject{{key, value}}}}, port);
}

void SimControl::clearFault(const QString& key, const QString& port)
{
    setFault(key, QJsonValue::Null, port);
}

void SimControl::clearFaults(const QString& port)
{
    // patch() merges "faults" key by key, so replace it outright.
    Transaction tx(m_dir);
    QJsonObject scenario = sim::unitPart(tx.state(), port, QStringLiteral("scenario"));
    scenario.insert(QStringLiteral("faults"), QJsonObject{});
    sim::storeUnitPart(tx.state(), port, QStringLiteral("scenario"), scenario);
    tx.commit();
}

void SimControl::moveUnits(const QStringList& from, const QStringList& to)
{
    Transaction tx(m_dir);
    QJsonArray units = tx.state().value(QLatin1String("units")).toArray();
    for (qsizetype i = 0; i < units.size(); ++i) {
        QJsonObject unit = units.at(i).toObject();
        const qsizetype moved = from.indexOf(unit.value(QLatin1String("port")).toString());
        if (moved >= 0 && moved < to.size())
            unit.insert(QStringLiteral("port"), to.at(moved));
        units.replace(i, unit);
    }
    tx.state().insert(QStringLiteral("units"), units);
    tx.commit();
}

QStringList SimControl::ports() const
{
    Transaction tx(m_dir);
    return sim::unitPorts(tx.state());
}

QString SimControl::sysfsRoot() const
{
    return QDir(m_dir).filePath(QStringLiteral("sys"));
}

namespace {
// Every unit for an empty port, else that one.
void plugEach(const QString& dir, const QString& port, bool plugged)
{
    Transaction tx(dir);
    for (const QString& at : port.isEmpty() ? sim::unitPorts(tx.state()) : QStringList{port}) {
        Device device(tx.state(), at);
        device.setPlugged(plugged);
    }
    tx.commit();
}
} // namespace

void SimControl::plug(const QString& port)
{
    plugEach(m_dir, port, true);
}

void SimControl::unplug(const QString& port)
{
    plugEach(m_dir, port, false);
}

bool SimControl::plugged(const QString& port) const
{
    return look(m_dir, port, [](Device& d) { return d.plugged(); });
}

void SimControl::setPersonality(const QString& personality, const QString& port)
{
    change(m_dir, port, [&](Device& d, Transaction&) { d.setPersonality(personality); });
}

QJsonObject SimControl::state() const
{
    Transaction tx(m_dir);
    return tx.state();
}

QJsonObject SimControl::device(const QString& port) const
{
    return sim::unitPart(state(), port, QStringLiteral("device"));
}

QString SimControl::personality(const QString& port) const
{
    return look(m_dir, port, [](Device& d) { return d.personality(); });
}

QStringList SimControl::identities(const QString& port) const
{
    return look(m_dir, port, [](Device& d) { return d.identities(); });
}

bool SimControl::adbReaches(const QString& port) const
{
    return look(m_dir, port, [](Device& d) { return d.adbReaches(); });
}

bool SimControl::fastbootReaches(const QString& port) const
{
    return look(m_dir, port, [](Device& d) { return d.fastbootReaches(); });
}

QString SimControl::firmwareVersion(const QString& port) const
{
    return device(port).value(QLatin1String("firmware_version")).toString();
}

QJsonObject SimControl::partitions(const QString& port) const
{
    return device(port).value(QLatin1String("partitions")).toObject();
}

QByteArray SimControl::deviceFile(const QString& path, const QString& port) const
{
    return look(m_dir, port, [&](Device& d) { return d.file(path); });
}

void SimControl::setDeviceFile(const QString& path, const QByteArray& content, const QString& port)
{
    change(m_dir, port, [&](Device& d, Transaction&) { d.setFile(path, content); });
}

int SimControl::restarts(const QString& port) const
{
    return device(port).value(QLatin1String("restarts")).toInt();
}

int SimControl::probes(const QString& port) const
{
    return look(m_dir, port, [](Device& d) { return d.counter(QStringLiteral("probes")); });
}

void SimControl::advance(int n, const QString& port)
{
    change(m_dir, port, [n](Device& d, Transaction&) {
        for (int i = 0; i < n; ++i)
            d.settle(true);
    });
}

QList<SimRecord> SimControl::records() const
{
    QList<SimRecord> out;
    for (const QJsonObject& o : sim::readRecords(m_dir))
        out.append(toRecord(o));
    return out;
}

QList<SimRecord> SimControl::records(const QString& kind) const
{
    QList<SimRecord> out;
    for (const SimRecord& r : records()) {
        if (r.kind == kind)
            out.append(r);
    }
    return out;
}

QList<QStringList> SimControl::toolRuns(const QString& tool) const
{
    QList<QStringList> out;
    for (const SimRecord& r : records(tool))
        out.append(r.args);
    return out;
}

QList<QByteArray> SimControl::cbws(const QString& port) const
{
    QList<QByteArray> out;
    for (const SimRecord& r : records(QStringLiteral("usb"))) {
        if (r.event == QLatin1String("cbw") && (port.isEmpty() || r.port == port))
            out.append(r.bytes);
    }
    return out;
}

void SimControl::clearRecords()
{
    Transaction tx(m_dir);
    tx.truncateRecords();
    tx.commit();
}
