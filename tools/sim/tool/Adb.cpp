// The stand-in adb: the device list, the shell commands the device firmware answers, file
// transfers and the background server, with output shaped like the real tool's.

#include "core/Device.h"
#include "core/Shell.h"
#include "core/StateStore.h"
#include "core/Units.h"
#include "tool/Selection.h"
#include "tool/ToolContext.h"

#include <QFile>

namespace sim {

namespace {

const QByteArray kNoDevice = "error: no devices/emulators found\n";

// The adb server is the host's, one for the whole hub: its flag lives in the hub's own part.
void startServer(QJsonObject& state, Output& out)
{
    if (state.value(QLatin1String("adb_server")).toBool())
        return;
    state.insert(QStringLiteral("adb_server"), true);
    out.warn("* daemon not running; starting now at tcp:5037\n* daemon started successfully\n");
}

void stopServer(QJsonObject& state, Output& out)
{
    if (!state.value(QLatin1String("adb_server")).toBool()) {
        out.warn("cannot connect to daemon at tcp:5037: Connection refused\n");
        return;
    }
    state.insert(QStringLiteral("adb_server"), false);
}

// The unit a command goes to, or adb's error when there is none to choose.
struct Pick {
    QString port;
    QByteArray error;
};

Pick pick(QJsonObject& state, const QString& target)
{
    const Selection s = selectUnit(state, target, Reach::Adb);
    switch (s.outcome) {
    case Selection::Outcome::Found:
        break;
    case Selection::Outcome::NoDevice:
        return {QString(), kNoDevice};
    case Selection::Outcome::NotFound:
        return {QString(), "error: device '" + target.toUtf8() + "' not found\n"};
    case Selection::Outcome::Ambiguous:
        return {QString(), target.isEmpty() ? QByteArray("error: more than one device/emulator\n")
                                            : QByteArray("error: more than one device\n")};
    }
    Device device(state, s.port);
    return {s.port, device.adbReaches() ? QByteArray() : device.adbStateError()};
}

// Each connection the server sees gets the next transport id, as the real server counts them.
int transportId(QJsonObject& state, Device& device)
{
    const QJsonObject known = device.raw().value(QLatin1String("adb_transport")).toObject();
    if (known.value(QLatin1String("generation")).toInt() == device.generation())
        return known.value(QLatin1String("id")).toInt();
    const int id = state.value(QLatin1String("adb_transports")).toInt() + 1;
    state.insert(QStringLiteral("adb_transports"), id);
    device.raw().insert(QStringLiteral("adb_transport"), QJsonObject{{"generation", device.generation()}, {"id", id}});
    return id;
}

QByteArray listing(QJsonObject& state, Device& device, bool longListing)
{
    const QString listed = device.adbListing();
    const QByteArray serial = device.settings().value(QLatin1String("serial")).toString().toUtf8();
    if (!longListing)
        return serial + "\t" + listed.toUtf8() + "\n";
    QByteArray line = serial.leftJustified(22, ' ') + " " + listed.toUtf8() + " usb:" + device.port().toUtf8();
    if (listed == QLatin1String("device"))
        line += " product:MDM9615 model:Mobile_Hotspot device:mdm9615";
    return line + " transport_id:" + QByteArray::number(transportId(state, device)) + "\n";
}

int listDevices(QJsonObject& state, bool longListing, Output& out)
{
    startServer(state, out);
    out.say("List of devices attached\n");
    for (const QString& port : unitPorts(state)) {
        Device device(state, port);
        device.settle(true);
        device.bump(QStringLiteral("adb_listings"));
        if (!device.adbListing().isEmpty())
            out.say(listing(state, device, longListing));
    }
    out.say("\n");
    return 0;
}

QByteArray transferSummary(const QString& path, const char* verb, qint64 bytes)
{
    const double seconds = 0.002;
    return QStringLiteral("%1: 1 file %2, 0 skipped. %3 MB/s (%4 bytes in %5s)\n")
        .arg(path, QLatin1String(verb))
        .arg(double(bytes) / seconds / 1e6, 0, 'f', 1)
        .arg(bytes)
        .arg(seconds, 0, 'f', 3)
        .toUtf8();
}

bool cutInTheMiddle(const RunFaults& faults)
{
    return faults.kill == KillPoint::During;
}

int pull(const QString& dir, const Invocation& run, const QString& remote, const QString& local,
         const RunFaults& faults, Output& out)
{
    QByteArray content;
    int status = 0;
    {
        Transaction tx(dir, unitScope(run));
        startServer(tx.state(), out);
        const Pick unit = pick(tx.state(), run.target);
        {
            Device device(tx.state(), unit.port);
            device.settle(false);
            if (!unit.error.isEmpty()) {
                out.warn("adb: error: failed to get feature set: " + unit.error);
                status = 1;
            } else if (!device.hasFile(remote)) {
                out.warn("adb: error: failed to stat remote object '" + remote.toUtf8()
                         + "': No such file or directory\n");
                status = 1;
            } else if (cutInTheMiddle(faults) || device.faultHits(QStringLiteral("pull_error"), remote)) {
                // A transfer cut short: the real tool leaves what it got so far.
                content = device.file(remote).left(device.file(remote).size() / 2);
                status = 2;
            } else {
                content = device.file(remote);
            }
        }
        tx.commit();
    }
    if (status == 1)
        return status;
    QFile file(local);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size()) {
        out.warn("adb: error: cannot create '" + local.toUtf8() + "': " + file.errorString().toUtf8() + "\n");
        return 1;
    }
    file.close();
    if (cutInTheMiddle(faults))
        killHost();
    if (status == 2) {
        out.warn("adb: error: failed to copy '" + remote.toUtf8() + "' to '" + local.toUtf8()
                 + "': remote read failed: Input/output error\n");
        return 1;
    }
    out.say(transferSummary(remote, "pulled", content.size()));
    return 0;
}

int push(const QString& dir, const Invocation& run, const QString& local, const QString& remote,
         const RunFaults& faults, Output& out)
{
    QFile file(local);
    if (!file.open(QIODevice::ReadOnly)) {
        out.warn("adb: error: cannot stat '" + local.toUtf8() + "': No such file or directory\n");
        return 1;
    }
    const QByteArray content = file.readAll();
    Transaction tx(dir, unitScope(run));
    int status = 0;
    startServer(tx.state(), out);
    const Pick unit = pick(tx.state(), run.target);
    {
        Device device(tx.state(), unit.port);
        device.settle(false);
        if (!unit.error.isEmpty()) {
            out.warn("adb: error: failed to get feature set: " + unit.error);
            status = 1;
        } else if (device.faultHits(QStringLiteral("push_error"), remote)) {
            out.warn("adb: error: failed to copy '" + local.toUtf8() + "' to '" + remote.toUtf8()
                     + "': remote couldn't create file: Read-only file system\n");
            status = 1;
        } else if (cutInTheMiddle(faults)) {
            device.setFile(remote, content.left(content.size() / 2));
        } else if (device.faultHits(QStringLiteral("push_corrupts"), remote)) {
            // A worn flash page: the transfer reports success, the file holds other bytes.
            QByteArray stored = content;
            if (stored.isEmpty())
                stored = "?";
            stored[stored.size() - 1] = char(stored.back() ^ 0x5a);
            device.setFile(remote, stored);
            out.say(transferSummary(local, "pushed", content.size()));
        } else {
            device.setFile(remote, content);
            out.say(transferSummary(local, "pushed", content.size()));
        }
    }
    tx.commit();
    if (status == 0 && cutInTheMiddle(faults))
        killHost();
    return status;
}

} // namespace

int runAdb(const QString& dir, const Invocation& run, const RunFaults& faults, Output& out)
{
    const QStringList& args = run.args;
    const QString cmd = args.value(0);
    if (cmd == QLatin1String("pull") || cmd == QLatin1String("push")) {
        if (args.size() != 3) {
            out.warn("adb: usage: adb " + cmd.toUtf8() + " SOURCE DESTINATION\n");
            return 1;
        }
        if (cmd == QLatin1String("pull"))
            return pull(dir, run, args[1], args[2], faults, out);
        return push(dir, run, args[1], args[2], faults, out);
    }

    Transaction tx(dir, unitScope(run));
    QJsonObject& state = tx.state();
    int status = 0;
    if (cmd == QLatin1String("kill-server")) {
        stopServer(state, out);
    } else if (cmd == QLatin1String("start-server")) {
        startServer(state, out);
    } else if (cmd == QLatin1String("version")) {
        out.say("Android Debug Bridge version 1.0.41\nVersion 0.0.1-simulated\n");
    } else if (cmd == QLatin1String("devices")) {
        status = listDevices(state, run.longListing, out);
    } else if (cmd == QLatin1String("shell")) {
        startServer(state, out);
        const Pick unit = pick(state, run.target);
        if (!unit.error.isEmpty()) {
            out.warn(unit.error);
            status = 1;
        } else if (args.size() < 2) {
            out.warn("error: the simulated device has no interactive shell\n");
            status = 1;
        } else {
            Device device(state, unit.port);
            device.settle(false);
            status = deviceShell(device, args.mid(1).join(QLatin1Char(' ')), out.out);
        }
    } else if (cmd.isEmpty()) {
        out.warn("adb: no command given\n");
        status = 1;
    } else {
        out.warn("adb: unknown command " + cmd.toUtf8() + "\n");
        status = 1;
    }
    tx.commit();
    return status;
}

} // namespace sim
