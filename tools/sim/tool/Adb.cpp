// The stand-in adb: the device list, the shell commands the device firmware answers, file
// transfers and the background server, with output shaped like the real tool's.

#include "core/Device.h"
#include "core/Shell.h"
#include "core/StateStore.h"
#include "tool/ToolContext.h"

#include <QFile>

namespace sim {

namespace {

const QByteArray kNoDevice = "error: no devices/emulators found\n";

// Why a command cannot reach the device: not listed at all, or listed in another state.
QByteArray unreachable(const Device& device)
{
    return device.adbListing().isEmpty() ? kNoDevice : device.adbStateError();
}

void startServer(Device& device, Output& out)
{
    if (device.raw().value(QLatin1String("adb_server")).toBool())
        return;
    device.raw().insert(QStringLiteral("adb_server"), true);
    out.warn("* daemon not running; starting now at tcp:5037\n* daemon started successfully\n");
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

int pull(const QString& dir, const QString& remote, const QString& local, const RunFaults& faults, Output& out)
{
    QByteArray content;
    int status = 0;
    {
        Transaction tx(dir);
        {
            Device device(tx.state());
            device.settle(false);
            startServer(device, out);
            if (!device.adbReaches()) {
                out.warn("adb: error: failed to get feature set: " + unreachable(device));
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

int push(const QString& dir, const QString& local, const QString& remote, const RunFaults& faults, Output& out)
{
    QFile file(local);
    if (!file.open(QIODevice::ReadOnly)) {
        out.warn("adb: error: cannot stat '" + local.toUtf8() + "': No such file or directory\n");
        return 1;
    }
    const QByteArray content = file.readAll();
    Transaction tx(dir);
    int status = 0;
    {
        Device device(tx.state());
        device.settle(false);
        startServer(device, out);
        if (!device.adbReaches()) {
            out.warn("adb: error: failed to get feature set: " + unreachable(device));
            status = 1;
        } else if (device.faultHits(QStringLiteral("push_error"), remote)) {
            out.warn("adb: error: failed to copy '" + local.toUtf8() + "' to '" + remote.toUtf8()
                     + "': remote couldn't create file: Read-only file system\n");
            status = 1;
        } else if (cutInTheMiddle(faults)) {
            device.setFile(remote, content.left(content.size() / 2));
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

int runAdb(const QString& dir, const QStringList& args, const RunFaults& faults, Output& out)
{
    const QString cmd = args.value(0);
    if (cmd == QLatin1String("pull") || cmd == QLatin1String("push")) {
        if (args.size() != 3) {
            out.warn("adb: usage: adb " + cmd.toUtf8() + " SOURCE DESTINATION\n");
            return 1;
        }
        if (cmd == QLatin1String("pull"))
            return pull(dir, args[1], args[2], faults, out);
        return push(dir, args[1], args[2], faults, out);
    }

    Transaction tx(dir);
    int status = 0;
    {
        Device device(tx.state());
        if (cmd == QLatin1String("kill-server")) {
            if (device.raw().value(QLatin1String("adb_server")).toBool())
                device.raw().insert(QStringLiteral("adb_server"), false);
            else
                out.warn("cannot connect to daemon at tcp:5037: Connection refused\n");
        } else if (cmd == QLatin1String("start-server")) {
            startServer(device, out);
        } else if (cmd == QLatin1String("version")) {
            out.say("Android Debug Bridge version 1.0.41\nVersion 0.0.1-simulated\n");
        } else if (cmd == QLatin1String("devices")) {
            startServer(device, out);
            device.settle(true);
            device.bump(QStringLiteral("adb_listings"));
            out.say("List of devices attached\n");
            const QString state = device.adbListing();
            if (!state.isEmpty())
                out.say(device.settings().value(QLatin1String("serial")).toString().toUtf8() + "\t"
                        + state.toUtf8() + "\n");
            out.say("\n");
        } else if (cmd == QLatin1String("shell")) {
            startServer(device, out);
            device.settle(false);
            if (!device.adbReaches()) {
                out.warn(unreachable(device));
                status = 1;
            } else if (args.size() < 2) {
                out.warn("error: the simulated device has no interactive shell\n");
                status = 1;
            } else {
                status = deviceShell(device, args.mid(1).join(QLatin1Char(' ')), out.out);
            }
        } else if (cmd.isEmpty()) {
            out.warn("adb: no command given\n");
            status = 1;
        } else {
            out.warn("adb: unknown command " + cmd.toUtf8() + "\n");
            status = 1;
        }
    }
    tx.commit();
    return status;
}

} // namespace sim
