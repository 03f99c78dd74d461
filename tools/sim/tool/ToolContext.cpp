#include "tool/ToolContext.h"

#include "core/Device.h"
#include "core/Records.h"
#include "core/StateStore.h"

#include <QThread>

#include <cstdio>

namespace sim {

RunFaults recordRun(const QString& dir, const QString& tool, const QStringList& args)
{
    RunFaults faults;
    Transaction tx(dir);
    {
        Device device(tx.state());
        device.settle(false);
        tx.record(toolRecord(tool, args, device.personality()));
        const QString line = tool + QLatin1Char(' ') + args.join(QLatin1Char(' '));
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

void finish(const Output& output, const RunFaults& faults)
{
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
