#include "core/Shell.h"

#include <QRegularExpression>

namespace sim {

int deviceShell(Device& device, const QString& line, QByteArray& out)
{
    const QString cmd = line.trimmed();
    if (cmd.startsWith(QLatin1String("cat "))) {
        const QString path = cmd.mid(4).trimmed();
        if (!device.hasFile(path)) {
            out.append("cat: " + path.toUtf8() + ": No such file or directory\n");
            return 1;
        }
        out.append(device.file(path));
        return 0;
    }
    if (cmd == QLatin1String("sys_reboot")) {
        device.restart(false);
        return 0;
    }
    if (cmd == QLatin1String("sys_reboot bootloader")) {
        if (!device.hasFault(QStringLiteral("ignore_bootloader_request")))
            device.restart(true);
        return 0;
    }
    if (cmd == QLatin1String("cmmd info firmware_ver")) {
        out.append(device.versionReply());
        return 0;
    }
    static const QRegularExpression echoTo(
        QStringLiteral(R"(^echo\s+(\S+)\s*>\s*(\S+)(\s*&&\s*echo\s+OK)?$)"));
    const QRegularExpressionMatch m = echoTo.match(cmd);
    if (m.hasMatch()) {
        const QString path = m.captured(2);
        if (device.faultHits(QStringLiteral("mode_write_refused"), path)) {
            out.append("/bin/sh: can't create " + path.toUtf8() + ": Read-only file system\n");
            return 1;
        }
        device.setFile(path, m.captured(1).toUtf8() + '\n');
        if (m.hasCaptured(3))
            out.append(device.hasFault(QStringLiteral("mode_write_lowercase")) ? "ok\n" : "OK\n");
        return 0;
    }
    out.append("/bin/sh: " + cmd.section(QLatin1Char(' '), 0, 0).toUtf8() + ": not found\n");
    return 127;
}

} // namespace sim
