#include "core/Device.h"

#include "core/Scenario.h"
#include "core/Units.h"

#include <QDateTime>
#include <QJsonArray>

namespace sim {

namespace {

const QString kPending = QStringLiteral("pending");
const QString kFiles = QStringLiteral("files");

QJsonValue b64(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toBase64());
}

// Board data: fixed, recognisable bytes; the factory default has the calibrated one's size.
QByteArray boardData(const QByteArray& header, int step)
{
    QByteArray data(header);
    data.reserve(1024);
    for (int i = 0; data.size() < 1024; ++i)
        data.append(char((i * step + 11) & 0xFF));
    return data;
}

QByteArray defaultBoardData()
{
    return boardData("AR6003-BDATA", 37);
}

const QByteArray kFactoryConfig = "ssid=Hotspot\nkey=\nchannel=1\n";

QByteArray modeValue(const QJsonObject& settings)
{
    const QString p = settings.value(QLatin1String("personality")).toString();
    const int value = settings.contains(QLatin1String("mode_files"))
        ? settings.value(QLatin1String("mode_files")).toInt()
        : (p == QLatin1String(personality::kUsr) ? 1 : 0);
    return QByteArray::number(value) + '\n';
}

qint64 nowMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

} // namespace

bool Device::isPersonality(const QString& name)
{
    return name == QLatin1String(personality::kFtm) || name == QLatin1String(personality::kUsr)
        || name == QLatin1String(personality::kUsrAdb)
        || name == QLatin1String(personality::kBootloader)
        || name == QLatin1String(personality::kRestarting);
}

QJsonObject Device::powerOn(const QJsonObject& s)
{
    QJsonObject files{
        {QString::fromLatin1(kBootModeFile),
         b64(QByteArray::number(s.value(QLatin1String("boot_mode")).toInt()) + '\n')},
        {QString::fromLatin1(kMpp5File),
         b64("Result:" + QByteArray::number(s.value(QLatin1String("mpp5")).toInt()) + '\n')},
        {QString::fromLatin1(kEtcModeFile), b64(modeValue(s))},
        {QString::fromLatin1(kTmpModeFile), b64(modeValue(s))},
        {QString::fromLatin1(kWifiBoardData), b64(defaultBoardData())},
        {QString::fromLatin1(kConfigDb), b64("ssid=Hotspot-5G31\nkey=simulated-secret\nchannel=6\n")},
    };
    // Scenario files are given as text.
    const QJsonObject extra = s.value(QLatin1String("files")).toObject();
    for (auto it = extra.begin(); it != extra.end(); ++it) {
        if (it.value().isNull())
            files.remove(it.key());
        else
            files.insert(it.key(), b64(it.value().toString().toUtf8()));
    }
    QString start = s.value(QLatin1String("personality")).toString();
    if (!isPersonality(start))
        start = QString::fromLatin1(personality::kFtm);
    return QJsonObject{
        {"plugged", s.value(QLatin1String("plugged")).toBool(true)},
        {"personality", start},
        {"generation", 1},
        {"restarts", 0},
        {"firmware_version", s.value(QLatin1String("firmware_version")).toString()},
        {"files", files},
        {"partitions", QJsonObject{}},
        {"flashed", QJsonArray{}},
        {"counters", QJsonObject{}},
    };
}

Device::Device(QJsonObject& state, const QString& port)
    : m_state(state),
      m_port(resolvePort(state, port)),
      m_scn(m_port.isEmpty() ? QJsonObject() : unitPart(state, m_port, QStringLiteral("scenario"))),
      m_dev(m_port.isEmpty() ? QJsonObject() : unitPart(state, m_port, QStringLiteral("device")))
{
}

Device::~Device()
{
    if (!m_port.isEmpty())
        storeUnitPart(m_state, m_port, QStringLiteral("device"), m_dev);
}

namespace {

// A pending change stored as {"probes": n} or {"until_ms": t}: true once it is due; a
// probe counts a probe-counted one down.
bool due(QJsonObject& pending, bool probe)
{
    if (pending.contains(QLatin1String("probes"))) {
        const int left = pending.value(QLatin1String("probes")).toInt();
        if (left <= 0)
            return true;
        if (probe)
            pending.insert(QStringLiteral("probes"), left - 1);
        return false;
    }
    return nowMs() >= qint64(pending.value(QLatin1String("until_ms")).toDouble());
}

QJsonObject pendingFor(const QJsonValue& delayValue)
{
    const Delay delay = parseDelay(delayValue);
    QJsonObject pending;
    if (delay.probes >= 0)
        pending.insert(QStringLiteral("probes"), delay.probes);
    else
        pending.insert(QStringLiteral("until_ms"), double(nowMs() + qint64(delay.seconds * 1000.0)));
    return pending;
}

bool isZeroDelay(const QJsonValue& v)
{
    const Delay d = parseDelay(v);
    return d.probes == 0 || (d.probes < 0 && d.seconds <= 0.0);
}

} // namespace

void Device::settle(bool probe)
{
    if (probe)
        bump(QStringLiteral("probes"));
    for (const char* key : {"linger", "replug"}) {
        QJsonObject p = m_dev.value(QLatin1String(key)).toObject();
        if (p.isEmpty())
            continue;
        if (due(p, probe)) {
            m_dev.remove(QLatin1String(key));
            if (QLatin1String(key) == QLatin1String("replug"))
                setPlugged(true);
        } else {
            m_dev.insert(QLatin1String(key), p);
            if (QLatin1String(key) == QLatin1String("linger"))
                return; // the restart's own delay starts once it has left the bus
        }
    }
    const QJsonObject pending = m_dev.value(kPending).toObject();
    if (pending.isEmpty())
        return;
    const QString target = pending.value(QLatin1String("to")).toString();
    if (pending.contains(QLatin1String("probes"))) {
        const int left = pending.value(QLatin1String("probes")).toInt();
        if (left <= 0) {
            comeBack(target);
        } else if (probe) {
            QJsonObject p = pending;
            p.insert(QStringLiteral("probes"), left - 1);
            m_dev.insert(kPending, p);
        }
    } else if (nowMs() >= qint64(pending.value(QLatin1String("until_ms")).toDouble())) {
        comeBack(target);
    }
}

QString Device::personality() const
{
    return m_dev.value(QLatin1String("personality")).toString();
}

void Device::setPersonality(const QString& name)
{
    if (!isPersonality(name))
        return;
    m_dev.remove(kPending);
    m_dev.insert(QStringLiteral("personality"), name);
    m_dev.insert(QStringLiteral("generation"), generation() + 1);
}

bool Device::plugged() const
{
    return m_dev.value(QLatin1String("plugged")).toBool();
}

void Device::setPlugged(bool plugged)
{
    if (plugged == this->plugged())
        return;
    m_dev.insert(QStringLiteral("plugged"), plugged);
    // Plugged in again, it enumerates anew.
    m_dev.insert(QStringLiteral("generation"), generation() + 1);
}

int Device::generation() const
{
    return m_dev.value(QLatin1String("generation")).toInt();
}

bool Device::lingering() const
{
    return plugged() && m_dev.contains(QLatin1String("linger"));
}

QStringList Device::identities() const
{
    if (!plugged())
        return {};
    if (lingering()) {
        QStringList ids;
        for (const QJsonValue& v : m_dev.value(QLatin1String("linger")).toObject().value(QLatin1String("identities")).toArray())
            ids << v.toString();
        return ids;
    }
    const QString p = personality();
    QStringList ids;
    if (p == QLatin1String(personality::kFtm))
        ids << QString::fromLatin1(kQualcommIdentity);
    else if (p == QLatin1String(personality::kUsr) || p == QLatin1String(personality::kUsrAdb))
        ids << QString::fromLatin1(kOwnIdentity);
    else if (p == QLatin1String(personality::kBootloader)) {
        const QString id = m_scn.value(QLatin1String("bootloader_identity")).toString().toLower();
        if (!id.isEmpty())
            ids << id;
    }
    if (!ids.isEmpty() && faultHits(QStringLiteral("both_identities"), p))
        ids = QStringList{QString::fromLatin1(kQualcommIdentity), QString::fromLatin1(kOwnIdentity)};
    return ids;
}

bool Device::adbReaches() const
{
    return adbListing() == QLatin1String("device");
}

bool Device::fastbootReaches() const
{
    return plugged() && personality() == QLatin1String(personality::kBootloader) && nodeWritable();
}

QString Device::adbListing() const
{
    const QString p = personality();
    const bool adbPersonality = p == QLatin1String(personality::kFtm) || p == QLatin1String(personality::kUsrAdb);
    if (lingering()) // the old connection, not answering any more
        return m_dev.value(QLatin1String("linger")).toObject().value(QLatin1String("adb")).toBool()
            ? QStringLiteral("offline") : QString();
    if (!plugged() || hasFault(QStringLiteral("adb_unreachable")) || !adbPersonality)
        return QString();
    if (!nodeWritable())
        return QStringLiteral("no permissions (missing udev rules? user is in the plugdev group); "
                              "see [http://developer.android.com/tools/device.html]");
    const QString state = m_scn.value(QLatin1String("adb_state")).toString();
    const int runs = m_scn.value(QLatin1String("adb_state_listings")).toInt(-1);
    if (state.isEmpty() || (runs >= 0 && counter(QStringLiteral("adb_listings")) > runs))
        return QStringLiteral("device");
    return state;
}

QByteArray Device::adbStateError() const
{
    const QString state = adbListing();
    if (state.startsWith(QLatin1String("no permissions")))
        return "error: insufficient permissions for device: " + state.mid(15).toUtf8() + "\n";
    if (state == QLatin1String("unauthorized"))
        return "error: device unauthorized.\nThis adb server's $ADB_VENDOR_KEYS is not set\n"
               "Try 'adb kill-server' if that seems wrong.\n"
               "Otherwise check for a confirmation dialog on your device.\n";
    if (state == QLatin1String("offline"))
        return "error: device offline\n";
    return "error: device '" + m_scn.value(QLatin1String("serial")).toString().toUtf8() + "' not found\n";
}

QString Device::kernelDriver() const
{
    const QString driver = m_scn.value(QLatin1String("kernel_driver")).toString();
    if (driver.isEmpty() || !identities().contains(QString::fromLatin1(kOwnIdentity)) || lingering())
        return QString();
    return m_dev.value(QLatin1String("driver_detached_generation")).toInt() == generation() ? QString() : driver;
}

void Device::detachKernelDriver()
{
    m_dev.insert(QStringLiteral("driver_detached_generation"), generation());
}

QString Device::nodeAccess() const
{
    const QString access = m_scn.value(QLatin1String("node_access")).toString();
    return access.isEmpty() ? QStringLiteral("rw") : access;
}

void Device::pullCable(const QJsonValue& replugAfter)
{
    setPlugged(false);
    m_dev.remove(QLatin1String("linger"));
    if (!replugAfter.isUndefined() && !replugAfter.isNull())
        m_dev.insert(QStringLiteral("replug"), pendingFor(replugAfter));
}

void Device::restart(bool intoBootloader)
{
    // A rebooting unit stays on the bus until its firmware has shut its USB down.
    const QJsonValue linger = m_scn.value(QLatin1String("linger"));
    const QStringList before = identities();
    if (!before.isEmpty() && !isZeroDelay(linger)) {
        QJsonObject l = pendingFor(linger);
        l.insert(QStringLiteral("identities"), QJsonArray::fromStringList(before));
        l.insert(QStringLiteral("adb"), adbReaches());
        m_dev.insert(QStringLiteral("linger"), l);
    }
    const int n = bump(QStringLiteral("restarts_requested"));
    m_dev.insert(QStringLiteral("restarts"), n);
    applyUpdatedVersion();
    if (faultHits(QStringLiteral("no_return_after_restart"), QString::number(n))) {
        m_dev.remove(kPending);
        m_dev.insert(QStringLiteral("personality"), QString::fromLatin1(personality::kRestarting));
        return;
    }
    if (intoBootloader) {
        leaveBus(QString::fromLatin1(personality::kBootloader), m_scn.value(QLatin1String("restart_delay")));
        return;
    }
    setFile(QString::fromLatin1(kBootModeFile),
            QByteArray::number(m_scn.value(QLatin1String("boot_mode_after_restart")).toInt()) + '\n');
    leaveBus(bootPersonality(n), m_scn.value(QLatin1String("restart_delay")));
}

void Device::modeSwitch(SwitchTarget target)
{
    if (hasFault(QStringLiteral("switch_ignored")))
        return;
    bump(QStringLiteral("switches"));
    QString to;
    switch (target) {
    case SwitchTarget::TmpUsrAdb:
        to = QString::fromLatin1(personality::kUsrAdb);
        break;
    case SwitchTarget::TmpFtm:
        to = QString::fromLatin1(personality::kFtm);
        break;
    case SwitchTarget::PrmUsr:
        setFile(QString::fromLatin1(kEtcModeFile), "1\n");
        setFile(QString::fromLatin1(kTmpModeFile), "1\n");
        to = QString::fromLatin1(personality::kUsr);
        break;
    }
    leaveBus(to, m_scn.value(QLatin1String("reenum_delay")));
}

bool Device::flash(const QString& partition, qint64 size, const QString& md5)
{
    if (faultHits(QStringLiteral("flash_fail"), partition))
        return false;
    storeWrite(partition, size, md5, true);
    return true;
}

void Device::tearPartition(const QString& partition, qint64 size)
{
    storeWrite(partition, size, QStringLiteral("torn"), false);
}

void Device::storeWrite(const QString& partition, qint64 size, const QString& md5, bool complete)
{
    QJsonObject parts = m_dev.value(QLatin1String("partitions")).toObject();
    const int writes = parts.value(partition).toObject().value(QLatin1String("writes")).toInt();
    parts.insert(partition, QJsonObject{{"size", double(size)}, {"md5", md5}, {"writes", writes + 1}});
    m_dev.insert(QStringLiteral("partitions"), parts);
    QJsonArray flashed = m_dev.value(QLatin1String("flashed")).toArray();
    for (qsizetype i = flashed.size() - 1; i >= 0; --i) {
        if (flashed.at(i).toString() == partition)
            flashed.removeAt(i);
    }
    if (complete)
        flashed.append(partition);
    m_dev.insert(QStringLiteral("flashed"), flashed);
    // New images start with the factory mode files.
    setFile(QString::fromLatin1(kEtcModeFile), "0\n");
    setFile(QString::fromLatin1(kTmpModeFile), "0\n");
    wipeDataIfHeld(partition);
}

void Device::wipeDataIfHeld(const QString& partition)
{
    const QJsonValue held = m_scn.value(QLatin1String("data_partitions"));
    const QJsonArray list = held.isArray() ? held.toArray() : QJsonArray{QStringLiteral("system")};
    if (!list.contains(partition))
        return;
    setFile(QString::fromLatin1(kWifiBoardData), boardData("AR6003-FACTORY", 53));
    setFile(QString::fromLatin1(kConfigDb), kFactoryConfig);
    QJsonObject files = m_dev.value(kFiles).toObject();
    files.remove(QString::fromLatin1(kNewConfigDb));
    m_dev.insert(kFiles, files);
}

QByteArray Device::versionReply()
{
    const int attempt = bump(QStringLiteral("version_reads"));
    const int okFrom = fault(QStringLiteral("version_ok_from_try")).toInt(0);
    if (attempt < okFrom)
        return "cmmd: firmware information not ready\n";
    const QByteArray text = (m_scn.value(QLatin1String("version_prefix")).toString()
                             + m_dev.value(QLatin1String("firmware_version")).toString())
                                .toUtf8();
    const QString form = fault(QStringLiteral("version_reply")).toString();
    if (form == QLatin1String("no_ok"))
        return text + '\n';
    if (form == QLatin1String("lowercase"))
        return "ok " + text + '\n';
    if (form == QLatin1String("empty"))
        return "OK \n";
    if (form == QLatin1String("prefix_only"))
        return "OK ";
    return "OK " + text + '\n';
}

bool Device::hasFile(const QString& path) const
{
    return m_dev.value(kFiles).toObject().contains(path);
}

QByteArray Device::file(const QString& path) const
{
    const QJsonValue v = m_dev.value(kFiles).toObject().value(path);
    if (v.isUndefined())
        return QByteArray();
    return QByteArray::fromBase64(v.toString().toLatin1());
}

void Device::setFile(const QString& path, const QByteArray& content)
{
    QJsonObject files = m_dev.value(kFiles).toObject();
    files.insert(path, b64(content));
    m_dev.insert(kFiles, files);
}

QJsonValue Device::fault(const QString& key) const
{
    return m_scn.value(QLatin1String("faults")).toObject().value(key);
}

bool Device::faultHits(const QString& key, const QString& item) const
{
    const QJsonValue v = fault(key);
    if (v.isBool())
        return v.toBool();
    if (v.isString())
        return v.toString() == item || v.toString() == QLatin1String("*");
    if (v.isDouble())
        return QString::number(v.toInt()) == item;
    if (v.isArray()) {
        for (const QJsonValue& e : v.toArray()) {
            if ((e.isString() && e.toString() == item)
                || (e.isDouble() && QString::number(e.toInt()) == item))
                return true;
        }
    }
    return false;
}

bool Device::faultMatchesCommand(const QString& key, const QString& commandLine) const
{
    const QJsonValue v = fault(key);
    if (v.isBool())
        return v.toBool();
    if (v.isString())
        return commandLine.contains(v.toString());
    if (v.isArray()) {
        for (const QJsonValue& e : v.toArray()) {
            if (e.isString() && commandLine.contains(e.toString()))
                return true;
        }
    }
    return false;
}

void Device::clearFault(const QString& key)
{
    QJsonObject faults = m_scn.value(QLatin1String("faults")).toObject();
    faults.remove(key);
    m_scn.insert(QStringLiteral("faults"), faults);
    if (!m_port.isEmpty())
        storeUnitPart(m_state, m_port, QStringLiteral("scenario"), m_scn);
}

int Device::counter(const QString& name) const
{
    return m_dev.value(QLatin1String("counters")).toObject().value(name).toInt();
}

int Device::bump(const QString& name)
{
    QJsonObject counters = m_dev.value(QLatin1String("counters")).toObject();
    const int n = counters.value(name).toInt() + 1;
    counters.insert(name, n);
    m_dev.insert(QStringLiteral("counters"), counters);
    return n;
}

void Device::leaveBus(const QString& target, const QJsonValue& delayValue)
{
    m_dev.insert(QStringLiteral("personality"), QString::fromLatin1(personality::kRestarting));
    QJsonObject pending = pendingFor(delayValue);
    pending.insert(QStringLiteral("to"), target);
    m_dev.insert(kPending, pending);
}

void Device::comeBack(const QString& target)
{
    m_dev.remove(kPending);
    m_dev.remove(QLatin1String("linger"));
    m_dev.insert(QStringLiteral("personality"), target);
    m_dev.insert(QStringLiteral("generation"), generation() + 1);
}

QString Device::bootPersonality(int restart) const
{
    const QString forced = fault(QStringLiteral("restart_personality")).toObject()
                               .value(QString::number(restart)).toString();
    if (isPersonality(forced))
        return forced;
    const bool etc = file(QString::fromLatin1(kEtcModeFile)).trimmed() == "1";
    const bool tmp = file(QString::fromLatin1(kTmpModeFile)).trimmed() == "1";
    return QString::fromLatin1(etc && tmp ? personality::kUsr : personality::kFtm);
}

void Device::applyUpdatedVersion()
{
    const QJsonArray flashed = m_dev.value(QLatin1String("flashed")).toArray();
    if (flashed.isEmpty())
        return;
    const QJsonArray listed = m_scn.value(QLatin1String("partitions")).toArray();
    for (const QJsonValue& p : listed) {
        if (!flashed.contains(p))
            return;
    }
    m_dev.insert(QStringLiteral("firmware_version"), m_scn.value(QLatin1String("updated_version")));
    m_dev.insert(QStringLiteral("flashed"), QJsonArray{});
}

} // namespace sim
