#include "SimControl.h"

#include "core/Device.h"
#include "core/Scenario.h"
#include "core/StateStore.h"

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
    r.json = o;
    return r;
}

// Runs fn on the device under the lock and writes the state back.
template <typename Fn>
void change(const QString& dir, Fn fn)
{
    Transaction tx(dir);
    {
        Device device(tx.state());
        fn(device, tx);
    }
    tx.commit();
}

template <typename Fn>
auto look(const QString& dir, Fn fn)
{
    Transaction tx(dir);
    Device device(tx.state());
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
    Transaction tx(m_dir);
    tx.state() = sim::initialState(sim::mergeSettings(sim::defaultSettings(), over));
    tx.truncateRecords();
    return tx.commit();
}

void SimControl::patch(const QJsonObject& settings)
{
    Transaction tx(m_dir);
    QJsonObject& state = tx.state();
    state.insert(QStringLiteral("scenario"),
                 sim::mergeSettings(state.value(QLatin1String("scenario")).toObject(), settings));
    tx.commit();
}

void SimControl::set(const QString& key, const QJsonValue& value)
{
    patch(QJsonObject{{key, value}});
}

void SimControl::setFault(const QString& key, const QJsonValue& value)
{
    patch(QJsonObject{{"faults", QJsonObject{{key, value}}}});
}

void SimControl::clearFault(const QString& key)
{
    setFault(key, QJsonValue::Null);
}

void SimControl::clearFaults()
{
    // patch() merges "faults" key by key, so replace it outright.
    Transaction tx(m_dir);
    QJsonObject scenario = tx.state().value(QLatin1String("scenario")).toObject();
    scenario.insert(QStringLiteral("faults"), QJsonObject{});
    tx.state().insert(QStringLiteral("scenario"), scenario);
    tx.commit();
}

void SimControl::plug()
{
    change(m_dir, [](Device& d, Transaction&) { d.setPlugged(true); });
}

void SimControl::unplug()
{
    change(m_dir, [](Device& d, Transaction&) { d.setPlugged(false); });
}

bool SimControl::plugged() const
{
    return look(m_dir, [](Device& d) { return d.plugged(); });
}

void SimControl::setPersonality(const QString& personality)
{
    change(m_dir, [&](Device& d, Transaction&) { d.setPersonality(personality); });
}

QJsonObject SimControl::state() const
{
    Transaction tx(m_dir);
    return tx.state();
}

QJsonObject SimControl::device() const
{
    return state().value(QLatin1String("device")).toObject();
}

QString SimControl::personality() const
{
    return look(m_dir, [](Device& d) { return d.personality(); });
}

QStringList SimControl::identities() const
{
    return look(m_dir, [](Device& d) { return d.identities(); });
}

bool SimControl::adbReaches() const
{
    return look(m_dir, [](Device& d) { return d.adbReaches(); });
}

bool SimControl::fastbootReaches() const
{
    return look(m_dir, [](Device& d) { return d.fastbootReaches(); });
}

QString SimControl::firmwareVersion() const
{
    return device().value(QLatin1String("firmware_version")).toString();
}

QJsonObject SimControl::partitions() const
{
    return device().value(QLatin1String("partitions")).toObject();
}

QByteArray SimControl::deviceFile(const QString& path) const
{
    return look(m_dir, [&](Device& d) { return d.file(path); });
}

void SimControl::setDeviceFile(const QString& path, const QByteArray& content)
{
    change(m_dir, [&](Device& d, Transaction&) { d.setFile(path, content); });
}

int SimControl::restarts() const
{
    return device().value(QLatin1String("restarts")).toInt();
}

int SimControl::probes() const
{
    return look(m_dir, [](Device& d) { return d.counter(QStringLiteral("probes")); });
}

void SimControl::advance(int n)
{
    change(m_dir, [n](Device& d, Transaction&) {
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

QList<QByteArray> SimControl::cbws() const
{
    QList<QByteArray> out;
    for (const SimRecord& r : records(QStringLiteral("usb"))) {
        if (r.event == QLatin1String("cbw"))
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
