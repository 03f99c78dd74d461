#include "tool/ToolContext.h"

#include "core/Device.h"
#include "core/Records.h"
#include "core/StateStore.h"
#include "tool/Selection.h"

#include <QThread>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#include <unistd.h>

namespace sim {

namespace {

const QString kKillHost = QStringLiteral("kill_host");
const QString kKillMatches = QStringLiteral("kill_host_matches");

KillPoint killPointNamed(const QString& at)
{
    if (at == QLatin1String("before"))
        return KillPoint::Before;
    if (at == QLatin1String("during"))
        return KillPoint::During;
    return KillPoint::After;
}

// The kill_host fault {"command", "nth", "at"}: strikes at the nth run whose line contains
// the command, and only once, so the updater's next run goes through.
KillPoint takeKillPoint(Device& device, const QString& line, QJsonObject& record)
{
    const QJsonObject strike = device.fault(kKillHost).toObject();
    if (strike.isEmpty() || !line.contains(strike.value(QLatin1String("command")).toString()))
        return KillPoint::None;
    if (device.bump(kKillMatches) < strike.value(QLatin1String("nth")).toInt(1))
        return KillPoint::None;
    device.clearFault(kKillHost);
    QJsonObject counters = device.raw().value(QLatin1String("counters")).toObject();
    counters.remove(kKillMatches);
    device.raw().insert(QStringLiteral("counters"), counters);
    const QString at = strike.value(QLatin1String("at")).toString(QStringLiteral("after"));
    record.insert(QStringLiteral("kill_host"), at);
    return killPointNamed(at);
}

} // namespace

Invocation parseInvocation(const QString& tool, const QStringList& given)
{
    Invocation run;
    run.tool = tool;
    run.given = given;
    QStringList rest = given;
    const bool fastboot = tool == QLatin1String("fastboot");
    while (!rest.isEmpty()) {
        if (rest.first() == QLatin1String("-s")) {
            if (rest.size() < 2) {
                run.error = fastboot ? QByteArray("fastboot: option requires an argument -- 's'\n")
                                     : QByteArray("adb: -s requires an argument\n");
                return run;
            }
            run.target = rest.at(1);
            rest.remove(0, 2);
        } else if (fastboot && rest.first() == QLatin1String("-l")) {
            run.longListing = true;
            rest.removeFirst();
        } else {
            break;
        }
    }
    run.args = rest;
    if (rest.value(0) == QLatin1String("devices") && rest.mid(1).contains(QLatin1String("-l")))
        run.longListing = true;
    return run;
}

bool addressesUnit(const Invocation& run)
{
    const QString cmd = run.args.value(0);
    if (run.tool == QLatin1String("adb"))
        return cmd == QLatin1String("shell") || cmd == QLatin1String("pull") || cmd == QLatin1String("push");
    return !cmd.isEmpty() && cmd != QLatin1String("devices");
}

QString unitScope(const Invocation& run)
{
    const QString prefix = QStringLiteral("usb:");
    return addressesUnit(run) && run.target.startsWith(prefix) ? run.target.mid(prefix.size()) : QString();
}

RunFaults recordRun(const QString& dir, const Invocation& run)
{
    RunFaults faults;
    Transaction tx(dir, unitScope(run));
    {
        const Reach reach = run.tool == QLatin1String("adb") ? Reach::Adb : Reach::Fastboot;
        const QString port = addressesUnit(run) ? addressedPort(tx.state(), run.target, reach) : QString();
        Device device(tx.state(), port);
        device.settle(false);
        const QString line = run.tool + QLatin1Char(' ') + run.given.join(QLatin1Char(' '));
        QJsonObject record = toolRecord(run.tool, run.given, device.personality());
        record.insert(QStringLiteral("port"), port.isEmpty() ? QJsonValue() : QJsonValue(port));
        faults.kill = takeKillPoint(device, line, record);
        tx.record(record);
        if (device.faultMatchesCommand(QStringLiteral("hang"), line)) {
            const QJsonValue seconds = device.fault(QStringLiteral("hang_seconds"));
            faults.hangSeconds = seconds.isDouble() ? seconds.toDouble() : -1.0;
        }
        faults.invalidUtf8 = device.faultMatchesCommand(QStringLiteral("invalid_utf8"), line);
        if (device.faultMatchesCommand(QStringLiteral("large_output"), line))
            faults.largeBytes = qint64(device.fault(QStringLiteral("large_output_bytes")).toDouble(4 << 20));
    }
    tx.commit();
    return faults;
}

void hang(double seconds)
{
    if (seconds < 0) {
        for (;;)
            QThread::sleep(1); // until the caller kills us
    }
    QThread::msleep(static_cast<unsigned long>(seconds * 1000.0));
}

void killHost()
{
    ::kill(::getppid(), SIGKILL);
    ::kill(::getpid(), SIGKILL);
    std::abort(); // not reached
}

void finish(const Output& output, const RunFaults& faults)
{
    if (faults.kill == KillPoint::During || faults.kill == KillPoint::After)
        killHost(); // whatever was not cut in the middle has taken its full effect
    std::fwrite(output.err.constData(), 1, size_t(output.err.size()), stderr);
    std::fflush(stderr);
    QByteArray out = output.out;
    if (faults.invalidUtf8)
        out += QByteArray("\xff\xfe\xc3\x28 garbled\n");
    std::fwrite(out.constData(), 1, size_t(out.size()), stdout);
    if (faults.largeBytes > 0) {
        const QByteArray line(79, 'x');
        for (qint64 written = 0; written < faults.largeBytes; written += line.size() + 1) {
            std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
            std::fputc('\n', stdout);
        }
    }
    std::fflush(stdout);
}

} // namespace sim
